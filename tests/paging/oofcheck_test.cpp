// The out-of-office check over a mail system made by the test: each mailbox state, every event
// text, failures at each MAPI step, and no MAPI buffer or object left alive afterwards.
#include "paging/COOFCheck.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

const char* const kStore =
    "/o=Quorvik/ou=Site/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
const char* const kOtherStore =
    "/o=Quorvik/ou=Site/cn=Configuration/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB";

std::string Dn(const char* user) {
    return std::string("/o=Quorvik/ou=Site/cn=Recipients/cn=") + user;
}

const std::string kOofWarning =
    "Unable to obtain out of office flag.  Error code 40380 was received.";
// The warning with what the mail system says of the mailbox's state.
std::string OofWarning(const std::string& why) {
    return kOofWarning + "  " + why;
}
const std::string kRights = "  Please be sure that the logon account has sufficient rights.";
const std::string kInstalled =
    "  Please be sure that a copy of Microsoft Outlook has been installed on this machine";

std::string MailboxEvent(const std::string& mailbox, const char* code) {
    return "Unable to open the Mailbox " + mailbox + ".  Error code " + code + " was received." +
           kRights;
}

constexpr int32_t kUnread = 7; // a flag value no read produces

class OOFCheck : public testing::Test {
protected:
    MailFixture mail;
    CapturedEvents events;

    void SetUp() override {
        m_buffers = mapi_testing::LiveBuffers();
        m_objects = mapi_testing::LiveObjects();
        mail.Add({"Ann Archer", Dn("aarcher"), kStore, "aarcher", ""}, "out\n");
        mail.Add({"Ben Baker", Dn("bbaker"), kStore, "bbaker", ""}, "in\n");
        mail.Add({"Cy Cole", Dn("ccole"), kStore, "ccole", ""}); // no out-of-office state
        mail.Add({"Di Drake", Dn("ddrake"), kStore, "ddrake", ""}, "perhaps\n");
        mail.Add({"Ed Early", Dn("eearly"), kOtherStore, "eearly", ""}, "out\n");
        mail.Add({"Ann Archer (Pager)", Dn("aarcher-pager"), "", "", "5550101@pager.example.org"});
        mail.UseProfile("Office");
    }
    void TearDown() override {
        mapi_testing::ClearFailures();
        EXPECT_EQ(mapi_testing::LiveBuffers(), m_buffers) << "MAPI buffers leaked";
        EXPECT_EQ(mapi_testing::LiveObjects(), m_objects) << "MAPI objects not released";
    }

    // One checker for `server` used as the out-of-office pass uses it, over `mailboxes`.
    struct Run {
        int opened = -1, closed = -1;
        std::vector<int> results;
        std::vector<int32_t> flags;
        std::vector<std::string> events;
    };
    // The warnings for Cy, who has no state stored, and for Di, whose file says "perhaps".
    std::string NoState() const {
        return OofWarning("The mailbox folder " + mail.MailboxDirectory("ccole") +
                          " holds no out-of-office file, so no out-of-office state is stored.");
    }
    std::string Unreadable() const {
        return OofWarning("The file " + mail.MailboxDirectory("ddrake") +
                          "/out-of-office holds neither \"out\" nor \"in\" (nor yes or no, true "
                          "or false, on or off, 1 or 0) as its one word.");
    }

    static Run Check(const char* server, const std::vector<std::string>& mailboxes) {
        CapturedEvents local;
        Run run;
        {
            COOFCheck check(server);
            run.opened = check.OpenExchangeStore();
            for (const std::string& mailbox : mailboxes) {
                int32_t flag = kUnread;
                run.results.push_back(check.GetOOF(mailbox, &flag));
                run.flags.push_back(flag);
            }
            run.closed = check.CloseExchangeStore();
        }
        run.events = local.Texts();
        return run;
    }

private:
    size_t m_buffers = 0, m_objects = 0;
};

} // namespace

