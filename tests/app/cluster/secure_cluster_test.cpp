// The client against a cluster that speaks TLS and asks for a user and password.
//
// Certificates from a test CA; refusals in words (never with the password), permissions, and a
// token renewed when etcd has dropped it.
#include "ClusterTestSupport.h"
#include "app/cluster/PageClaims.h"

#include <gtest/gtest.h>

namespace cluster {
namespace {

using testing_support::EtcdClusterEnvironment;
using testing_support::EtcdTestCluster;

[[maybe_unused]] testing::Environment* const secureCluster =
    testing::AddGlobalTestEnvironment(new EtcdClusterEnvironment({3, /*tls=*/true, /*auth=*/true}));

class SecureClusterTest : public testing::Test {
protected:
    void SetUp() override {
        m_cluster = EtcdClusterEnvironment::Cluster();
        ASSERT_NE(m_cluster, nullptr);
        // The user may use only the keys under its prefix.
        std::string error;
        const std::string prefix =
            std::string(EtcdTestCluster::kUserPrefix).substr(1) + cluster_test::TestPrefix();
        ASSERT_TRUE(ParseClusterUrl(m_cluster->Url(prefix), m_config.url, error)) << error;
        m_config.caFile = m_cluster->CaFile();
        m_config.user = EtcdTestCluster::kUser;
        m_config.password = EtcdTestCluster::kPassword;
        m_root = m_config.url.KeyRoot();
    }

    void ExpectNoPassword(const std::string& message) {
        EXPECT_EQ(message.find(EtcdTestCluster::kPassword), std::string::npos) << message;
    }

    EtcdTestCluster* m_cluster = nullptr;
    ClientConfig m_config;
    std::string m_root;
};

TEST_F(SecureClusterTest, TheUserWorksOverVerifiedTls) {
    EtcdClient client(m_config);
    ASSERT_TRUE(client.Put(m_root + "k", "v").IsOk());
    RangeResult read;
    ASSERT_TRUE(client.Range(Op::Get(m_root + "k"), read).IsOk());
    EXPECT_EQ(read.kvs.at(0).value, "v");
    EXPECT_EQ(client.GetStats().authentications, 1u) << "one token for every request";

    // The cluster's pieces work the same with a user, on his keys.
    Election election(client, m_config.url.LeaderKey(), {"a", 3, 1000, BootMilliseconds});
    ASSERT_EQ(election.Step(), Role::Active) << election.LastError();
    PageClaims claims(client, m_config.url.PagesRoot());
    EXPECT_EQ(claims.Claim(election, "page-1", 0).outcome, PageClaims::Outcome::Claimed);
    election.Resign();
}

// Trust and user refused: each in a sentence that names the member, and none repeats the
// password.
TEST_F(SecureClusterTest, RefusalsSayWhatIsWrong) {
    struct Row {
        const char* what;
        std::function<void(ClientConfig&)> change;
        Status::Kind kind;
        const char* words;
    };
    const Row rows[] = {
        {"the test CA not trusted", [](ClientConfig& c) { c.caFile.clear(); }, Status::Unreachable,
         "has a certificate that is not trusted"},
        {"http to https", [](ClientConfig& c) { c.url.tls = false; }, Status::Unreachable,
         "closed the connection without answering (as one that expects TLS does: is etcds:// "
         "meant?)"},
        {"a wrong password", [](ClientConfig& c) { c.password = "wrong " + c.password; },
         Status::Refused,
         "refused the user \"orvane\": there is no such user or the password is "
         "wrong"},
        {"an unknown user", [](ClientConfig& c) { c.user = "nobody"; }, Status::Refused,
         "refused the user \"nobody\""},
        {"no user", [](ClientConfig& c) { c.user.clear(); }, Status::Refused,
         "the cluster asks for a user and password, and none is set"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ClientConfig config = m_config;
        row.change(config);
        EtcdClient client(config);
        RangeResult read;
        const Status s = client.Range(Op::Get(m_root + "k"), read);
        EXPECT_EQ(s.kind, row.kind);
        EXPECT_NE(s.message.find(row.words), std::string::npos) << s.message;
        EXPECT_NE(s.message.find("127.0.0.1:" + std::to_string(m_cluster->ClientPort(0))),
                  std::string::npos)
            << s.message;
        ExpectNoPassword(s.message);
        if (row.kind == Status::Refused) {
            EXPECT_EQ(client.GetStats().requests, 1u) << "a refusal is not asked elsewhere";
        }
    }
}

TEST_F(SecureClusterTest, KeysOutsideTheUsersRangeAreRefused) {
    EtcdClient client(m_config);
    const Status s = client.Put("/elsewhere/k", "v");
    EXPECT_EQ(s.kind, Status::Refused);
    EXPECT_EQ(s.code, Status::kPermissionDenied);
    EXPECT_NE(s.message.find("the user \"orvane\" may not use these keys"), std::string::npos)
        << s.message;
    ExpectNoPassword(s.message);
}

// Switching authentication off and on drops every token on every member: the next request is
// refused for its token, and the client asks for a new one and goes on.
TEST_F(SecureClusterTest, ADroppedTokenIsRenewed) {
    EtcdClient client(m_config);
    ASSERT_TRUE(client.Put(m_root + "k", "before").IsOk());
    ASSERT_EQ(client.GetStats().authentications, 1u);
    std::string output;
    ASSERT_TRUE(m_cluster->Ctl({"auth", "disable"}, &output)) << output;
    ASSERT_TRUE(m_cluster->Ctl({"auth", "enable"}, &output)) << output;

    const Status s = client.Put(m_root + "k", "after");
    ASSERT_TRUE(s.IsOk()) << s.message;
    EXPECT_EQ(client.GetStats().authentications, 2u);
    RangeResult read;
    ASSERT_TRUE(client.Range(Op::Get(m_root + "k"), read).IsOk());
    EXPECT_EQ(read.kvs.at(0).value, "after");
    EXPECT_EQ(client.GetStats().authentications, 2u);
}

} // namespace
} // namespace cluster
