// The monitoring cycle: creation, the busy, pause and deferred-quit rules, the pending list.
#include "app/monitor/HeadlessMonitor.h"
#include "app/monitor/MonitorCycle.h"
#include "core/WorkingDirectory.h"
#include "support/TestSupport.h"
#include "users/UserFile.h"

#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace testing_support;

namespace {

// The window-system hooks, recording what the cycle asks of them.
class TestMonitor : public CMonitorCycle {
public:
    unsigned timerToGive = 7;
    std::vector<unsigned> stoppedTimers;
    std::vector<std::string> modeTexts;
    int viewRefreshes = 0;
    int closeRequests = 0;
    bool busyWhenCloseRequested = false;
    std::function<bool(CUserList&)> userDialog = [](CUserList&) { return false; };
    std::vector<std::string>* trace = nullptr;

    TestMonitor() { m_MonitorLockAttempts = 1; }

protected:
    unsigned StartTimer(unsigned id, unsigned periodMs) override {
        EXPECT_EQ(id, 1u);
        EXPECT_EQ(periodMs, 1000u);
        if (trace)
            trace->push_back("timer");
        return timerToGive;
    }
    void StopTimer(unsigned timerId) override { stoppedTimers.push_back(timerId); }
    void RefreshView() override { ++viewRefreshes; }
    void SetModeText(const CString& text) override { modeTexts.push_back(text); }
    void PostCloseRequest() override {
        ++closeRequests;
        busyWhenCloseRequested = IsBusy();
    }
    bool RunUserListDialog(CUserList& copy) override { return userDialog(copy); }
    bool CreateBars() override {
        if (trace)
            trace->push_back("bars:" + std::to_string(LiveUsers().GetCount()));
        return true;
    }
};

// Passes whose results and side effects each test chooses; records the order of the calls.
class ScriptedPasses : public IMonitorPasses {
public:
    std::vector<std::string> calls;
    std::function<int()> oof = [] { return 0; };
    std::function<int()> scan = [] { return 0; };
    std::function<int()> page = [] { return 0; };

    int UpdateOOFFlags(CUserList&) override {
        calls.push_back("oof");
        return oof();
    }
    int UpdateReminders(CUserList&) override {
        calls.push_back("scan");
        return scan();
    }
    int ProcessReminders(CUserList&) override {
        calls.push_back("page");
        return page();
    }
};

class MonitorCycleTest : public testing::Test {
protected:
    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Path()};
    CapturedEvents events;
    TestMonitor monitor;
    ScriptedPasses passes;

    void SetUp() override {
        ASSERT_TRUE(monitor.OnCreate());
        monitor.SetPasses(&passes);
    }
    void TearDown() override {
        if (monitor.TimerId() != 0)
            monitor.OnDestroy();
    }
};

void WriteUsers(const std::string& directory, std::initializer_list<const char*> names) {
    CUserList list;
    int code = 1;
    for (const char* name : names) {
        UserlistStru* u = list.CreateNoCodeUser();
        u->Code = static_cast<int16_t>(code++);
        u->DisplayName = name;
    }
    WriteFile(directory + "/Users.dat", UserFile::Encode(list));
}

} // namespace

TEST(MonitorCreation, CapturesTheDirectoryLoadsUsersAfterTheBarsThenStartsTheTimer) {
    TempDir dir;
    WriteUsers(dir.Path(), {"Ann", "Bob"});
    ScopedWorkingDirectory cwd(dir.Path());
    std::vector<std::string> trace;
    TestMonitor monitor;
    monitor.trace = &trace;
    ASSERT_TRUE(monitor.OnCreate());
    EXPECT_EQ(trace, std::vector<std::string>({"bars:0", "timer"}));
    EXPECT_EQ(monitor.LiveUsers().GetCount(), 2);
    EXPECT_EQ(monitor.TimerId(), 7u);
    EXPECT_EQ(monitor.WorkingDirectory(), dir.Path() + "/");
    EXPECT_EQ(monitor.DATFileName("Users.dat"), dir.Path() + "/Users.dat");
    EXPECT_FALSE(monitor.IsBusy() || monitor.IsPaused() || monitor.IsQuitRequested() ||
                 monitor.HasPendingList());
    monitor.OnDestroy();
}

