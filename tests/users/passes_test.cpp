// The per-user passes over a mail system made by the test, through the real Outlook automation
// layer and both MAPI layers: grouping by server, who is scanned and when, one Outlook session
// per pass, recovery from Outlook call errors, and the paging sum.
#include "core/Clock.h"
#include "core/Settings.h"
#include "core/StatusText.h"
#include "outlook/COutlook.h"
#include "outlook/automation/ComRuntime.h"
#include "outlook/automation/Faults.h"
#include "outlook/automation/OutlookDispIds.h"
#include "paging/ExtendedMapi.h"
#include "paging/SentPages.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace testing_support;
using automation::CallRecorder;
using automation::FaultScope;
using automation::ObjectKind;

namespace {

const char* const kStoreA =
    "/o=Quorvik/ou=Site/cn=Configuration/cn=Servers/cn=MAIL-A/cn=Microsoft Private MDB";
const char* const kStoreB =
    "/o=Quorvik/ou=Site/cn=Configuration/cn=Servers/cn=MAIL-B/cn=Microsoft Private MDB";
const char* const kProfile = "Passes";

std::string Dn(const std::string& user) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + user;
}
std::string Pager(const std::string& user) {
    return user + " (Pager)";
}

// The pass's start: Monday 1 June 2026, 09:00 UTC.
const CTime kStart(2026, 6, 1, 9, 0, 0);

std::string Appointment(const std::string& uid, const std::string& start, const std::string& end,
                        const std::string& subject, int leadMinutes) {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + subject + "\r\nDTSTART:20260601T" +
           start + "00Z\r\nDTEND:20260601T" + end +
           "00Z\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT" + std::to_string(leadMinutes) +
           "M\r\nEND:VALARM\r\nEND:VEVENT\r\n";
}
std::string Calendar(const std::string& events) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\n" + events +
           "END:VCALENDAR\r\n";
}

// Writes every text shown while a user is open, and lets the clock run on while Outlook works.
class SlowStatus : public IStatusText {
public:
    SlowStatus() : m_previous(SetStatusText(this)) {}
    ~SlowStatus() override { SetStatusText(m_previous); }
    void SetMessageText(const CString& text) override {
        if (text.rfind("EX:", 0) == 0) {
            opened.push_back(text);
            Clock::Advance(90);
        }
    }
    std::vector<std::string> opened;

private:
    IStatusText* m_previous;
};

class Passes : public testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    MailFixture mail;
    CapturedEvents events;
    CUserList users;
    size_t automationObjects = automation::LiveObjects();
    size_t badReleases = automation::InvalidReleases();
    size_t mapiObjects = mapi_testing::LiveObjects();
    size_t mapiBuffers = mapi_testing::LiveBuffers();

    void SetUp() override {
        // ann and bob live on store A, cy and di on store B; each has a pager entry.
        const struct {
            const char* name;
            const char* store;
            const char* oof;
            std::string calendar;
        } people[] = {
            {"ann", kStoreA, "in\n",
             Appointment("a1", "1400", "1500", "Budget review", 15) +
                 Appointment("a2", "1000", "1030", "Stand-up", 10)},
            {"bob", kStoreA, "out\n", Appointment("b1", "1100", "1200", "Bob's meeting", 15)},
            {"cy", kStoreB, "out\n", Appointment("c1", "1200", "1300", "Cy's meeting", 15)},
            {"di", kStoreB, "in\n", Appointment("d1", "1300", "1330", "Di's meeting", 15)},
        };
        for (const auto& p : people) {
            mail.Add({p.name, Dn(p.name), p.store, p.name, ""}, std::string(p.oof));
            WriteFile(mail.MailboxDirectory(p.name) + "/calendar.ics", Calendar(p.calendar));
            mail.Add({Pager(p.name), Dn(p.name) + "-pager", "", "",
                      std::string(p.name) + "@pager.example.org"});
        }
        mail.UseProfile(kProfile);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, kProfile);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, "0");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kEndHour, "24");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick,
                                     Settings::kScanMillisecondsPerTickDefault);
        Clock::Freeze(kStart);
    }
    void TearDown() override {
        mapi_testing::ClearFailures();
        EXPECT_EQ(users.OutlookOLE, nullptr) << "no Outlook client between passes";
        users.DeleteAllUsers();
        EXPECT_EQ(automation::LiveObjects(), automationObjects)
            << "an Outlook object was not released";
        EXPECT_EQ(automation::InvalidReleases(), badReleases)
            << "an Outlook object was released twice";
        EXPECT_EQ(mapi_testing::LiveObjects(), mapiObjects) << "a MAPI object was not released";
        EXPECT_EQ(mapi_testing::LiveBuffers(), mapiBuffers) << "a MAPI buffer was not freed";
    }

    UserlistStru* Add(const std::string& name, const char* store, int pageOnlyOOF,
                      int oofFlag = 0) {
        UserlistStru* u = users.CreateUser();
        u->DisplayName = name;
        u->MailboxName = Dn(name);
        u->Server = store;
        u->PagerName = Pager(name);
        u->PageOnlyOOF = pageOnlyOOF;
        u->OOFFlag = oofFlag;
        return u;
    }
    static std::vector<std::string> Texts(const CRemList& list) {
        std::vector<std::string> texts;
        for (const auto& r : list.GetRecords())
            texts.push_back(r->Text);
        return texts;
    }
};

} // namespace

