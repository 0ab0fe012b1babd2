// Scan passes over calendars on a loopback Radicale against the same passes over the directory:
// the first pass (nothing in memory) and the rescan of unchanged calendars, with the requests
// made and the bytes read. Goals: one request per unchanged mailbox, and a rescan at least 20
// times faster than the first pass. The rescan is also measured as the monitor's scan pass makes
// it with its readers ("ReadThreads" and "CalendarServerConnections" both N: N requests in
// flight), against a plain HTTP client (libcurl's multi interface) sending the rescan's one
// request a mailbox over N connections: what the server can answer at best.
//
// 200 mailboxes are generated with the shared generator (ORVANE_BENCH_MAILBOXES changes the
// number), kept in the build tree and made once per size. Radicale's storage is written
// directly (one file per item, as Radicale keeps it), because uploading 44,000 items through
// Radicale takes most of an hour; Radicale serves them as it would any other. Its own cache is
// warmed by one unmeasured pass, so that the first pass measures Orvane's cold start, not
// Radicale's.
#include "core/Clock.h"
#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressList.h"
#include "mailsystem/caldav/CalDavStore.h"
#include "core/Settings.h"
#include "mailsystem/caldav/DavClient.h"
#include "mailsystem/caldav/DavXml.h"
#include "mailsystem/ical/CalendarCache.h"
#include "outlook/COutlook.h"
#include "paging/CRemList.h"
#include "users/CUserList.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int64_t kNow = 1773493540; // 2026-03-14 13:05:40 UTC, the generator's reference day
constexpr const char* kDirectoryProfile = "BenchDirectory";
constexpr const char* kServerProfile = "BenchServer";

std::string g_dataDir;
int g_mailboxes = 200;
pid_t g_radicale = -1;
int g_port = 0;
std::vector<mail::AddressEntry> g_entries;
double g_serverFirst = 0, g_serverRescan = 0, g_directoryFirst = 0, g_directoryRescan = 0;

[[noreturn]] void Fail(const std::string& why) {
    std::cerr << "caldav_bench: " << why << "\n";
    if (g_radicale > 0)
        kill(g_radicale, SIGTERM);
    std::exit(1);
}

int Spawn(const std::vector<std::string>& args, const std::string& out, bool wait) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    if (!wait)
        return pid;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The generated file's components, one item file each, with the file's VTIMEZONE.
std::vector<std::pair<std::string, std::string>> Items(const std::string& ics) {
    std::vector<std::pair<std::string, std::string>> items;
    std::string zones, component, uid;
    int depth = 0;
    std::istringstream in(ics);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("BEGIN:", 0) == 0)
            ++depth;
        if (depth >= 2)
            component += line + "\r\n";
        if (depth == 2 && line.rfind("UID:", 0) == 0)
            uid = line.substr(4);
        if (line.rfind("END:", 0) == 0) {
            if (depth == 2 && line == "END:VTIMEZONE") {
                zones = component;
            } else if (depth == 2) {
                items.emplace_back(uid + ".ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//"
                                                 "bench//EN\r\n" +
                                                     zones + component + "END:VCALENDAR\r\n");
            }
            if (depth == 2) {
                component.clear();
                uid.clear();
            }
            --depth;
        }
    }
    return items;
}

