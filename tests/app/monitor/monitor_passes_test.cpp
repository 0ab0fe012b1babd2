// End to end: the demonstration set-up monitored by a headless cycle with the real passes, the
// clock moved on tick by tick, and the pages that arrive in the demo's outbox.
#include "app/cli/Cli.h"
#include "app/monitor/MonitorCycle.h"
#include "app/monitor/UserListPasses.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "outlook/automation/ComRuntime.h"
#include "paging/ExtendedMapi.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

using namespace testing_support;

namespace {

// The window-system hooks of a monitor without a window; the test drives the ticks itself.
class TickedMonitor : public CMonitorCycle {
public:
    int viewRefreshes = 0;
    TickedMonitor() { m_MonitorLockAttempts = 1; }

protected:
    unsigned StartTimer(unsigned, unsigned) override { return 1; }
    void StopTimer(unsigned) override {}
    void RefreshView() override { ++viewRefreshes; }
    void SetModeText(const CString&) override {}
    void PostCloseRequest() override {}
    bool RunUserListDialog(CUserList&) override { return false; }
};

struct Page {
    std::string to, body;
};

// The messages of an outbox folder, oldest name first: the "To:" field and the body.
std::vector<Page> Outbox(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name[0] != '.' && name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<Page> pages;
    for (const std::string& name : names) {
        const std::string text = ReadFile(folder + "/" + name);
        const size_t to = text.find("\r\nTo: ");
        const size_t body = text.find("\r\n\r\n");
        EXPECT_NE(to, std::string::npos) << text;
        EXPECT_NE(body, std::string::npos) << text;
        if (to == std::string::npos || body == std::string::npos)
            continue;
        const size_t toEnd = text.find("\r\n", to + 2);
        std::string content = text.substr(body + 4);
        if (content.size() >= 2 && content.compare(content.size() - 2, 2, "\r\n") == 0)
            content.resize(content.size() - 2);
        pages.push_back({text.substr(to + 6, toEnd - to - 6), content});
    }
    return pages;
}

class MonitorWithPasses : public testing::Test {
protected:
    ScopedTimeZone zone{"Europe/Berlin"};
    TempDir dir;
    size_t automationObjects = automation::LiveObjects();
    size_t mapiObjects = mapi_testing::LiveObjects();
    size_t mapiBuffers = mapi_testing::LiveBuffers();

    void SetUp() override {
        std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Demo");
    }
};

} // namespace

TEST_F(MonitorWithPasses, TheDemoIsPagedWithinItsFirstMinutes) {
    // Wednesday 3 June 2026, 09:00:30 local time; the demo's first pages fall due from 09:01.
    const CTime created(2026, 6, 3, 9, 0, 30);
    const CTime base(2026, 6, 3, 9, 1, 0);
    Clock::Freeze(created);
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"demo", "init", dir.Path()}, out, err), 0) << err.str();

    CapturedEvents events;
    std::vector<Page> pages;
    int ticks = 0;
    {
        ScopedWorkingDirectory cwd(dir.Path());
        CUserListPasses passes;
        TickedMonitor monitor;
        monitor.SetPasses(&passes);
        ASSERT_TRUE(monitor.OnCreate());
        ASSERT_EQ(monitor.LiveUsers().GetCount(), 12);

        // Twelve minutes of ticks, ten seconds apart.
        for (; ticks < 72; ++ticks) {
            monitor.OnTimer();
            Clock::Advance(10);
        }
        EXPECT_FALSE(monitor.IsBusy());
        EXPECT_GE(monitor.viewRefreshes, 12)
            << "the out-of-office pass alone refreshes once a minute";
        for (const auto& user : monitor.LiveUsers().Users()) {
            SCOPED_TRACE(user->DisplayName);
            const bool active = user->DisplayName != "Emil Novak"; // pages only when out, and is in
            EXPECT_EQ(user->ScanStatus, active ? 1 : -1);
            EXPECT_EQ(user->NextScan, active ? created + CTimeSpan(15 * 60) : CTime(0));
        }
        monitor.OnDestroy();
        pages = Outbox(dir.File("mail/outbox"));
    }
    EXPECT_TRUE(events.Texts().empty()) << events.Texts().front();

    std::map<std::string, std::vector<std::string>> byPager;
    std::set<std::pair<std::string, std::string>> unique;
    for (const Page& p : pages) {
        byPager[p.to].push_back(p.body);
        EXPECT_TRUE(unique.insert({p.to, p.body}).second)
            << "paged twice: " << p.to << " " << p.body;
    }
    const auto pager = [](const char* name, const char* number) {
        return std::string("\"") + name + " (Pager)\" <" + number + "@pager.demo.orvane.example>";
    };
    const auto budget = [&](int i) {
        const CTime start = base + CTimeSpan((6 + i) * 60);
        return start.Format("%I:%M-") + (start + CTimeSpan(30 * 60)).Format("%I:%M ") +
               "Budget review (Room 2.14)";
    };
    const auto standup = [&](int i) {
        const CTime start = base + CTimeSpan((14 + i) * 60);
        return start.Format("%I:%M-") + (start + CTimeSpan(15 * 60)).Format("%I:%M ") +
               "Daily stand-up (Team corner)";
    };
    // Alice (the first user): her budget review at 09:01, the timesheet task at 09:02, the
    // stand-up at 09:04. (Outbox names do not keep the order of sending within one second.)
    std::vector<std::string> alice = byPager[pager("Alice Archer", "5550101")];
    std::sort(alice.begin(), alice.end());
    EXPECT_EQ(alice, std::vector<std::string>({budget(0), standup(0), "Submit timesheet"}));
    // Dana pages only when out of office, and is out.
    const std::vector<std::string>& dana = byPager[pager("Dana Okafor", "5550104")];
    EXPECT_NE(std::find(dana.begin(), dana.end(), budget(3)), dana.end());
    // Emil pages only when out of office, and is in: nothing.
    EXPECT_EQ(byPager.count(pager("Emil Novak", "5550105")), 0u);
    // User i's (from 0) budget review falls due at 09:01 + i minutes, the timesheet at 09:02 + i
    // and the stand-up at 09:04 + i; the ticks ran to 09:12:20. Emil (4) is never paged.
    EXPECT_EQ(byPager.size(), 11u);
    EXPECT_EQ(pages.size(), 11u + 10u + 8u);

    EXPECT_EQ(automation::LiveObjects(), automationObjects);
    EXPECT_EQ(mapi_testing::LiveObjects(), mapiObjects);
    EXPECT_EQ(mapi_testing::LiveBuffers(), mapiBuffers);
}

