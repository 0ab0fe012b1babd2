// The election against a real cluster: one leader, takeovers, and the leader's own judgement.
//
// A standby takes over when the leader stops renewing or resigns; a leader judges on its own
// clock that it no longer leads once its lease time has passed, before it asks etcd anything.
#include "ClusterTestSupport.h"
#include "app/cluster/Election.h"

#include <gtest/gtest.h>
#include <memory>

namespace cluster {
namespace {

using cluster_test::ConfigFor;
using cluster_test::ElapsedMs;
using cluster_test::RestoreCluster;
using cluster_test::WaitFor;
using testing_support::EtcdClusterEnvironment;
using testing_support::EtcdTestCluster;

constexpr int64_t kTtl = 3;
constexpr int64_t kMarginMs = 1000;

// One instance: its own client and its election.
struct Candidate {
    Candidate(const ClientConfig& config, const std::string& key, const std::string& name,
              std::function<int64_t()> clock = BootMilliseconds)
        : client(config), election(client, key, {name, kTtl, kMarginMs, std::move(clock)}) {}
    EtcdClient client;
    Election election;
};

class ElectionTest : public testing::Test {
protected:
    void SetUp() override {
        m_cluster = EtcdClusterEnvironment::Cluster();
        ASSERT_NE(m_cluster, nullptr);
        m_config = ConfigFor(*m_cluster);
        m_key = m_config.url.LeaderKey();
    }

    std::unique_ptr<Candidate> Make(const std::string& name,
                                    std::function<int64_t()> clock = BootMilliseconds) {
        return std::make_unique<Candidate>(m_config, m_key, name, std::move(clock));
    }

    // Steps every candidate every 100 ms until `done`, within `bound`; whether it came. At no
    // moment may two of them believe that they lead.
    bool StepUntil(const std::vector<Candidate*>& candidates, const std::function<bool()>& done,
                   std::chrono::milliseconds bound) {
        return WaitFor(
            [&] {
                for (Candidate* c : candidates) {
                    c->election.Step();
                    int leaders = 0;
                    for (Candidate* other : candidates)
                        leaders += other->election.IsLeader() ? 1 : 0;
                    EXPECT_LE(leaders, 1) << "two leaders at once";
                }
                return done();
            },
            bound);
    }