TEST_F(Passes, AnEmptyListRunsTheOutOfOfficePassOnceAMinuteAndNothingElse) {
    const struct {
        int64_t advance;
        int oof;
    } ticks[] = {{0, 1}, {1, 0}, {58, 0}, {1, 1}, {30, 0}, {30, 1}};
    for (const auto& tick : ticks) {
        Clock::Advance(tick.advance);
        SCOPED_TRACE(Clock::Now().Format("%H:%M:%S"));
        EXPECT_EQ(users.UpdateOOFFlags(), tick.oof);
        EXPECT_EQ(users.UpdateReminders(), 0);
        EXPECT_EQ(users.ProcessReminders(), 0);
    }
    EXPECT_EQ(users.NextOOFCheck, kStart + CTimeSpan(180));
    EXPECT_TRUE(events.Texts().empty());
}

TEST_F(Passes, OutOfOfficeUsersOfOneServerShareOneChecker) {
    // Servers B, A, B for users who page only when out, and one user on A who pages always.
    UserlistStru* b1 = Add("cy", kStoreB, 1);  // out
    UserlistStru* a1 = Add("bob", kStoreA, 1); // out
    UserlistStru* b2 = Add("di", kStoreB, 1);  // in
    UserlistStru* a2 = Add("ann", kStoreA, 0); // pages always: never read
    const std::string initFailure = "Unable to initialize the MAPI driver.  Error code 80004005 "
                                    "was received.  Please be sure that a copy of "
                                    "Microsoft Outlook has been installed on this machine.";
    // The checker whose MAPI initialisation fails shows which one was made in which place.
    const struct {
        int failingChecker; // 0: the first, 1: the second, 2: a third (there is none)
        int32_t b1, a1, b2;
        bool event;
    } rows[] = {
        {0, 1, 0, 0, true}, // A comes first: bob is not read
        {1, 0, 1, 1, true}, // B second: cy and di are not read
        {2, 1, 1, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.failingChecker);
        CapturedEvents local;
        b1->OOFFlag = 0;
        a1->OOFFlag = 0;
        b2->OOFFlag = 1;
        a2->OOFFlag = 7;
        users.NextOOFCheck = CTime(0);
        mapi_testing::FailCall("MAPIInitialize", E_FAIL, row.failingChecker);

        EXPECT_EQ(users.UpdateOOFFlags(), 1);
        mapi_testing::ClearFailures();
        EXPECT_EQ(b1->OOFFlag, row.b1);
        EXPECT_EQ(a1->OOFFlag, row.a1);
        EXPECT_EQ(b2->OOFFlag, row.b2);
        EXPECT_EQ(a2->OOFFlag, 7);
        EXPECT_EQ(local.Texts(),
                  row.event ? std::vector<std::string>{initFailure} : std::vector<std::string>{});
        EXPECT_EQ(users.NextOOFCheck, kStart + CTimeSpan(60));
    }
    std::vector<std::string> servers;
    for (const auto& u : users.Users())
        servers.push_back(u->Server);
    EXPECT_EQ(servers, std::vector<std::string>({kStoreA, kStoreA, kStoreB, kStoreB}))
        << "sorted by server";
}