// Generates the calendars, the mail system over them, and Radicale's storage holding the same.
void Prepare() {
    const std::string generated = g_dataDir + "/mail/mailboxes";
    if (!fs::exists(generated + "/MANIFEST")) {
        std::cerr << "Generating " << g_mailboxes << " mailboxes into " << generated << " ...\n";
        if (Spawn({"/usr/bin/python3", ORVANE_BENCH_GENERATOR, "--out", generated, "--mailboxes",
                   std::to_string(g_mailboxes)},
                  "/dev/null", true) != 0)
            Fail("gen.py failed");
    }
    for (int i = 0; i < g_mailboxes; ++i) {
        char folder[16];
        std::snprintf(folder, sizeof folder, "mbox%05d", i);
        g_entries.push_back({std::string("User ") + folder, std::string("/o=Bench/cn=") + folder,
                             "/o=Bench/cn=MAIL1", folder, ""});
    }
    std::ofstream(g_dataDir + "/mail/" + mail::kAddressListFileName)
        << mail::FormatAddressList(g_entries, "benchmark");
    fs::create_directories(g_dataDir + "/mail/outbox");

    const std::string root = g_dataDir + "/radicale/collection-root";
    if (!fs::exists(g_dataDir + "/radicale/complete")) {
        std::cerr << "Writing Radicale's storage ...\n";
        fs::remove_all(g_dataDir + "/radicale");
        for (const mail::AddressEntry& e : g_entries) {
            for (const auto& [file, components] :
                 {std::pair<const char*, const char*>{"calendar.ics", "VEVENT"},
                  std::pair<const char*, const char*>{"tasks.ics", "VTODO"}}) {
                const std::string name = std::string(file).substr(0, std::string(file).find('.'));
                const std::string collection = root + "/" + e.mailbox + "/" + name;
                fs::create_directories(collection);
                std::ofstream(collection + "/.Radicale.props")
                    << "{\"C:supported-calendar-component-set\": \"" << components
                    << "\", \"tag\": \"VCALENDAR\"}";
                for (const auto& [item, text] :
                     Items(Read(generated + "/" + e.mailbox + "/" + file)))
                    std::ofstream(collection + "/" + item, std::ios::binary) << text;
            }
        }
        std::ofstream(g_dataDir + "/radicale/complete") << "yes\n";
    }
    std::ofstream(g_dataDir + "/radicale/users") << "orvane:bench\n";
    // As docs/calendar-servers.md has it: Orvane's account reads everything, and owns its own
    // principal (which Radicale makes at its first request).
    std::ofstream(g_dataDir + "/radicale/rights")
        << "[owner]\nuser: .+\ncollection: {user}(/.*)?\npermissions: RrWw\n\n[orvane]\n"
           "user: orvane\ncollection: .*\npermissions: Rr\n";
}

void StartRadicale() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Fail("no free loopback port");
    g_port = ntohs(address.sin_port);
    close(fd);
    const std::string dir = g_dataDir + "/radicale";
    std::ofstream(dir + "/config")
        << "[server]\nhosts = 127.0.0.1:" << g_port
        << "\n[auth]\ntype = htpasswd\nhtpasswd_filename = " << dir
        << "/users\nhtpasswd_encryption = plain\n[rights]\ntype = from_file\nfile = " << dir
        << "/rights\n[storage]\nfilesystem_folder = " << dir
        << "\n[web]\ntype = none\n[logging]\nlevel = warning\n";
    g_radicale = Spawn({"radicale", "--config", dir + "/config"}, dir + "/log", false);
    if (g_radicale <= 0)
        Fail("cannot start radicale (install Debian's radicale)");
    for (int i = 0; i < 300; ++i) {
        const int probe = socket(AF_INET, SOCK_STREAM, 0);
        const bool up = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(probe);
        if (up)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Fail("radicale did not start: " + Read(dir + "/log"));
}

void WriteProfiles() {
    const std::string config = g_dataDir + "/config";
    fs::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    mail::Profiles profiles;
    mail::Profile profile;
    profile.name = kDirectoryProfile;
    profile.mailSystem = g_dataDir + "/mail";
    profiles.Set(profile);
    profile.name = kServerProfile;
    profile.calendars = {"http://127.0.0.1:" + std::to_string(g_port) + "/{mailbox}/", "orvane",
                         "bench"};
    profiles.Set(profile);
    std::string error;
    if (!profiles.Save(error))
        Fail(error);
}

