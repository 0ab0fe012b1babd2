// The Simple MAPI library as a program loads it: exports, logon, recipient resolution, delivery
// to the outbox and over SMTP, and the result code of every failure.
#include "paging/simplemapi/SimpleMapi.h"
#include "support/MailFixture.h"
#include "support/SmtpTestServer.h"

#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>

using testing_support::MailFixture;
using testing_support::RefusingPort;
using testing_support::SilentServer;
using testing_support::SmtpTestServer;
using testing_support::SmtpTransport;

namespace {

class Library {
public:
    explicit Library(const char* path) : m_handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        EXPECT_TRUE(m_handle) << dlerror();
        if (!m_handle)
            return;
        Logon = reinterpret_cast<LPMAPILOGON>(dlsym(m_handle, "MAPILogon"));
        Logoff = reinterpret_cast<LPMAPILOGOFF>(dlsym(m_handle, "MAPILogoff"));
        FreeBuffer = reinterpret_cast<LPMAPIFREEBUFFER>(dlsym(m_handle, "MAPIFreeBuffer"));
        FindNext = reinterpret_cast<LPMAPIFINDNEXT>(dlsym(m_handle, "MAPIFindNext"));
        ReadMail = reinterpret_cast<LPMAPIREADMAIL>(dlsym(m_handle, "MAPIReadMail"));
        SendMail = reinterpret_cast<LPMAPISENDMAIL>(dlsym(m_handle, "MAPISendMail"));
    }
    ~Library() {
        if (m_handle)
            dlclose(m_handle);
    }
    void* Handle() const { return m_handle; }

    LPMAPILOGON Logon = nullptr;
    LPMAPILOGOFF Logoff = nullptr;
    LPMAPIFREEBUFFER FreeBuffer = nullptr;
    LPMAPIFINDNEXT FindNext = nullptr;
    LPMAPIREADMAIL ReadMail = nullptr;
    LPMAPISENDMAIL SendMail = nullptr;

private:
    void* m_handle;
};

// One message to one recipient, as a caller builds it.
struct Message {
    explicit Message(const char* name, const char* text = "02:00-03:00 Budget review",
                     ULONG recipClass = MAPI_TO) {
        recip.ulRecipClass = recipClass;
        recip.lpszName = const_cast<char*>(name);
        message.lpszSubject = const_cast<char*>("");
        message.lpszNoteText = const_cast<char*>(text);
        message.nRecipCount = 1;
        message.lpRecips = &recip;
    }
    MapiRecipDesc recip = {};
    MapiMessage message = {};
};

const char* const kStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";

class SimpleMapi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.SendMail);
        mail.Add(
            {"Ann Archer", "/o=Quorvik/ou=Site/cn=Recipients/cn=aarcher", kStore, "aarcher", ""});
        mail.Add({"Ann Archer Pager", "/o=Quorvik/ou=Site/cn=Recipients/cn=aarcher-pager", "", "",
                  "5551234@pager.example.org"});
        mail.Add({"Twin Pager", "twin1@pager.example.org", "", "", ""});
        mail.Add({"Twin Pager", "twin2@pager.example.org", "", "", ""});
        mail.Add({"Broken Pager", "/o=Quorvik/cn=broken", "", "", "a@example.org> NOTIFY=NEVER"});
        mail.UseProfile("Office");
    }

    LHANDLE Logon(const char* profile = "") {
        LHANDLE session = 0;
        EXPECT_EQ(lib.Logon(0, const_cast<char*>(profile), const_cast<char*>(""), MAPI_LOGON_UI, 0,
                            &session),
                  SUCCESS_SUCCESS);
        EXPECT_NE(session, 0u);
        return session;
    }

    Library lib{MAPI_LIBRARY};
    MailFixture mail;
};

} // namespace