TEST_F(Passes, AUserWithoutAServerIsNeverReadScannedOrPaged) {
    UserlistStru* u = Add("bob", "", 1); // bob's mailbox is out of office
    u->Reminders.AddReminder(kStart - CTimeSpan(60), CTime(0), CTime(0), "due");
    mapi_testing::FailCall("MAPIInitialize", E_FAIL, 0); // any checker would report it

    EXPECT_EQ(users.UpdateOOFFlags(), 1);
    EXPECT_EQ(users.UpdateReminders(), 0);
    EXPECT_EQ(users.ProcessReminders(), 0);
    EXPECT_EQ(u->OOFFlag, 0);
    EXPECT_EQ(u->NextScan, CTime(0));
    EXPECT_EQ(u->ScanStatus, -1);
    EXPECT_EQ(u->LastPageCheck, CTime(0));
    EXPECT_EQ(Texts(u->Reminders), std::vector<std::string>{"due"});
    EXPECT_TRUE(events.Texts().empty()) << "no checker was made";
}

TEST_F(Passes, AUserFoundOutOfOfficeIsScannedInTheSameTickAndLeftAloneWhenBack) {
    UserlistStru* u = Add("bob", kStoreA, 1);
    EXPECT_EQ(users.UpdateOOFFlags(), 1);
    EXPECT_EQ(u->OOFFlag, 1);
    EXPECT_EQ(users.UpdateReminders(), 1);
    EXPECT_EQ(u->ScanStatus, 1);
    EXPECT_EQ(Texts(u->Reminders), std::vector<std::string>{"11:00-12:00 Bob's meeting"});

    // Back in the office: the next out-of-office pass clears the flag, and neither the scan nor
    // the paging pass touches the user, though the reminder falls due.
    WriteFile(mail.MailboxDirectory("bob") + "/out-of-office", "in\n");
    Clock::Freeze(CTime(2026, 6, 1, 10, 44, 0));
    const CTime nextScan = u->NextScan;
    u->NextScan = CTime(0);
    EXPECT_EQ(users.UpdateOOFFlags(), 1);
    EXPECT_EQ(u->OOFFlag, 0);
    EXPECT_EQ(users.UpdateReminders(), 0);
    EXPECT_EQ(users.ProcessReminders(), 0);
    EXPECT_EQ(u->NextScan, CTime(0));
    EXPECT_EQ(u->Reminders.GetCount(), 1);
    EXPECT_EQ(u->LastPageCheck, CTime(0));
    EXPECT_EQ(nextScan, kStart + CTimeSpan(3600));
    EXPECT_TRUE(mail.OutboxMessages().empty());
}

TEST_F(Passes, TheScanPassScansTheDueActiveUsersOverOneSession) {
    UserlistStru* ann = Add("ann", kStoreA, 0);
    UserlistStru* bob = Add("bob", kStoreA, 0);  // not due yet
    UserlistStru* cy = Add("cy", kStoreB, 1, 0); // pages only when out, and is in
    UserlistStru* di = Add("di", kStoreB, 1, 1); // pages only when out, and is out
    ann->ScanInterval = 60;
    di->ScanInterval = 15;
    di->NextScan = kStart; // due at exactly now
    bob->NextScan = kStart + CTimeSpan(1);
    for (UserlistStru* u : {bob, cy})
        u->Reminders.AddReminder(kStart + CTimeSpan(600), CTime(0), CTime(0), "kept");

    // Time enough for scans of a minute and a half each in one pass.
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick,
                                 "600000");
    SlowStatus status;
    CallRecorder calls;
    EXPECT_EQ(users.UpdateReminders(), 1);

    EXPECT_EQ(status.opened, std::vector<std::string>({"EX:" + Dn("ann"), "EX:" + Dn("di")}));
    EXPECT_EQ(calls.Count(ObjectKind::NameSpace, outlook_id::kLogon), 1)
        << "one session for the pass";
    EXPECT_EQ(calls.Count(ObjectKind::NameSpace, outlook_id::kLogoff), 1);
    EXPECT_EQ(ann->ScanStatus, 1);
    EXPECT_EQ(Texts(ann->Reminders),
              std::vector<std::string>({"10:00-10:30 Stand-up", "02:00-03:00 Budget review"}))
        << "sorted by page time";
    EXPECT_EQ(di->ScanStatus, 1);
    EXPECT_EQ(Texts(di->Reminders), std::vector<std::string>{"01:00-01:30 Di's meeting"});
    // Counted from the pass's start, though the scans took three minutes.
    EXPECT_EQ(Clock::Now(), kStart + CTimeSpan(180));
    EXPECT_EQ(ann->NextScan, kStart + CTimeSpan(3600));
    EXPECT_EQ(di->NextScan, kStart + CTimeSpan(900));
    for (UserlistStru* u : {bob, cy}) {
        SCOPED_TRACE(u->DisplayName);
        EXPECT_EQ(u->ScanStatus, -1);
        EXPECT_EQ(Texts(u->Reminders), std::vector<std::string>{"kept"});
    }
    EXPECT_EQ(bob->NextScan, kStart + CTimeSpan(1));
    EXPECT_EQ(cy->NextScan, CTime(0));
    EXPECT_TRUE(events.Texts().empty());

    // Nobody is due now: no session at all.
    bob->NextScan = kStart + CTimeSpan(3600);
    CallRecorder idle;
    EXPECT_EQ(users.UpdateReminders(), 0);
    EXPECT_TRUE(idle.Calls().empty());
}

