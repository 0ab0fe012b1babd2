// The MAPI layers over a profile whose address list is an OpenLDAP directory on loopback: the
// global address list, pages resolved and delivered, the out-of-office check, and the events a
// directory that fails leaves behind.
#include "core/Settings.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressList.h"
#include "paging/CMAPI.h"
#include "paging/COOFCheck.h"
#include "paging/CRemList.h"
#include "paging/ExtendedMapi.h"
#include "support/MailFixture.h"
#include "support/SlapdTestServer.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"
#include "users/UserlistStru.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char* const kMail2 =
    "/o=Quorvik/ou=Demo/cn=Configuration/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB";
const char* const kUnspecified =
    "A reminder page could not be sent.  An unspecified error was received.";

mail::LdapConfig Reader(const SlapdTestServer& server) {
    mail::LdapConfig config;
    config.url = server.Url();
    config.user = SlapdTestServer::kReaderDn;
    config.password = SlapdTestServer::kReaderPassword;
    config.startTls = false;
    return config;
}

// Writes the profiles; the first is the default.
void SaveProfiles(const std::vector<mail::Profile>& list) {
    mail::Profiles profiles;
    for (const mail::Profile& p : list)
        profiles.Set(p);
    std::string error;
    ASSERT_TRUE(profiles.Save(error)) << error;
}

// The mail system of the demo: its mailboxes on disk (Hiro Tanaka is out of office, Emil Novak
// is in), its address list both as a file and in a directory.
class DirectoryPaging : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mail::ParseAddressList(ReadFile(DataDir() + "/directory/address-list.txt"),
                                           "list", entries, error))
            << error;
        for (const mail::AddressEntry& e : entries)
            mail.Add(e, e.mailbox == "htanaka"  ? std::optional<std::string>("out\n")
                        : e.mailbox == "enovak" ? std::optional<std::string>("in\n")
                                                : std::nullopt);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }
    void TearDown() override { MAPIUninitialize(); }

    mail::Profile DirectoryProfile(const mail::LdapConfig& directory,
                                   const mail::TransportConfig& transport = {}) {
        return mail::Profile{"Directory", mail.Directory(), transport, directory};
    }

    std::vector<mail::AddressEntry> entries;
    std::string error;
    MailFixture mail;
    CapturedEvents events;
};

// The global address list as the user list dialog reads it: display name, address and home
// store of every row of the GAL container, in order ("-" for a row without a home store).
std::vector<std::vector<std::string>> ReadGal(const char* profile, HRESULT& result) {
    std::vector<std::vector<std::string>> gal;
    LPMAPISESSION session = nullptr;
    result = MAPILogonEx(0, const_cast<char*>(profile), nullptr, 0, &session);
    if (result != S_OK)
        return gal;
    LPADRBOOK book = nullptr;
    LPABCONT root = nullptr, container = nullptr;
    LPMAPITABLE hierarchy = nullptr, contents = nullptr;
    LPSRowSet rows = nullptr;
    ULONG type = 0;
    SizedSPropTagArray(1, idColumn) = {1, {PR_ENTRYID}};
    SPropValue id = {};
    id.ulPropTag = PR_EMS_AB_CONTAINERID;
    id.Value.l = 0;
    SRestriction gal0 = {};
    gal0.rt = RES_PROPERTY;
    gal0.res.resProperty = {RELOP_EQ, PR_EMS_AB_CONTAINERID, &id};
    SizedSPropTagArray(4, columns) = {
        4, {PR_ENTRYID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_EMS_AB_HOME_MDB}};
    ULONG count = 0;
    result = session->OpenAddressBook(0, nullptr, 0, &book);
    if (result == S_OK)
        result =
            book->OpenEntry(0, nullptr, nullptr, 0, &type, reinterpret_cast<LPUNKNOWN*>(&root));
    if (result == S_OK)
        result = root->GetHierarchyTable(CONVENIENT_DEPTH, &hierarchy);
    if (result == S_OK)
        result = HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&idColumn), &gal0,
                                nullptr, 0, &rows);
    if (result == S_OK && rows->cRows == 1) {
        const SBinary& entry = rows->aRow[0].lpProps[0].Value.bin;
        result = book->OpenEntry(entry.cb, reinterpret_cast<LPENTRYID>(entry.lpb), nullptr,
                                 MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(&container));
    }
    FreeProws(rows);
    rows = nullptr;
    if (result == S_OK)
        result = container->GetContentsTable(0, &contents);
    if (result == S_OK)
        result = contents->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH);
    if (result == S_OK)
        result = contents->GetRowCount(0, &count);
    while (result == S_OK && count > 0 &&
           contents->QueryRows(static_cast<LONG>(count), 0, &rows) == S_OK && rows->cRows > 0) {
        for (ULONG r = 0; r < rows->cRows; ++r) {
            const LPSPropValue p = rows->aRow[r].lpProps;
            gal.push_back({p[1].Value.lpszA, p[2].Value.lpszA,
                           PROP_TYPE(p[3].ulPropTag) == PT_ERROR ? "-" : p[3].Value.lpszA});
        }
        FreeProws(rows);
        rows = nullptr;
    }
    FreeProws(rows);
    UlRelease(contents);
    UlRelease(container);
    UlRelease(hierarchy);
    UlRelease(root);
    UlRelease(book);
    session->Logoff(0, 0, 0);
    UlRelease(session);
    return gal;
}

