// A restart on the test clock: the saved reminder lists page from the first tick before any scan,
// what fell due while the monitor was stopped is paged late or dropped with one event, a scan
// replaces a restored list, an edited user starts afresh, a damaged state file is set aside, the
// state is saved when it changes and not at every tick, and a crash pages nothing twice.
#include "core/Clock.h"
#include "core/FileSystem.h"
#include "core/Settings.h"
#include "paging/SentPages.h"
#include "support/MonitoredSetup.h"
#include "users/MonitorState.h"
#include "users/UserFile.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char* const kAnn = "Ann Archer";
const char* const kBob = "Bob Costa";

// Wednesday 3 June 2026, local time (Europe/Berlin).
CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 6, 3, hour, minute, second);
}

void TickThrough(CMonitorCycle& monitor, CTime last) {
    while (Clock::Now() <= last) {
        monitor.OnTimer();
        Clock::Advance(1);
    }
}

// Counts the saves of the state file (its rename into place).
class CountingStateSaves : public IFileSystem {
public:
    int saves = 0;
    int Rename(const char* from, const char* to) override {
        const size_t n = std::strlen(to), m = std::strlen(monitorstate::kFileName);
        if (n >= m && std::strcmp(to + n - m, monitorstate::kFileName) == 0)
            ++saves;
        return IFileSystem::Rename(from, to);
    }
};

class Restart : public testing::Test {
protected:
    ScopedTimeZone zone{"Europe/Berlin"}; // before any time is built
    MonitoredSetup setup{At(9, 0)};       // pages land in the outbox
    CapturedEvents events;
    // Page times: budget review 09:04 (ends 09:40), short call 09:01 (ends 09:12), timesheet task
    // 09:04 (reminder 09:05), stand-up 09:19 (ends 09:45), review 09:29 (ends 11:00).
    const Item budget{"Budget review", At(9, 10), 30, 5, CTime()};
    const Item shortCall{"Short call", At(9, 7), 5, 5, CTime()};
    const Item timesheet{"Submit timesheet", CTime(0), 0, 0, At(9, 5)};
    const Item standup{"Daily stand-up", At(9, 30), 15, 10, CTime()};
    const Item review{"Quarterly review", At(10, 0), 60, 30, CTime()};

    void SetUp() override { setup.AddUser(kAnn, "5550101@pager.example.org"); }

    std::string StateFile() const { return setup.File(monitorstate::kFileName); }

    // A monitor from the clock's time through `last`, stopped in order (its state saved).
    void RunThrough(CTime last) {
        TickedMonitor monitor;
        ASSERT_TRUE(monitor.Create());
        TickThrough(monitor, last);
        monitor.OnDestroy();
    }

    // The bodies of the pages in the outbox, sorted.
    std::vector<std::string> Outbox() {
        std::vector<std::string> bodies;
        for (const std::string& message : setup.Mail().OutboxMessages()) {
            std::string body = message.substr(message.find("\r\n\r\n") + 4);
            while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
                body.pop_back();
            bodies.push_back(body);
        }
        std::sort(bodies.begin(), bodies.end());
        return bodies;
    }

    std::vector<std::string> EventsWith(const std::string& part) const {
        std::vector<std::string> found;
        for (const std::string& text : events.Texts()) {
            if (text.find(part) != std::string::npos)
                found.push_back(text);
        }
        return found;
    }
};

} // namespace

TEST_F(Restart, RestoredListsPageInTheFirstSecondBeforeTheUsersScan) {
    setup.AddUser(kBob, "5550102@pager.example.org");
    setup.WriteItems(kBob, {budget}); // due at 09:04:00
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick, "0");
    const struct {
        const char* name;
        bool keepState;
        CTime paged; // when Bob's page went out
    } rows[] = {
        {"restored", true, At(9, 4, 0)},
        {"started without the state", false, At(9, 4, 1)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(setup.File(CSentPages::kFileName));
        Clock::Freeze(At(9, 0));
        RunThrough(At(9, 0, 5));
        if (!row.keepState) {
            ASSERT_TRUE(fs::remove(StateFile()));
        }

        // Started at 09:04:00, when the page falls due. One user is scanned a tick: Ann first.
        Clock::Freeze(At(9, 4));
        TickedMonitor monitor;
        ASSERT_TRUE(monitor.Create());
        EXPECT_EQ(monitor.Restored().users, row.keepState ? 2 : 0);
        TickThrough(monitor, At(9, 4, 3));
        monitor.OnDestroy();
        ASSERT_EQ(monitor.With(PageOutcome::Sent),
                  std::vector<std::string>({"Bob Costa: 09:10-09:40 Budget review"}));
        EXPECT_EQ(monitor.pages.front().when, row.paged);
        EXPECT_EQ(monitor.scans, std::vector<std::string>({kAnn, kBob}))
            << "Bob's scan came at 09:04:01";
    }
    EXPECT_EQ(Outbox().size(), 2u);
}