TEST(MonitorCreation, ATimerThatCannotStartFailsCreationWithTheMessage) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Path());
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    TestMonitor monitor;
    monitor.timerToGive = 0;
    EXPECT_FALSE(monitor.OnCreate());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "Initialization Error");
    EXPECT_EQ(boxes.Boxes()[0].text,
              "No unallocated system timers.  Other applications have utilized all the timers.  "
              "Try terminating some applications before running this program.");
    EXPECT_EQ(boxes.Boxes()[0].type, unsigned(MB_OK | MB_ICONSTOP));
}

TEST(MonitorCreation, ASecondMonitorOfTheSameDirectoryIsRefused) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Path());
    TestMonitor first;
    ASSERT_TRUE(first.OnCreate());
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    TestMonitor second;
    EXPECT_FALSE(second.OnCreate());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find("already monitoring"), std::string::npos);
    first.OnDestroy();
}

TEST_F(MonitorCycleTest, RunsThePassesInOrderAndRefreshesOnlyWhenOneReportsAChange) {
    monitor.OnTimer();
    EXPECT_EQ(passes.calls, std::vector<std::string>({"oof", "scan", "page"}));
    EXPECT_EQ(monitor.viewRefreshes, 0);
    for (auto* pass : {&passes.oof, &passes.scan, &passes.page}) {
        passes.oof = passes.scan = passes.page = [] { return 0; };
        *pass = [] { return 2; };
        const int before = monitor.viewRefreshes;
        monitor.OnTimer();
        EXPECT_EQ(monitor.viewRefreshes, before + 1);
    }
    EXPECT_FALSE(monitor.IsBusy());
}

TEST_F(MonitorCycleTest, ATickDuringACycleIsDroppedNotDeferred) {
    int cycles = 0;
    passes.scan = [&] {
        ++cycles;
        monitor.OnTimer(); // a tick delivered while the cycle waits
        monitor.OnTimer();
        return 0;
    };
    monitor.OnTimer();
    EXPECT_EQ(cycles, 1);
    EXPECT_EQ(passes.calls.size(), 3u);
    monitor.OnTimer();
    EXPECT_EQ(cycles, 2) << "the next tick after the cycle runs normally";
}

TEST_F(MonitorCycleTest, TicksArrivingInANestedEventLoopOfAPassAreDropped) {
    int scans = 0;
    passes.scan = [&] {
        ++scans;
        QEventLoop loop; // as a logon dialog or a retry question would run
        QTimer tick;
        int delivered = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            monitor.OnTimer();
            if (++delivered == 3)
                loop.quit();
        });
        tick.start(0);
        loop.exec();
        return 0;
    };
    monitor.OnTimer();
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(passes.calls, std::vector<std::string>({"oof", "scan", "page"}));
}

TEST_F(MonitorCycleTest, PauseStopsNewCyclesButLetsTheRunningOneFinish) {
    passes.scan = [&] {
        monitor.OnActionPause(); // pressed during the cycle
        return 0;
    };
    monitor.OnTimer();
    EXPECT_EQ(passes.calls, std::vector<std::string>({"oof", "scan", "page"}))
        << "paging still ran";
    EXPECT_TRUE(monitor.IsPaused());
    EXPECT_EQ(monitor.modeTexts.back(), "PAUSED");
    passes.calls.clear();
    monitor.OnTimer();
    EXPECT_TRUE(passes.calls.empty());
    monitor.OnActionPause();
    EXPECT_EQ(monitor.modeTexts.back(), "MONITORING");
    passes.scan = [] { return 0; };
    monitor.OnTimer();
    EXPECT_EQ(passes.calls.size(), 3u);
}

TEST_F(MonitorCycleTest, ExitWhileIdleClosesAtOnceWithoutAQuestion) {
    QueuedMessageBoxes boxes; // any box would fail the test
    monitor.OnAppExit();
    EXPECT_EQ(monitor.closeRequests, 1);
    EXPECT_TRUE(monitor.OnSysClose());
}

