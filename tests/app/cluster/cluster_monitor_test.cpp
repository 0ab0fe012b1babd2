// Monitors in processes of their own, one mail system and its outbox, and a real three-member
// etcd: exactly one pages; a leader killed or stopped between pages; etcd members lost; an edit
// on a standby. Bounds catch "never"; how fast a standby takes over is the benchmark's figure.
#include "ClusterTestSupport.h"
#include "support/MetricsClient.h"
#include "support/MonitorProcess.h"
#include "support/MonitoredSetup.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace testing_support;

namespace {

constexpr auto kBound = std::chrono::seconds(90);
// The monitors' clocks start here, the first page falls due 15 seconds later.
constexpr const char* kStart = "2026-06-03 09:03:45";

CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 6, 3, hour, minute, second);
}

// The role a monitor printed last: "ACTIVE", "STANDBY", "NO CLUSTER", or "" before any.
std::string RoleOf(const MonitorProcess& monitor) {
    const std::string tag = "orvane: cluster: ";
    const size_t at = monitor.Err().rfind(tag);
    if (at == std::string::npos)
        return "";
    const size_t end = monitor.Err().find(':', at + tag.size());
    return monitor.Err().substr(at + tag.size(), end - at - tag.size());
}

// The events a monitor wrote; empty when it wrote none.
std::string Events(const MonitorProcess& monitor) {
    return std::filesystem::exists(monitor.EventLog()) ? ReadFile(monitor.EventLog()) : "";
}

int RoleLines(const MonitorProcess& monitor) {
    int n = 0;
    for (size_t at = monitor.Err().find("orvane: cluster: "); at != std::string::npos;
         at = monitor.Err().find("orvane: cluster: ", at + 1))
        ++n;
    return n;
}

class ClusterMonitors : public testing::Test {
protected:
    ScopedTimeZone zone{"Europe/Berlin"};
    MonitoredSetup setup{At(9, 0)};
    EtcdTestCluster* etcd = EtcdClusterEnvironment::Cluster();
    std::vector<std::unique_ptr<MonitorProcess>> monitors;
    std::vector<std::string> texts; // the pages' texts, in the order they fall due

    void SetUp() override {
        ASSERT_NE(etcd, nullptr);
        setup.AddUser("Ann Archer", "5550101@pager.example.org");
    }

    // `count` tasks of Ann's whose pages fall due `spacing` seconds apart from 09:04:00.
    void AddPages(int count, int spacing = 3) {
        std::vector<Item> items;
        for (int i = 0; i < count; ++i) {
            char text[32];
            std::snprintf(text, sizeof text, "Check-in %02d", i + 1);
            texts.push_back(text);
            // A task's page falls due a minute before its reminder.
            items.push_back({text, CTime(), 30, 5, At(9, 5) + CTimeSpan(i * spacing)});
        }
        setup.WriteItems("Ann Archer", items);
    }

    MonitorProcess& Start(const std::string& name, const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{"--at", kStart, "--cluster",
                                      etcd->Url(cluster_test::TestPrefix())};
        args.insert(args.end(), more.begin(), more.end());
        monitors.push_back(std::make_unique<MonitorProcess>(name, setup.File("Users.dat"), args));
        return *monitors.back();
    }

    std::vector<MonitorProcess*> All() {
        std::vector<MonitorProcess*> all;
        for (auto& m : monitors)
            all.push_back(m.get());
        return all;
    }

    bool Wait(const std::function<bool()>& done, std::chrono::milliseconds bound = kBound) {
        return WaitReading(All(), done, bound);
    }

    // The one monitor that says it is active, once exactly one does and the others stand by;
    // null when that did not come about within the bound.
    MonitorProcess* WaitForOneLeader(MonitorProcess* other = nullptr) {
        MonitorProcess* leader = nullptr;
        Wait([&] {
            leader = nullptr;
            int standby = 0;
            for (auto& m : monitors) {
                if (m.get() == other || !m->Running())
                    continue;
                const std::string role = RoleOf(*m);
                if (role == "ACTIVE")
                    leader = leader ? nullptr : m.get();
                standby += role == "STANDBY" ? 1 : 0;
            }
            return leader != nullptr;
        });
        return leader;
    }

