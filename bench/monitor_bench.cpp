// One monitoring tick over 10,000 users: with nothing due, with the once-a-minute out-of-office
// pass, and with one page sent through the real Simple MAPI library into a mail system's outbox
// (recorded as sent); the status file of 10,000 users; and a tick over 32,000 users with the
// metrics endpoint off and on, with what a scrape of it costs the monitor's thread.
#include "app/metrics/MetricsText.h"
#include "app/monitor/MonitorCycle.h"
#include "app/monitor/MonitorInstruments.h"
#include "app/monitor/UserListPasses.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "core/WorkingDirectory.h"
#include "mailsystem/Profiles.h"
#include "paging/EventLog.h"
#include "users/UserFile.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kUsers = 10000;
constexpr int kManyUsers = 32000; // as many as Users.dat's codes allow
constexpr int kRemindersPerUser = 3;
constexpr CTimeSpan kMonth{30 * 86400};

class BenchMonitor : public CMonitorCycle {
public:
    BenchMonitor() {
        m_MonitorLockAttempts = 1;
        m_StatusSavePeriod = std::chrono::hours(24); // written once a minute; measured apart
        SetPasses(&m_passes);
    }

protected:
    unsigned StartTimer(unsigned, unsigned) override { return 1; }
    void StopTimer(unsigned) override {}
    void SetModeText(const CString&) override {}
    void PostCloseRequest() override {}
    bool RunUserListDialog(CUserList&) override { return false; }

private:
    CUserListPasses m_passes;
};

// A working directory with 10,000 users in Users.dat, a mail system whose address list holds
// the pager of user 1, and the profile "Bench" with the outbox transport; settings and profiles
// in a configuration directory of its own. The monitor is created in it, every user scanned
// (three reminders due from a month on) and next due for a scan in a month, so that however
// many seconds the ticks move the clock on, nothing else falls due.
// A loopback port that nothing listens on now.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

struct MonitoredDirectory {
    QTemporaryDir dir;
    BenchMonitor monitor;
    CTime now{CTime(2026, 6, 3, 9, 0, 0)};

    // `metrics`: with the metrics endpoint on a loopback port (off: no address at all).
    explicit MonitoredDirectory(int users = kUsers, bool metrics = false) {
        const std::string root = dir.path().toStdString();
        mkdir((root + "/config").c_str(), 0700);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        const std::string mail = root + "/mail";
        mkdir(mail.c_str(), 0700);
        mkdir((mail + "/mailboxes").c_str(), 0700);
        mkdir((mail + "/outbox").c_str(), 0700);
        std::ofstream(mail + "/address-list.txt")
            << "Display-Name: Pager of user 1\nAddress: /o=Quorvik/cn=pager1\n"
               "Deliver-To: 5550001@pager.example.org\n";
        mail::Profiles profiles;
        mail::Profile profile;
        profile.name = "Bench";
        profile.mailSystem = mail; // the outbox transport and the address list file
        profiles.Set(profile);
        std::string error;
        profiles.Save(error);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Bench");

        const std::string work = root + "/work";
        mkdir(work.c_str(), 0700);
        if (chdir(work.c_str()) != 0)
            return;
        WorkingDirectory::Capture();
        CUserList list;
        for (int i = 1; i <= users; ++i) {
            UserlistStru* u = list.CreateNoCodeUser();
            u->Code = static_cast<int16_t>(i);
            const std::string n = std::to_string(i);
            u->DisplayName = "User number " + n;
            u->MailboxName = "/o=Quorvik/ou=Site/cn=Recipients/cn=user" + n;
            u->Server = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL" + std::to_string(i % 8) +
                        "/cn=Microsoft Private MDB";
            u->PagerName = "Pager of user " + n;
            u->PageOnlyOOF = 0;
        }
        list.SaveUsers();

        Clock::Freeze(now);
        monitor.SetMetricsAddress(metrics ? "127.0.0.1:" + std::to_string(FreePort()) : "");
        monitor.OnCreate();
        for (auto& user : monitor.LiveUsers().Users()) {
            user->NextScan = now + kMonth;
            user->ScanStatus = 1;
            for (int r = 1; r <= kRemindersPerUser; ++r)
                user->Reminders.AddReminder(now + kMonth + CTimeSpan(r * 3600), CTime(0), CTime(0),
                                            "Task " + std::to_string(r));
        }
        monitor.OnTimer(); // the first out-of-office pass
    }
    ~MonitoredDirectory() {
        monitor.OnDestroy();
        Clock::Reset();
    }
    // Makes the out-of-office pass due, or not, at every tick.
    void OutOfOfficePassEveryTick(bool every) {
        monitor.LiveUsers().NextOOFCheck = every ? CTime(0) : now + kMonth;
    }
};

