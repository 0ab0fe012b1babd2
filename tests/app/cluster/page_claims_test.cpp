// Page claims against a real cluster: only the leader claims, once per page, never after a record.
//
// A claim that a leader left behind is seen with its age and can be taken over once.
#include "ClusterTestSupport.h"
#include "app/cluster/PageClaims.h"

#include <gtest/gtest.h>
#include <memory>

namespace cluster {
namespace {

using Outcome = PageClaims::Outcome;
using cluster_test::ConfigFor;
using testing_support::EtcdClusterEnvironment;

struct Instance {
    Instance(const ClientConfig& config, const std::string& name)
        : client(config),
          election(client, config.url.LeaderKey(), {name, 3, 1000, BootMilliseconds}),
          claims(client, config.url.PagesRoot()) {}
    EtcdClient client;
    Election election;
    PageClaims claims;
};

class PageClaimsTest : public testing::Test {
protected:
    void SetUp() override {
        auto* cluster = EtcdClusterEnvironment::Cluster();
        ASSERT_NE(cluster, nullptr);
        m_config = ConfigFor(*cluster);
        m_leader = std::make_unique<Instance>(m_config, "leader");
        m_standby = std::make_unique<Instance>(m_config, "standby");
        ASSERT_EQ(m_leader->election.Step(), Role::Active);
        ASSERT_EQ(m_standby->election.Step(), Role::Standby);
    }
    void TearDown() override {
        if (m_leader)
            m_leader->election.Resign();
        if (m_standby)
            m_standby->election.Resign();
    }

    // The leader steps down and the standby takes over.
    void HandOver() {
        m_leader->election.Resign();
        ASSERT_EQ(m_standby->election.Step(), Role::Active);
        ASSERT_EQ(m_leader->election.Step(), Role::Standby);
    }