TEST(SimpleMapiLibrary, ExportsTheSixEntryPointsAndNothingElse) {
    Library lib(MAPI_LIBRARY);
    EXPECT_TRUE(lib.Logon && lib.Logoff && lib.FreeBuffer && lib.FindNext && lib.ReadMail &&
                lib.SendMail);
    // The mail-system code inside is private to the library.
    EXPECT_FALSE(
        dlsym(lib.Handle(),
              "_ZN4mail21IsValidMailboxAddressESt17basic_string_viewIcSt11char_traitsIcEE"));
    EXPECT_FALSE(dlsym(
        lib.Handle(),
        "_ZN4mail10MailSystem4OpenERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERS6_"));

    Library incomplete(MAPI_LIBRARY_NO_READMAIL);
    EXPECT_TRUE(incomplete.Logon && incomplete.SendMail && incomplete.FindNext);
    EXPECT_FALSE(incomplete.ReadMail);
}

TEST_F(SimpleMapi, LogsOnToTheDefaultOrANamedProfileOnly) {
    mail.AddProfile("Other", mail.Directory());
    mail.AddProfile("Nowhere", mail.Directory() + "/missing");
    const struct {
        const char* profile;
        ULONG result;
    } rows[] = {
        {"", SUCCESS_SUCCESS},
        {nullptr, SUCCESS_SUCCESS},
        {"Office", SUCCESS_SUCCESS},
        {"Other", SUCCESS_SUCCESS},
        {"Unknown", MAPI_E_LOGON_FAILURE},
        {"office", MAPI_E_LOGON_FAILURE},
        {"Nowhere", MAPI_E_LOGON_FAILURE},
    };
    for (const auto& row : rows) {
        LHANDLE session = 12345;
        EXPECT_EQ(lib.Logon(0, const_cast<char*>(row.profile), nullptr, MAPI_LOGON_UI, 0, &session),
                  row.result)
            << (row.profile ? row.profile : "(null)");
        if (row.result == SUCCESS_SUCCESS) {
            EXPECT_NE(session, 0u);
            EXPECT_EQ(lib.Logoff(session, 0, 0, 0), SUCCESS_SUCCESS);
        } else {
            EXPECT_EQ(session, 0u) << "a failed logon hands out no session";
        }
    }
    EXPECT_EQ(lib.Logon(0, nullptr, nullptr, 0, 0, nullptr), MAPI_E_FAILURE);

    MailFixture::RemoveProfiles();
    LHANDLE session = 1;
    EXPECT_EQ(lib.Logon(0, nullptr, nullptr, MAPI_LOGON_UI, 0, &session), MAPI_E_LOGON_FAILURE);
    EXPECT_EQ(session, 0u);
}

TEST_F(SimpleMapi, SessionsAreDistinctAndEndOnce) {
    const LHANDLE a = Logon(), b = Logon("Office");
    EXPECT_NE(a, b);
    EXPECT_EQ(lib.Logoff(a, 0, 0, 0), SUCCESS_SUCCESS);
    EXPECT_EQ(lib.Logoff(a, 0, 0, 0), MAPI_E_INVALID_SESSION);
    EXPECT_EQ(lib.Logoff(0, 0, 0, 0), MAPI_E_INVALID_SESSION);
    Message page("Ann Archer Pager");
    EXPECT_EQ(lib.SendMail(a, 0, &page.message, 0, 0), MAPI_E_INVALID_SESSION);
    EXPECT_EQ(lib.SendMail(b, 0, &page.message, 0, 0), SUCCESS_SUCCESS);
    EXPECT_EQ(lib.Logoff(b, 0, 0, 0), SUCCESS_SUCCESS);
}

TEST_F(SimpleMapi, ABoundedNumberOfSessions) {
    std::vector<LHANDLE> sessions;
    LHANDLE session = 0;
    ULONG rc;
    while ((rc = lib.Logon(0, nullptr, nullptr, 0, 0, &session)) == SUCCESS_SUCCESS &&
           sessions.size() < 10000)
        sessions.push_back(session);
    EXPECT_EQ(rc, MAPI_E_TOO_MANY_SESSIONS);
    EXPECT_GE(sessions.size(), 16u);
    for (LHANDLE s : sessions)
        EXPECT_EQ(lib.Logoff(s, 0, 0, 0), SUCCESS_SUCCESS);
}