TEST_F(Restart, RemindersDueDuringTheStopArePagedWhileTheyLastOrDroppedWithOneEvent) {
    const struct {
        const char* name;
        CTime restart;
        const char* startHour; // the paging hours run from then to 24
        std::vector<std::string> sent, expired, dropped;
        std::string event;
    } rows[] = {
        {"at 09:20:30",
         At(9, 20, 30),
         "0",
         {"09:10-09:40 Budget review", "Submit timesheet", "09:30-09:45 Daily stand-up"},
         {"09:07-09:12 Short call"},
         {},
         "While Orvane was stopped, 4 reminders fell due: 3 were paged late (by at most 16 "
         "minutes 30 seconds), 1 was dropped (1 over before Orvane was back, 0 outside the paging "
         "hours)."},
        // The stand-up's reminder (09:20) is still to come: the first tick's scan finds it again,
        // and it is paged once, as late.
        {"at 09:19:30, in the minute before the stand-up's reminder",
         At(9, 19, 30),
         "0",
         {"09:10-09:40 Budget review", "Submit timesheet", "09:30-09:45 Daily stand-up"},
         {"09:07-09:12 Short call"},
         {},
         "While Orvane was stopped, 4 reminders fell due: 3 were paged late (by at most 15 "
         "minutes 30 seconds), 1 was dropped (1 over before Orvane was back, 0 outside the paging "
         "hours)."},
        {"at 10:50, when only the review lasts",
         At(10, 50),
         "0",
         {"10:00-11:00 Quarterly review"},
         {"09:07-09:12 Short call", "09:10-09:40 Budget review", "Submit timesheet",
          "09:30-09:45 Daily stand-up"},
         {},
         "While Orvane was stopped, 5 reminders fell due: 1 was paged late (by at most 1 hour 21 "
         "minutes), 4 were dropped (4 over before Orvane was back, 0 outside the paging hours)."},
        {"a day and a minute later, past what was kept",
         CTime(2026, 6, 4, 9, 1, 30),
         "0",
         {},
         {"09:07-09:12 Short call", "09:10-09:40 Budget review", "Submit timesheet",
          "09:30-09:45 Daily stand-up", "10:00-11:00 Quarterly review"},
         {},
         "While Orvane was stopped, 5 reminders fell due: 0 were paged late, 5 were dropped (5 "
         "over before Orvane was back, 0 outside the paging hours). Reminders due after 06/04/26 "
         "09:00 were not kept when Orvane stopped; any of them that fell due before it started "
         "again are not paged."},
        {"at 09:20:30, outside the paging hours",
         At(9, 20, 30),
         "10",
         {},
         {"09:07-09:12 Short call"},
         {"09:10-09:40 Budget review", "Submit timesheet", "09:30-09:45 Daily stand-up"},
         "While Orvane was stopped, 4 reminders fell due: 0 were paged late, 4 were dropped (1 "
         "over before Orvane was back, 3 outside the paging hours)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const char* file : {CSentPages::kFileName, monitorstate::kFileName})
            fs::remove(setup.File(file));
        fs::remove_all(setup.Mail().Outbox());
        fs::create_directory(setup.Mail().Outbox());
        const size_t eventsBefore = events.Texts().size();
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, "0");
        setup.WriteItems(kAnn, {budget, shortCall, timesheet, standup, review});
        Clock::Freeze(At(9, 0));
        RunThrough(At(9, 0, 30)); // scanned at 09:00:00, nothing due yet

        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, row.startHour);
        Clock::Freeze(row.restart);
        TickedMonitor monitor;
        ASSERT_TRUE(monitor.Create());
        TickThrough(monitor, row.restart + CTimeSpan(120));
        monitor.OnDestroy();

        std::vector<std::string> sent, expired, dropped;
        for (const TickedMonitor::Page& p : monitor.pages) {
            (p.outcome == PageOutcome::Sent      ? sent
             : p.outcome == PageOutcome::Expired ? expired
             : p.outcome == PageOutcome::Dropped ? dropped
                                                 : sent)
                .push_back(p.text);
            EXPECT_EQ(p.when, row.restart) << p.text << ": at the first tick";
            EXPECT_NE(p.outcome, PageOutcome::AlreadySent) << p.text;
        }
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(expired, row.expired);
        EXPECT_EQ(dropped, row.dropped);
        std::vector<std::string> outbox(row.sent);
        std::sort(outbox.begin(), outbox.end());
        EXPECT_EQ(Outbox(), outbox) << "each sent once";
        const std::vector<std::string> all = events.Texts();
        const std::vector<std::string> texts(all.begin() + long(eventsBefore), all.end());
        EXPECT_EQ(texts, std::vector<std::string>({row.event})) << "one event, at the first tick";
    }
}