namespace {

// The production passes, counted.
class CountedPasses : public CUserListPasses {
public:
    int scans = 0, pagings = 0;
    int UpdateReminders(CUserList& users) override {
        ++scans;
        return CUserListPasses::UpdateReminders(users);
    }
    int ProcessReminders(CUserList& users) override {
        ++pagings;
        return CUserListPasses::ProcessReminders(users);
    }
};

int Scanned(const CMonitorCycle& monitor) {
    int n = 0;
    for (const auto& user : monitor.LiveUsers().Users())
        n += user->ScanStatus != -1;
    return n;
}

} // namespace

// A round of scans longer than a tick's share goes on in the rest of the second: more scan passes
// of the same length while one fits before the next tick, never a paging pass.
TEST_F(MonitorWithPasses, ARoundOfScansGoesOnBetweenTicksWhileAPassFits) {
    const CTime created(2026, 6, 3, 9, 0, 30);
    Clock::Freeze(created);
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"demo", "init", dir.Path()}, out, err), 0) << err.str();
    // The frozen clock's steady reading stands still: 0 ms lets a pass scan exactly one user.
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick, "0");

    ScopedWorkingDirectory cwd(dir.Path());
    CountedPasses passes;
    TickedMonitor monitor;
    monitor.SetPasses(&passes);
    ASSERT_TRUE(monitor.OnCreate());
    EXPECT_FALSE(monitor.OnBetweenTicks(900)) << "nothing waits before the first tick";
    EXPECT_EQ(passes.scans, 0);

    monitor.OnTimer();
    EXPECT_EQ(Scanned(monitor), 1);
    EXPECT_EQ(passes.pagings, 1);
    EXPECT_FALSE(monitor.OnBetweenTicks(49)) << "no room for a pass and its margin";
    EXPECT_EQ(Scanned(monitor), 1);

    monitor.OnActionPause();
    EXPECT_FALSE(monitor.OnBetweenTicks(900)) << "paused";
    monitor.OnActionPause();
    EXPECT_EQ(Scanned(monitor), 1);

    int calls = 0;
    while (monitor.OnBetweenTicks(900) && calls < 50)
        ++calls;
    int active = 0, read = 0;
    for (const auto& user : monitor.LiveUsers().Users()) {
        active += !user->PageOnlyOOF || user->OOFFlag;
        read += user->PageOnlyOOF && !user->Server.empty();
    }
    ASSERT_GT(active, 5);
    ASSERT_GT(read, 1);
    EXPECT_EQ(Scanned(monitor), active) << "every active user of the demo";
    // The out-of-office round first, one user a pass (the tick read the first); then the scans,
    // one user a pass, the last of which reports nothing left.
    EXPECT_EQ(calls, (read - 1) + (active - 2));
    EXPECT_EQ(passes.pagings, 1) << "paging runs at ticks only";
    for (const auto& user : monitor.LiveUsers().Users()) {
        if (user->ScanStatus != -1) {
            EXPECT_EQ(user->NextScan, created + CTimeSpan(15 * 60)) << user->DisplayName;
        }
    }
    EXPECT_FALSE(monitor.OnBetweenTicks(900));
    monitor.OnDestroy();
}
