// Time from the active monitor's death to the first page sent by the monitor that takes over.
//
// A three-member etcd on loopback, one mail system with an outbox, and two `orvane --headless
// --cluster` processes monitoring one user whose pages fall due every second. Each round kills
// the leader (SIGKILL) at a random moment after one of its pages and measures until the other
// prints its first page sent; then a fresh standby takes the dead one's place. Figures, not a
// test: run it and read the output.
// Usage: monitor_takeover_bench [--kills N]
#include "support/EtcdTestCluster.h"
#include "support/MonitorProcess.h"
#include "support/MonitoredSetup.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <random>
#include <sstream>

using namespace testing_support;
using SteadyClock = std::chrono::steady_clock;

namespace {

std::string RoleOf(const MonitorProcess& monitor) {
    const std::string tag = "orvane: cluster: ";
    const size_t at = monitor.Err().rfind(tag);
    if (at == std::string::npos)
        return "";
    const size_t end = monitor.Err().find(':', at + tag.size());
    return monitor.Err().substr(at + tag.size(), end - at - tag.size());
}

} // namespace

int main(int argc, char** argv) {
    int kills = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--kills") == 0)
            kills = std::atoi(argv[i + 1]);
    }
    QCoreApplication app(argc, argv);
    TempDir home;
    setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
    EtcdTestCluster etcd({});
    if (!etcd.Started()) {
        std::fprintf(stderr, "the etcd cluster did not start\n");
        return 1;
    }
    const CTime start(static_cast<int64_t>(std::time(nullptr)));
    MonitoredSetup setup(start);
    setup.AddUser("Ann Archer", "5550101@pager.example.org");
    // A page a second, from 30 seconds after the start, for as long as the rounds may take.
    std::vector<Item> items;
    const int pages = kills * 20 + 120;
    for (int i = 0; i < pages; ++i)
        items.push_back({"Page " + std::to_string(i), CTime(), 30, 5, start + CTimeSpan(90 + i)});
    setup.WriteItems("Ann Archer", items);

    const std::vector<std::string> args{"--cluster", etcd.Url("bench/takeover")};
    std::vector<std::unique_ptr<MonitorProcess>> monitors, killedMonitors;
    int started = 0;
    auto startOne = [&] {
        monitors.push_back(std::make_unique<MonitorProcess>("m" + std::to_string(++started),
                                                            setup.File("Users.dat"), args));
    };
    auto all = [&] {
        std::vector<MonitorProcess*> v;
        for (auto& m : monitors)
            v.push_back(m.get());
        return v;
    };
    auto wait = [&](const std::function<bool()>& done, int seconds) {
        return WaitReading(all(), done, std::chrono::seconds(seconds));
    };
    startOne();
    startOne();

    std::mt19937 random(std::random_device{}());
    std::vector<long> takeovers;
    std::printf("election lease TTL 5 s (margin 1 s), ticks of 1 s, a page due every second; "
                "%d kills\n",
                kills);
    for (int round = 1; round <= kills; ++round) {
        MonitorProcess* leader = nullptr;
        MonitorProcess* standby = nullptr;
        const bool settled = wait(
            [&] {
                leader = standby = nullptr;
                for (auto& m : monitors) {
                    if (!m->Running())
                        continue;
                    (RoleOf(*m) == "ACTIVE" ? leader : standby) = m.get();
                }
                return leader && standby && RoleOf(*standby) == "STANDBY";
            },
            120);
        if (!settled) {
            std::fprintf(stderr, "round %d: no leader and standby\n", round);
            return 1;
        }
        const size_t paged = leader->Out().size();
        if (!wait([&] { return leader->CountOut("page sent: ", paged) > 0; }, 120)) {
            std::fprintf(stderr, "round %d: the leader sends no page\n", round);
            return 1;
        }
        QThread::msleep(std::uniform_int_distribution<int>(0, 999)(random));
        leader->Signal(SIGKILL);
        const auto killed = SteadyClock::now();
        standby->Read();
        const size_t from = standby->Out().size();
        if (!wait([&] { return standby->CountOut("page sent: ", from) > 0; }, 120)) {
            std::fprintf(stderr, "round %d: the standby never paged\n", round);
            return 1;
        }
        const long ms = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - killed)
                .count());
        takeovers.push_back(ms);
        std::printf("round %2d: first page of the new leader %ld ms after the kill\n", round, ms);
        std::fflush(stdout);
        const auto dead = std::find_if(monitors.begin(), monitors.end(),
                                       [&](const auto& m) { return m.get() == leader; });
        killedMonitors.push_back(std::move(*dead));
        monitors.erase(dead);
        startOne();
    }
    std::sort(takeovers.begin(), takeovers.end());
    std::printf("median %ld ms, worst %ld ms over %zu kills (lease TTL 5 s)\n",
                takeovers[takeovers.size() / 2], takeovers.back(), takeovers.size());
    // Duplicates as the monitors printed them: a page text sent by more than one line.
    int duplicates = 0;
    std::map<std::string, int> seen;
    for (auto* list : {&monitors, &killedMonitors}) {
        for (auto& m : *list) {
            m->Read();
            std::istringstream lines(m->Out());
            for (std::string line; std::getline(lines, line);) {
                const size_t at = line.find(" page sent: ");
                if (at == std::string::npos)
                    continue;
                const std::string text = line.substr(line.rfind(": ") + 2);
                if (seen[text]++) {
                    ++duplicates;
                    std::printf("sent twice: %s (again by %s)\n", text.c_str(), m->Name().c_str());
                }
            }
        }
    }
    // Pages due more than ten seconds before the end that no monitor printed as sent.
    const CTime end(static_cast<int64_t>(std::time(nullptr)));
    int missing = 0;
    for (int i = 0; i < pages && start + CTimeSpan(30 + i) < end - CTimeSpan(10); ++i)
        missing += seen.count("Page " + std::to_string(i)) ? 0 : 1;
    std::printf("pages in the outbox: %zu, sent twice: %d, due and never sent: %d\n",
                setup.Mail().OutboxMessages().size(), duplicates, missing);
    return 0;
}