// One scan pass as the monitor runs it for users that are all due: one Outlook session, and per
// user the list cleared, the folders scanned, the list sorted. Returns the reminders' texts.
std::vector<std::string> ScanPass(const char* profile) {
    std::vector<std::string> found;
    COutlook outlook(profile);
    CRemList list;
    for (const mail::AddressEntry& e : g_entries) {
        int status = 0;
        list.ClearList();
        outlook.GetUserReminders("EX:" + e.address, list, &status);
        list.SortList();
        if (status != 1)
            Fail("the scan of " + e.address + " failed");
        for (const auto& r : list.GetRecords())
            found.push_back(e.mailbox + " " + r->PageTime.Format("%m/%d/%y %H:%M:%S") + " " +
                            r->Text);
    }
    return found;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Counters(benchmark::State& state, const mail::dav::Stats& before, size_t reminders) {
    const mail::dav::Stats after = mail::dav::GetStats();
    const double passes = static_cast<double>(state.iterations());
    state.counters["requests_per_mailbox"] =
        static_cast<double>(after.requests - before.requests) / passes / g_mailboxes;
    state.counters["MiB_read"] =
        static_cast<double>(after.bytesRead - before.bytesRead) / passes / (1 << 20);
    state.counters["connections"] =
        static_cast<double>(after.connections - before.connections) / passes;
    state.counters["reminders"] = static_cast<double>(reminders);
}

void BM_DirectoryFirstPass(benchmark::State& state) {
    size_t reminders = 0;
    double total = 0;
    for (auto _ : state) {
        mail::cache::Clear();
        const auto start = std::chrono::steady_clock::now();
        reminders = ScanPass(kDirectoryProfile).size();
        state.SetIterationTime(Seconds(start));
        total += Seconds(start);
    }
    g_directoryFirst = total / static_cast<double>(state.iterations());
    state.counters["reminders"] = static_cast<double>(reminders);
}

void BM_DirectoryRescan(benchmark::State& state) {
    ScanPass(kDirectoryProfile);
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(ScanPass(kDirectoryProfile));
        state.SetIterationTime(Seconds(start));
        total += Seconds(start);
    }
    g_directoryRescan = total / static_cast<double>(state.iterations());
    state.counters["speedup_vs_first"] = g_directoryFirst / g_directoryRescan;
}

void BM_ServerFirstPass(benchmark::State& state) {
    const mail::dav::Stats before = mail::dav::GetStats();
    size_t reminders = 0;
    double total = 0;
    for (auto _ : state) {
        mail::caldav::Clear();
        mail::dav::CloseConnections();
        const auto start = std::chrono::steady_clock::now();
        reminders = ScanPass(kServerProfile).size();
        state.SetIterationTime(Seconds(start));
        total += Seconds(start);
    }
    g_serverFirst = total / static_cast<double>(state.iterations());
    Counters(state, before, reminders);
    state.counters["time_vs_directory_first"] = g_serverFirst / g_directoryFirst;
}

void BM_ServerRescan(benchmark::State& state) {
    ScanPass(kServerProfile);
    const mail::dav::Stats before = mail::dav::GetStats();
    size_t reminders = 0;
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        reminders = ScanPass(kServerProfile).size();
        state.SetIterationTime(Seconds(start));
        total += Seconds(start);
    }
    g_serverRescan = total / static_cast<double>(state.iterations());
    Counters(state, before, reminders);
    state.counters["speedup_vs_first"] = g_serverFirst / g_serverRescan;
    state.counters["time_vs_directory_rescan"] = g_serverRescan / g_directoryRescan;
}