void BM_TickNothingDue(benchmark::State& state) {
    MonitoredDirectory d;
    d.OutOfOfficePassEveryTick(false);
    for (auto _ : state) {
        Clock::Advance(1);
        d.monitor.OnTimer();
    }
    state.counters["users"] = kUsers;
}
BENCHMARK(BM_TickNothingDue)->Unit(benchmark::kMicrosecond);

// The out-of-office pass runs in one tick a minute: it sorts the list by home message store.
void BM_TickNothingDueWithOutOfOfficePass(benchmark::State& state) {
    MonitoredDirectory d;
    for (auto _ : state) {
        d.OutOfOfficePassEveryTick(true);
        Clock::Advance(1);
        d.monitor.OnTimer();
    }
    state.counters["users"] = kUsers;
}
BENCHMARK(BM_TickNothingDueWithOutOfOfficePass)->Unit(benchmark::kMicrosecond);

// One reminder of user 1 falls due in each tick: the Simple MAPI library is loaded, logs on,
// writes the page into the outbox (flushed to disk), logs off; the page is recorded (flushed).
void BM_TickOnePageThroughTheOutbox(benchmark::State& state) {
    MonitoredDirectory d;
    d.OutOfOfficePassEveryTick(false);
    UserlistStru* first = nullptr; // user 1, wherever the out-of-office pass sorted it
    for (auto& user : d.monitor.LiveUsers().Users())
        first = user->Code == 1 ? user.get() : first;
    CString failure;
    EventLog::SetObserver([&failure](const EventLog::Entry& e) {
        if (!e.strings.empty())
            failure = e.strings.front();
    });
    int sent = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Clock::Advance(1);
        const CTime now = Clock::Now();
        first->Reminders.AddReminder(now + timespans::kMinute, CTime(0), CTime(0),
                                     "Page " + std::to_string(sent));
        first->Reminders.SortList();
        const int before = first->Reminders.GetCount();
        state.ResumeTiming();
        d.monitor.OnTimer();
        state.PauseTiming();
        if (first->Reminders.GetCount() != before - 1) {
            state.SkipWithError(("the page was not sent: " + failure).c_str());
            break;
        }
        ++sent;
        state.ResumeTiming();
    }
    EventLog::SetObserver(nullptr);
    state.counters["users"] = kUsers;
}
BENCHMARK(BM_TickOnePageThroughTheOutbox)->Unit(benchmark::kMillisecond)->Iterations(300);

// A tick with nothing due over 32,000 users, the metrics endpoint off (0) or on (1): on, each
// tick sets the tick's gauges, observes its duration and reads the clock twice more.
void BM_TickNothingDueMetrics(benchmark::State& state) {
    MonitoredDirectory d(kManyUsers, state.range(0) != 0);
    if ((d.monitor.Instruments() != nullptr) != (state.range(0) != 0)) {
        state.SkipWithError("the metrics endpoint is not as asked");
        return;
    }
    d.OutOfOfficePassEveryTick(false);
    for (auto _ : state) {
        Clock::Advance(1);
        d.monitor.OnTimer();
    }
    state.counters["users"] = kManyUsers;
}
BENCHMARK(BM_TickNothingDueMetrics)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// What a scrape costs the monitor's thread between two ticks: the gauges worked out from
// 32,000 users and the exposition written (the socket's part is not included).
void BM_ScrapeOfManyUsers(benchmark::State& state) {
    MonitoredDirectory d(kManyUsers, true);
    const metrics::Registry& registry = d.monitor.Instruments()->Metrics().Registry();
    std::string text;
    for (auto _ : state) {
        text.clear();
        registry.Collect();
        metrics::text::Write(registry, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ScrapeOfManyUsers)->Unit(benchmark::kMicrosecond);

void BM_SaveStatusFile(benchmark::State& state) {
    MonitoredDirectory d;
    for (auto _ : state)
        benchmark::DoNotOptimize(d.monitor.SaveStatus());
    state.counters["users"] = kUsers;
}
BENCHMARK(BM_SaveStatusFile)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the control socket wants an event dispatcher
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