TEST_F(Restart, AUserPagedOnlyWhenOutGetsItsLatePagesOnlyWhileOut) {
    setup.AddUser(kBob, "5550102@pager.example.org", 15, true, "out");
    setup.WriteItems(kAnn, {});
    setup.WriteItems(kBob, {budget});
    RunThrough(At(9, 0, 30));

    // Back in the office while Orvane was stopped: the first out-of-office round (at the first
    // tick) finds it, the page waits; out again at 09:25, paged at the next round.
    setup.SetOutOfOffice(kBob, "in");
    Clock::Freeze(At(9, 20, 30));
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    EXPECT_EQ(monitor.Find(kBob)->OOFFlag, 1) << "as it was read before the stop";
    TickThrough(monitor, At(9, 24, 59));
    EXPECT_TRUE(monitor.pages.empty());
    EXPECT_EQ(EventsWith("While Orvane was stopped"),
              std::vector<std::string>(
                  {"While Orvane was stopped, 1 reminder fell due: 0 were paged late, 0 were "
                   "dropped (0 over before Orvane was back, 0 outside the paging hours), and 1 "
                   "waits to be paged (its send failed, or its user is in the office) until its "
                   "appointment ends."}));
    setup.SetOutOfOffice(kBob, "out");
    TickThrough(monitor, At(9, 26));
    monitor.OnDestroy();
    ASSERT_EQ(monitor.pages.size(), 1u);
    EXPECT_EQ(monitor.pages[0].outcome, PageOutcome::Sent);
    EXPECT_EQ(monitor.pages[0].when, At(9, 25, 30)) << "the round a minute after the first";
    EXPECT_EQ(Outbox(), std::vector<std::string>({"09:10-09:40 Budget review"}));
}

TEST_F(Restart, ARestoredListIsReplacedByTheUsersFirstScan) {
    setup.WriteItems(kAnn, {budget, standup});
    RunThrough(At(9, 0, 30));
    // Changed while Orvane was stopped: the budget review is cancelled, a planning added.
    const Item planning{"Planning", At(9, 20), 30, 5, CTime()};
    setup.WriteItems(kAnn, {standup, planning});

    Clock::Freeze(At(9, 2));
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    const auto texts = [&] {
        std::vector<std::string> out;
        for (const auto& r : monitor.Find(kAnn)->Reminders.GetRecords())
            out.push_back(r->Text);
        return out;
    };
    EXPECT_EQ(texts(), std::vector<std::string>(
                           {"09:10-09:40 Budget review", "09:30-09:45 Daily stand-up"}));
    EXPECT_EQ(monitor.Find(kAnn)->ScanStatus, 1) << "the list view shows the count, not blank";
    TickThrough(monitor, At(9, 2));
    EXPECT_EQ(monitor.scans, std::vector<std::string>({kAnn}));
    EXPECT_EQ(texts(),
              std::vector<std::string>({"09:20-09:50 Planning", "09:30-09:45 Daily stand-up"}));
    TickThrough(monitor, At(9, 20));
    monitor.OnDestroy();
    EXPECT_EQ(Outbox(),
              std::vector<std::string>({"09:20-09:50 Planning", "09:30-09:45 Daily stand-up"}));
    EXPECT_TRUE(EventsWith("While Orvane was stopped").empty()) << "nothing fell due meanwhile";
}

