// Pages due in the first seconds after a restart, and what a save of the monitor's state costs:
// 10,000 users over the 1,000 mailboxes of the shared generator and 100 probe mailboxes, monitored
// by the monitor itself (its cycle, the three passes, the second timer, its files) on a running
// clock. A first monitor runs until its first round of scans has ended and stops in order; the
// monitor is then started again about three minutes later on the clock, once without the state
// the first one saved (a cold start, as before it was kept) and once with it. For each probe page
// due in the first 30 seconds after the restart: the time from its page time to its message in
// the outbox; and how many of the probe pages that fell due while the monitor was stopped were
// paged late. A small program, not a Google Benchmark: it runs for two minutes or so.
//
// Usage: restart_bench [--users N] [--watch SECONDS]
#include "MonitorBenchSetup.h"
#include "app/monitor/MonitorCycle.h"
#include "app/monitor/SecondTimer.h"
#include "app/monitor/UserListPasses.h"
#include "core/Clock.h"
#include "core/FileStamp.h"
#include "core/Settings.h"
#include "core/WorkingDirectory.h"
#include "mailsystem/ical/CalendarCache.h"
#include "paging/EventLog.h"
#include "paging/SentPages.h"
#include "users/CUserList.h"
#include "users/MonitorState.h"
#include "users/PassListener.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace bench;

