// The etcd client against a real cluster: keys, transactions, leases, and errors in words.
#include "ClusterTestSupport.h"
#include "app/cluster/EtcdClient.h"

#include <gtest/gtest.h>

namespace cluster {
namespace {

using cluster_test::ConfigFor;
using cluster_test::ElapsedMs;
using cluster_test::WaitFor;
using testing_support::EtcdClusterEnvironment;
using testing_support::EtcdTestCluster;

class EtcdClientTest : public testing::Test {
protected:
    void SetUp() override {
        m_cluster = EtcdClusterEnvironment::Cluster();
        ASSERT_NE(m_cluster, nullptr);
        m_config = ConfigFor(*m_cluster);
        m_root = m_config.url.KeyRoot();
    }

    EtcdTestCluster* m_cluster = nullptr;
    ClientConfig m_config;
    std::string m_root;
};

TEST_F(EtcdClientTest, KeysAndValuesTravelAsBytes) {
    EtcdClient client(m_config);
    // NUL, bytes that are no UTF-8, and text that would need escaping in JSON.
    const std::string binaryKey = m_root + std::string("k\0\xff\"\\", 6);
    const std::string values[] = {std::string("v\0\x80\xfe", 4), "", "{\"a\":1}\n",
                                  std::string(100000, 'x')};
    int64_t last = 0;
    for (const std::string& value : values) {
        int64_t revision = 0;
        ASSERT_TRUE(client.Put(binaryKey, value, 0, &revision).IsOk());
        EXPECT_GT(revision, last) << "every write makes a new revision";
        last = revision;
        RangeResult read;
        ASSERT_TRUE(client.Range(Op::Get(binaryKey), read).IsOk());
        ASSERT_EQ(read.kvs.size(), 1u);
        EXPECT_EQ(read.kvs[0].key, binaryKey);
        EXPECT_EQ(read.kvs[0].value, value);
        EXPECT_EQ(read.kvs[0].modRevision, revision);
        EXPECT_GE(read.revision, revision);
    }
    RangeResult read;
    ASSERT_TRUE(client.Range(Op::Get(binaryKey), read).IsOk());
    EXPECT_EQ(read.kvs[0].version, 4);
    EXPECT_LT(read.kvs[0].createRevision, read.kvs[0].modRevision);

    // The history: the first value at its revision, until it is compacted away.
    Op first = Op::Get(binaryKey);
    first.revision = read.kvs[0].createRevision;
    ASSERT_TRUE(client.Range(first, read).IsOk());
    EXPECT_EQ(read.kvs.at(0).value, values[0]);
    ASSERT_TRUE(client.Compact(last).IsOk());
    const Status compacted = client.Range(first, read);
    EXPECT_EQ(compacted.kind, Status::Refused);
    EXPECT_EQ(compacted.code, Status::kOutOfRange);
    EXPECT_NE(compacted.message.find("compacted"), std::string::npos) << compacted.message;
}

TEST_F(EtcdClientTest, PrefixesReadAndDeleteTheirKeysOnly) {
    EtcdClient client(m_config);
    for (const char* name : {"a/1", "a/2", "a/3/x", "a0", "b/1"})
        ASSERT_TRUE(client.Put(m_root + name, std::string("value of ") + name).IsOk());
    // A prefix whose last byte is 0xff: its range must still end right after it.
    ASSERT_TRUE(client.Put(m_root + "c\xff" + "1", "high").IsOk());
    ASSERT_TRUE(client.Put(m_root + "d", "after").IsOk());

    RangeResult all;
    ASSERT_TRUE(client.Range(Op::GetPrefix(m_root + "a/"), all).IsOk());
    std::vector<std::string> keys;
    for (const KeyValue& kv : all.kvs) {
        keys.push_back(kv.key.substr(m_root.size()));
        EXPECT_EQ(kv.value, "value of " + keys.back());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"a/1", "a/2", "a/3/x"}));
    EXPECT_EQ(all.count, 3);

    RangeResult keysOnly;
    ASSERT_TRUE(client.Range(Op::GetPrefix(m_root + "a/", true), keysOnly).IsOk());
    ASSERT_EQ(keysOnly.kvs.size(), 3u);
    EXPECT_TRUE(keysOnly.kvs[0].value.empty());
    EXPECT_EQ(keysOnly.kvs[0].modRevision, all.kvs[0].modRevision);

    RangeResult high;
    ASSERT_TRUE(client.Range(Op::GetPrefix(m_root + "c\xff"), high).IsOk());
    ASSERT_EQ(high.kvs.size(), 1u);
    EXPECT_EQ(high.kvs[0].value, "high");

