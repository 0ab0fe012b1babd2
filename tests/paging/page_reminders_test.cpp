// Page delivery: which reminders are due, the paging hours, one mail session per call, failed
// reminders kept and retried, and the mail library left unloaded when nothing is to be sent.
#include "core/Settings.h"
#include "paging/CMAPI.h"
#include "paging/CRemList.h"
#include "paging/ScriptedSimpleMapi.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"
#include "users/UserlistStru.h"

#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

std::vector<std::string>& OpenedLibraries() {
    static std::vector<std::string> opened;
    return opened;
}

} // namespace

// Every dlopen of this program passes here first, so a test can tell whether the mail library
// was ever loaded, not only whether it is loaded now.
extern "C" void* dlopen(const char* file, int mode) noexcept {
    using Real = void* (*)(const char*, int);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "dlopen"));
    if (file)
        OpenedLibraries().push_back(file);
    return real(file, mode);
}

namespace {

const char* const kPager = "Ann Archer (Pager)";
const char* const kNotLoggedOn =
    "Orvane is not logged onto the mail system.  Please exit and restart the application.";
const char* const kUnspecified =
    "A reminder page could not be sent.  An unspecified error was received.";

// How often a Simple MAPI library (ours, the scripted one, or a named missing file) was opened.
int MailLibraryLoads() {
    int n = 0;
    for (const std::string& path : OpenedLibraries())
        n += path.find("mapi32") != std::string::npos ? 1 : 0;
    return n;
}

class ScopedLibrary {
public:
    explicit ScopedLibrary(const std::string& path) {
        setenv(kSimpleMapiLibraryVariable, path.c_str(), 1);
    }
    ~ScopedLibrary() { unsetenv(kSimpleMapiLibraryVariable); }
};

// The scripted library, held open by the test so that its record survives CMAPI's unloading.
class Scripted {
public:
    Scripted()
        : m_library(SCRIPTED_MAPI_LIBRARY),
          m_handle(dlopen(SCRIPTED_MAPI_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
        EXPECT_TRUE(m_handle) << dlerror();
        auto control =
            reinterpret_cast<LPSCRIPTEDMAPICONTROL>(dlsym(m_handle, "ScriptedMapiControl"));
        m_state = control();
        *m_state = ScriptedMapiState{};
    }
    ~Scripted() { dlclose(m_handle); }
    ScriptedMapiState& State() { return *m_state; }
    void Script(const std::vector<ULONG>& results) {
        m_state->scriptLength = 0;
        for (ULONG r : results)
            m_state->sendResults[m_state->scriptLength++] = r;
    }
    std::vector<std::string> SentTexts() const {
        std::vector<std::string> texts;
        for (int i = 0; i < m_state->sendCalls && i < ScriptedMapiState::kMaxCalls; ++i)
            texts.push_back(m_state->sends[i].text);
        return texts;
    }

private:
    ScopedLibrary m_library;
    void* m_handle;
    ScriptedMapiState* m_state = nullptr;
};

class PageReminders : public testing::Test {
protected:
    // A zone away from UTC: the paging hours are local hours.
    ScopedTimeZone zone{"America/New_York"};
    MailFixture mail;
    CapturedEvents events;
    UserlistStru user;
    CRemList list;

    void SetUp() override {
        unsetenv(kSimpleMapiLibraryVariable);
        mail.Add({kPager, "/o=Quorvik/ou=Site/cn=Recipients/cn=aarcher-pager", "", "",
                  "5550101@pager.example.org"});
        mail.UseProfile("Paging");
        SetHours("0", "24");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Paging");
        user.PagerName = kPager;
        OpenedLibraries().clear();
    }

    static void SetHours(const char* start, const char* end) {
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, start);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kEndHour, end);
    }
    // Appends a task-like reminder (no start time) whose page time is `pageTime`.
    void AddDue(CTime pageTime, const char* text) {
        list.AddReminder(pageTime + timespans::kMinute, CTime(0), CTime(0), text);
    }
    std::vector<std::string> Remaining() const {
        std::vector<std::string> texts;
        for (const auto& r : list.GetRecords())
            texts.push_back(r->Text);
        return texts;
    }
};

CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 3, 2, hour, minute, second);
}

} // namespace