TEST_F(Restart, AnEditedUsersRestoredListIsNotUsed) {
    setup.AddUser(kBob, "5550102@pager.example.org");
    const struct {
        const char* name;
        std::function<void(UserlistStru&)> edit;
    } rows[] = {
        {"another scan interval", [](UserlistStru& u) { u.ScanInterval = 30; }},
        {"another pager", [](UserlistStru& u) { u.PagerName = "Ann Archer (Other pager)"; }},
        {"paged only when out", [](UserlistStru& u) { u.PageOnlyOOF = 1; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        setup.WriteItems(kAnn, {budget});
        setup.WriteItems(kBob, {budget});
        Clock::Freeze(At(9, 0));
        RunThrough(At(9, 0, 5));
        {
            CUserList file; // edited while Orvane was stopped
            file.LoadUsers();
            for (auto& user : file.Users()) {
                if (user->DisplayName == kAnn)
                    row.edit(*user);
            }
            ASSERT_EQ(file.SaveUsers(), UserFileSave::Saved);
        }
        Clock::Freeze(At(9, 1));
        TickedMonitor monitor;
        ASSERT_TRUE(monitor.Create());
        EXPECT_EQ(monitor.Restored().users, 1);
        EXPECT_EQ(monitor.Find(kAnn)->Reminders.GetCount(), 0);
        EXPECT_EQ(monitor.Find(kAnn)->ScanStatus, -1);
        EXPECT_EQ(monitor.Find(kBob)->Reminders.GetCount(), 1);
        EXPECT_EQ(monitor.Find(kBob)->ScanStatus, 1);
        monitor.OnDestroy();
        {
            CUserList file; // back as it was for the next row
            file.LoadUsers();
            for (auto& user : file.Users()) {
                if (user->DisplayName == kAnn) {
                    user->ScanInterval = 15;
                    user->PagerName = MonitoredSetup::PagerOf(kAnn);
                    user->PageOnlyOOF = 0;
                }
            }
            ASSERT_EQ(file.SaveUsers(), UserFileSave::Saved);
        }
    }
}

TEST_F(Restart, ADamagedOrForeignStateFileIsSetAsideWithOneEventAndTheMonitorStartsCold) {
    setup.WriteItems(kAnn, {budget});
    const struct {
        const char* name;
        std::function<std::string(const std::string&)> damage;
        std::string problem;
    } rows[] = {
        {"cut short", [](const std::string& b) { return b.substr(0, b.size() / 2); },
         "it is damaged: it is "},
        {"a byte changed",
         [](const std::string& b) {
             std::string c = b;
             c[c.size() / 2] ^= 1;
             return c;
         },
         "it is damaged: its checksum does not match its contents"},
        {"something else's", [](const std::string&) { return std::string("[Preferences]\n"); },
         "it is not a state file of Orvane's monitor"},
        {"empty", [](const std::string&) { return std::string(); },
         "it is not a state file of Orvane's monitor"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto& e : fs::directory_iterator(setup.Directory())) {
            if (e.path().filename().string().rfind("MonitorState.dat.damaged-", 0) == 0)
                fs::remove(e.path());
        }
        Clock::Freeze(At(9, 0));
        RunThrough(At(9, 0, 5));
        const std::string bad = row.damage(ReadFile(StateFile()));
        WriteFile(StateFile(), bad);

        const size_t eventsBefore = events.Texts().size();
        Clock::Freeze(At(9, 1));
        TickedMonitor monitor;
        ASSERT_TRUE(monitor.Create());
        const std::vector<std::string> all = events.Texts();
        const std::vector<std::string> texts(all.begin() + long(eventsBefore), all.end());
        ASSERT_EQ(texts.size(), 1u);
        const std::string prefix = "The monitor's state file " + StateFile() + " cannot be used: ";
        EXPECT_EQ(texts[0].rfind(prefix + row.problem, 0), 0u) << texts[0];
        EXPECT_NE(texts[0].find("; it was set aside as " + StateFile() + ".damaged-"),
                  std::string::npos)
            << texts[0];
        EXPECT_EQ(monitor.Restored().users, 0);
        EXPECT_EQ(monitor.Find(kAnn)->Reminders.GetCount(), 0) << "cold, as without the file";
        EXPECT_EQ(monitor.Find(kAnn)->ScanStatus, -1);
        EXPECT_FALSE(fs::exists(StateFile()));
        std::vector<std::string> aside;
        for (const auto& e : fs::directory_iterator(setup.Directory())) {
            if (e.path().filename().string().rfind("MonitorState.dat.damaged-", 0) == 0)
                aside.push_back(ReadFile(e.path().string()));
        }
        EXPECT_EQ(aside, std::vector<std::string>({bad})) << "kept as it was";

        TickThrough(monitor, At(9, 1, 1));
        monitor.OnDestroy();
        monitorstate::State state;
        CString problem;
        EXPECT_TRUE(monitorstate::Decode(ReadFile(StateFile()), state, problem))
            << "a new one is written: " << problem;
    }
}

TEST_F(Restart, TheStateIsSavedWhenRemindersChangeGatheredAndNotAtEveryTick) {
    const Item call{"Call", At(9, 25, 24), 10, 5, CTime()}; // due at 09:19:24
    setup.WriteItems(kAnn, {budget, standup, call});
    CountingStateSaves counting;
    IFileSystem* previous = SetFileSystem(&counting);
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    const struct {
        CTime through;
        int saves;
        const char* why;
    } steps[] = {
        {At(9, 0, 29), 0, "the first scan changed the list: saved after the period"},
        {At(9, 0, 30), 1, "half a minute after the start"},
        {At(9, 3, 59), 1, "nothing changed"},
        {At(9, 4, 0), 2, "the budget review was paged"},
        {At(9, 16, 0), 2, "the rescan at 09:15:00 found what the list held"},
        {At(9, 19, 0), 3, "the stand-up was paged"},
        {At(9, 19, 29), 3, "the call, paged at 09:19:24, waits for the period"},
        {At(9, 19, 30), 4, "half a minute after the save before"},
    };
    for (const auto& step : steps) {
        TickThrough(monitor, step.through);
        EXPECT_EQ(counting.saves, step.saves) << step.why;
    }
    monitor.OnDestroy();
    SetFileSystem(previous);
    EXPECT_EQ(counting.saves, 5) << "and at the stop";
    EXPECT_EQ(monitor.scans.size(), 2u) << "the rescan at 09:15:00 took place";
}

TEST_F(Restart, ACrashLongBeforeTheRestartPagesNothingTwiceAndWhatFellDueMeanwhileLate) {
    setup.WriteItems(kAnn, {budget, timesheet, standup});
    {
        TickedMonitor crashing;
        crashing.SetStateSavePeriodMs(2000); // the first scan's state is saved at 09:00:02
        ASSERT_TRUE(crashing.Create());
        TickThrough(crashing, At(9, 0, 5));
        crashing.SetStateSavePeriodMs(3600 * 1000); // and nothing after it
        TickThrough(crashing, At(9, 4, 5));
        ASSERT_EQ(crashing.With(PageOutcome::Sent).size(), 2u);
        // Gone without its orderly end: the state on disk is that of 09:00:00.
    }
    Clock::Freeze(At(9, 30));
    TickedMonitor again;
    ASSERT_TRUE(again.Create());
    EXPECT_EQ(again.Restored().sentMeanwhile, 2) << "the record of pages sent kept them";
    TickThrough(again, At(9, 31));
    again.OnDestroy();
    EXPECT_EQ(again.With(PageOutcome::Sent),
              std::vector<std::string>({"Ann Archer: 09:30-09:45 Daily stand-up"}));
    EXPECT_EQ(Outbox(),
              std::vector<std::string>(
                  {"09:10-09:40 Budget review", "09:30-09:45 Daily stand-up", "Submit timesheet"}));
    EXPECT_EQ(EventsWith("While Orvane was stopped"),
              std::vector<std::string>(
                  {"While Orvane was stopped, 1 reminder fell due: 1 was paged late (by at most "
                   "11 minutes), 0 were dropped (0 over before Orvane was back, 0 outside the "
                   "paging hours)."}));
}

namespace {

// Every page sent takes 60 ms of the test clock.
class SlowPager : public TickedMonitor {
public:
    void OnPage(const UserlistStru& user, const ReminderStru& reminder, const CTime& now,
                PageOutcome outcome, const CString& event) override {
        TickedMonitor::OnPage(user, reminder, now, outcome, event);
        if (outcome == PageOutcome::Sent)
            Clock::AdvanceMilliseconds(60);
    }
};

} // namespace

TEST_F(Restart, LatePagesFollowThePagesDueNowInTurnsThatGoOnBetweenTicks) {
    const std::vector<std::string> names = {kAnn, kBob, "Cleo Diaz", "Dan Evans"};
    // Due at 09:04 (late after the stop) and at 09:20:30, the second the monitor starts again.
    const Item now{"Stand-up", At(9, 26, 30), 15, 5, CTime()};
    for (size_t i = 0; i < names.size(); ++i) {
        if (i)
            setup.AddUser(names[i], "55501" + std::to_string(10 + i) + "@pager.example.org");
        setup.WriteItems(names[i], {budget, now});
    }
    RunThrough(At(9, 0, 30));

    Clock::Freeze(At(9, 20, 30));
    SlowPager monitor;
    ASSERT_TRUE(monitor.Create());
    monitor.OnTimer(); // the scan pass costs nothing on the frozen clock; each page 60 ms
    const auto texts = [&] {
        std::vector<std::string> out;
        for (const TickedMonitor::Page& p : monitor.pages)
            out.push_back(p.text);
        return out;
    };
    const std::string standup = "09:26-09:41 Stand-up", review = "09:10-09:40 Budget review";
    EXPECT_EQ(texts(),
              std::vector<std::string>({standup, standup, standup, standup, review, review}))
        << "the pages due now first; then late ones until 100 ms had passed";
    EXPECT_TRUE(monitor.LiveUsers().LatePagesWaiting());
    EXPECT_TRUE(EventsWith("While Orvane was stopped").empty()) << "not before every one was met";

    EXPECT_FALSE(monitor.OnBetweenTicks(600)) << "the turn ended: nothing more to do";
    EXPECT_EQ(texts().size(), 8u) << "the turn went on between the ticks";
    EXPECT_FALSE(monitor.LiveUsers().LatePagesWaiting());
    for (const TickedMonitor::Page& p : monitor.pages)
        EXPECT_EQ(p.when, At(9, 20, 30));
    EXPECT_EQ(EventsWith("While Orvane was stopped"),
              std::vector<std::string>(
                  {"While Orvane was stopped, 4 reminders fell due: 4 were paged late (by at most "
                   "16 minutes 30 seconds), 0 were dropped (0 over before Orvane was back, 0 "
                   "outside the paging hours)."}));
    TickThrough(monitor, At(9, 21, 30));
    monitor.OnDestroy();
    EXPECT_EQ(Outbox().size(), 8u) << "each once";
}

namespace {

// Fails the rename that puts a new state file in place.
class StateNotWritten : public IFileSystem {
public:
    int attempts = 0;
    int Rename(const char* from, const char* to) override {
        if (std::strstr(to, monitorstate::kFileName)) {
            ++attempts;
            errno = ENOSPC;
            return -1;
        }
        return IFileSystem::Rename(from, to);
    }
};

} // namespace

TEST_F(Restart, AStateThatCannotBeSavedIsRemovedWithOneEventSoThatNoRestartUsesAStaleOne) {
    setup.WriteItems(kAnn, {shortCall, budget, standup});
    RunThrough(At(9, 0, 5));
    ASSERT_TRUE(fs::exists(StateFile()));

    StateNotWritten failing;
    IFileSystem* previous = SetFileSystem(&failing);
    Clock::Freeze(At(9, 1));
    TickedMonitor monitor;
    monitor.SetStateSavePeriodMs(0);
    ASSERT_TRUE(monitor.Create());
    TickThrough(monitor, At(9, 4, 1)); // saves tried when the call and the review were paged
    EXPECT_EQ(failing.attempts, 2);
    EXPECT_FALSE(fs::exists(StateFile()));
    EXPECT_EQ(EventsWith("state file"),
              std::vector<std::string>({"The monitor's state file " + StateFile() +
                                        " was not written (rename: No space left on device); "
                                        "the one before it was removed, so a restart now reads "
                                        "every user's reminders by a scan before paging them."}))
        << "one event while saves keep failing";
    SetFileSystem(previous);
    TickThrough(monitor, At(9, 19, 0)); // the stand-up is paged: saved again
    EXPECT_TRUE(fs::exists(StateFile()));
    monitor.OnDestroy();
    EXPECT_EQ(EventsWith("state file").size(), 1u);
}
