// The calendar scan against the libical baseline on the same generated files, in the same run:
// the store alone and the whole scan pass (one Outlook session, every mailbox scanned through the
// automation layer into its reminder list), each for the first scan of every mailbox (nothing in
// memory) and a rescan of unchanged files, and the peak memory of each. Counters give the ratios
// to the baseline.
//
// ORVANE_BENCH_MAILBOXES (default 1000) sets the size of the generated set, which is kept in
// the build tree and made once per size.
#include "core/Clock.h"
#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressList.h"
#include "mailsystem/ical/CalendarCache.h"
#include "outlook/COutlook.h"
#include "paging/CRemList.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The generator's reference moment: "now" for both programs (2026-03-14 13:05:40 UTC).
constexpr int64_t kNow = 1773493540;
constexpr const char* kNowText = "20260314T130540Z";
constexpr int64_t kWeek = 7 * 86400;

std::string g_self;
std::string g_dataDir; // the mail system: address-list.txt and mailboxes/mboxNNNNN
int g_mailboxes = 1000;
double g_baselineSeconds = 0, g_firstScanSeconds = 0, g_rescanSeconds = 0;
double g_passFirstSeconds = 0, g_passRescanSeconds = 0;
// Processor time (user and system) of the same, which a machine busy with other work inflates
// less than the elapsed time.
double g_baselineCpuSeconds = 0, g_passRescanCpuSeconds = 0;

double ProcessCpuSeconds() {
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Child {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;
    long maxRssKiB = 0;
};

// Runs argv with stdout to `out` (a path), waits, and measures it.
Child Run(const std::vector<std::string>& argv, const std::string& out) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Child child;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        struct rusage usage = {};
        int status = 0;
        if (wait4(pid, &status, 0, &usage) == pid) {
            child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            child.maxRssKiB = usage.ru_maxrss;
            child.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        }
    }
    child.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// One reminder as the baseline prints it: mailbox, alarm (UTC), E or T, UID or "-", start.
std::string Line(const std::string& mailbox, int64_t alarm, char kind, const std::string& uid,
                 int64_t start) {
    auto format = [](int64_t t) {
        const time_t x = static_cast<time_t>(t);
        struct tm tm = {};
        gmtime_r(&x, &tm);
        char buffer[24];
        strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &tm);
        return std::string(buffer);
    };
    return mailbox + "\t" + format(alarm) + "\t" + kind + "\t" + uid + "\t" +
           (start < 0 ? "-" : format(start));
}

// The scan of every mailbox as the reminder scan asks it: the appointments of the next seven
// days and the tasks. With `lines`, the reminders still to come (the baseline's query: per
// event the first occurrence whose alarm is not past; tasks whose alarm is not past).
size_t ScanAll(mail::MailSystem& system, const std::vector<mail::AddressEntry>& entries,
               std::vector<std::string>* lines) {
    size_t reminders = 0;
    std::vector<mail::Appointment> appointments;
    std::vector<mail::Task> tasks;
    std::string error;
    std::set<std::string> seen;
    for (const mail::AddressEntry& entry : entries) {
        if (!system.FindAppointments(entry, kNow, kNow + kWeek, appointments, error) ||
            !system.FindTasks(entry, tasks, error)) {
            std::cerr << error << "\n";
            continue;
        }
        seen.clear();
        for (const mail::Appointment& a : appointments) {
            const int64_t alarm = a.start - int64_t(a.reminderMinutesBeforeStart) * 60;
            if (!a.reminderSet || alarm < kNow || !seen.insert(a.uid).second)
                continue;
            ++reminders;
            if (lines)
                lines->push_back(Line(entry.mailbox, alarm, 'E', a.uid, a.start));
        }
        for (const mail::Task& t : tasks) {
            if (!t.reminderSet || t.reminderTime < kNow)
                continue;
            ++reminders;
            if (lines)
                lines->push_back(Line(entry.mailbox, t.reminderTime, 'T', "-", -1));
        }
    }
    return reminders;
}

std::shared_ptr<mail::MailSystem> OpenData(std::vector<mail::AddressEntry>& entries) {
    std::string error;
    auto system = mail::MailSystem::Open(g_dataDir, error);
    if (!system || !system->AddressList(entries, error)) {
        std::cerr << error << "\n";
        std::exit(1);
    }
    return system;
}