    EtcdTestCluster* m_cluster = nullptr;
    ClientConfig m_config;
    std::string m_key;
};

TEST_F(ElectionTest, ExactlyOneOfThreeLeadsAndAllAgreeWhich) {
    auto a = Make("a"), b = Make("b"), c = Make("c");
    const std::vector<Candidate*> all = {a.get(), b.get(), c.get()};
    for (int round = 0; round < 5; ++round) {
        for (Candidate* x : all)
            x->election.Step();
    }
    int leaders = 0;
    for (Candidate* x : all) {
        EXPECT_TRUE(x->election.LastError().empty()) << x->election.LastError();
        EXPECT_NE(x->election.LeaseId(), 0) << "a standby holds a lease too, to take over at once";
        if (x->election.IsLeader()) {
            ++leaders;
            EXPECT_EQ(x->election.CurrentRole(), Role::Active);
            EXPECT_EQ(x->election.Leader(), x->election.Candidate());
            EXPECT_GT(x->election.LeadershipRevision(), 0);
        } else {
            EXPECT_EQ(x->election.CurrentRole(), Role::Standby);
            EXPECT_EQ(x->election.LeadershipRevision(), 0);
        }
        EXPECT_EQ(x->election.Leader(), a->election.Leader());
    }
    EXPECT_EQ(leaders, 1);
    EXPECT_EQ(a->election.Leader(), "a") << "the first to step took the free key";
    for (Candidate* x : all)
        x->election.Resign();
}

// The leader stops renewing (it died, or hangs): a standby takes over once etcd lets the lease
// run out, and never while the old leader still believes that it leads.
TEST_F(ElectionTest, AStandbyTakesOverWhenTheLeaderStopsRenewing) {
    auto a = Make("a"), b = Make("b");
    a->election.Step();
    b->election.Step();
    ASSERT_TRUE(a->election.IsLeader());
    const auto stopped = std::chrono::steady_clock::now();
    // From here on only b steps; a's belief is still checked at every step of b's.
    ASSERT_TRUE(StepUntil(
        {b.get()},
        [&] {
            EXPECT_FALSE(a->election.IsLeader() && b->election.IsLeader());
            return b->election.IsLeader();
        },
        std::chrono::seconds(kTtl + 5)));
    EXPECT_GE(ElapsedMs(stopped), (kTtl - 1) * 1000) << "not before etcd let the lease run out";
    EXPECT_EQ(b->election.Leader(), "b");
    EXPECT_FALSE(a->election.IsLeader());
    EXPECT_EQ(a->election.CurrentRole(), Role::Standby);

    // When a steps again its lease is gone: it takes a new one and stands by.
    EXPECT_EQ(a->election.Step(), Role::Standby);
    EXPECT_EQ(a->election.Leader(), "b");
    b->election.Resign();
    a->election.Resign();
}

TEST_F(ElectionTest, AResignationHandsOverAtTheNextStep) {
    auto a = Make("a"), b = Make("b");
    a->election.Step();
    b->election.Step();
    ASSERT_TRUE(a->election.IsLeader());
    const int64_t first = a->election.LeadershipRevision();
    a->election.Resign();
    EXPECT_FALSE(a->election.IsLeader());
    EXPECT_EQ(a->election.LeaseId(), 0);
    EXPECT_EQ(b->election.Step(), Role::Active);
    EXPECT_GT(b->election.LeadershipRevision(), first) << "every leadership has a later revision";
    EXPECT_EQ(a->election.Step(), Role::Standby);
    b->election.Resign();
}

// The local clock alone ends the belief: a process stopped for longer than its lease's time
// finds, before it asks etcd anything, that it does not lead.
TEST_F(ElectionTest, TheLeaderJudgesOnItsOwnClock) {
    int64_t now = 1000000;
    auto a = Make("a", [&] { return now; });
    ASSERT_EQ(a->election.Step(), Role::Active);
    const int64_t until = a->election.LeaseValidUntil();
    EXPECT_EQ(until, now + kTtl * 1000 - kMarginMs)
        << "counted from the renewal's sending, less the margin";

    struct Row {
        int64_t advanceMs;
        bool leads;
    };
    for (const Row& row : {Row{kTtl * 1000 - kMarginMs - 1, true}, Row{1, false}}) {
        now += row.advanceMs;
        const uint64_t requests = a->client.GetStats().requests;
        EXPECT_EQ(a->election.IsLeader(), row.leads);
        EXPECT_EQ(a->election.CurrentRole(), row.leads ? Role::Active : Role::Standby);
        EXPECT_EQ(a->client.GetStats().requests, requests) << "judged without asking etcd";
    }
    // etcd's own time has hardly moved: the lease is alive, and a step renews the belief.
    EXPECT_EQ(a->election.Step(), Role::Active);
    EXPECT_EQ(a->election.LeaseValidUntil(), now + kTtl * 1000 - kMarginMs);
    a->election.Resign();
}

// The lease ran out while the leader was away (here: revoked behind its back): at its next step
// it finds the lease gone, takes a new one, and campaigns afresh.
TEST_F(ElectionTest, ALeaderWhoseLeaseIsGoneStartsAfresh) {
    auto a = Make("a");
    ASSERT_EQ(a->election.Step(), Role::Active);
    const int64_t lease = a->election.LeaseId();
    const int64_t revision = a->election.LeadershipRevision();
    EtcdClient admin(m_config);
    ASSERT_TRUE(admin.Revoke(lease).IsOk());
    EXPECT_TRUE(a->election.IsLeader()) << "it cannot know before it asks";
    EXPECT_EQ(a->election.Step(), Role::Active);
    EXPECT_NE(a->election.LeaseId(), lease);
    EXPECT_GT(a->election.LeadershipRevision(), revision);
    a->election.Resign();
}

// A key under our name but on another lease (an earlier run of this instance, whose lease has
// not run out yet) is not ours: we lead only once it is gone and we took it ourselves.
TEST_F(ElectionTest, OurNameOnAnotherLeaseIsNotOurs) {
    EtcdClient admin(m_config);
    Lease earlier;
    ASSERT_TRUE(admin.Grant(30, earlier).IsOk());
    ASSERT_TRUE(admin.Put(m_key, "a", earlier.id).IsOk());
    auto a = Make("a");
    EXPECT_EQ(a->election.Step(), Role::Standby);
    EXPECT_EQ(a->election.Leader(), "a");
    EXPECT_FALSE(a->election.IsLeader());
    ASSERT_TRUE(admin.Revoke(earlier.id).IsOk());
    EXPECT_EQ(a->election.Step(), Role::Active);
    a->election.Resign();
}

// Without etcd an instance neither leads nor stands by: it says why, and a leader stops
// believing it leads at once, although its lease has time left.
TEST_F(ElectionTest, OutOfReachOfEtcdNoOneLeads) {
    RestoreCluster restore(*m_cluster);
    ClientConfig nowhere = m_config;
    nowhere.url.members = {{"127.0.0.1", testing_support::FreePort()}};
    Candidate lost(nowhere, m_key, "lost");
    EXPECT_EQ(lost.election.Step(), Role::NoCluster);
    EXPECT_NE(lost.election.LastError().find("No member of the etcd cluster answered"),
              std::string::npos);

    // a's clock stands still: its lease never runs out by its own judgement.
    const int64_t now = BootMilliseconds();
    auto a = Make("a", [now] { return now; }), b = Make("b");
    ASSERT_EQ(a->election.Step(), Role::Active);
    ASSERT_EQ(b->election.Step(), Role::Standby);
    m_cluster->Kill(1);
    m_cluster->Kill(2);
    EXPECT_EQ(a->election.Step(), Role::NoCluster);
    EXPECT_FALSE(a->election.IsLeader());
    EXPECT_GT(a->election.LeaseValidUntil(), now) << "although its lease has time left";
    EXPECT_NE(a->election.LastError().find("No member of the etcd cluster answered"),
              std::string::npos);
    EXPECT_EQ(b->election.Step(), Role::NoCluster);

    ASSERT_TRUE(m_cluster->Restart(1));
    ASSERT_TRUE(m_cluster->Restart(2));
    // Back with a quorum, exactly one leads again: a, if its lease outlived the outage.
    ASSERT_TRUE(StepUntil(
        {a.get(), b.get()}, [&] { return a->election.IsLeader() || b->election.IsLeader(); },
        std::chrono::seconds(30)));
    EXPECT_EQ(a->election.Leader(), b->election.Leader());
    a->election.Resign();
    b->election.Resign();
}

} // namespace
} // namespace cluster
