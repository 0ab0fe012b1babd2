// The global address list read step by step over Extended MAPI from mail systems made by the
// tests, failing at every step through the fault seam; and the window-free rules of the dialogs.
#include "paging/ExtendedMapi.h"
#include "support/MailFixture.h"
#include "users/DialogRules.h"
#include "users/GlobalAddressList.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using testing_support::MailFixture;

namespace {

const char* const kStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
const char* const kOtherStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB";

std::string Dn(const std::string& user) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + user;
}

using Row = std::vector<std::string>; // display name, address, server

std::vector<Row> Rows(const GALEntryList& entries) {
    std::vector<Row> rows;
    for (const auto& e : entries)
        rows.push_back({e->DisplayName, e->Address, e->Server});
    return rows;
}

// Every test ends with the memory and objects it began with, and with MAPI uninitialised as
// often as it was initialised.
class GlobalAddressList : public ::testing::Test {
protected:
    void SetUp() override {
        m_buffers = mapi_testing::LiveBuffers();
        m_objects = mapi_testing::LiveObjects();
        mail.Add({"Ann Archer", Dn("aarcher"), kStore, "aarcher", ""});
        mail.Add({"Ann Archer (Pager)", Dn("aarcher-pager"), "", "", "5550101@pager.example.org"});
        mail.Add({"Chris Lee", Dn("clee1"), kStore, "clee1", ""});
        mail.Add({"Chris Lee", Dn("clee2"), kOtherStore, "clee2", ""});
        mail.Add({"Ann Archer", Dn("aarcher"), kOtherStore, "aarcher2", ""});
        mail.UseProfile("Office");
    }
    void TearDown() override {
        mapi_testing::ClearFailures();
        EXPECT_EQ(mapi_testing::LiveBuffers(), m_buffers) << "MAPI buffers leaked";
        EXPECT_EQ(mapi_testing::LiveObjects(), m_objects) << "MAPI objects not released";
        // Only an uninitialised MAPI refuses a logon this way.
        LPMAPISESSION session = nullptr;
        EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session),
                  MAPI_E_NOT_INITIALIZED)
            << "MAPIInitialize and MAPIUninitialize do not pair up";
    }

    const std::vector<Row> everything = {
        {"Ann Archer", Dn("aarcher"), kStore},      {"Ann Archer (Pager)", Dn("aarcher-pager"), ""},
        {"Chris Lee", Dn("clee1"), kStore},         {"Chris Lee", Dn("clee2"), kOtherStore},
        {"Ann Archer", Dn("aarcher"), kOtherStore},
    };
    MailFixture mail;

private:
    size_t m_buffers = 0, m_objects = 0;
};

} // namespace

TEST_F(GlobalAddressList, EveryEntryInTheListsOrderDuplicatesIncludedPagersWithoutAStore) {
    GALNameList names;
    GALEntryList entries;
    const GALReadResult read = GetGALContents(names, entries);
    EXPECT_TRUE(read.Complete()) << read.failedCall;
    EXPECT_EQ(Rows(entries), everything);
    EXPECT_EQ(names, (GALNameList{"Ann Archer", "Ann Archer (Pager)", "Chris Lee", "Chris Lee",
                                  "Ann Archer"}));

    // The first entry of an address gives its display name; an unknown mailbox stands for
    // itself.
    entries[4]->DisplayName = "Ann A. (second)";
    EXPECT_EQ(GetDisplayName(entries, Dn("aarcher")), "Ann Archer");
    EXPECT_EQ(GetDisplayName(entries, Dn("clee2")), "Chris Lee");
    EXPECT_EQ(GetDisplayName(entries, Dn("gone")), Dn("gone"));
    EXPECT_EQ(GetDisplayName(entries, Dn("AARCHER")), Dn("AARCHER")) << "addresses match exactly";
}

