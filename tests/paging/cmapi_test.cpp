// CMAPI: finding and loading the library, the exact Simple MAPI calls, and every event text.
#include "paging/CMAPI.h"
#include "paging/FakeSimpleMapi.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using testing_support::CapturedEvents;
using testing_support::MailFixture;

namespace {

const char* const kNotLoggedOn =
    "Orvane is not logged onto the mail system.  Please exit and restart the application.";

class ScopedLibrary {
public:
    explicit ScopedLibrary(const std::string& path) {
        setenv(kSimpleMapiLibraryVariable, path.c_str(), 1);
    }
    ~ScopedLibrary() { unsetenv(kSimpleMapiLibraryVariable); }
};

// True when a file of that path is mapped into this process.
bool IsLoaded(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.size() >= path.size() &&
            line.compare(line.size() - path.size(), path.size(), path) == 0)
            return true;
    }
    return false;
}

// The recording stand-in, held open by the test so that its record outlives CMAPI's unloading.
class Fake {
public:
    Fake()
        : m_library(FAKE_MAPI_LIBRARY), m_handle(dlopen(FAKE_MAPI_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
        EXPECT_TRUE(m_handle) << dlerror();
        auto control = reinterpret_cast<LPFAKEMAPICONTROL>(dlsym(m_handle, "FakeMapiControl"));
        m_state = control();
        *m_state = FakeMapiState{};
    }
    ~Fake() { dlclose(m_handle); }
    FakeMapiState& State() { return *m_state; }

private:
    ScopedLibrary m_library;
    void* m_handle;
    FakeMapiState* m_state = nullptr;
};

} // namespace

TEST(CMAPI, StartsClosedAndSearchesTheOverrideOrBesideTheProgram) {
    CMAPI mapi;
    EXPECT_EQ(mapi.ServerOpen, 0);
    EXPECT_EQ(mapi.Session, 0u);
    EXPECT_EQ(mapi.Library, nullptr);

    unsetenv(kSimpleMapiLibraryVariable);
    const std::vector<std::string> search = CMAPI::LibraryCandidates();
    ASSERT_EQ(search.size(), 2u);
    char self[4096] = {0};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string program = self;
    EXPECT_EQ(search[0], program.substr(0, program.rfind('/')) + "/" + kSimpleMapiLibraryName);
    EXPECT_EQ(search[1], kSimpleMapiLibraryName);
    {
        ScopedLibrary chosen("/opt/elsewhere/libmapi.so");
        EXPECT_EQ(CMAPI::LibraryCandidates(),
                  std::vector<std::string>{"/opt/elsewhere/libmapi.so"});
    }

    // The library built beside the test programs is found without help.
    mapi.OpenMailServer();
    EXPECT_EQ(mapi.ServerOpen, 1);
    EXPECT_NE(mapi.Library, nullptr);
    mapi.CloseMailServer();
    EXPECT_EQ(mapi.ServerOpen, 0);
    EXPECT_EQ(mapi.Library, nullptr);
}

TEST(CMAPI, AMissingOrIncompleteLibraryLeavesItClosedAndEveryPageLogged) {
    const char* const libraries[] = {"/nonexistent/liborvane-mapi32.so", MAPI_LIBRARY_NO_READMAIL,
                                     FAKE_MAPI_LIBRARY_NO_FINDNEXT};
    for (const char* path : libraries) {
        SCOPED_TRACE(path);
        ScopedLibrary chosen(path);
        CapturedEvents events;
        CMAPI mapi;
        mapi.OpenMailServer();
        EXPECT_EQ(mapi.ServerOpen, 0);
        EXPECT_EQ(mapi.Library, nullptr);
        EXPECT_FALSE(IsLoaded(path)) << "an incomplete library is unloaded again";
        EXPECT_EQ(mapi.OpenMailSession(""), 0);
        EXPECT_EQ(mapi.SendMail("Pager", "", "text", 0), 0);
        EXPECT_EQ(mapi.SendMail("Pager", "", "text", 1), 0);
        mapi.CloseMailServer();
        EXPECT_EQ(events.Texts(), std::vector<std::string>(2, kNotLoggedOn))
            << "written whatever the report flag says";
        for (const auto& e : events.Entries())
            EXPECT_EQ(e.eventId, 1001u);
    }
}