    // How many pages in the outbox carry `text`.
    int Sent(const std::string& text) {
        int n = 0;
        for (const std::string& message : setup.Mail().OutboxMessages())
            n += message.find("\n" + text) != std::string::npos ? 1 : 0;
        return n;
    }
    bool AllSent() {
        for (const std::string& text : texts) {
            if (Sent(text) == 0)
                return false;
        }
        return true;
    }
    // Every page went out, and none twice.
    void ExpectEachSentOnce() {
        for (const std::string& text : texts)
            EXPECT_EQ(Sent(text), 1) << text;
        EXPECT_EQ(setup.Mail().OutboxMessages().size(), texts.size());
    }
    std::string Outputs() {
        std::string all;
        for (auto& m : monitors)
            all += "--- " + m->Name() + " out:\n" + m->Out() + "--- err:\n" + m->Err();
        return all;
    }
};

TEST_F(ClusterMonitors, ExactlyOneOfThreePagesAndAnEditOnAStandbyReachesTheOthers) {
    AddPages(4);
    std::map<MonitorProcess*, int> metrics; // each one's metrics port
    for (const char* name : {"a", "b", "c"}) {
        const int port = FreePort();
        metrics[&Start(name, {"--metrics", "127.0.0.1:" + std::to_string(port)})] = port;
    }
    MonitorProcess* leader = WaitForOneLeader();
    ASSERT_NE(leader, nullptr) << Outputs();
    for (const auto& [monitor, port] : metrics) {
        const HttpReply reply = HttpGet(port, "/metrics");
        EXPECT_EQ(Sample(reply.body, "orvane_cluster_active"), monitor == leader ? 1 : 0)
            << monitor->Name() << ":\n"
            << reply.body;
    }
    ASSERT_TRUE(Wait([&] { return AllSent(); })) << Outputs();
    ASSERT_TRUE(Wait([&] { return leader->CountOut("page sent: ") == 4; })) << Outputs();
    std::vector<MonitorProcess*> standbys;
    for (auto& m : monitors) {
        if (m.get() == leader)
            continue;
        standbys.push_back(m.get());
        EXPECT_EQ(RoleOf(*m), "STANDBY") << m->Err();
        // A standby runs none of the passes: it neither scans nor pages.
        EXPECT_EQ(m->Out().find("scan: "), std::string::npos) << m->Out();
        EXPECT_EQ(m->Out().find("page "), std::string::npos) << m->Out();
    }
    ExpectEachSentOnce();
    const std::string page = setup.Mail().OutboxMessages().front();
    EXPECT_NE(page.find("Message-ID: <"), std::string::npos) << page;

    std::string status;
    EXPECT_EQ(standbys[0]->RunCommand({"status"}, &status), 0) << status;
    EXPECT_NE(status.find("Cluster: STANDBY (this instance "), std::string::npos) << status;

    // An edit on a standby: handed to its monitor, published, taken by the leader (which scans
    // the changed list) and by the other standby (which saves it to its Users.dat).
    std::string output;
    ASSERT_EQ(
        standbys[0]->RunCommand({"users", "set", "1", "--display-name", "Ann (edited)"}, &output),
        0)
        << output;
    EXPECT_TRUE(Wait([&] { return leader->CountOut("scan: Ann (edited)") > 0; })) << Outputs();
    EXPECT_TRUE(Wait([&] {
        return ReadFile(standbys[1]->WorkingDirectory() + "/Users.dat").find("Ann (edited)") !=
               std::string::npos;
    }));
    ExpectEachSentOnce();
}