TEST_F(PageReminders, TheHourOfTheCallDecidesBetweenSendingAndDropping) {
    const struct {
        const char* start;
        const char* end;
        CTime now;
        CTime pageTime;
        bool sent;
    } rows[] = {
        // A window across midnight.
        {"22", "6", At(23, 10), At(23, 9), true},
        {"22", "6", At(5, 59), At(5, 58), true},
        {"22", "6", At(12, 0), At(11, 59), false},
        {"22", "6", At(6, 0), At(5, 59), false},
        {"22", "6", At(21, 59), At(21, 58), false},
        // The reminder's own page time lies outside; the call's hour is inside.
        {"22", "6", At(22, 0), At(21, 59), true},
        // The defaults: every hour.
        {"0", "24", At(0, 0), At(0, 0), true},
        {"0", "24", At(23, 59, 59), At(23, 59), true},
        // Start equal to end: no hour at all.
        {"9", "9", At(9, 30), At(9, 29), false},
        {"9", "9", At(3, 0), At(2, 59), false},
        // A day window: the end hour is outside.
        {"9", "17", At(9, 0), At(8, 59), true},
        {"9", "17", At(16, 59), At(16, 58), true},
        {"9", "17", At(17, 0), At(16, 59), false},
        {"9", "17", At(8, 59), At(8, 58), false},
        // The standard conversion: leading blanks and sign, digits up to the first non-digit.
        {" +9 o'clock", "17", At(9, 0), At(8, 59), true},
        {"nine", "1", At(0, 30), At(0, 29), true},
        {"nine", "1", At(1, 0), At(0, 59), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.start) + "-" + row.end + " at " + row.now.Format("%H:%M:%S"));
        SetHours(row.start, row.end);
        OpenedLibraries().clear();
        const size_t before = mail.OutboxMessages().size();
        user.LastPageCheck = row.now - CTimeSpan(1);
        AddDue(row.pageTime, "02:00-03:00 Budget review");

        EXPECT_EQ(list.PageReminders(row.now, PagingFields(user)), 1)
            << "sent or dropped, it left the list";
        EXPECT_TRUE(list.IsEmpty());
        EXPECT_EQ(mail.OutboxMessages().size(), before + (row.sent ? 1 : 0));
        if (!row.sent) {
            EXPECT_EQ(MailLibraryLoads(), 0) << "a dropped reminder needs no mail session";
        }
    }
    EXPECT_TRUE(events.Texts().empty());
}

TEST_F(PageReminders, NothingDueLoadsNoLibraryAndChangesNothing) {
    // Were anything sent, this library could not be loaded and the page would be logged.
    ScopedLibrary missing("/nonexistent/liborvane-mapi32.so");
    const CTime p = At(10, 0);
    const struct {
        const char* why;
        bool empty;
        CTime now;
        CTime lastPageCheck;
        bool attempted;
    } rows[] = {
        {"an empty list", true, p, p - CTimeSpan(1), false},
        {"before the page time", false, p - CTimeSpan(1), CTime(0), false},
        {"now equal to LastPageCheck", false, p, p, false},
        // A clock set back does not stop paging: only the same second is skipped.
        {"now before LastPageCheck", false, p + CTimeSpan(100), p + CTimeSpan(200), true},
        {"due at the page time itself", false, p, p - CTimeSpan(1), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        CapturedEvents local;
        OpenedLibraries().clear();
        list.ClearList();
        if (!row.empty)
            AddDue(p, "Submit timesheet");
        user.LastPageCheck = row.lastPageCheck;

        EXPECT_EQ(list.PageReminders(row.now, PagingFields(user)), 0);
        EXPECT_EQ(list.GetCount(), row.empty ? 0 : 1) << "a reminder that was not sent stays";
        EXPECT_EQ(MailLibraryLoads(), row.attempted ? 1 : 0);
        EXPECT_EQ(local.Texts(), row.attempted ? std::vector<std::string>{kNotLoggedOn}
                                               : std::vector<std::string>{});
    }
}

TEST_F(PageReminders, TwoDueRemindersGoOutInListOrderOverOneSession) {
    AddDue(At(10, 0), "10:00-11:00 First");
    AddDue(At(10, 0), "10:00-10:30 Second");
    AddDue(At(10, 30), "Later");
    user.LastPageCheck = At(10, 4, 59);
    {
        Scripted scripted;
        EXPECT_EQ(list.PageReminders(At(10, 5), PagingFields(user)), 2);
        const ScriptedMapiState& s = scripted.State();
        EXPECT_EQ(s.logonCalls, 1);
        EXPECT_EQ(s.logoffCalls, 1);
        EXPECT_STREQ(s.profile, "Paging") << "the ProfileName setting";
        EXPECT_EQ(scripted.SentTexts(),
                  std::vector<std::string>({"10:00-11:00 First", "10:00-10:30 Second"}));
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(s.sends[i].session, s.sends[0].session);
            EXPECT_STREQ(s.sends[i].recipient, kPager);
            EXPECT_STREQ(s.sends[i].subject, "");
        }
    }
    EXPECT_EQ(Remaining(), std::vector<std::string>{"Later"});

    // The same through the real library: two messages in the outbox, body = the text.
    list.ClearList();
    AddDue(At(10, 0), "10:00-11:00 First");
    AddDue(At(10, 0), "10:00-10:30 Second");
    EXPECT_EQ(list.PageReminders(At(10, 5), PagingFields(user)), 2);
    const std::vector<std::string> messages = mail.OutboxMessages();
    ASSERT_EQ(messages.size(), 2u);
    for (const std::string& m : messages) {
        EXPECT_NE(m.find("To: \"Ann Archer (Pager)\" <5550101@pager.example.org>"),
                  std::string::npos)
            << m;
        EXPECT_NE(m.find("\r\nSubject:\r\n"), std::string::npos) << m;
    }
    EXPECT_NE(messages[0].find("\r\n\r\n10:00-11:00 First\r\n"), std::string::npos) << messages[0];
    EXPECT_NE(messages[1].find("\r\n\r\n10:00-10:30 Second\r\n"), std::string::npos) << messages[1];
    EXPECT_TRUE(events.Texts().empty());
}