    ClientConfig m_config;
    std::unique_ptr<Instance> m_leader, m_standby;
};

TEST_F(PageClaimsTest, TheLeaderClaimsAPageOnce) {
    const auto claimed = m_leader->claims.Claim(m_leader->election, "page-1", 1700000000000);
    ASSERT_EQ(claimed.outcome, Outcome::Claimed) << claimed.error;
    EXPECT_EQ(claimed.claim.candidate, "leader");
    EXPECT_EQ(claimed.claim.lease, m_leader->election.LeaseId());
    EXPECT_EQ(claimed.claim.claimedAtMs, 1700000000000);
    EXPECT_GT(claimed.claim.revision, 0);

    // The same claim again (a retried request that had gone through): still ours, unchanged.
    const auto again = m_leader->claims.Claim(m_leader->election, "page-1", 1700000005000);
    EXPECT_EQ(again.outcome, Outcome::Claimed);
    EXPECT_EQ(again.claim.revision, claimed.claim.revision);
    EXPECT_EQ(again.claim.claimedAtMs, 1700000000000);

    // A standby never claims, and does not even ask etcd.
    const uint64_t requests = m_standby->client.GetStats().requests;
    EXPECT_EQ(m_standby->claims.Claim(m_standby->election, "page-2", 0).outcome,
              Outcome::NotLeader);
    EXPECT_EQ(m_standby->client.GetStats().requests, requests);

    // After a handover the new leader finds the claim: maybe sent, whose and since when.
    HandOver();
    const auto found = m_standby->claims.Claim(m_standby->election, "page-1", 1700000009000);
    EXPECT_EQ(found.outcome, Outcome::ClaimedBefore);
    EXPECT_EQ(found.claim.candidate, "leader");
    EXPECT_EQ(found.claim.claimedAtMs, 1700000000000);
    EXPECT_EQ(found.claim.revision, claimed.claim.revision);
    // ... and the former leader cannot claim anything any more.
    EXPECT_EQ(m_leader->claims.Claim(m_leader->election, "page-3", 0).outcome, Outcome::NotLeader);
}

// The leader believes it leads (its lease time has not passed on its clock), but etcd no longer
// has the key on its lease: the transaction refuses, so nothing is paged on a belief.
TEST_F(PageClaimsTest, EtcdRefusesAClaimOfALeaderThatLostItsLease) {
    EtcdClient admin(m_config);
    ASSERT_TRUE(admin.Revoke(m_leader->election.LeaseId()).IsOk());
    ASSERT_TRUE(m_leader->election.IsLeader());
    EXPECT_EQ(m_leader->claims.Claim(m_leader->election, "page-1", 0).outcome, Outcome::NotLeader);
    // Also when someone else has taken the key meanwhile.
    ASSERT_EQ(m_standby->election.Step(), Role::Active);
    EXPECT_EQ(m_leader->claims.Claim(m_leader->election, "page-1", 0).outcome, Outcome::NotLeader);
    RangeResult read;
    ASSERT_TRUE(admin.Range(Op::Get(m_leader->claims.ClaimKey("page-1")), read).IsOk());
    EXPECT_TRUE(read.kvs.empty()) << "a refused claim writes nothing";
    EXPECT_EQ(m_standby->claims.Claim(m_standby->election, "page-1", 0).outcome, Outcome::Claimed);
}

TEST_F(PageClaimsTest, ARecordEndsThePageForEveryLeader) {
    PageClaims& claims = m_leader->claims;
    const auto claimed = claims.Claim(m_leader->election, "page-1", 1000);
    ASSERT_EQ(claimed.outcome, Outcome::Claimed);
    ASSERT_TRUE(claims.Record("page-1", "sent at 09:04").IsOk());

    EtcdClient admin(m_config);
    RangeResult read;
    ASSERT_TRUE(admin.Range(Op::Get(claims.ClaimKey("page-1")), read).IsOk());
    EXPECT_TRUE(read.kvs.empty()) << "the record replaces the claim";
    EXPECT_EQ(claims.Claim(m_leader->election, "page-1", 2000).outcome, Outcome::Recorded);
    HandOver();
    EXPECT_EQ(m_standby->claims.Claim(m_standby->election, "page-1", 3000).outcome,
              Outcome::Recorded);

    std::map<std::string, std::string> records;
    ASSERT_TRUE(m_standby->claims.Records(records).IsOk());
    EXPECT_EQ(records, (std::map<std::string, std::string>{{"page-1", "sent at 09:04"}}));

    // Once forgotten (its reminder has passed), the page could be claimed again.
    ASSERT_TRUE(m_standby->claims.Forget("page-1").IsOk());
    ASSERT_TRUE(m_standby->claims.Records(records).IsOk());
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(m_standby->claims.Claim(m_standby->election, "page-1", 4000).outcome,
              Outcome::Claimed);
}

TEST_F(PageClaimsTest, AReleasedClaimCanBeTriedAgainButOnlyTheSameClaimIsReleased) {
    PageClaims& claims = m_leader->claims;
    const auto first = claims.Claim(m_leader->election, "page-1", 1000);
    ASSERT_EQ(first.outcome, Outcome::Claimed);
    ASSERT_TRUE(claims.Release("page-1", first.claim.revision).IsOk());
    const auto second = claims.Claim(m_leader->election, "page-1", 2000);
    ASSERT_EQ(second.outcome, Outcome::Claimed);
    EXPECT_GT(second.claim.revision, first.claim.revision);
    // A release that names the first claim leaves the second one alone.
    ASSERT_TRUE(claims.Release("page-1", first.claim.revision).IsOk());
    std::map<std::string, PageClaims::ClaimInfo> open;
    ASSERT_TRUE(claims.Unrecorded(open).IsOk());
    ASSERT_EQ(open.count("page-1"), 1u);
    EXPECT_EQ(open["page-1"].revision, second.claim.revision);
}

// What a new leader reads at its start: the claims without a record, with their age; it takes
// over one that is old enough, once, and only the claim it saw.
TEST_F(PageClaimsTest, ANewLeaderFindsUnrecordedClaimsAndTakesOneOverOnce) {
    PageClaims& claims = m_leader->claims;
    for (const char* page : {"sent", "maybe-old", "maybe-new", "key/with/slashes"})
        ASSERT_EQ(claims.Claim(m_leader->election, page, 1000).outcome, Outcome::Claimed);
    ASSERT_TRUE(claims.Record("sent", "sent").IsOk());
    // A later claim, by its clock.
    ASSERT_TRUE(claims.Forget("maybe-new").IsOk());
    ASSERT_EQ(claims.Claim(m_leader->election, "maybe-new", 61000).outcome, Outcome::Claimed);
    HandOver();

    std::map<std::string, PageClaims::ClaimInfo> open;
    ASSERT_TRUE(m_standby->claims.Unrecorded(open).IsOk());
    std::vector<std::string> keys;
    for (const auto& [key, claim] : open) {
        keys.push_back(key);
        EXPECT_EQ(claim.candidate, "leader");
        EXPECT_NE(claim.lease, m_standby->election.LeaseId());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"key/with/slashes", "maybe-new", "maybe-old"}));
    EXPECT_EQ(open["maybe-old"].claimedAtMs, 1000);
    EXPECT_EQ(open["maybe-new"].claimedAtMs, 61000);

    // Taking over the old claim: it must be the very claim that was read.
    Election& leader = m_standby->election;
    const int64_t seen = open["maybe-old"].revision;
    EXPECT_EQ(m_standby->claims.Claim(leader, "maybe-old", 70000, seen + 1000).outcome,
              Outcome::ClaimedBefore);
    const auto taken = m_standby->claims.Claim(leader, "maybe-old", 70000, seen);
    ASSERT_EQ(taken.outcome, Outcome::Claimed);
    EXPECT_EQ(taken.claim.candidate, "standby");
    EXPECT_EQ(m_standby->claims.Claim(leader, "maybe-old", 70000, seen).outcome, Outcome::Claimed)
        << "a retry of our own takeover";
    ASSERT_TRUE(m_standby->claims.Unrecorded(open).IsOk());
    EXPECT_EQ(open["maybe-old"].candidate, "standby");
    EXPECT_EQ(open["maybe-old"].claimedAtMs, 70000);
}

} // namespace
} // namespace cluster