TEST_F(SimpleMapi, SendsAPageToTheOutboxByPagerName) {
    const LHANDLE session = Logon();
    Message page("Ann Archer Pager", "02:00-03:00 Budget review\n.\nSecond line");
    EXPECT_EQ(lib.SendMail(session, 0, &page.message, 0, 0), SUCCESS_SUCCESS);
    lib.Logoff(session, 0, 0, 0);

    const std::vector<std::string> messages = mail.OutboxMessages();
    ASSERT_EQ(messages.size(), 1u);
    const std::string& m = messages[0];
    EXPECT_NE(m.find("\r\nTo: \"Ann Archer Pager\" <5551234@pager.example.org>\r\n"),
              std::string::npos)
        << m;
    EXPECT_NE(m.find("\r\nSubject:\r\n"), std::string::npos);
    EXPECT_NE(m.find("\r\n\r\n02:00-03:00 Budget review\r\n.\r\nSecond line\r\n"),
              std::string::npos)
        << m;
}

TEST_F(SimpleMapi, EveryRecipientFailureHasItsCode) {
    const LHANDLE session = Logon();
    const struct {
        const char* name;
        ULONG recipClass;
        ULONG result;
    } rows[] = {
        {"Ann Archer Pager", MAPI_TO, SUCCESS_SUCCESS},
        {"Ann Archer Pager", MAPI_BCC, SUCCESS_SUCCESS},
        {"Nobody Here", MAPI_TO, MAPI_E_UNKNOWN_RECIPIENT},
        {"ann archer pager", MAPI_TO, MAPI_E_UNKNOWN_RECIPIENT},
        {"", MAPI_TO, MAPI_E_UNKNOWN_RECIPIENT},
        {nullptr, MAPI_TO, MAPI_E_UNKNOWN_RECIPIENT},
        {"Twin Pager", MAPI_TO, MAPI_E_AMBIGUOUS_RECIPIENT},
        {"Ann Archer Pager\r\nBcc: evil@example.org", MAPI_TO, MAPI_E_INVALID_RECIPS},
        {"Ann Archer Pager\n", MAPI_TO, MAPI_E_INVALID_RECIPS},
        {"Broken Pager", MAPI_TO, MAPI_E_INVALID_RECIPS}, // delivers to no valid address
        {"Ann Archer", MAPI_TO, MAPI_E_INVALID_RECIPS},   // an X.500 address is no envelope
        {"Ann Archer Pager", MAPI_ORIG, MAPI_E_BAD_RECIPTYPE},
        {"Ann Archer Pager", 9, MAPI_E_BAD_RECIPTYPE},
    };
    size_t sent = 0;
    for (const auto& row : rows) {
        Message page(row.name, "text", row.recipClass);
        EXPECT_EQ(lib.SendMail(session, 0, &page.message, 0, 0), row.result)
            << (row.name ? row.name : "(null)");
        sent += row.result == SUCCESS_SUCCESS;
    }
    EXPECT_EQ(mail.OutboxMessages().size(), sent) << "failures deliver nothing";
    lib.Logoff(session, 0, 0, 0);
}

TEST_F(SimpleMapi, RefusesMessagesItCannotSendHonestly) {
    const LHANDLE session = Logon();
    Message page("Ann Archer Pager");
    EXPECT_EQ(lib.SendMail(session, 0, nullptr, 0, 0), MAPI_E_INVALID_MESSAGE);
    EXPECT_EQ(lib.SendMail(session, 0, &page.message, MAPI_DIALOG, 0), MAPI_E_NOT_SUPPORTED);

    Message subject("Ann Archer Pager");
    subject.message.lpszSubject = const_cast<char*>("Hi\r\nBcc: evil@example.org");
    EXPECT_EQ(lib.SendMail(session, 0, &subject.message, 0, 0), MAPI_E_INVALID_MESSAGE);

    Message none("Ann Archer Pager");
    none.message.nRecipCount = 0;
    EXPECT_EQ(lib.SendMail(session, 0, &none.message, 0, 0), MAPI_E_INVALID_RECIPS);

    MapiFileDesc file = {};
    Message attached("Ann Archer Pager");
    attached.message.nFileCount = 1;
    attached.message.lpFiles = &file;
    EXPECT_EQ(lib.SendMail(session, 0, &attached.message, 0, 0), MAPI_E_NOT_SUPPORTED);

    // A caller-given address is used as it is, once it is a valid address.
    Message direct("Someone");
    direct.recip.lpszAddress = const_cast<char*>("SMTP:someone@example.org");
    EXPECT_EQ(lib.SendMail(session, 0, &direct.message, 0, 0), SUCCESS_SUCCESS);
    direct.recip.lpszAddress = const_cast<char*>("SMTP:someone@example.org\r\nX: y");
    EXPECT_EQ(lib.SendMail(session, 0, &direct.message, 0, 0), MAPI_E_INVALID_RECIPS);

    // A null subject and a null text are empty ones.
    Message empty("Ann Archer Pager");
    empty.message.lpszSubject = nullptr;
    empty.message.lpszNoteText = nullptr;
    EXPECT_EQ(lib.SendMail(session, 0, &empty.message, 0, 0), SUCCESS_SUCCESS);

    EXPECT_EQ(mail.OutboxMessages().size(), 2u);
    lib.Logoff(session, 0, 0, 0);
}