// One page through CMAPI, as the paging pass sends it.
int Page(const char* pager, const char* text, const char* profile = "Directory") {
    CMAPI mapi;
    mapi.OpenMailServer();
    mapi.OpenMailSession(profile);
    const int sent = mapi.SendMail(pager, "", text, 1);
    mapi.CloseMailServer();
    return sent;
}

} // namespace

TEST_F(DirectoryPaging, TheUserDialogsGalIsTheSameFromTheDirectoryAsFromTheFile) {
    SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    SaveProfiles({DirectoryProfile(Reader(server)), {"File", mail.Directory(), {}, {}}});
    const size_t buffers = mapi_testing::LiveBuffers(), objects = mapi_testing::LiveObjects();

    HRESULT fromFile = E_FAIL, fromDirectory = E_FAIL;
    const auto file = ReadGal("File", fromFile);
    const auto directory = ReadGal("Directory", fromDirectory);
    EXPECT_EQ(fromFile, S_OK);
    EXPECT_EQ(fromDirectory, S_OK);
    ASSERT_EQ(file.size(), 24u);
    EXPECT_EQ(directory, file);
    EXPECT_EQ(directory[14],
              (std::vector<std::string>{"Hiro Tanaka", "htanaka@quorvik.example", kMail2}));
    EXPECT_EQ(directory[15], (std::vector<std::string>{"Hiro Tanaka (Pager)",
                                                       "5550108@pager.demo.orvane.example", "-"}));
    EXPECT_EQ(mapi_testing::LiveBuffers(), buffers);
    EXPECT_EQ(mapi_testing::LiveObjects(), objects);
    EXPECT_TRUE(events.Texts().empty());
}

// A directory that cuts the read at its size limit: the dialog's read fails rather than show
// part of the list as all of it, and an event says why.
TEST_F(DirectoryPaging, ACutReadIsReportedAndNotUsed) {
    std::vector<mail::AddressEntry> many;
    for (int i = 0; i < 600; ++i)
        many.push_back(
            {"Person " + std::to_string(i), "p" + std::to_string(i) + "@example.org", "", "", ""});
    SlapdTestServer server(LdifFor(many));
    ASSERT_TRUE(server.Started());
    mail::LdapConfig limited = Reader(server);
    limited.user = SlapdTestServer::kLimitedDn;
    limited.password = SlapdTestServer::kLimitedPassword;
    SaveProfiles({DirectoryProfile(limited)});

    HRESULT result = S_OK;
    EXPECT_TRUE(ReadGal("Directory", result).empty());
    EXPECT_EQ(result, MAPI_E_CALL_FAILED);
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_EQ(events.Texts()[0].rfind("The directory " + server.Url() +
                                          " stopped the read of the address list after 500 "
                                          "entries (size limit exceeded)",
                                      0),
              0u)
        << events.Texts()[0];
}

TEST_F(DirectoryPaging, APageIsResolvedInTheDirectoryAndDeliveredOverSmtp) {
    // The demo, and a second entry named like Bruno's pager.
    SlapdTestServer server(
        ReadFile(DataDir() + "/directory/demo.ldif") + "\n" +
        LdifFor({{"Bruno Costa (Pager)", "5559999@pager.example.org", "", "", ""}}));
    ASSERT_TRUE(server.Started());
    SmtpTestServer smtp;
    ASSERT_TRUE(smtp.Started());
    SaveProfiles({DirectoryProfile(Reader(server), SmtpTransport(smtp.Url()))});

    EXPECT_EQ(Page("Hiro Tanaka (Pager)", "02:00-03:00 Budget review"), 1);
    const auto received = smtp.Messages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].recipients,
              std::vector<std::string>{"5550108@pager.demo.orvane.example"});
    EXPECT_NE(received[0].data.find("\r\n\r\n02:00-03:00 Budget review\r\n"), std::string::npos);
    EXPECT_NE(received[0].data.find("To: \"Hiro Tanaka (Pager)\""), std::string::npos);

    // No match, several matches, and a name that would widen a filter: the texts of the file.
    EXPECT_EQ(Page("hiro tanaka (pager)", "x"), 0);
    EXPECT_EQ(Page("Bruno Costa (Pager)", "x"), 0);
    EXPECT_EQ(Page("*", "x"), 0);
    EXPECT_EQ(events.Texts(),
              (std::vector<std::string>{
                  "A reminder page could not be sent to hiro tanaka (pager) because the pager "
                  "name does not exist in the addressbook.",
                  "A reminder page could not be sent because the specified pager name matched "
                  "more than one entry in the addressbook.",
                  "A reminder page could not be sent to * because the pager name does not exist in "
                  "the addressbook."}));
    EXPECT_EQ(smtp.Messages().size(), 1u);
}