// One scan pass as the monitor runs it for users that are all due: one Outlook session on the
// default profile, and per user the list cleared, the user's folders scanned, the list sorted.
// Returns the reminders found.
size_t ScanPass(const std::vector<mail::AddressEntry>& entries, std::vector<CRemList>& lists) {
    size_t reminders = 0;
    COutlook outlook("");
    for (size_t i = 0; i < entries.size(); ++i) {
        int status = 0;
        lists[i].ClearList();
        outlook.GetUserReminders("EX:" + entries[i].address, lists[i], &status);
        lists[i].SortList();
        if (status != 1)
            std::cerr << "the scan of " << entries[i].address << " failed\n";
        reminders += static_cast<size_t>(lists[i].GetCount());
    }
    return reminders;
}

// The profile the scan pass logs on with (the default one), in a configuration of this run's own.
void UseBenchProfile() {
    const std::string config = g_dataDir + "/config";
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    mail::Profiles profiles;
    mail::Profile profile;
    profile.name = "Bench";
    profile.mailSystem = g_dataDir;
    profiles.Set(profile);
    profiles.SetDefault("Bench");
    std::string error;
    if (!profiles.Save(error)) {
        std::cerr << error << "\n";
        std::exit(1);
    }
    Clock::Freeze(CTime(static_cast<int32_t>(kNow)));
}

// Generates the set once: the calendars with the shared generator, and an address list with
// one mailbox entry per generated folder.
void Prepare() {
    const std::string mailboxes = g_dataDir + "/mailboxes";
    if (!std::filesystem::exists(mailboxes + "/MANIFEST")) {
        std::cerr << "Generating " << g_mailboxes << " mailboxes into " << mailboxes << " ...\n";
        const Child gen = Run({"/usr/bin/python3", ORVANE_SHARED_BENCH_DIR "/gen.py", "--out",
                               mailboxes, "--mailboxes", std::to_string(g_mailboxes)},
                              "/dev/null");
        if (gen.status != 0) {
            std::cerr << "gen.py failed\n";
            std::exit(1);
        }
    }
    std::vector<mail::AddressEntry> entries;
    for (int i = 0; i < g_mailboxes; ++i) {
        char folder[16];
        std::snprintf(folder, sizeof folder, "mbox%05d", i);
        entries.push_back({std::string("User ") + folder, std::string("/o=Bench/cn=") + folder,
                           "/o=Bench/cn=MAIL1", folder, ""});
    }
    std::ofstream(g_dataDir + "/" + mail::kAddressListFileName)
        << mail::FormatAddressList(entries, "benchmark");
}

// Our reminders must be exactly the baseline's before any time is worth comparing.
void Compare() {
    const std::string peerOut = g_dataDir + "/peer.out";
    const Child peer = Run({ORVANE_PEER_LIBICAL, g_dataDir + "/mailboxes", kNowText}, peerOut);
    std::vector<std::string> expected;
    std::ifstream in(peerOut);
    for (std::string line; std::getline(in, line);) {
        // Tasks: the baseline names them by UID, which tasks do not report here.
        std::vector<std::string> f;
        size_t pos = 0;
        for (size_t tab; (tab = line.find('\t', pos)) != std::string::npos; pos = tab + 1)
            f.push_back(line.substr(pos, tab - pos));
        f.push_back(line.substr(pos));
        if (f.size() == 5 && f[2] == "T")
            f[3] = "-";
        expected.push_back(f[0] + "\t" + f[1] + "\t" + f[2] + "\t" + f[3] + "\t" + f[4]);
    }
    mail::cache::Clear();
    std::vector<mail::AddressEntry> entries;
    auto system = OpenData(entries);
    std::vector<std::string> ours;
    ScanAll(*system, entries, &ours);
    std::sort(expected.begin(), expected.end());
    std::sort(ours.begin(), ours.end());
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), ours.begin(), ours.end(),
                        std::back_inserter(missing));
    std::set_difference(ours.begin(), ours.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    std::cerr << "Reminders: baseline " << expected.size() << ", mail system " << ours.size()
              << "; " << missing.size() << " missing, " << extra.size() << " extra (baseline exit "
              << peer.status << ")\n";
    for (size_t i = 0; i < std::min<size_t>(missing.size(), 5); ++i)
        std::cerr << "  missing " << missing[i] << "\n";
    for (size_t i = 0; i < std::min<size_t>(extra.size(), 5); ++i)
        std::cerr << "  extra   " << extra[i] << "\n";
    mail::cache::Clear();
}