TEST_F(SimpleMapi, ReadingIsNotOfferedAndBuffersAreNeverHandedOut) {
    const LHANDLE session = Logon();
    char id[512] = {0};
    EXPECT_EQ(lib.FindNext(session, 0, nullptr, nullptr, 0, 0, id), MAPI_E_NOT_SUPPORTED);
    EXPECT_EQ(lib.FindNext(session + 1000, 0, nullptr, nullptr, 0, 0, id), MAPI_E_INVALID_SESSION);
    lpMapiMessage read = reinterpret_cast<lpMapiMessage>(&id);
    EXPECT_EQ(lib.ReadMail(session, 0, id, 0, 0, &read), MAPI_E_NOT_SUPPORTED);
    EXPECT_EQ(read, nullptr);
    EXPECT_EQ(lib.ReadMail(session + 1000, 0, id, 0, 0, &read), MAPI_E_INVALID_SESSION);
    EXPECT_EQ(lib.FreeBuffer(nullptr), SUCCESS_SUCCESS);
    EXPECT_EQ(lib.FreeBuffer(id), MAPI_E_FAILURE);
    lib.Logoff(session, 0, 0, 0);
}

TEST_F(SimpleMapi, DeliversOverSmtpAndMapsEveryNetworkFailure) {
    SmtpTestServer server;
    ASSERT_TRUE(server.Started());
    SmtpTestServer::Options refusing;
    refusing.mode = "refuse-recipient";
    SmtpTestServer refuser(refusing);
    ASSERT_TRUE(refuser.Started());
    RefusingPort closed;
    SilentServer silent;
    setenv("ORVANE_TEST_SMTP_TIMEOUT_MS", "500", 1);

    const struct {
        std::string url;
        ULONG result;
    } rows[] = {
        {server.Url(), SUCCESS_SUCCESS},
        {refuser.Url(), MAPI_E_INVALID_RECIPS},
        {"smtp://127.0.0.1:" + std::to_string(closed.Port()), MAPI_E_NETWORK_FAILURE},
        {"smtp://127.0.0.1:" + std::to_string(silent.Port()), MAPI_E_NETWORK_FAILURE},
    };
    for (const auto& row : rows) {
        mail.UseProfile("Smtp", SmtpTransport(row.url));
        const LHANDLE session = Logon();
        Message page("Ann Archer Pager", "Caf\xc3\xa9\n.\n");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(lib.SendMail(session, 0, &page.message, 0, 0), row.result) << row.url;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << row.url;
        lib.Logoff(session, 0, 0, 0);
    }
    unsetenv("ORVANE_TEST_SMTP_TIMEOUT_MS");

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].recipients, std::vector<std::string>{"5551234@pager.example.org"});
    EXPECT_NE(messages[0].data.find("Content-Type: text/plain; charset=utf-8"), std::string::npos);
    EXPECT_NE(messages[0].data.find("\r\n\r\nCaf=C3=A9\r\n.\r\n"), std::string::npos)
        << messages[0].data;
    EXPECT_TRUE(mail.OutboxMessages().empty());
}