namespace {

// Seconds after kStart: the restart (the first monitor runs from kStart until its first round
// has ended, 10 to 30 seconds), probe pages in the 30 seconds after it, and one probe page each
// that falls due while the monitor is stopped (from 120 seconds on).
constexpr int kRestartAt = 230;
constexpr int kFirstSeconds = 30;

std::vector<int> ProbeOffsets(int probe) {
    // Even (Outlook's dates go in two-second steps), spread over the first seconds.
    std::vector<int> offsets;
    for (int k = 0; k < 3; ++k)
        offsets.push_back(kRestartAt + 2 + 2 * (probe % 5) + 10 * k);
    offsets.push_back(120 + 2 * (probe % 40)); // due while stopped
    return offsets;
}

struct Options {
    int users = 10000;
    int watch = 60; // seconds each restarted monitor runs (and until its first round has ended)
};

using Steady = std::chrono::steady_clock;

double MsBetween(Steady::time_point a, Steady::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The production passes, timed: milliseconds of each tick's scan and paging passes, and pages.
class TimedPasses : public CUserListPasses {
public:
    std::vector<double> scanMs, pagingMs, oofMs;
    std::vector<int> paged;
    int UpdateOOFFlags(CUserList& users) override {
        const auto start = Steady::now();
        const int result = CUserListPasses::UpdateOOFFlags(users);
        oofMs.push_back(MsBetween(start, Steady::now()));
        return result;
    }
    int UpdateReminders(CUserList& users) override {
        const auto start = Steady::now();
        const int result = CUserListPasses::UpdateReminders(users);
        scanMs.push_back(MsBetween(start, Steady::now()));
        return result;
    }
    int ProcessReminders(CUserList& users) override {
        const auto start = Steady::now();
        const int result = CUserListPasses::ProcessReminders(users);
        pagingMs.push_back(MsBetween(start, Steady::now()));
        paged.push_back(result);
        return result;
    }
};

// Which users have been scanned since the monitor started.
class ScanCounter : public IPassListener {
public:
    std::set<const UserlistStru*> scanned;
    void OnScan(const UserlistStru& user) override { scanned.insert(&user); }
    void OnPage(const UserlistStru&, const ReminderStru&, const CTime&, PageOutcome,
                const CString&) override {}
};

// The monitor with its production passes on the second timer, as the headless front end runs
// it, without signals and printed lines.
class BenchMonitor : public CMonitorCycle {
public:
    std::function<void()> afterTick;
    std::vector<double> tickMs;
    TimedPasses passes;
    ScanCounter scans;

    BenchMonitor() { SetPasses(&passes); }
    bool Create() {
        if (!OnCreate())
            return false;
        LiveUsers().Listener = &scans;
        return true;
    }
    bool FirstRoundDone() const { return scans.scanned.size() >= LiveUsers().Users().size(); }
    CStateKeeper& Keeper() { return m_StateKeeper; }

protected:
    unsigned StartTimer(unsigned id, unsigned periodMs) override {
        m_ticker.Start(periodMs);
        return id;
    }
    void StopTimer(unsigned) override { m_ticker.Stop(); }
    void SetModeText(const CString&) override {}
    void PostCloseRequest() override {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
    bool RunUserListDialog(CUserList&) override { return false; }

private:
    void Tick() {
        const auto start = Steady::now();
        OnTimer();
        tickMs.push_back(MsBetween(start, Steady::now()));
        if (afterTick)
            afterTick();
    }

    CSecondTimer m_ticker{[this] { Tick(); }, [this](int ms) { return OnBetweenTicks(ms); }};
};

void EmptyOutbox(const fs::path& root) {
    for (const auto& entry : fs::directory_iterator(root / "outbox"))
        fs::remove(entry.path());
}

// The first monitor: from kStart until its first round has ended (and two more seconds), then
// stopped in order. Reports what a save of its state costs.
void RunBeforeTheStop(const fs::path& root) {
    EmptyOutbox(root);
    for (const char* file : {monitorstate::kFileName, CSentPages::kFileName})
        fs::remove(file);
    mail::cache::Clear();
    Clock::StartAt(CTime(kStart));
    const auto begin = Steady::now();
    BenchMonitor monitor;
    double roundEnd = -1;
    bool quitting = false; // one close request: a second would end the next run's event loop
    monitor.afterTick = [&] {
        const double now = std::chrono::duration<double>(Steady::now() - begin).count();
        if (roundEnd < 0 && monitor.FirstRoundDone())
            roundEnd = now;
        if (!quitting && ((roundEnd >= 0 && now > roundEnd + 2) || now > 100)) {
            quitting = true;
            monitor.RequestQuit();
        }
    };
    if (!monitor.Create()) {
        std::cerr << "the monitor could not start\n";
        std::exit(1);
    }
    QCoreApplication::exec();
    if (roundEnd < 0 || Clock::Now().GetTime() - kStart >= 120)
        std::cerr << "warning: the first round took so long that probe pages meant to fall due "
                     "while the monitor is stopped fell due before\n";

    // The cost of one save at this size, five times over (the file cache is warm after the first).
    std::vector<double> encode, write;
    size_t bytes = 0, reminders = 0, late = 0;
    for (const auto& user : monitor.LiveUsers().Users()) {
        reminders += size_t(user->Reminders.GetCount());
        late += size_t(user->LateReminders.GetCount());
    }
    for (int i = 0; i < 5; ++i) {
        monitor.Keeper().Save(monitor.LiveUsers());
        encode.push_back(monitor.Keeper().LastSave().encodeMs);
        write.push_back(monitor.Keeper().LastSave().writeMs);
        bytes = monitor.Keeper().LastSave().bytes;
    }
    monitor.OnDestroy();
    const auto decodeStart = Steady::now();
    monitorstate::State state;
    CString problem;
    CString file;
    int error = 0;
    ReadWholeFile(monitorstate::kFileName, size_t(1) << 30, file, error);
    const bool decoded = monitorstate::Decode(file, state, problem);
    const double decodeMs = MsBetween(decodeStart, Steady::now());

    std::printf("\nBefore the stop: %zu users, first round %.1f s; then stopped at %+d s.\n",
                monitor.LiveUsers().Users().size(), roundEnd, Clock::Now().GetTime() - kStart);
    std::printf("  state: %zu reminders (%zu late), %.1f MiB\n", reminders, late,
                double(bytes) / (1 << 20));
    std::printf("  one save: encode p50 %.1f ms (max %.1f), write and flush p50 %.1f ms (max "
                "%.1f)\n",
                Percentile(encode, 0.5), *std::max_element(encode.begin(), encode.end()),
                Percentile(write, 0.5), *std::max_element(write.begin(), write.end()));
    std::printf("  reading it back: %.1f ms (read and decode)%s\n", decodeMs,
                decoded ? "" : (" FAILED: " + problem).c_str());
    std::fflush(stdout);
}

// The monitor started again at kStart + kRestartAt, with or without the saved state.
void RunAfterTheStop(const fs::path& root, const Options& options, bool restored) {
    EmptyOutbox(root);
    fs::remove(CSentPages::kFileName);
    if (fs::exists("SentPages.dat.kept"))
        fs::copy_file("SentPages.dat.kept", CSentPages::kFileName);
    if (restored)
        fs::copy_file("MonitorState.dat.kept", monitorstate::kFileName,
                      fs::copy_options::overwrite_existing);
    else
        fs::remove(monitorstate::kFileName);
    mail::cache::Clear(); // as in a new process
    std::vector<std::string> events;
    EventLog::SetObserver([&](const EventLog::Entry& e) {
        events.push_back(e.strings.empty() ? std::string() : e.strings.front());
    });

    Clock::StartAt(CTime(kStart + kRestartAt));
    const double offset = ClockOffset();
    const auto begin = Steady::now();
    BenchMonitor monitor;
    double roundEnd = -1;
    bool quitting = false; // one close request: a second would end the next run's event loop
    monitor.afterTick = [&] {
        const double now = std::chrono::duration<double>(Steady::now() - begin).count();
        if (roundEnd < 0 && monitor.FirstRoundDone())
            roundEnd = now;
        if (!quitting && now > options.watch && roundEnd >= 0) {
            quitting = true;
            monitor.RequestQuit();
        }
    };
    const auto creating = Steady::now();
    if (!monitor.Create()) {
        std::cerr << "the monitor could not start\n";
        std::exit(1);
    }
    const double createMs = MsBetween(creating, Steady::now());
    QCoreApplication::exec();
    monitor.OnDestroy();
    EventLog::SetObserver({});

    int others = 0;
    const auto sent = ProbePagesSent(root / "outbox", others);
    std::vector<double> lateness, afterStart;
    int lost = 0, lateProbes = 0;
    for (int probe = 0; probe < kProbes; ++probe) {
        for (int offset2 : ProbeOffsets(probe)) {
            const auto found = sent.find(ProbeSubject(probe, offset2));
            if (offset2 < kRestartAt) { // fell due while stopped
                if (found != sent.end()) {
                    ++lateProbes;
                    afterStart.push_back(found->second - (double(kStart + kRestartAt) - offset));
                }
                continue;
            }
            if (offset2 > kRestartAt + kFirstSeconds)
                continue;
            if (found == sent.end()) {
                ++lost;
                continue;
            }
            lateness.push_back(found->second - (double(kStart + offset2) - offset));
        }
    }
    const std::vector<double> ticks(monitor.tickMs.begin(),
                                    monitor.tickMs.begin() +
                                        long(std::min<size_t>(monitor.tickMs.size(), 10)));
    std::printf("\nRestarted %s (clock %+d s):\n", restored ? "with the saved state" : "cold",
                kRestartAt);
    std::printf("  start (users, state, record of pages): %.0f ms; users restored: %d (%d "
                "reminders, %d due while stopped); first round %.1f s\n",
                createMs, monitor.Restored().users, monitor.Restored().reminders,
                monitor.Restored().late, roundEnd);
    std::printf("  the first ten ticks: first %.0f ms, p50 %.0f ms, max %.0f ms\n",
                ticks.empty() ? 0.0 : ticks.front(), Percentile(ticks, 0.5),
                ticks.empty() ? 0.0 : *std::max_element(ticks.begin(), ticks.end()));
    const auto& p = monitor.passes;
    double pagingTotal = 0;
    int pages = 0;
    for (size_t i = 0; i < p.pagingMs.size(); ++i) {
        pagingTotal += p.pagingMs[i];
        pages += p.paged[i];
    }
    std::printf("  ticks' passes: scan p50 %.0f ms, paging p50 %.0f ms, max %.0f ms; %d reminders "
                "left the lists in %.0f ms of paging passes (%.1f ms each)\n",
                Percentile(p.scanMs, 0.5), Percentile(p.pagingMs, 0.5),
                p.pagingMs.empty() ? 0.0 : *std::max_element(p.pagingMs.begin(), p.pagingMs.end()),
                pages, pagingTotal, pages ? pagingTotal / pages : 0.0);
    std::printf("  probe pages due in the first %d s, page time to outbox: %s; never sent: %d\n",
                kFirstSeconds, Summary(lateness).c_str(), lost);
    std::printf("  probe pages that fell due while stopped, paged late: %d of %d, after the "
                "start by p50 %.1f s, max %.1f s; other pages: %d\n",
                lateProbes, kProbes, Percentile(afterStart, 0.5),
                afterStart.empty() ? 0.0 : *std::max_element(afterStart.begin(), afterStart.end()),
                others);
    for (const std::string& text : events) {
        if (text.rfind("While Orvane was stopped", 0) == 0)
            std::printf("  event: %s\n", text.c_str());
    }
    std::fflush(stdout);
    Clock::Reset();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    setenv("TZ", "America/New_York", 1); // the generator's zone
    tzset();
    EventLog::SetSystemLogEnabled(false);
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--users") == 0 && i + 1 < argc)
            options.users = std::max(100, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--watch") == 0 && i + 1 < argc)
            options.watch = std::max(5, std::atoi(argv[++i]));
        else {
            std::cerr << "usage: restart_bench [--users N] [--watch SECONDS]\n";
            return 2;
        }
    }
    const fs::path root =
        Prepare("restart-" + std::to_string(options.users), options.users, ProbeOffsets);
    UseProfile(root);
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick,
                                 Settings::kScanMillisecondsPerTickDefault);
    const fs::path work = root / "work";
    fs::create_directories(work);
    if (::chdir(work.c_str()) != 0 || !WorkingDirectory::Capture()) {
        std::cerr << "cannot work in " << work << "\n";
        return 1;
    }
    {
        CUserList users;
        AddUsers(users, options.users);
        if (users.SaveUsers() != UserFileSave::Saved) {
            std::cerr << "cannot write Users.dat\n";
            return 1;
        }
    }
    // The store reads a file written in the last two seconds again at every use.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    RunBeforeTheStop(root);
    fs::copy_file(monitorstate::kFileName, "MonitorState.dat.kept",
                  fs::copy_options::overwrite_existing);
    fs::remove("SentPages.dat.kept");
    if (fs::exists(CSentPages::kFileName))
        fs::copy_file(CSentPages::kFileName, "SentPages.dat.kept");
    RunAfterTheStop(root, options, false);
    RunAfterTheStop(root, options, true);
    return 0;
}