TEST_F(ClusterMonitors, TheStandbyTakesOverFromAKilledLeaderAndEveryPageGoesOutOnce) {
    AddPages(10);
    Start("a");
    Start("b");
    MonitorProcess* leader = WaitForOneLeader();
    ASSERT_NE(leader, nullptr) << Outputs();
    // Killed right after its second page, a few seconds before the next falls due.
    ASSERT_TRUE(Wait([&] { return leader->CountOut("page sent: ") >= 2; },
                     std::chrono::milliseconds(kBound)))
        << Outputs();
    leader->Signal(SIGKILL);
    MonitorProcess* next = WaitForOneLeader(leader);
    ASSERT_NE(next, nullptr) << Outputs();
    // It starts from the reminders the killed leader published, as a restart would.
    EXPECT_NE(next->Err().find("ACTIVE: this instance ("), std::string::npos);
    EXPECT_NE(next->Err().find("the reminders of 1 user were taken from the last leader's state"),
              std::string::npos)
        << next->Err();
    ASSERT_TRUE(Wait([&] { return AllSent(); })) << Outputs();
    ExpectEachSentOnce();
    // Killed between two sends, the leader left no claim without its record: nothing was paged
    // again as "maybe sent".
    EXPECT_EQ(Events(*next).find("it is sent again"), std::string::npos) << Events(*next);
}

TEST_F(ClusterMonitors, AStoppedLeaderWakesWithoutItsLeaseAndPagesNothing) {
    AddPages(8);
    Start("a");
    Start("b");
    MonitorProcess* leader = WaitForOneLeader();
    ASSERT_NE(leader, nullptr) << Outputs();
    ASSERT_TRUE(Wait([&] { return leader->CountOut("page sent: ") >= 1; })) << Outputs();
    leader->Signal(SIGSTOP);
    MonitorProcess* next = WaitForOneLeader(leader);
    ASSERT_NE(next, nullptr) << Outputs();
    ASSERT_TRUE(Wait([&] { return next->CountOut("page sent: ") >= 1; })) << Outputs();

    const size_t before = leader->Out().size();
    const int roles = RoleLines(*leader);
    leader->Signal(SIGCONT);
    ASSERT_TRUE(Wait([&] { return RoleLines(*leader) > roles; })) << Outputs();
    EXPECT_EQ(RoleOf(*leader), "STANDBY") << leader->Err();
    ASSERT_TRUE(Wait([&] { return AllSent(); })) << Outputs();
    EXPECT_EQ(leader->CountOut("page sent: ", before), 0) << leader->Out();
    ExpectEachSentOnce();
}

TEST_F(ClusterMonitors, OneEtcdMemberLostChangesNothingTwoStopAllPagingUntilTheyReturn) {
    cluster_test::RestoreCluster restore(*etcd);
    AddPages(8, 4);
    Start("a");
    Start("b");
    MonitorProcess* leader = WaitForOneLeader();
    ASSERT_NE(leader, nullptr) << Outputs();
    // etcd's own leader goes: the others elect one and keep the quorum.
    const int first = std::max(etcd->Leader(), 0);
    etcd->Kill(first);
    ASSERT_TRUE(Wait([&] { return leader->CountOut("page sent: ") >= 2; })) << Outputs();
    for (auto& m : monitors)
        EXPECT_EQ(RoleLines(*m), 1) << "no role changed:\n" << m->Err();

    const int second = (first + 1) % etcd->Members();
    etcd->Kill(second);
    ASSERT_TRUE(Wait([&] {
        for (auto& m : monitors) {
            if (RoleOf(*m) != "NO CLUSTER")
                return false;
        }
        return true;
    })) << Outputs();
    const size_t pagedBefore = setup.Mail().OutboxMessages().size();
    // Without a quorum nobody pages, though pages fall due every 4 seconds.
    EXPECT_FALSE(Wait([&] { return setup.Mail().OutboxMessages().size() > pagedBefore; },
                      std::chrono::seconds(9)));
    EXPECT_NE(Events(*leader).find("pages nothing until it reaches etcd again"), std::string::npos)
        << Events(*leader);

    ASSERT_TRUE(etcd->Restart(first));
    ASSERT_TRUE(etcd->Restart(second));
    ASSERT_TRUE(etcd->WaitHealthy());
    ASSERT_NE(WaitForOneLeader(), nullptr) << Outputs();
    ASSERT_TRUE(Wait([&] { return AllSent(); })) << Outputs();
    ExpectEachSentOnce();
}

} // namespace