// The rescan as the monitor's scan pass makes it: one user a mailbox, all due, one pass, the
// homes read ahead by N threads with N connections to the server.
void BM_ServerRescanReadAhead(benchmark::State& state) {
    const std::string threads = std::to_string(state.range(0));
    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, kServerProfile);
    Settings::WriteProfileString(Settings::kPreferences, Settings::kReadThreads, threads);
    Settings::WriteProfileString(Settings::kPreferences, Settings::kCalendarServerConnections,
                                 threads);
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick,
                                 "1000000000");
    CUserList users;
    for (const mail::AddressEntry& e : g_entries) {
        UserlistStru* u = users.CreateUser();
        u->DisplayName = e.displayName;
        u->MailboxName = e.address;
        u->PageOnlyOOF = 0;
    }
    const auto pass = [&] {
        for (const auto& u : users.Users())
            u->NextScan = CTime(0);
        users.UpdateReminders();
    };
    pass(); // the copies in memory, as after the first round
    const mail::dav::Stats before = mail::dav::GetStats();
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        pass();
        state.SetIterationTime(Seconds(start));
        total += Seconds(start);
    }
    size_t reminders = 0;
    for (const auto& u : users.Users()) {
        if (u->ScanStatus != 1)
            Fail("the scan of " + u->MailboxName + " failed: " + u->LastScanError);
        reminders += static_cast<size_t>(u->Reminders.GetCount());
    }
    Counters(state, before, reminders);
    state.counters["speedup_vs_first"] =
        g_serverFirst / (total / static_cast<double>(state.iterations()));
    users.DeleteAllUsers();
    Settings::WriteProfileString(Settings::kPreferences, Settings::kReadThreads, "");
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// What the server can answer at best: the rescan's one request a mailbox (the home's depth-1
// PROPFIND), sent by libcurl's multi interface over N kept-alive connections.
void BM_PlainClientPropfinds(benchmark::State& state) {
    const long connections = static_cast<long>(state.range(0));
    const std::string body = mail::dav::HomePropfindBody(false);
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Depth: 1");
    headers = curl_slist_append(headers, "Content-Type: application/xml; charset=utf-8");
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, connections);
    curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, connections);
    std::vector<CURL*> handles;
    for (const mail::AddressEntry& e : g_entries) {
        CURL* h = curl_easy_init();
        const std::string url = "http://127.0.0.1:" + std::to_string(g_port) + "/" + e.mailbox + "/";
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PROPFIND");
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(h, CURLOPT_USERNAME, "orvane");
        curl_easy_setopt(h, CURLOPT_PASSWORD, "bench");
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
        handles.push_back(h);
    }
    long failed = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (CURL* h : handles)
            curl_multi_add_handle(multi, h);
        int running = 1;
        while (running) {
            curl_multi_perform(multi, &running);
            if (running)
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        int queued = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
            long status = 0;
            curl_easy_getinfo(m->easy_handle, CURLINFO_RESPONSE_CODE, &status);
            if (m->msg == CURLMSG_DONE && (m->data.result != CURLE_OK || status != 207))
                ++failed;
        }
        for (CURL* h : handles)
            curl_multi_remove_handle(multi, h);
        state.SetIterationTime(Seconds(start));
    }
    if (failed)
        Fail(std::to_string(failed) + " requests of the plain client failed");
    for (CURL* h : handles)
        curl_easy_cleanup(h);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
}

} // namespace

BENCHMARK(BM_DirectoryFirstPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DirectoryRescan)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ServerFirstPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ServerRescan)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ServerRescanReadAhead)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8);
BENCHMARK(BM_PlainClientPropfinds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8);

int main(int argc, char** argv) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    if (const char* n = std::getenv("ORVANE_BENCH_MAILBOXES"))
        g_mailboxes = std::max(1, std::atoi(n));
    g_dataDir = std::string(ORVANE_BENCH_DATA_DIR) + "/" + std::to_string(g_mailboxes);
    Prepare();
    StartRadicale();
    WriteProfiles();
    Clock::Freeze(CTime(static_cast<int32_t>(kNow)));

    // The same reminders from both, before any time is worth comparing; this first reading also
    // warms Radicale's own cache of its items.
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> server = ScanPass(kServerProfile);
    const double warming = Seconds(start);
    const std::vector<std::string> directory = ScanPass(kDirectoryProfile);
    std::cerr << "Reminders: directory " << directory.size() << ", calendar server "
              << server.size() << (server == directory ? ", the same" : ", DIFFERENT") << "; "
              << "the unmeasured first pass, Radicale reading its storage: " << warming << " s\n";
    if (server != directory)
        Fail("the calendar server's reminders differ from the directory's");

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    kill(g_radicale, SIGTERM);
    waitpid(g_radicale, nullptr, 0);
    return 0;
}