TEST_F(MonitorCycleTest, ExitDuringACycleAsksQuitNoticeAndClosesWhenTheCycleEnds) {
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    passes.scan = [&] {
        monitor.OnAppExit();
        EXPECT_EQ(monitor.closeRequests, 0) << "nothing closes while the cycle runs";
        return 0;
    };
    monitor.OnTimer();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "Quit Notice");
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Scanning and paging of reminders is currently in progress.  The program will be "
              "terminated once the operation is complete.");
    EXPECT_EQ(boxes.Boxes()[0].type, unsigned(MB_OKCANCEL | MB_ICONINFORMATION));
    EXPECT_EQ(passes.calls.back(), "page") << "the cycle ran to its end";
    EXPECT_EQ(monitor.closeRequests, 1);
    EXPECT_TRUE(monitor.busyWhenCloseRequested) << "posted from inside the cycle, handled after it";
    EXPECT_EQ(monitor.stoppedTimers, std::vector<unsigned>({7}));
    EXPECT_EQ(monitor.TimerId(), 0u);
    EXPECT_FALSE(monitor.IsQuitRequested());
    EXPECT_FALSE(monitor.IsBusy());
    EXPECT_TRUE(monitor.OnSysClose()) << "the posted close goes through at once";
}

TEST_F(MonitorCycleTest, CancellingTheQuitNoticeKeepsMonitoring) {
    QueuedMessageBoxes boxes;
    boxes.Answer(IDCANCEL);
    passes.scan = [&] {
        monitor.OnAppExit();
        return 0;
    };
    monitor.OnTimer();
    EXPECT_EQ(monitor.closeRequests, 0);
    EXPECT_EQ(monitor.TimerId(), 7u);
}

TEST_F(MonitorCycleTest, AConfirmedQuitStillHappensWhenPauseIsPressedBeforeTheCycleEnds) {
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    passes.oof = [&] {
        monitor.OnAppExit();
        monitor.OnActionPause();
        return 0;
    };
    monitor.OnTimer();
    EXPECT_EQ(monitor.closeRequests, 1);
    EXPECT_EQ(monitor.TimerId(), 0u);
}

TEST_F(MonitorCycleTest, TheCloseBoxDuringACycleAsksEMailNotice) {
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    bool closeNow = true;
    passes.page = [&] {
        closeNow = monitor.OnSysClose();
        return 0;
    };
    monitor.OnTimer();
    EXPECT_FALSE(closeNow);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "EMail Notice");
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Scanning or processing of page requests is currently in progress.  The program "
              "will be terminated once the operation is complete.");
    EXPECT_EQ(monitor.closeRequests, 1);
}

TEST_F(MonitorCycleTest, AnAcceptedEditWaitsForTheNextCycleAndStartsEveryUserAfresh) {
    UserlistStru* live = monitor.LiveUsers().CreateUser();
    live->DisplayName = "Ann";
    live->ScanStatus = 1;
    live->OOFFlag = 1;
    live->Reminders.AddReminder(CTime(2000000000), CTime(0), CTime(0), "pending");

    monitor.userDialog = [](CUserList& copy) {
        EXPECT_EQ(copy.GetCount(), 1);
        EXPECT_TRUE(copy.Users().front()->Reminders.IsEmpty()) << "the dialog edits a copy";
        UserlistStru* added = copy.CreateUser();
        added->DisplayName = "Bob";
        return true;
    };
    monitor.OnConfigureUsers();
    EXPECT_TRUE(monitor.HasPendingList());
    EXPECT_EQ(monitor.LiveUsers().GetCount(), 1)
        << "the live list is untouched until the next cycle";

    int dialogsOpened = 0;
    monitor.userDialog = [&](CUserList&) {
        ++dialogsOpened;
        return true;
    };
    monitor.OnConfigureUsers();
    EXPECT_EQ(dialogsOpened, 0) << "Users does nothing while an edit is pending";

    int usersSeenByPasses = 0;
    passes.oof = [&] {
        usersSeenByPasses = monitor.LiveUsers().GetCount();
        return 0;
    };
    const int refreshes = monitor.viewRefreshes;
    monitor.OnTimer();
    EXPECT_EQ(usersSeenByPasses, 2) << "applied at the start of the cycle";
    EXPECT_FALSE(monitor.HasPendingList());
    EXPECT_EQ(monitor.viewRefreshes, refreshes + 1);
    const UserlistStru& ann = *monitor.LiveUsers().Users().front();
    EXPECT_EQ(ann.DisplayName, "Ann");
    EXPECT_EQ(ann.ScanStatus, -1);
    EXPECT_EQ(ann.OOFFlag, 0);
    EXPECT_TRUE(ann.Reminders.IsEmpty());

    CUserList saved;
    saved.LoadUsers();
    ASSERT_EQ(saved.GetCount(), 2);
    EXPECT_EQ(saved.Users().back()->DisplayName, "Bob");
}