TEST(CMAPI, LogsOnOnceWithTheProfileCutTo255Characters) {
    Fake fake;
    CMAPI mapi;
    mapi.OpenMailServer();
    ASSERT_EQ(mapi.ServerOpen, 1);
    const std::string longName(300, 'p');
    EXPECT_EQ(mapi.OpenMailSession(longName), 1);
    EXPECT_EQ(mapi.Session, 7u);
    FakeMapiState& s = fake.State();
    EXPECT_EQ(s.logonCalls, 1);
    EXPECT_EQ(std::string(s.profile), longName.substr(0, 255));
    EXPECT_FALSE(s.passwordNull);
    EXPECT_STREQ(s.password, "");
    EXPECT_EQ(s.logonFlags, static_cast<FLAGS>(MAPI_LOGON_UI));
    EXPECT_EQ(s.logonUIParam, 0u);
    EXPECT_EQ(s.logonReserved, 0u);

    EXPECT_EQ(mapi.OpenMailSession("again"), 1) << "an existing session is kept";
    EXPECT_EQ(s.logonCalls, 1);

    mapi.CloseMailServer();
    EXPECT_EQ(s.logoffCalls, 1);
    EXPECT_EQ(s.logoffSession, 7u);
    EXPECT_EQ(s.logoffUIParam, 0u);
    EXPECT_EQ(s.logoffFlags, 0u);
    EXPECT_EQ(s.logoffReserved, 0u);
    EXPECT_EQ(mapi.Session, 0u);
    EXPECT_EQ(mapi.ServerOpen, 0);

    // A logon that gives no handle: no session, whatever the code said.
    s.logonHandle = 0;
    s.logonResult = SUCCESS_SUCCESS;
    mapi.OpenMailServer();
    EXPECT_EQ(mapi.OpenMailSession(""), 0);
    mapi.CloseMailServer();
    EXPECT_EQ(s.logoffCalls, 1) << "no session, no logoff";
}

TEST(CMAPI, SendsThePageMessageExactly) {
    Fake fake;
    CMAPI mapi;
    mapi.OpenMailServer();
    ASSERT_EQ(mapi.OpenMailSession(""), 1);
    EXPECT_EQ(mapi.SendMail("Ann Archer Pager", "", "02:00-03:00 Budget review", 1), 1);
    const FakeMapiState& s = fake.State();
    ASSERT_EQ(s.sendCalls, 1);
    EXPECT_EQ(s.sendSession, 7u);
    EXPECT_EQ(s.sendUIParam, 0u);
    EXPECT_EQ(s.sendFlags, 0u);
    EXPECT_EQ(s.sendReserved, 0u);
    ASSERT_FALSE(s.messageNull);
    EXPECT_EQ(s.message.ulReserved, 0u);
    EXPECT_FALSE(s.subjectNull);
    EXPECT_STREQ(s.subject, "");
    EXPECT_STREQ(s.text, "02:00-03:00 Budget review");
    EXPECT_EQ(s.message.lpszMessageType, nullptr);
    EXPECT_EQ(s.message.lpszDateReceived, nullptr);
    EXPECT_EQ(s.message.lpszConversationID, nullptr);
    EXPECT_EQ(s.message.flFlags, 0u);
    EXPECT_EQ(s.message.lpOriginator, nullptr);
    EXPECT_EQ(s.message.nRecipCount, 1u);
    EXPECT_EQ(s.message.nFileCount, 0u);
    EXPECT_EQ(s.message.lpFiles, nullptr);
    EXPECT_EQ(s.recipient.ulRecipClass, static_cast<ULONG>(MAPI_TO));
    EXPECT_STREQ(s.recipientName, "Ann Archer Pager");
    EXPECT_EQ(s.recipient.lpszAddress, nullptr);
    EXPECT_EQ(s.recipient.ulEIDSize, 0u);
    EXPECT_EQ(s.recipient.lpEntryID, nullptr);
    mapi.CloseMailServer();
}

