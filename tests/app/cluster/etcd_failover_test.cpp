// The etcd client when members fail: killed, stopped, or too few left for a quorum.
//
// Requests go on to the next member within their time bound, the member that answered is
// remembered, and without a quorum every request fails within its bound until the members
// return.
#include "ClusterTestSupport.h"
#include "app/cluster/EtcdClient.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace cluster {
namespace {

using cluster_test::ConfigFor;
using cluster_test::ElapsedMs;
using cluster_test::RestoreCluster;
using cluster_test::WaitFor;
using testing_support::EtcdClusterEnvironment;
using testing_support::EtcdTestCluster;
using SteadyClock = std::chrono::steady_clock;

class EtcdFailoverTest : public testing::Test {
protected:
    void SetUp() override {
        m_cluster = EtcdClusterEnvironment::Cluster();
        ASSERT_NE(m_cluster, nullptr);
        m_restore = std::make_unique<RestoreCluster>(*m_cluster);
        m_config = ConfigFor(*m_cluster);
        m_root = m_config.url.KeyRoot();
    }
    void TearDown() override { m_restore.reset(); }

    std::string Name(int member) const {
        return "127.0.0.1:" + std::to_string(m_cluster->ClientPort(member));
    }

    EtcdTestCluster* m_cluster = nullptr;
    std::unique_ptr<RestoreCluster> m_restore;
    ClientConfig m_config;
    std::string m_root;
};

// The first member named cannot serve; the request goes on to the next one, and the next
// request goes there straight away. The member is one of etcd's followers, so that the cluster
// itself goes on serving without a pause.
TEST_F(EtcdFailoverTest, GoesOnToTheNextMemberAndRemembersIt) {
    const int leader = m_cluster->Leader();
    ASSERT_GE(leader, 0);
    const int victim = (leader + 1) % m_cluster->Members();
    ClientConfig config = m_config;
    std::rotate(config.url.members.begin(), config.url.members.begin() + victim,
                config.url.members.end());

    struct Row {
        const char* fault;
        std::function<void()> inflict;
        const char* words; // how the first member's failure is told
        long atMostMs; // far below "never": a busy machine must not fail it, a missing bound does
    };
    const long requestMs = config.requestTimeoutMs;
    const Row rows[] = {
        {"killed", [&] { m_cluster->Kill(victim); }, "refused the connection", requestMs + 4000},
        {"stopped", [&] { m_cluster->Pause(victim); }, "did not answer within", requestMs + 4000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        EtcdClient client(config);
        ASSERT_TRUE(client.Put(m_root + "k", "before").IsOk());
        ASSERT_EQ(client.CurrentMember().port, m_cluster->ClientPort(victim));
        row.inflict();

        const auto start = SteadyClock::now();
        const Status put = client.Put(m_root + "k", row.fault);
        ASSERT_TRUE(put.IsOk()) << put.message;
        EXPECT_LT(ElapsedMs(start), row.atMostMs);
        EXPECT_EQ(client.CurrentMember().port, config.url.members[1].port);
        EtcdClient::Stats stats = client.GetStats();
        EXPECT_EQ(stats.failovers, 1u);

        const uint64_t requests = stats.requests;
        RangeResult read;
        ASSERT_TRUE(client.Range(Op::Get(m_root + "k"), read).IsOk());
        EXPECT_EQ(read.kvs.at(0).value, row.fault);
        stats = client.GetStats();
        EXPECT_EQ(stats.requests, requests + 1) << "straight to the member that answered";
        EXPECT_EQ(stats.failovers, 1u);

        // With only the faulty member named, the fault is what the sentence tells.
        ClientConfig alone = config;
        alone.url.members.resize(1);
        EtcdClient lonely(alone);
        const Status s = lonely.Range(Op::Get(m_root + "k"), read);
        EXPECT_EQ(s.kind, Status::Unreachable);
        EXPECT_NE(s.message.find(Name(victim) + " " + row.words), std::string::npos) << s.message;

        m_cluster->Resume(victim);
        if (!m_cluster->Running(victim)) {
            ASSERT_TRUE(m_cluster->Restart(victim));
        }
        ASSERT_TRUE(m_cluster->WaitHealthy()) << m_cluster->Logs();
    }
}

// Two of three members keep the quorum: whichever one goes, also etcd's own leader, a lease
// granted before lives on and writes and transactions go through. When the leader went, etcd
// elects another first (about a second), during which requests may fail; they are asked again
// as a monitor's next tick would.
TEST_F(EtcdFailoverTest, OneMemberDownChangesNothing) {
    EtcdClient client(m_config);
    Lease lease;
    ASSERT_TRUE(client.Grant(30, lease).IsOk());
    const int leader = m_cluster->Leader();
    ASSERT_GE(leader, 0);
    for (int down : {(leader + 1) % 3, leader, (leader + 2) % 3}) {
        SCOPED_TRACE("member " + std::to_string(down) + (down == leader ? ", the leader," : "") +
                     " killed");
        m_cluster->Kill(down);
        int64_t ttl = 0;
        Status last;
        EXPECT_TRUE(WaitFor([&] { return (last = client.KeepAlive(lease.id, ttl)).IsOk(); },
                            std::chrono::seconds(10)))
            << last.message;
        EXPECT_EQ(ttl, 30) << "the lease lived on";
        EXPECT_TRUE(WaitFor(
            [&] {
                return (last = client.Put(m_root + "k", std::to_string(down), lease.id)).IsOk();
            },
            std::chrono::seconds(10)))
            << last.message;
        Txn txn;
        txn.compare = {Compare::ValueIs(m_root + "k", Compare::Equal, std::to_string(down))};
        txn.success = {Op::Put(m_root + "seen", std::to_string(down))};
        TxnResult result;
        ASSERT_TRUE(client.Transaction(txn, result).IsOk());
        EXPECT_TRUE(result.succeeded);
        EXPECT_NE(client.CurrentMember().port, m_cluster->ClientPort(down));
        ASSERT_TRUE(m_cluster->Restart(down));
        ASSERT_TRUE(m_cluster->WaitHealthy()) << m_cluster->Logs();
    }
    client.Revoke(lease.id);
}

// With two members killed the one left has no quorum: every request fails within the
// operation's bound, saying so, and goes through again once the members are back.
TEST_F(EtcdFailoverTest, WithoutQuorumRequestsFailWithinTheirBoundAndRecover) {
    EtcdClient client(m_config);
    ASSERT_TRUE(client.Put(m_root + "k", "before").IsOk());
    Lease lease;
    ASSERT_TRUE(client.Grant(30, lease).IsOk());
    m_cluster->Kill(1);
    m_cluster->Kill(2);

    // Room for a busy machine; without the bound a request would wait for good.
    const long boundMs = m_config.operationTimeoutMs + 4000;
    for (int i = 0; i < 3; ++i) {
        auto start = SteadyClock::now();
        RangeResult read;
        const Status s = client.Range(Op::Get(m_root + "k"), read);
        EXPECT_LT(ElapsedMs(start), boundMs);
        EXPECT_EQ(s.kind, Status::Unreachable);
        EXPECT_NE(s.message.find("No member of the etcd cluster answered"), std::string::npos);
        EXPECT_NE(s.message.find(Name(1) + " refused the connection"), std::string::npos)
            << s.message;

        start = SteadyClock::now();
        EXPECT_FALSE(client.Put(m_root + "k", "during").IsOk());
        EXPECT_LT(ElapsedMs(start), boundMs);
        int64_t ttl = 0;
        start = SteadyClock::now();
        EXPECT_FALSE(client.KeepAlive(lease.id, ttl).IsOk());
        EXPECT_LT(ElapsedMs(start), boundMs);
    }

    ASSERT_TRUE(m_cluster->Restart(1));
    ASSERT_TRUE(m_cluster->Restart(2));
    ASSERT_TRUE(WaitFor([&] { return client.Put(m_root + "k", "after").IsOk(); },
                        std::chrono::seconds(30)));
    RangeResult read;
    ASSERT_TRUE(client.Range(Op::Get(m_root + "k"), read).IsOk());
    EXPECT_EQ(read.kvs.at(0).value, "after");
    client.Revoke(lease.id);
}

} // namespace
} // namespace cluster
