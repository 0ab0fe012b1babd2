// Pages during the first round of scans: 10,000 users over the 1,000 mailboxes of the shared
// generator (ten users a mailbox) and 100 probe mailboxes whose appointments fall due every few
// seconds, monitored by the three passes at one-second ticks on a running clock, as the timer
// drives them. For each page due during the first round: the time from its page time to its
// message in the outbox. Run three times: with the scan pass bounded (the default 100 ms) and more
// such passes in the rest of each second, as the monitor runs them; bounded with one pass a tick;
// and with the whole round in one tick, for comparison. The program's own one-second timer drives
// the cycles. A small program, not a Google Benchmark: each run is a minute or so of real time.
//
// Each run is made once for every "--threads N" given ("ReadThreads": the calendars read ahead
// on N worker threads; 1 reads them in the scan pass), or once with the setting's default.
//
// Usage: first_round_bench [--users N] [--threads N ...] [--limit MS ...] [--ticks-only MS ...]
//   (default: --limit 100 --ticks-only 100 --limit 1000000000)
#include "MonitorBenchSetup.h"
#include "app/monitor/SecondTimer.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "core/StatusText.h"
#include "mailsystem/ical/CalendarCache.h"
#include "users/CUserList.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace bench;

constexpr int kProbePages = 12;    // per probe mailbox, ten seconds apart
constexpr int kWatchSeconds = 130; // at least this long, and until the first round has ended

struct Options {
    int users = 10000;
    // Each run: "ScanMillisecondsPerTick", and whether more scan passes use the rest of a second.
    std::vector<std::pair<std::string, bool>> runs;
    std::vector<int> threads; // "ReadThreads" of each run; empty: the default
};

// Processor seconds of the whole process (every thread) so far.
double ProcessorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The seconds after kStart at which probe `probe`'s pages fall due: even (Outlook's dates go in
// two-second steps), ten seconds apart, each probe at its own phase.
std::vector<int> ProbeOffsets(int probe) {
    std::vector<int> offsets;
    for (int k = 0; k < kProbePages; ++k)
        offsets.push_back(4 + 2 * ((probe + 3 * k) % 5) + 10 * k);
    return offsets;
}

// When each user's first scan began (real time), from the session's status texts.
class FirstScans : public IStatusText {
public:
    FirstScans() : m_previous(SetStatusText(this)) {}
    ~FirstScans() override { SetStatusText(m_previous); }
    void SetMessageText(const CString& text) override {
        if (text.rfind("EX:", 0) == 0)
            begun.emplace(text.substr(3), RealNow());
    }
    std::map<std::string, double> begun; // mailbox name: first time seen

private:
    IStatusText* m_previous;
};