    int64_t deleted = 0;
    ASSERT_TRUE(client.Delete(Op::DeletePrefix(m_root + "a/"), &deleted).IsOk());
    EXPECT_EQ(deleted, 3);
    RangeResult rest;
    ASSERT_TRUE(client.Range(Op::GetPrefix(m_root), rest).IsOk());
    EXPECT_EQ(rest.count, 4) << "a0, b/1, c\\xff1 and d stay";
    ASSERT_TRUE(client.Delete(Op::Delete(m_root + "missing"), &deleted).IsOk());
    EXPECT_EQ(deleted, 0);
}

// Each compare is made against one key whose state is known; what etcd decides is checked, not
// what the client thinks it should.
TEST_F(EtcdClientTest, TransactionsCompareEveryTarget) {
    EtcdClient client(m_config);
    const std::string key = m_root + "k", missing = m_root + "missing";
    Lease lease;
    ASSERT_TRUE(client.Grant(60, lease).IsOk());
    ASSERT_TRUE(client.Put(key, "one").IsOk());
    ASSERT_TRUE(client.Put(key, "two", lease.id).IsOk());
    RangeResult state;
    ASSERT_TRUE(client.Range(Op::Get(key), state).IsOk());
    const KeyValue kv = state.kvs.at(0);
    ASSERT_EQ(kv.version, 2);

    struct Row {
        const char* what;
        Compare compare;
        bool holds;
    };
    const Row rows[] = {
        {"version equal", Compare::Number(Compare::Version, key, Compare::Equal, 2), true},
        {"version greater", Compare::Number(Compare::Version, key, Compare::Greater, 2), false},
        {"version less", Compare::Number(Compare::Version, key, Compare::Less, 3), true},
        {"create equal", Compare::Number(Compare::Create, key, Compare::Equal, kv.createRevision),
         true},
        {"mod equal", Compare::Number(Compare::Mod, key, Compare::Equal, kv.modRevision), true},
        {"mod of the first write",
         Compare::Number(Compare::Mod, key, Compare::Equal, kv.createRevision), false},
        {"mod not equal", Compare::Number(Compare::Mod, key, Compare::NotEqual, kv.modRevision),
         false},
        {"value equal", Compare::ValueIs(key, Compare::Equal, "two"), true},
        {"value not equal", Compare::ValueIs(key, Compare::NotEqual, "two"), false},
        {"value greater", Compare::ValueIs(key, Compare::Greater, "thr"), true},
        {"lease equal", Compare::Number(Compare::Lease, key, Compare::Equal, lease.id), true},
        {"lease of another", Compare::Number(Compare::Lease, key, Compare::Equal, lease.id + 1),
         false},
        {"present key is not absent", Compare::Absent(key), false},
        {"missing key is absent", Compare::Absent(missing), true},
        {"missing key has version 0", Compare::Number(Compare::Version, missing, Compare::Equal, 0),
         true},
        {"missing key is on no lease",
         Compare::Number(Compare::Lease, missing, Compare::Equal, lease.id), false},
        {"missing key's value", Compare::ValueIs(missing, Compare::Equal, ""), false},
        {"missing key's value, not equal", Compare::ValueIs(missing, Compare::NotEqual, "x"),
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Txn txn;
        txn.compare.push_back(row.compare);
        txn.success = {Op::Get(key), Op::Put(m_root + "branch", "success")};
        txn.failure = {Op::Put(m_root + "branch", "failure"), Op::Get(key)};
        TxnResult result;
        ASSERT_TRUE(client.Transaction(txn, result).IsOk());
        EXPECT_EQ(result.succeeded, row.holds);
        ASSERT_EQ(result.results.size(), 2u);
        // The range of the branch that ran is answered at its place in the branch.
        const RangeResult& read = result.results[row.holds ? 0 : 1].range;
        ASSERT_EQ(read.kvs.size(), 1u);
        EXPECT_EQ(read.kvs[0].value, "two");
        RangeResult branch;
        ASSERT_TRUE(client.Range(Op::Get(m_root + "branch"), branch).IsOk());
        EXPECT_EQ(branch.kvs.at(0).value, row.holds ? "success" : "failure");
        EXPECT_EQ(branch.kvs.at(0).modRevision, result.revision);
    }

    // Several compares: all must hold.
    Txn both;
    both.compare = {Compare::ValueIs(key, Compare::Equal, "two"), Compare::Absent(key)};
    both.success = {Op::Delete(key)};
    TxnResult result;
    ASSERT_TRUE(client.Transaction(both, result).IsOk());
    EXPECT_FALSE(result.succeeded);
    both.compare.pop_back();
    ASSERT_TRUE(client.Transaction(both, result).IsOk());
    EXPECT_TRUE(result.succeeded);
    ASSERT_EQ(result.results.size(), 1u);
    EXPECT_EQ(result.results[0].deleted, 1);
    client.Revoke(lease.id);
}

TEST_F(EtcdClientTest, LeasesAreGrantedRenewedAndRevokedWithTheirKeys) {
    EtcdClient client(m_config);
    Lease lease;
    ASSERT_TRUE(client.Grant(30, lease).IsOk());
    EXPECT_NE(lease.id, 0);
    EXPECT_EQ(lease.ttlSeconds, 30);
    int64_t ttl = 0, granted = 0;
    ASSERT_TRUE(client.TimeToLive(lease.id, ttl, granted).IsOk());
    EXPECT_EQ(granted, 30);
    EXPECT_GT(ttl, 25);
    ASSERT_TRUE(client.KeepAlive(lease.id, ttl).IsOk());
    EXPECT_EQ(ttl, 30);

    ASSERT_TRUE(client.Put(m_root + "held", "x", lease.id).IsOk());
    ASSERT_TRUE(client.Revoke(lease.id).IsOk());
    RangeResult read;
    ASSERT_TRUE(client.Range(Op::Get(m_root + "held"), read).IsOk());
    EXPECT_TRUE(read.kvs.empty()) << "a revoked lease takes its keys with it";
    ASSERT_TRUE(client.TimeToLive(lease.id, ttl, granted).IsOk());
    EXPECT_EQ(ttl, -1);

    const Status renewed = client.KeepAlive(lease.id, ttl);
    EXPECT_EQ(renewed.kind, Status::Refused);
    EXPECT_EQ(renewed.code, Status::kNotFound);
    EXPECT_NE(renewed.message.find(std::to_string(lease.id)), std::string::npos) << renewed.message;
    EXPECT_TRUE(client.Revoke(lease.id).IsOk()) << "revoking twice is fine";

    // A key cannot be put on a lease that is gone.
    const Status put = client.Put(m_root + "late", "x", lease.id);
    EXPECT_EQ(put.kind, Status::Refused);
    EXPECT_EQ(put.code, Status::kNotFound);
    EXPECT_NE(put.message.find("etcd member 127.0.0.1:"), std::string::npos) << put.message;
    EXPECT_NE(put.message.find("lease not found"), std::string::npos) << put.message;
}

// etcd raises a TTL below its minimum (one and a half election timeouts, rounded up: 2 s with
// the default timing); a lease left alone runs out and takes its key.
TEST_F(EtcdClientTest, ALeaseLeftAloneRunsOut) {
    EtcdClient client(m_config);
    Lease lease;
    ASSERT_TRUE(client.Grant(1, lease).IsOk());
    EXPECT_EQ(lease.ttlSeconds, 2);
    ASSERT_TRUE(client.Put(m_root + "held", "x", lease.id).IsOk());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor(
        [&] {
            RangeResult read;
            return client.Range(Op::Get(m_root + "held"), read).IsOk() && read.kvs.empty();
        },
        std::chrono::seconds(10)));
    EXPECT_GE(ElapsedMs(start), 1000) << "not before its time";
    int64_t ttl = 0, granted = 0;
    ASSERT_TRUE(client.TimeToLive(lease.id, ttl, granted).IsOk());
    EXPECT_EQ(ttl, -1);
}