TEST_F(PageReminders, FailedRemindersStayAndAreRetriedAfterEachRemoval) {
    const struct {
        const char* why;
        std::vector<ULONG> script;          // results of the sends in order; then success
        std::vector<std::string> reminders; // all due, in list order; "later" is not due
        std::vector<std::string> sent;      // texts of the send attempts in order
        int result;
        std::vector<std::string> remaining;
        std::vector<std::string> events;
    } rows[] = {
        {"first fails, second sent, first retried once",
         {MAPI_E_FAILURE, 0, MAPI_E_FAILURE},
         {"A", "B"},
         {"A", "B", "A"},
         1,
         {"A"},
         {kUnspecified, kUnspecified}},
        {"the retry after a removal succeeds",
         {MAPI_E_FAILURE, MAPI_E_FAILURE, 0, MAPI_E_FAILURE},
         {"A", "B", "C"},
         {"A", "B", "C", "A", "B", "A"},
         3,
         {},
         {kUnspecified, kUnspecified, kUnspecified}},
        {"a failure never reaches past what is not due",
         {MAPI_E_UNKNOWN_RECIPIENT},
         {"A", "later"},
         {"A"},
         0,
         {"A", "later"},
         {std::string("A reminder page could not be sent to ") + kPager +
          " because the pager name does not exist in the addressbook."}},
        {"only the failed one stays",
         {0, MAPI_E_INSUFFICIENT_MEMORY},
         {"A", "B"},
         {"A", "B"},
         1,
         {"B"},
         {"There is insufficient memory to send the reminder page"}},
        {"every attempt fails once each",
         {MAPI_E_DISK_FULL, MAPI_E_AMBIGUOUS_RECIPIENT},
         {"A", "B"},
         {"A", "B"},
         0,
         {"A", "B"},
         {"There is insufficient disk space to send the reminder page.",
          "A reminder page could not be sent because the specified pager name matched more than "
          "one entry in the "
          "addressbook."}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        CapturedEvents local;
        Scripted scripted;
        scripted.Script(row.script);
        list.ClearList();
        for (const std::string& text : row.reminders)
            AddDue(text == "later" ? At(11, 0) : At(10, 0), text.c_str());
        user.LastPageCheck = At(10, 0);

        EXPECT_EQ(list.PageReminders(At(10, 1), PagingFields(user)), row.result);
        EXPECT_EQ(scripted.SentTexts(), row.sent);
        EXPECT_EQ(Remaining(), row.remaining);
        EXPECT_EQ(local.Texts(), row.events);
        EXPECT_EQ(scripted.State().logonCalls, 1);
        EXPECT_EQ(scripted.State().logoffCalls, 1);
    }
}

TEST_F(PageReminders, AnUnknownPagerNameIsNamedAndTriedAgainAtTheNextCall) {
    user.PagerName = "Nobody (Pager)";
    AddDue(At(10, 0), "Submit timesheet");
    user.LastPageCheck = At(10, 0);
    EXPECT_EQ(list.PageReminders(At(10, 0, 1), PagingFields(user)), 0);
    user.LastPageCheck = At(10, 0, 1);
    EXPECT_EQ(list.PageReminders(At(10, 0, 2), PagingFields(user)), 0);
    EXPECT_EQ(list.GetCount(), 1);
    const std::string text = "A reminder page could not be sent to Nobody (Pager) because the "
                             "pager name does not exist in the addressbook.";
    EXPECT_EQ(events.Texts(), std::vector<std::string>(2, text));
    EXPECT_TRUE(mail.OutboxMessages().empty());

    // Once the pager name is known, the kept reminder goes out.
    user.PagerName = kPager;
    user.LastPageCheck = At(10, 0, 2);
    EXPECT_EQ(list.PageReminders(At(10, 0, 3), PagingFields(user)), 1);
    EXPECT_EQ(mail.OutboxMessages().size(), 1u);
}

TEST_F(PageReminders, TheHoursAreReadAgainForEveryReminderThatReachesThem) {
    // The first send fails; its event closes the paging window while the call is running.
    SetHours("9", "17");
    auto previous = EventLog::SetObserver([](const EventLog::Entry&) { SetHours("9", "10"); });
    Scripted scripted;
    scripted.Script({MAPI_E_FAILURE});
    AddDue(At(16, 0), "A");
    AddDue(At(16, 0), "B");
    user.LastPageCheck = At(16, 0);
    const int left = list.PageReminders(At(16, 30), PagingFields(user));
    EventLog::SetObserver(previous);

    EXPECT_EQ(left, 2) << "B and then the kept A are dropped once the window has closed";
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(scripted.SentTexts(), std::vector<std::string>{"A"});
}