// One run: a fresh list, the outbox emptied, the clock started at kStart, ticks as the window
// timer gives them (a tick that falls due during a long cycle fires once when it ends).
void Run(const fs::path& root, const Options& options, const std::string& limit,
         bool betweenTicks, int threads) {
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick, limit);
    Settings::WriteProfileString(Settings::kPreferences, Settings::kReadThreads,
                                 threads > 0 ? std::to_string(threads) : std::string());
    for (const auto& entry : fs::directory_iterator(root / "outbox"))
        fs::remove(entry.path());
    mail::cache::Clear();

    CUserList users;
    AddUsers(users, options.users);

    FirstScans scans;
    const double processorStart = ProcessorSeconds();
    double processorRound = 0; // processor seconds of the first round
    Clock::StartAt(CTime(kStart));
    const double offset = ClockOffset();

    using Steady = std::chrono::steady_clock;
    const auto begin = Steady::now();
    std::vector<double> cycles, pagingMs, scanMs, sliceMs;
    std::vector<int> pagesPerTick;
    double roundEnd = -1; // real time the first round ended
    int ticks = 0, roundTicks = 0;
    size_t roundSlices = 0;
    const auto noteRoundEnd = [&] {
        if (roundEnd >= 0)
            return;
        for (const auto& user : users.Users()) {
            if (user->ScanStatus == -1)
                return;
        }
        roundEnd = RealNow();
        processorRound = ProcessorSeconds() - processorStart;
        roundTicks = ticks;
        roundSlices = sliceMs.size();
    };
    // The program's own timer drives the cycles, on an event loop.
    CSecondTimer timer(
        [&] {
            const auto cycleStart = Steady::now();
            users.UpdateOOFFlags();
            const auto scanStart = Steady::now();
            users.UpdateReminders();
            const auto pagingStart = Steady::now();
            scanMs.push_back(
                std::chrono::duration<double, std::milli>(pagingStart - scanStart).count());
            const int paged = users.ProcessReminders();
            const auto cycleEnd = Steady::now();
            ++ticks;
            cycles.push_back(std::chrono::duration<double>(cycleEnd - cycleStart).count());
            pagingMs.push_back(
                std::chrono::duration<double, std::milli>(cycleEnd - pagingStart).count());
            pagesPerTick.push_back(paged);
            noteRoundEnd();
            const double watched = std::chrono::duration<double>(Steady::now() - begin).count();
            if ((roundEnd >= 0 && watched > kWatchSeconds) || watched > 1800) {
                if (roundEnd < 0)
                    std::cerr << "the first round did not end within half an hour\n";
                QCoreApplication::quit();
            }
        },
        [&](int msToNextTick) {
            // As the monitor does: more scan passes of the same length in the rest of the second.
            if (!betweenTicks || !users.ScansWaiting() ||
                msToNextTick < Settings::ScanMillisecondsPerTick() + 50)
                return false;
            const auto sliceStart = Steady::now();
            users.UpdateReminders();
            sliceMs.push_back(
                std::chrono::duration<double, std::milli>(Steady::now() - sliceStart).count());
            noteRoundEnd();
            return users.ScansWaiting();
        });
    timer.Start(1000);
    QCoreApplication::exec();
    timer.Stop();
    const double startReal = double(kStart) - offset;
    const double roundSeconds = roundEnd - startReal;

    // Every probe page, when it was due (real time), and when its user's first scan began.
    struct Expected {
        double due = 0;
        double scanned = 0;
        double sent = -1;
    };
    std::map<std::string, Expected> expected; // page text's subject: what is known of it
    for (int u = 0; u < options.users; ++u) {
        if (!IsProbeUser(u))
            continue;
        const int probe = u / 100;
        const auto seen = scans.begun.find(MailboxOf(u));
        for (int offset2 : ProbeOffsets(probe)) {
            Expected& e = expected[ProbeSubject(probe, offset2)];
            e.due = startReal + offset2;
            e.scanned = seen == scans.begun.end() ? 1e18 : seen->second;
        }
    }
    int others = 0;
    for (const auto& [subject, sent] : ProbePagesSent(root / "outbox", others)) {
        const auto found = expected.find(subject);
        if (found != expected.end())
            found->second.sent = sent;
    }

    std::vector<double> known, unknown, all;
    int dueInRound = 0, lost = 0;
    for (const auto& [subject, e] : expected) {
        if (e.due > roundEnd)
            continue;
        ++dueInRound;
        if (e.sent < 0) {
            ++lost;
            continue;
        }
        const double late = e.sent - e.due;
        all.push_back(late);
        (e.scanned <= e.due ? known : unknown).push_back(late);
    }
    std::vector<double> roundCycles(cycles.begin(), cycles.begin() + roundTicks);
    std::vector<double> roundScans(scanMs.begin(), scanMs.begin() + roundTicks);
    double pagingTotal = 0;
    int pages = 0;
    for (size_t i = 0; i < pagingMs.size(); ++i) {
        if (pagesPerTick[i] > 0) {
            pagingTotal += pagingMs[i];
            pages += pagesPerTick[i];
        }
    }

    std::printf("\nScanMillisecondsPerTick %s, %s, %d users, ReadThreads %d:\n", limit.c_str(),
                betweenTicks ? "more scan passes between ticks" : "one scan pass a tick",
                options.users, Settings::ReadThreads());
    std::printf("  processor time during the first round: %.1f s (all threads)\n", processorRound);
    std::printf(
        "  first round: %.1f s, %d ticks; cycles during it: p50 %.3f s, p99 %.3f s, "
        "max %.3f s\n",
        roundSeconds, roundTicks, Percentile(roundCycles, 0.5), Percentile(roundCycles, 0.99),
        roundCycles.empty() ? 0.0 : *std::max_element(roundCycles.begin(), roundCycles.end()));
    std::printf("  scan pass during it: p50 %.1f ms, p99 %.1f ms, max %.1f ms a tick\n",
                Percentile(roundScans, 0.5), Percentile(roundScans, 0.99),
                roundScans.empty() ? 0.0 : *std::max_element(roundScans.begin(), roundScans.end()));
    if (betweenTicks) {
        const std::vector<double> slices(sliceMs.begin(), sliceMs.begin() + roundSlices);
        std::printf("  scan passes between ticks during it: %zu, p50 %.1f ms, max %.1f ms\n",
                    slices.size(), Percentile(slices, 0.5),
                    slices.empty() ? 0.0 : *std::max_element(slices.begin(), slices.end()));
    }
    std::printf("  pages due during the first round: %d, of which %d never sent (their reminder "
                "time had passed when their user was first scanned)\n",
                dueInRound, lost);
    std::printf("  page time to outbox, user already scanned at the page time: %s\n",
                Summary(known).c_str());
    std::printf("  page time to outbox, user not yet scanned at the page time:  %s\n",
                Summary(unknown).c_str());
    std::printf("  page time to outbox, all:                                     %s\n",
                Summary(all).c_str());
    std::printf("  paging: %d pages in %.1f ms of paging passes (%.2f ms a page); %d other "
                "messages\n",
                pages, pagingTotal, pages ? pagingTotal / pages : 0.0, others);
    std::fflush(stdout);
    Clock::Reset();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    setenv("TZ", "America/New_York", 1); // the generator's zone
    tzset();
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--users") == 0 && i + 1 < argc)
            options.users = std::max(100, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--limit") == 0 && i + 1 < argc)
            options.runs.emplace_back(argv[++i], true);
        else if (std::strcmp(argv[i], "--ticks-only") == 0 && i + 1 < argc)
            options.runs.emplace_back(argv[++i], false);
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            options.threads.push_back(std::max(1, std::atoi(argv[++i])));
        else {
            std::cerr << "usage: first_round_bench [--users N] [--threads N ...] [--limit MS ...] "
                         "[--ticks-only MS ...]\n";
            return 2;
        }
    }
    if (options.runs.empty())
        options.runs = {{Settings::kScanMillisecondsPerTickDefault, true},
                        {Settings::kScanMillisecondsPerTickDefault, false},
                        {"1000000000", true}};
    const fs::path root =
        Prepare("monitor-" + std::to_string(options.users), options.users, ProbeOffsets);
    UseProfile(root);
    // The store reads a file written in the last two seconds again at every use.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    if (options.threads.empty())
        options.threads.push_back(0);
    for (const auto& [limit, betweenTicks] : options.runs)
        for (int threads : options.threads)
            Run(root, options, limit, betweenTicks, threads);
    return 0;
}