TEST_F(EtcdClientTest, RequestsReuseOneConnection) {
    EtcdClient client(m_config);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(client.Put(m_root + "k", std::to_string(i)).IsOk());
    const EtcdClient::Stats stats = client.GetStats();
    EXPECT_EQ(stats.requests, 20u);
    EXPECT_EQ(stats.connections, 1u);
    EXPECT_EQ(stats.failovers, 0u);
}

// Servers that are not etcd's gateway, or not there: each member's failure is named.
TEST_F(EtcdClientTest, MembersThatCannotServeAreNamedWithTheirFault) {
    const int closed = testing_support::FreePort();
    ClientConfig config = m_config;
    config.url.members = {{"127.0.0.1", closed}, {"127.0.0.1", m_cluster->PeerPort(0)}};
    EtcdClient client(config);
    RangeResult read;
    const Status s = client.Range(Op::Get(m_root + "k"), read);
    EXPECT_EQ(s.kind, Status::Unreachable);
    const std::string closedName = "127.0.0.1:" + std::to_string(closed);
    const std::string peerName = "127.0.0.1:" + std::to_string(m_cluster->PeerPort(0));
    EXPECT_NE(s.message.find("No member of the etcd cluster answered: " + closedName +
                             " refused the connection"),
              std::string::npos)
        << s.message;
    EXPECT_NE(s.message.find("; " + peerName + " does not offer etcd's v3 JSON gateway"),
              std::string::npos)
        << s.message;
}

} // namespace
} // namespace cluster