TEST_F(GlobalAddressList, TheDefaultProfileUnlessOneIsNamed) {
    MailFixture other;
    other.Add({"Zoe Zed", Dn("zzed"), kStore, "zzed", ""});
    mail.AddProfile("Other", other.Directory());

    GALNameList names;
    GALEntryList entries;
    EXPECT_TRUE(GetGALContents(names, entries).Complete());
    EXPECT_EQ(Rows(entries), everything);

    names.clear();
    entries.clear();
    EXPECT_TRUE(GetGALContents(names, entries, "Other").Complete());
    EXPECT_EQ(Rows(entries), (std::vector<Row>{{"Zoe Zed", Dn("zzed"), kStore}}));

    names.clear();
    entries.clear();
    const GALReadResult read = GetGALContents(names, entries, "Nobody");
    EXPECT_STREQ(read.failedCall, "MAPILogonEx");
    EXPECT_EQ(read.code, MAPI_E_LOGON_FAILED);
    EXPECT_TRUE(entries.empty());
}

TEST_F(GlobalAddressList, AFailureAtAnyStepKeepsWhatWasReadAndReleasesEverything) {
    const struct {
        const char* operation;
        int skip; // successful calls before the failing one
        const char* failedCall;
        bool allRead;
    } steps[] = {
        {"MAPIInitialize", 0, "MAPIInitialize", false},
        {"MAPILogonEx", 0, "MAPILogonEx", false},
        {"IMAPISession::OpenAddressBook", 0, "IMAPISession::OpenAddressBook", false},
        // The search for the list: the root container, its hierarchy and the query over it.
        {"IAddrBook::OpenEntry", 0, "HrFindExchangeGlobalAddressList", false},
        {"IABContainer::GetHierarchyTable", 0, "HrFindExchangeGlobalAddressList", false},
        {"IMAPITable::SetColumns", 0, "HrFindExchangeGlobalAddressList", false},
        {"IMAPITable::Restrict", 0, "HrFindExchangeGlobalAddressList", false},
        {"IMAPITable::GetRowCount", 0, "HrFindExchangeGlobalAddressList", false},
        {"IMAPITable::QueryRows", 0, "HrFindExchangeGlobalAddressList", false},
        // The list's own container and its contents.
        {"IAddrBook::OpenEntry", 1, "IAddrBook::OpenEntry", false},
        {"IABContainer::GetContentsTable", 0, "IABContainer::GetContentsTable", false},
        {"IMAPITable::SetColumns", 1, "IMAPITable::SetColumns", false},
        {"IMAPITable::GetRowCount", 1, "IMAPITable::GetRowCount", false},
        {"IMAPITable::QueryRows", 1, "IMAPITable::QueryRows", false},
        // The first batch brought every row; asking for more fails.
        {"IMAPITable::QueryRows", 2, "IMAPITable::QueryRows", true},
        // A failed logoff still releases the session and ends MAPI.
        {"IMAPISession::Logoff", 0, nullptr, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.operation) + " after " + std::to_string(step.skip));
        mapi_testing::FailCall(step.operation, MAPI_E_CALL_FAILED, step.skip);
        GALNameList names;
        GALEntryList entries;
        const GALReadResult read = GetGALContents(names, entries);
        mapi_testing::ClearFailures();
        if (step.failedCall) {
            EXPECT_STREQ(read.failedCall, step.failedCall);
            EXPECT_EQ(read.code,
                      step.failedCall == std::string("HrFindExchangeGlobalAddressList") &&
                              std::string(step.operation).rfind("IMAPITable::", 0) == 0
                          ? E_FAIL // a failed query is reported as E_FAIL
                          : MAPI_E_CALL_FAILED);
        } else {
            EXPECT_TRUE(read.Complete()) << read.failedCall;
        }
        EXPECT_EQ(Rows(entries), step.allRead ? everything : std::vector<Row>());
        EXPECT_EQ(names.size(), entries.size());
        EXPECT_EQ(mapi_testing::LiveObjects(), 0u);
        EXPECT_EQ(mapi_testing::LiveBuffers(), 0u);
    }
}