TEST_F(Passes, EachSessionLogsOnWithTheProfileNameOfThatMoment) {
    UserlistStru* ann = Add("ann", kStoreA, 0);
    ann->ScanInterval = 15;
    EXPECT_EQ(users.UpdateReminders(), 1);
    EXPECT_EQ(ann->ScanStatus, 1);

    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Nowhere");
    Clock::Advance(15 * 60);
    EXPECT_EQ(users.UpdateReminders(), 1);
    EXPECT_EQ(ann->ScanStatus, 0) << "shown as ERROR";
    EXPECT_EQ(ann->NextScan, kStart + CTimeSpan(30 * 60)) << "retried after the interval";
    ASSERT_FALSE(events.Texts().empty());
    EXPECT_EQ(events.Texts()[0].rfind("Unable to open a MAPI sesson.", 0), 0u) << events.Texts()[0];

    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, kProfile);
    Clock::Advance(15 * 60);
    EXPECT_EQ(users.UpdateReminders(), 1);
    EXPECT_EQ(ann->ScanStatus, 1);
}

TEST_F(Passes, AnIntervalOfZeroOrLessCountsAsTheShortestOne) {
    const struct {
        int16_t interval;
        int64_t minutes;
    } rows[] = {{60, 60}, {15, 15}, {1, 1}, {0, 15}, {-5, 15}};
    for (const auto& row : rows) {
        UserlistStru* u = Add("ann", kStoreA, 0);
        u->ScanInterval = row.interval;
        EXPECT_EQ(users.UpdateReminders(), 1);
        EXPECT_EQ(u->NextScan, kStart + CTimeSpan(row.minutes * 60)) << row.interval;
        users.DeleteUser(u);
    }
}