TEST_F(OOFCheck, EachMailboxStateGivesItsFlagOrItsEvent) {
    const struct {
        const char* server;
        std::string mailbox;
        int result;
        int32_t flag;
        std::vector<std::string> events;
    } rows[] = {
        {kStore, Dn("aarcher"), 1, 1, {}},
        {kStore, Dn("bbaker"), 1, 0, {}},
        {kOtherStore, Dn("eearly"), 1, 1, {}},
        // No state, or one that cannot be understood: the warning and why, with the flag
        // untouched.
        {kStore, Dn("ccole"), 0, kUnread, {NoState()}},
        {kStore, Dn("ddrake"), 0, kUnread, {Unreadable()}},
        // No mailbox name opens the server's public store (flags 11; with 9 the entry identifier
        // is refused), which has no out-of-office property and nothing more to say.
        {kStore, "", 0, kUnread, {kOofWarning}},
        // A mailbox of another store, and an unknown one: only the open is reported.
        {kStore, Dn("eearly"), 0, kUnread, {MailboxEvent(Dn("eearly"), "80070005")}},
        {kStore, Dn("nobody"), 0, kUnread, {MailboxEvent(Dn("nobody"), "8004010f")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mailbox);
        const Run run = Check(row.server, {row.mailbox});
        EXPECT_EQ(run.opened, 1);
        EXPECT_EQ(run.results, std::vector<int>{row.result});
        EXPECT_EQ(run.flags, std::vector<int32_t>{row.flag});
        EXPECT_EQ(run.events, row.events);
        EXPECT_EQ(run.closed, 1);
    }
}

TEST_F(OOFCheck, ThePropertyArrayOfAWarningIsFreedAtOnce) {
    COOFCheck check(kStore);
    ASSERT_EQ(check.OpenExchangeStore(), 1);
    const size_t before = mapi_testing::LiveBuffers();
    for (const char* user : {"ccole", "ddrake", "aarcher"}) {
        int32_t flag = kUnread;
        check.GetOOF(Dn(user), &flag);
        EXPECT_EQ(mapi_testing::LiveBuffers(), before) << user;
        EXPECT_EQ(check.Mailbox, nullptr) << "closed between users";
    }
    EXPECT_EQ(events.Texts(), (std::vector<std::string>{NoState(), Unreadable()}));
}

TEST_F(OOFCheck, AFailureAtEachStepIsReportedOnceAndAbsorbed) {
    const std::string logon =
        "Unable to log onto the MAPI session.  Error code 80040111 was received." + kInstalled +
        ", and that you have configured a default profile.";
    const struct {
        const char* operation;
        HRESULT code;
        int skip;
        int opened;
        std::vector<int> results; // for Ann (out), then Ben (in)
        std::vector<int32_t> flags;
        int closed;
        std::vector<std::string> events;
    } rows[] = {
        {"MAPIInitialize",
         E_FAIL,
         0,
         0,
         {0, 0},
         {kUnread, kUnread},
         1,
         {"Unable to initialize the MAPI driver.  Error code 80004005 was received." + kInstalled +
          "."}},
        {"MAPILogonEx", MAPI_E_LOGON_FAILED, 0, 0, {0, 0}, {kUnread, kUnread}, 1, {logon}},
        {"IMAPISession::GetMsgStoresTable",
         MAPI_E_NO_ACCESS,
         0,
         0,
         {0, 0},
         {kUnread, kUnread},
         1,
         {"Unable to open the Exchange Server Store.  Error code 80070005 was received." +
          kRights}},
        {"IMAPITable::Restrict",
         MAPI_E_TOO_COMPLEX,
         0,
         0,
         {0, 0},
         {kUnread, kUnread},
         1,
         {"Unable to open the Exchange Server Store.  Error code 80040117 was received." +
          kRights}},
        {"IMAPISession::OpenMsgStore",
         MAPI_E_NOT_FOUND,
         0,
         0,
         {0, 0},
         {kUnread, kUnread},
         1,
         {"Unable to open the Exchange Server Store.  Error code 8004010f was received." +
          kRights}},
        // The mailbox steps fail for Ann only; Ben is read normally after her.
        {"IMAPISession::OpenMsgStore",
         MAPI_E_NO_ACCESS,
         1,
         1,
         {0, 1},
         {kUnread, 0},
         1,
         {MailboxEvent(Dn("aarcher"), "80070005")}},
        {"IExchangeManageStore::CreateStoreEntryID",
         MAPI_E_INVALID_PARAMETER,
         0,
         1,
         {0, 1},
         {kUnread, 0},
         1,
         {MailboxEvent(Dn("aarcher"), "80070057")}},
        {"IMsgStore::GetProps",
         E_FAIL,
         0,
         1,
         {0, 1},
         {kUnread, 0},
         1,
         {"Unable to obtain out of office flag.  Error code 80004005 was received."}},
        {"IMsgStore::GetProps",
         1,
         0,
         1,
         {0, 1},
         {kUnread, 0},
         1,
         {"Unable to obtain out of office flag.  Error code 1 was received."}},
        // A mailbox that cannot be closed after its flag was read: the flag stands, the result
        // is 0.
        {"IMsgStore::StoreLogoff",
         E_FAIL,
         0,
         1,
         {0, 1},
         {1, 0},
         1,
         {"Unable to close the Mailbox.  Error code 80004005 was received."}},
        {"IMsgStore::StoreLogoff",
         MAPI_E_END_OF_SESSION,
         2,
         1,
         {1, 1},
         {1, 0},
         0,
         {"Unable to close the Exchange Server Store.  Error code 80040290 was received."}},
        {"IMAPISession::Logoff",
         E_FAIL,
         0,
         1,
         {1, 1},
         {1, 0},
         1,
         {"Unable to log off the MAPI session.  Error code 80004005 was received." + kInstalled +
          ", and that you have configured a default profile."}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.operation) + " after " + std::to_string(row.skip));
        mapi_testing::ClearFailures();
        mapi_testing::FailCall(row.operation, row.code, row.skip);
        const Run run = Check(kStore, {Dn("aarcher"), Dn("bbaker")});
        EXPECT_EQ(run.opened, row.opened);
        EXPECT_EQ(run.results, row.results);
        EXPECT_EQ(run.flags, row.flags);
        EXPECT_EQ(run.closed, row.closed);
        EXPECT_EQ(run.events, row.events);
    }
}

TEST_F(OOFCheck, WithoutAProfileOnlyTheLogonIsReported) {
    MailFixture::RemoveProfiles();
    const Run run = Check(kStore, {Dn("aarcher"), Dn("bbaker")});
    EXPECT_EQ(run.opened, 0);
    EXPECT_EQ(run.results, std::vector<int>({0, 0}));
    EXPECT_EQ(run.flags, std::vector<int32_t>({kUnread, kUnread}));
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_EQ(run.events[0].rfind(
                  "Unable to log onto the MAPI session.  Error code 80040111 was received.", 0),
              0u)
        << run.events[0];
}

TEST_F(OOFCheck, AStoreOpenedTwiceAndNeverClosedIsStillGivenBack) {
    {
        COOFCheck check(kStore);
        ASSERT_EQ(check.OpenExchangeStore(), 1);
        ASSERT_EQ(check.OpenExchangeStore(), 1);
    }
    EXPECT_TRUE(events.Texts().empty());
    // TearDown finds every object released.
}