void BM_Baseline(benchmark::State& state) {
    double total = 0, cpuTotal = 0;
    for (auto _ : state) {
        const Child peer =
            Run({ORVANE_PEER_LIBICAL, g_dataDir + "/mailboxes", kNowText}, "/dev/null");
        if (peer.status != 0)
            state.SkipWithError("the baseline failed");
        state.SetIterationTime(peer.seconds);
        total += peer.seconds;
        cpuTotal += peer.cpuSeconds;
    }
    g_baselineSeconds = total / static_cast<double>(state.iterations());
    g_baselineCpuSeconds = cpuTotal / static_cast<double>(state.iterations());
    state.counters["mailboxes_per_s"] = g_mailboxes / g_baselineSeconds;
}

void BM_FirstScan(benchmark::State& state) {
    double total = 0;
    size_t reminders = 0;
    for (auto _ : state) {
        state.PauseTiming();
        mail::cache::Clear();
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        std::vector<mail::AddressEntry> entries;
        auto system = OpenData(entries);
        reminders = ScanAll(*system, entries, nullptr);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    g_firstScanSeconds = total / static_cast<double>(state.iterations());
    state.counters["mailboxes_per_s"] = g_mailboxes / g_firstScanSeconds;
    state.counters["reminders"] = static_cast<double>(reminders);
    if (g_baselineSeconds > 0)
        state.counters["time_vs_baseline"] = g_firstScanSeconds / g_baselineSeconds;
}

void BM_Rescan(benchmark::State& state) {
    std::vector<mail::AddressEntry> entries;
    auto system = OpenData(entries);
    ScanAll(*system, entries, nullptr); // the first scan, not measured
    const auto before = mail::cache::GetStats();
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        // Each monitoring pass opens its own session, so the mail system is opened anew too.
        std::vector<mail::AddressEntry> again;
        auto fresh = OpenData(again);
        benchmark::DoNotOptimize(ScanAll(*fresh, again, nullptr));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    g_rescanSeconds = total / static_cast<double>(state.iterations());
    state.counters["mailboxes_per_s"] = g_mailboxes / g_rescanSeconds;
    state.counters["files_read_again"] =
        static_cast<double>(mail::cache::GetStats().reads - before.reads);
    if (g_baselineSeconds > 0)
        state.counters["speedup_vs_baseline"] = g_baselineSeconds / g_rescanSeconds;
}

void BM_ScanPassFirst(benchmark::State& state) {
    std::vector<mail::AddressEntry> entries;
    OpenData(entries);
    std::vector<CRemList> lists(entries.size());
    double total = 0;
    size_t reminders = 0;
    for (auto _ : state) {
        mail::cache::Clear();
        const auto start = std::chrono::steady_clock::now();
        reminders = ScanPass(entries, lists);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    g_passFirstSeconds = total / static_cast<double>(state.iterations());
    state.counters["mailboxes_per_s"] = g_mailboxes / g_passFirstSeconds;
    state.counters["reminders"] = static_cast<double>(reminders);
    if (g_baselineSeconds > 0)
        state.counters["time_vs_baseline"] = g_passFirstSeconds / g_baselineSeconds;
}

void BM_ScanPassRescan(benchmark::State& state) {
    std::vector<mail::AddressEntry> entries;
    OpenData(entries);
    std::vector<CRemList> lists(entries.size());
    ScanPass(entries, lists); // the first scan, not measured
    const auto before = mail::cache::GetStats();
    double total = 0, cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = ProcessCpuSeconds();
        benchmark::DoNotOptimize(ScanPass(entries, lists));
        cpu += ProcessCpuSeconds() - cpuStart;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    g_passRescanSeconds = total / static_cast<double>(state.iterations());
    g_passRescanCpuSeconds = cpu / static_cast<double>(state.iterations());
    if (g_baselineCpuSeconds > 0)
        state.counters["speedup_vs_baseline_cpu"] = g_baselineCpuSeconds / g_passRescanCpuSeconds;
    state.counters["mailboxes_per_s"] = g_mailboxes / g_passRescanSeconds;
    state.counters["files_read_again"] =
        static_cast<double>(mail::cache::GetStats().reads - before.reads);
    if (g_baselineSeconds > 0)
        state.counters["speedup_vs_baseline"] = g_baselineSeconds / g_passRescanSeconds;
}

// Peak resident memory of a whole first scan plus rescan in a process of its own, next to the
// baseline's. Each is measured by GNU time, a small process: a child spawned from this one would
// inherit this process's own (large) peak in its rusage.
long PeakKiB(std::vector<std::string> argv) {
    const std::string report = g_dataDir + "/peak.txt";
    argv.insert(argv.begin(), {"/usr/bin/time", "-f", "%M", "-o", report});
    if (Run(argv, "/dev/null").status != 0)
        return -1;
    std::ifstream in(report);
    long kib = -1;
    in >> kib;
    return kib;
}

void BM_PeakMemory(benchmark::State& state) {
    if (!std::filesystem::exists("/usr/bin/time")) {
        state.SkipWithError("GNU time (/usr/bin/time) is needed to measure the peak memory");
        return;
    }
    long ours = -1, pass = -1, peer = -1;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ours = PeakKiB({g_self, "--scan-once", g_dataDir});
        pass = PeakKiB({g_self, "--scan-pass-once", g_dataDir});
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        peer = PeakKiB({ORVANE_PEER_LIBICAL, g_dataDir + "/mailboxes", kNowText});
    }
    state.counters["mail_system_MiB"] = ours / 1024.0;
    state.counters["scan_pass_MiB"] = pass / 1024.0;
    state.counters["baseline_MiB"] = peer / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    setenv("TZ", "America/New_York", 1); // the baseline reads floating times in New York
    tzset();
    if (argc == 3 && std::strcmp(argv[1], "--scan-once") == 0) {
        g_dataDir = argv[2];
        std::vector<mail::AddressEntry> entries;
        auto system = OpenData(entries);
        ScanAll(*system, entries, nullptr);
        ScanAll(*system, entries, nullptr);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--scan-pass-once") == 0) {
        g_dataDir = argv[2];
        UseBenchProfile();
        std::vector<mail::AddressEntry> entries;
        OpenData(entries);
        std::vector<CRemList> lists(entries.size());
        ScanPass(entries, lists);
        ScanPass(entries, lists);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--scan-pass-rescans") == 0) {
        // For a profiler: one first scan, then the given number of rescans of unchanged files.
        g_dataDir = argv[2];
        UseBenchProfile();
        std::vector<mail::AddressEntry> entries;
        OpenData(entries);
        std::vector<CRemList> lists(entries.size());
        ScanPass(entries, lists);
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        const int rescans = std::max(1, std::atoi(argv[3]));
        for (int i = 0; i < rescans; ++i)
            ScanPass(entries, lists);
        std::printf(
            "%.2f ms a rescan (%.2f ms of processor time)\n",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count() /
                rescans,
            1000.0 * double(std::clock() - cpu) / CLOCKS_PER_SEC / rescans);
        return 0;
    }
    g_self = std::filesystem::canonical("/proc/self/exe").string();
    if (const char* n = std::getenv("ORVANE_BENCH_MAILBOXES"))
        g_mailboxes = std::max(1, std::atoi(n));
    g_dataDir = std::string(ORVANE_BENCH_DATA_DIR) + "/m" + std::to_string(g_mailboxes);
    std::filesystem::create_directories(g_dataDir);
    Prepare();
    Compare();
    UseBenchProfile();

    benchmark::RegisterBenchmark("Baseline/libical", BM_Baseline)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("MailSystem/FirstScan", BM_FirstScan)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("MailSystem/Rescan", BM_Rescan)
        ->UseManualTime()
        ->Iterations(20)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ScanPass/FirstScan", BM_ScanPassFirst)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ScanPass/Rescan", BM_ScanPassRescan)
        ->UseManualTime()
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PeakMemory", BM_PeakMemory)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_baselineSeconds > 0 && g_firstScanSeconds > 0 && g_rescanSeconds > 0) {
        std::printf("\n%d mailboxes: baseline %.3f s; first scan %.3f s (%.2f of the baseline); "
                    "rescan %.4f s "
                    "(%.1f times faster than the baseline)\n",
                    g_mailboxes, g_baselineSeconds, g_firstScanSeconds,
                    g_firstScanSeconds / g_baselineSeconds, g_rescanSeconds,
                    g_baselineSeconds / g_rescanSeconds);
    }
    if (g_baselineSeconds > 0 && g_passFirstSeconds > 0 && g_passRescanSeconds > 0) {
        std::printf(
            "Scan pass: first scan %.3f s (%.2f of the baseline, %.0f mailboxes/s); rescan %.4f s "
            "(%.1f times faster than the baseline, %.0f mailboxes/s)\n",
            g_passFirstSeconds, g_passFirstSeconds / g_baselineSeconds,
            g_mailboxes / g_passFirstSeconds, g_passRescanSeconds,
            g_baselineSeconds / g_passRescanSeconds, g_mailboxes / g_passRescanSeconds);
    }
    if (g_baselineCpuSeconds > 0 && g_passRescanCpuSeconds > 0) {
        std::printf("Processor time: baseline %.3f s, scan pass rescan %.4f s (%.1f times less)\n",
                    g_baselineCpuSeconds, g_passRescanCpuSeconds,
                    g_baselineCpuSeconds / g_passRescanCpuSeconds);
    }
    return 0;
}