TEST_F(MonitorCycleTest, AnEditAcceptedWhilePausedIsAppliedOnlyAfterResumingOrAtTheEnd) {
    monitor.OnActionPause();
    monitor.userDialog = [](CUserList& copy) {
        copy.CreateUser()->DisplayName = "Carol";
        return true;
    };
    monitor.OnConfigureUsers();
    monitor.OnTimer();
    EXPECT_TRUE(monitor.HasPendingList());
    EXPECT_EQ(monitor.LiveUsers().GetCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Users.dat")));

    monitor.OnDestroy(); // quitting saves the unapplied edit
    EXPECT_FALSE(monitor.HasPendingList());
    CUserList saved;
    saved.LoadUsers();
    ASSERT_EQ(saved.GetCount(), 1);
    EXPECT_EQ(saved.Users().front()->DisplayName, "Carol");
}

TEST_F(MonitorCycleTest, ACancelledDialogLeavesNothingPending) {
    monitor.userDialog = [](CUserList& copy) {
        copy.CreateUser();
        return false;
    };
    monitor.OnConfigureUsers();
    EXPECT_FALSE(monitor.HasPendingList());
}

TEST_F(MonitorCycleTest, WhateverAPassThrowsMonitoringGoesOn) {
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    passes.scan = [&]() -> int {
        monitor.OnAppExit(); // a confirmed quit must survive the failure too
        throw std::runtime_error("an Outlook call error");
    };
    monitor.OnTimer();
    EXPECT_FALSE(monitor.IsBusy());
    EXPECT_EQ(passes.calls, std::vector<std::string>({"oof", "scan"}));
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_NE(events.Texts()[0].find("an Outlook call error"), std::string::npos);
    EXPECT_EQ(monitor.closeRequests, 1);

    passes.scan = []() -> int { throw 42; };
    monitor.OnTimer(); // the timer was stopped, but a tick may still be delivered
    EXPECT_FALSE(monitor.IsBusy());
    passes.scan = [] { return 0; };
    passes.calls.clear();
    monitor.OnTimer();
    EXPECT_EQ(passes.calls, std::vector<std::string>({"oof", "scan", "page"}));
}

TEST(MonitoringSummary, CountsUsersRemindersAndFailuresAndNamesTheNextDueTime) {
    ScopedTimeZone zone("UTC");
    CUserList users;
    EXPECT_EQ(MonitoringSummary(users), "0 users (0 active): 0 reminders pending");
    UserlistStru* ann = users.CreateUser();
    ann->PageOnlyOOF = 0;
    ann->ScanStatus = 1;
    ann->Reminders.AddReminder(CTime(2026, 6, 1, 9, 30, 0), CTime(0), CTime(0), "later");
    UserlistStru* bob = users.CreateUser(); // pages only when out, and is in
    bob->ScanStatus = 0;
    bob->Reminders.AddReminder(CTime(2026, 6, 1, 9, 15, 0), CTime(0), CTime(0), "sooner");
    EXPECT_EQ(MonitoringSummary(users),
              "2 users (1 active): 2 reminders pending, next due 06/01/26 09:15; 1 scan failed");
}