TEST_F(GlobalAddressList, MemoryRunningOutAtAnyAllocationIsAnOrderlyStop) {
    // Fail the first allocation, then the second, and so on, until a read gets through.
    int failures = 0;
    for (int skip = 0; skip < 200; ++skip) {
        mapi_testing::FailCall("MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, skip);
        GALNameList names;
        GALEntryList entries;
        const GALReadResult read = GetGALContents(names, entries);
        mapi_testing::ClearFailures();
        EXPECT_EQ(mapi_testing::LiveObjects(), 0u) << "after " << skip;
        EXPECT_EQ(mapi_testing::LiveBuffers(), 0u) << "after " << skip;
        const std::vector<Row> rows = Rows(entries);
        EXPECT_TRUE(rows == everything || rows.empty()) << "after " << skip;
        if (read.Complete()) {
            EXPECT_EQ(rows, everything);
            break;
        }
        ++failures;
        EXPECT_NE(read.failedCall, nullptr);
    }
    // The entry identifier of the list, the hierarchy's rows and the contents' rows.
    EXPECT_GE(failures, 3);
}

TEST_F(GlobalAddressList, AnUnreadableMailSystemOrNoProfileGivesNothing) {
    const struct {
        const char* what;
        std::string addressList; // empty: no profile at all
        const char* failedCall;
    } cases[] = {
        {"a damaged address list", "Display-Name: Ann\nAdress: x\n", "MAPILogonEx"},
        {"an empty address list", "# nobody yet\n", nullptr},
        {"no mail profile", "", "MAPILogonEx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.addressList.empty())
            MailFixture::RemoveProfiles();
        else
            mail.WriteAddressList(c.addressList);
        GALNameList names;
        GALEntryList entries;
        const GALReadResult read = GetGALContents(names, entries);
        if (c.failedCall)
            EXPECT_STREQ(read.failedCall, c.failedCall);
        else
            EXPECT_TRUE(read.Complete()) << read.failedCall;
        EXPECT_TRUE(entries.empty());
        EXPECT_TRUE(names.empty());
    }
}

TEST(DialogRules, TheSelectStringRuleIsACaseInsensitivePrefixMatch) {
    const QStringList items = {
        "", "ann archer", "Bob", "Bobby Smith", "bobby smith (Pager)", "Chris Lee", "Chris Lee"};
    const struct {
        const char* text;
        int index;
    } cases[] = {
        {"Bob", 2},
        {"bobb", 3},
        {"BOBBY SMITH (", 4},
        {"Ann", 1},
        {"Chris Lee", 5},
        {"Chris Lee ", -1},
        {"x", -1},
        {"", -1} /* an empty text selects nothing */,
    };
    for (const auto& c : cases)
        EXPECT_EQ(SelectStringIndex(items, QString::fromUtf8(c.text)), c.index) << c.text;

    EXPECT_TRUE(LessIgnoringCase("alice", "Bob"));
    EXPECT_FALSE(LessIgnoringCase("Bob", "alice"));
    EXPECT_FALSE(LessIgnoringCase("bob", "BOB"));
    EXPECT_FALSE(LessIgnoringCase("BOB", "bob"));
}

TEST(DialogRules, IntervalsBelowTheLeastAreRaisedAndTooLargeOnesRefused) {
    const struct {
        const char* text;
        IntervalText verdict;
        int minutes;
    } cases[] = {
        {"", IntervalText::Accepted, 15},
        {"0", IntervalText::Accepted, 15},
        {"14", IntervalText::Accepted, 15},
        {"15", IntervalText::Accepted, 15},
        {"60", IntervalText::Accepted, 60},
        {"0060", IntervalText::Accepted, 60},
        {"32767", IntervalText::Accepted, 32767},
        {"32768", IntervalText::TooLarge, 0},
        {"99999", IntervalText::TooLarge, 0},
        {"99999999999999999999", IntervalText::TooLarge, 0},
        {"45 minutes", IntervalText::Accepted, 45},
        {"abc", IntervalText::Accepted, 15},
    };
    for (const auto& c : cases) {
        int16_t minutes = -1;
        EXPECT_EQ(ScanIntervalFromText(c.text, &minutes), c.verdict) << c.text;
        if (c.verdict == IntervalText::Accepted) {
            EXPECT_EQ(minutes, c.minutes) << c.text;
        }
    }
}

TEST(DialogRules, StoredTextsAreShownAsUtf8OrElseAsTheEightBitCodePage) {
    EXPECT_EQ(ToDisplayText("Jos\xc3\xa9"), QString::fromUtf8("Jos\xc3\xa9"));
    EXPECT_EQ(ToDisplayText("Jos\xe9"), QString::fromUtf8("Jos\xc3\xa9"));
    EXPECT_EQ(ToDisplayText(""), QString());
    EXPECT_EQ(FromTypedText(QString::fromUtf8("Jos\xc3\xa9")), "Jos\xc3\xa9");
}