TEST(CMAPI, CarriesThePageDescriptionInTheMessagesOwnFields) {
    Fake fake;
    CMAPI mapi;
    mapi.OpenMailServer();
    ASSERT_EQ(mapi.OpenMailSession(""), 1);
    PageDescription page;
    page.UserName = "Zoë Archer";
    page.PageTime = CTime(1772459940);     // 2026-03-02 13:59:00 UTC
    page.ReminderTime = CTime(1772460000); // 14:00:00 UTC
    page.Identity = "0123456789abcdef0123456789abcdef";
    EXPECT_EQ(mapi.SendMail("Ann Archer Pager", "", "02:00-03:00 Budget review", 1, page), 1);
    const FakeMapiState& s = fake.State();
    ASSERT_EQ(s.sendCalls, 1);
    EXPECT_STREQ(s.text, "02:00-03:00 Budget review");
    EXPECT_STREQ(s.recipientName, "Ann Archer Pager");
    EXPECT_EQ(s.originatorClass, static_cast<ULONG>(MAPI_ORIG));
    EXPECT_STREQ(s.originatorName, "Zoë Archer");
    EXPECT_STREQ(s.date, "2026-03-02T13:59:00Z/2026-03-02T14:00:00Z");
    EXPECT_STREQ(s.conversation, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(s.message.lpszMessageType, nullptr);

    // What the description lacks stays absent, as in the plain form.
    EXPECT_EQ(mapi.SendMail("Ann Archer Pager", "", "x", 1, PageDescription{}), 1);
    EXPECT_TRUE(s.dateNull);
    EXPECT_TRUE(s.conversationNull);
    EXPECT_EQ(s.message.lpOriginator, nullptr);
    page.ReminderTime = CTime();
    page.UserName.clear();
    EXPECT_EQ(mapi.SendMail("Ann Archer Pager", "", "x", 1, page), 1);
    EXPECT_STREQ(s.date, "2026-03-02T13:59:00Z");
    EXPECT_EQ(s.message.lpOriginator, nullptr);
    mapi.CloseMailServer();
}

TEST(CMAPI, EveryResultCodeWritesItsEventText) {
    const struct {
        ULONG rc;
        const char* text;
    } rows[] = {
        {MAPI_E_DISK_FULL, "There is insufficient disk space to send the reminder page."},
        {MAPI_E_INSUFFICIENT_MEMORY, "There is insufficient memory to send the reminder page"},
        {MAPI_E_UNKNOWN_RECIPIENT, "A reminder page could not be sent to Pager \"Night\" Desk "
                                   "because the pager name does not exist in "
                                   "the addressbook."},
        {MAPI_E_INVALID_SESSION, "The logon to the mail system has been lost."},
        {MAPI_E_AMBIGUOUS_RECIPIENT, "A reminder page could not be sent because the specified "
                                     "pager name matched more than one entry in "
                                     "the addressbook."},
        {MAPI_E_FAILURE, "A reminder page could not be sent.  An unspecified error was received."},
        {MAPI_E_NETWORK_FAILURE,
         "A reminder page could not be sent.  An unspecified error was received."},
        {MAPI_E_INVALID_RECIPS,
         "A reminder page could not be sent.  An unspecified error was received."},
        {0xFFFFFFFF, "A reminder page could not be sent.  An unspecified error was received."},
    };
    Fake fake;
    CMAPI mapi;
    mapi.OpenMailServer();
    ASSERT_EQ(mapi.OpenMailSession(""), 1);
    for (const auto& row : rows) {
        fake.State().sendResult = row.rc;
        CapturedEvents events;
        EXPECT_EQ(mapi.SendMail("Pager \"Night\" Desk", "", "text", 1), 0);
        ASSERT_EQ(events.Entries().size(), 1u) << row.rc;
        EXPECT_EQ(events.Texts()[0], row.text);
        EXPECT_EQ(events.Entries()[0].eventId, 1001u);
        EXPECT_EQ(events.Entries()[0].strings.size(), 1u);

        CapturedEvents quiet;
        EXPECT_EQ(mapi.SendMail("Pager", "", "text", 0), 0);
        EXPECT_TRUE(quiet.Entries().empty()) << "no report asked for";
    }
    fake.State().sendResult = SUCCESS_SUCCESS;
    CapturedEvents none;
    EXPECT_EQ(mapi.SendMail("Pager", "", "text", 1), 1);
    EXPECT_TRUE(none.Entries().empty());
    mapi.CloseMailServer();
}

TEST(CMAPI, OpeningTwiceOrDestroyingOpenReleasesTheLibrary) {
    {
        ScopedLibrary chosen(FAKE_MAPI_LIBRARY);
        {
            CMAPI mapi;
            mapi.OpenMailServer();
            mapi.OpenMailServer();
            EXPECT_EQ(mapi.ServerOpen, 1);
            EXPECT_TRUE(IsLoaded(FAKE_MAPI_LIBRARY));
        }
        EXPECT_FALSE(IsLoaded(FAKE_MAPI_LIBRARY))
            << "a second opening kept the first one's reference";
    }
    Fake fake;
    {
        CMAPI mapi;
        mapi.OpenMailServer();
        ASSERT_EQ(mapi.OpenMailSession(""), 1);
    }
    EXPECT_EQ(fake.State().logoffCalls, 1) << "the destructor logs off what the caller left open";
}

// The real library behind CMAPI: pages reach the outbox, and each failure of the mail system
// gives the event text of its code.
TEST(CMAPI, PagesThroughTheMailSystem) {
    MailFixture mail;
    mail.Add(
        {"Ann Archer Pager", "/o=Quorvik/cn=aarcher-pager", "", "", "5551234@pager.example.org"});
    mail.Add({"Twin", "twin1@example.org", "", "", ""});
    mail.Add({"Twin", "twin2@example.org", "", "", ""});
    mail.UseProfile("Office");
    ScopedLibrary chosen(MAPI_LIBRARY);
    CapturedEvents events;
    CMAPI mapi;
    mapi.OpenMailServer();
    ASSERT_EQ(mapi.ServerOpen, 1);
    EXPECT_EQ(mapi.OpenMailSession("Unknown profile"), 0);
    EXPECT_EQ(mapi.Session, 0u);
    ASSERT_EQ(mapi.OpenMailSession(""), 1);
    EXPECT_EQ(mapi.SendMail("Ann Archer Pager", "", "02:00-03:00 Budget review", 1), 1);
    EXPECT_EQ(mapi.SendMail("Nobody", "", "x", 1), 0);
    EXPECT_EQ(mapi.SendMail("Twin", "", "x", 1), 0);

    // The session ends behind CMAPI's back.
    auto logoff = reinterpret_cast<LPMAPILOGOFF>(dlsym(mapi.Library, "MAPILogoff"));
    ASSERT_EQ(logoff(mapi.Session, 0, 0, 0), SUCCESS_SUCCESS);
    EXPECT_EQ(mapi.SendMail("Ann Archer Pager", "", "x", 1), 0);
    mapi.CloseMailServer();

    EXPECT_EQ(events.Texts(),
              (std::vector<std::string>{"A reminder page could not be sent to Nobody because the "
                                        "pager name does not exist in the "
                                        "addressbook.",
                                        "A reminder page could not be sent because the specified "
                                        "pager name matched more than one "
                                        "entry in the addressbook.",
                                        "The logon to the mail system has been lost."}));
    const auto messages = mail.OutboxMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("<5551234@pager.example.org>"), std::string::npos);
    EXPECT_NE(messages[0].find("\r\n\r\n02:00-03:00 Budget review\r\n"), std::string::npos);
}