TEST_F(Passes, AnOutlookCallErrorEndsOneUsersScanAndMonitoringGoesOn) {
    const std::string interrupted =
        "The scan of EX:" + Dn("bob") + " was interrupted by an Outlook failure.";
    auto systemText = [](HRESULT code) {
        CString text;
        EXPECT_TRUE(COleException(code).GetSystemText(text));
        return " " + text;
    };
    const std::string cannotStart = "Unable to start the Outlook session for the scan.";
    enum Fault {
        BobsItemCallError,
        BobsItemDispatchError,
        BobsTasksFolder,
        NoSession,
        NoSecondSession,
        LogoffFails
    };
    const struct {
        const char* why;
        Fault fault;
        int result;
        std::vector<int> status; // ann, bob, cy
        std::vector<bool> advanced;
        int logons;
        std::vector<std::string> events;
    } rows[] = {
        {"a call error while bob's calendar is read",
         BobsItemCallError,
         1,
         {1, 0, 1},
         {true, true, true},
         2,
         {interrupted + systemText(RPC_E_DISCONNECTED)}},
        {"a dispatch error that the scan lets pass",
         BobsItemDispatchError,
         1,
         {1, 0, 1},
         {true, true, true},
         2,
         {interrupted + "  Item gone"}},
        {"a call error at bob's Tasks folder",
         BobsTasksFolder,
         1,
         {1, 0, 1},
         {true, true, true},
         2,
         {interrupted + systemText(E_FAIL)}},
        {"no session can be started",
         NoSession,
         0,
         {-1, -1, -1},
         {false, false, false},
         1,
         {cannotStart + systemText(RPC_E_DISCONNECTED)}},
        {"the session's logoff fails",
         LogoffFails,
         1,
         {1, 1, 1},
         {true, true, true},
         1,
         {"Error logging off the Outlook session." + systemText(E_FAIL)}},
        {"the fresh session after bob cannot be started",
         NoSecondSession,
         1,
         {1, 0, -1},
         {true, true, false},
         2,
         {interrupted + systemText(RPC_E_DISCONNECTED),
          cannotStart + systemText(RPC_E_DISCONNECTED)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        users.DeleteAllUsers();
        Clock::Freeze(kStart);
        UserlistStru* list[] = {Add("ann", kStoreA, 0), Add("bob", kStoreA, 0),
                                Add("cy", kStoreB, 0)};
        list[1]->Reminders.AddReminder(kStart + CTimeSpan(600), CTime(0), CTime(0),
                                       "from the last scan");
        CapturedEvents local;
        CallRecorder calls;
        {
            FaultScope faults;
            switch (row.fault) {
            case BobsItemCallError:
                faults.On(ObjectKind::AppointmentItem, outlook_id::kSubject)
                    .ForMailbox(Dn("bob"))
                    .WithCallError(RPC_E_DISCONNECTED);
                break;
            case BobsItemDispatchError:
                faults.On(ObjectKind::AppointmentItem, outlook_id::kSubject)
                    .ForMailbox(Dn("bob"))
                    .WithDispatchError("Item gone");
                break;
            case BobsTasksFolder:
                // Calendar and Tasks of ann pass, then bob's Calendar; his Tasks folder fails.
                faults.On(ObjectKind::NameSpace, outlook_id::kGetSharedDefaultFolder)
                    .After(3)
                    .Times(1)
                    .WithCallError(E_FAIL);
                break;
            case NoSession:
                faults.On(ObjectKind::NameSpace, outlook_id::kLogon)
                    .WithCallError(RPC_E_DISCONNECTED);
                break;
            case NoSecondSession:
                faults.On(ObjectKind::AppointmentItem, outlook_id::kSubject)
                    .ForMailbox(Dn("bob"))
                    .WithCallError(RPC_E_DISCONNECTED);
                faults.On(ObjectKind::NameSpace, outlook_id::kLogon)
                    .After(1)
                    .WithCallError(RPC_E_DISCONNECTED);
                break;
            case LogoffFails:
                faults.On(ObjectKind::NameSpace, outlook_id::kLogoff).WithCallError(E_FAIL);
                break;
            }
            EXPECT_EQ(users.UpdateReminders(), row.result);
            EXPECT_EQ(users.OutlookOLE, nullptr);
        }
        EXPECT_EQ(calls.Count(ObjectKind::NameSpace, outlook_id::kLogon), row.logons);
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(list[i]->DisplayName);
            EXPECT_EQ(list[i]->ScanStatus, row.status[i]);
            EXPECT_EQ(list[i]->NextScan, row.advanced[i] ? kStart + CTimeSpan(3600) : CTime(0));
        }
        if (row.status[2] == 1) {
            EXPECT_EQ(Texts(list[2]->Reminders),
                      std::vector<std::string>{"12:00-01:00 Cy's meeting"});
        }
        if (row.status[1] == 0) {
            EXPECT_TRUE(list[1]->Reminders.IsEmpty()) << "cleared before the scan that failed";
        }
        EXPECT_EQ(local.Texts(), row.events);
        EXPECT_EQ(automation::LiveObjects(), automationObjects)
            << "the session that met the error was ended";
    }

    // The next tick scans cy, whom the last row left due, with a session of its own.
    EXPECT_EQ(users.UpdateReminders(), 1);
    EXPECT_EQ(users.Users().back()->ScanStatus, 1);
}

TEST_F(Passes, ThePagingPassSumsTheActiveUsersAndReadsTheClockForEach) {
    const CTime due = kStart - CTimeSpan(60);
    UserlistStru* ann = Add("ann", kStoreA, 0);
    UserlistStru* bob = Add("bob", kStoreA, 1, 0); // pages only when out, and is in
    UserlistStru* cy = Add("cy", kStoreB, 0);
    UserlistStru* di = Add("di", kStoreB, 1, 1);
    cy->PagerName = "Nobody (Pager)";
    ann->Reminders.AddReminder(due, CTime(0), CTime(0), "first for ann");
    ann->Reminders.AddReminder(due, CTime(0), CTime(0), "second for ann");
    ann->Reminders.AddReminder(kStart + CTimeSpan(3600), CTime(0), CTime(0), "later for ann");
    for (UserlistStru* u : {bob, cy, di})
        u->Reminders.AddReminder(due, CTime(0), CTime(0), "for " + u->DisplayName);

    // Every event takes five seconds, so the users after cy's failure see a later time.
    std::vector<std::string> texts;
    auto previous = EventLog::SetObserver([&texts](const EventLog::Entry& e) {
        texts.push_back(e.strings.at(0));
        Clock::Advance(5);
    });
    const int sum = users.ProcessReminders();
    EventLog::SetObserver(previous);

    EXPECT_EQ(sum, 3);
    EXPECT_EQ(texts, std::vector<std::string>{
                         "A reminder page could not be sent to Nobody (Pager) because the pager "
                         "name does not exist in the addressbook."});
    EXPECT_EQ(ann->LastPageCheck, kStart);
    EXPECT_EQ(cy->LastPageCheck, kStart);
    EXPECT_EQ(di->LastPageCheck, kStart + CTimeSpan(5)) << "read just before di's reminders";
    EXPECT_EQ(bob->LastPageCheck, CTime(0));
    EXPECT_EQ(Texts(ann->Reminders), std::vector<std::string>{"later for ann"});
    EXPECT_EQ(Texts(bob->Reminders), std::vector<std::string>{"for bob"});
    EXPECT_EQ(Texts(cy->Reminders), std::vector<std::string>{"for cy"});
    EXPECT_TRUE(di->Reminders.IsEmpty());
    EXPECT_EQ(mail.OutboxMessages().size(), 3u);

    // At di's time of checking, a new reminder of di's waits for a later second; ann's goes.
    Clock::Freeze(kStart + CTimeSpan(5));
    ann->Reminders.AddReminder(kStart, CTime(0), CTime(0), "new for ann");
    ann->Reminders.SortList();
    di->Reminders.AddReminder(kStart, CTime(0), CTime(0), "new for di");
    previous = EventLog::SetObserver([](const EventLog::Entry&) {});
    EXPECT_EQ(users.ProcessReminders(), 1);
    EventLog::SetObserver(previous);
    EXPECT_EQ(Texts(di->Reminders), std::vector<std::string>{"new for di"});
    EXPECT_EQ(mail.OutboxMessages().size(), 4u);
}

// A rescan in the minute before an alarm finds the reminder again, although it fell due and was
// handled at the start of that minute: sent or dropped, it stays so; a page that failed and is
// waiting for its next try is kept; a reminder the rescan finds for the first time is paged.
TEST_F(Passes, ARescanAfterAReminderFellDueNeitherRepeatsNorRevivesIt) {
    const struct {
        const char* name;
        const char* startHour; // paging hours from then to 24
        const char* failUntil; // the pager name is unknown until this minute ("" never)
        int writtenAt;         // seconds after 09:00 when the appointment is saved
        size_t pages;          // pages of the reminder in the outbox at the end
    } rows[] = {
        {"sent at 09:59, rescanned at 10:00", "0", "", 0, 1},
        {"dropped at 09:59, rescanned at 10:00 inside the hours", "10", "", 0, 0},
        {"failing from 09:59, rescanned at 10:00, sent at 10:00:30", "0", "10:00:30", 0, 1},
        {"saved at 09:59:30, after its page time, found by the rescan at 10:00", "0", "",
         59 * 60 + 30, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const size_t before = mail.OutboxMessages().size();
        const std::string calendar = mail.MailboxDirectory("ann") + "/calendar.ics";
        std::filesystem::remove(calendar);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, row.startHour);
        CSentPages handled; // in memory, as the monitor keeps it on disk
        CUserList list;
        list.SentPages = &handled;
        UserlistStru* ann = list.CreateUser();
        ann->DisplayName = "ann";
        ann->MailboxName = Dn("ann");
        ann->Server = kStoreA;
        ann->ScanInterval = 60;
        ann->PageOnlyOOF = 0;
        const CTime failUntil = *row.failUntil ? CTime(2026, 6, 1, 10, 0, 30) : kStart;
        const CTime writtenAt = kStart + CTimeSpan(row.writtenAt);
        Clock::Freeze(kStart);
        // Alarm at 10:00, so the page falls due at 09:59; the scans come at 09:00 and 10:00.
        for (CTime t = kStart; t <= CTime(2026, 6, 1, 10, 1, 0); t += CTimeSpan(1)) {
            if (t == writtenAt)
                WriteFile(calendar, Calendar(Appointment("r1", "1010", "1030", "Review", 10)));
            ann->PagerName = t < failUntil ? "nobody" : Pager("ann");
            list.UpdateReminders();
            list.ProcessReminders();
            Clock::Advance(1);
        }
        EXPECT_EQ(mail.OutboxMessages().size() - before, row.pages);
        EXPECT_TRUE(ann->Reminders.IsEmpty());
    }
}