// A directory that is down: the page fails with its event naming the server and the cause, stays
// in the list, and goes out at the next tick once the server is back.
TEST_F(DirectoryPaging, APageWaitsForADirectoryThatIsDownAndGoesAtTheNextTick) {
    SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    SaveProfiles({DirectoryProfile(Reader(server))});
    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Directory");
    server.Stop();

    UserlistStru user;
    user.PagerName = "Alice Archer (Pager)";
    CRemList list;
    const CTime due(2026, 3, 2, 13, 44, 0);
    list.AddReminder(due + CTimeSpan(60), CTime(0), CTime(0), "Call the bank");
    user.LastPageCheck = due - CTimeSpan(1);
    EXPECT_EQ(list.PageReminders(due, PagingFields(user)), 0);
    EXPECT_EQ(list.GetCount(), 1);
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_EQ(events.Texts()[0], std::string(kUnspecified) + "  The directory " + server.Url() +
                                     " cannot be reached: Connection refused.");
    EXPECT_TRUE(mail.OutboxMessages().empty());

    ASSERT_TRUE(server.Restart());
    user.LastPageCheck = due;
    EXPECT_EQ(list.PageReminders(due + CTimeSpan(1), PagingFields(user)), 1);
    EXPECT_EQ(list.GetCount(), 0);
    const auto outbox = mail.OutboxMessages();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_NE(outbox[0].find("To: \"Alice Archer (Pager)\" <5550101@pager.demo.orvane.example>"),
              std::string::npos);
    EXPECT_EQ(events.Texts().size(), 1u);
}

// The bind password reaches no event, whatever fails.
TEST_F(DirectoryPaging, AWrongPasswordIsNamedButNeverShown) {
    SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    mail::LdapConfig wrong = Reader(server);
    wrong.password = "Tr0ub4dor&3 wrong";
    SaveProfiles({DirectoryProfile(wrong)});

    EXPECT_EQ(Page("Alice Archer (Pager)", "x"), 0);
    HRESULT result = S_OK;
    EXPECT_TRUE(ReadGal("Directory", result).empty());
    EXPECT_EQ(result, MAPI_E_CALL_FAILED);
    {
        COOFCheck check(kMail2);
        check.OpenExchangeStore();
        int32_t flag = 7;
        EXPECT_EQ(check.GetOOF("htanaka@quorvik.example", &flag), 0);
        EXPECT_EQ(flag, 7);
        check.CloseExchangeStore();
    }
    const std::vector<std::string> texts = events.Texts();
    ASSERT_EQ(texts.size(), 4u);
    const std::string refused = "The directory " + server.Url() + " refused the bind as " +
                                SlapdTestServer::kReaderDn + ": invalid credentials";
    EXPECT_EQ(texts[0].rfind(std::string(kUnspecified) + "  " + refused, 0), 0u) << texts[0];
    EXPECT_EQ(texts[1].rfind(refused, 0), 0u) << texts[1];
    EXPECT_EQ(texts[2].rfind(refused, 0), 0u) << texts[2];
    EXPECT_EQ(texts[3], "Unable to open the Mailbox htanaka@quorvik.example.  Error code 80004005 "
                        "was received.  Please be sure that the logon account has sufficient "
                        "rights.");
    for (const std::string& text : texts)
        EXPECT_EQ(text.find("Tr0ub4dor"), std::string::npos) << text;
}

// The out-of-office check finds each mailbox by a search of the directory, on its home store.
TEST_F(DirectoryPaging, TheOutOfOfficeCheckFindsMailboxesInTheDirectory) {
    SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    SaveProfiles({DirectoryProfile(Reader(server))});

    COOFCheck check(kMail2);
    EXPECT_EQ(check.OpenExchangeStore(), 1);
    int32_t hiro = 0, emil = 5, alice = 5;
    EXPECT_EQ(check.GetOOF("htanaka@quorvik.example", &hiro), 1);
    EXPECT_EQ(hiro, 1);
    // Emil's home store is MAIL1: this store does not hold his mailbox.
    EXPECT_EQ(check.GetOOF("enovak@quorvik.example", &emil), 0);
    EXPECT_EQ(emil, 5);
    EXPECT_EQ(check.GetOOF("nobody@quorvik.example", &alice), 0);
    EXPECT_EQ(check.CloseExchangeStore(), 1);
    EXPECT_EQ(events.Texts(),
              (std::vector<std::string>{
                  "Unable to open the Mailbox enovak@quorvik.example.  Error code 80070005 was "
                  "received.  Please be sure that the logon account has sufficient rights.",
                  "Unable to open the Mailbox nobody@quorvik.example.  Error code 8004010f was "
                  "received.  Please be sure that the logon account has sufficient rights."}));
}
