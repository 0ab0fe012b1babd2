// The shared user list against a real cluster: whole bytes, revisions, and stale writes refused.
#include "ClusterTestSupport.h"
#include "app/cluster/SharedBlob.h"

#include <gtest/gtest.h>
#include <random>

namespace cluster {
namespace {

using cluster_test::ConfigFor;
using testing_support::EtcdClusterEnvironment;

class SharedBlobTest : public testing::Test {
protected:
    void SetUp() override {
        auto* cluster = EtcdClusterEnvironment::Cluster();
        ASSERT_NE(cluster, nullptr);
        m_config = ConfigFor(*cluster);
        m_key = m_config.url.UsersKey();
    }
    ClientConfig m_config;
    std::string m_key;
};

// Something like Users.dat for `users` users: length-prefixed strings of names and directory
// paths that repeat their parts, and a few random bytes each.
std::string UserFileLike(int users) {
    std::mt19937 random(7);
    std::string bytes;
    for (int i = 0; i < users; ++i) {
        for (const std::string& field :
             {"User " + std::to_string(i),
              "/o=Quorvik/ou=Office/cn=Recipients/cn=user" + std::to_string(i),
              std::string("/o=Quorvik/ou=Office/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft "
                          "Private MDB"),
              "User " + std::to_string(i) + " (Pager)"}) {
            const uint32_t n = static_cast<uint32_t>(field.size());
            bytes.append(reinterpret_cast<const char*>(&n), 4);
            bytes += field;
        }
        for (int k = 0; k < 8; ++k)
            bytes += static_cast<char>(random());
    }
    return bytes;
}

TEST_F(SharedBlobTest, AnEditOnOneInstanceIsSeenOnAnotherByItsRevision) {
    EtcdClient oneClient(m_config), otherClient(m_config);
    SharedBlob one(oneClient, m_key), other(otherClient, m_key);

    int64_t revision = -1;
    std::string bytes = "left over";
    ASSERT_TRUE(other.Revision(revision).IsOk());
    EXPECT_EQ(revision, 0) << "nothing stored yet";
    ASSERT_TRUE(other.Read(bytes, revision).IsOk());
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(revision, 0);

    const std::string versions[] = {"", std::string("\0\x01\xff users", 10), UserFileLike(10000)};
    int64_t seen = 0;
    for (const std::string& version : versions) {
        SCOPED_TRACE(version.size());
        bool conflict = true;
        int64_t written = 0;
        const Status s = one.Write(version, seen, conflict, written);
        ASSERT_TRUE(s.IsOk()) << s.message;
        ASSERT_FALSE(conflict);
        EXPECT_GT(written, seen);

        int64_t polled = 0;
        ASSERT_TRUE(other.Revision(polled).IsOk());
        EXPECT_EQ(polled, written) << "the poll tells the change";
        ASSERT_TRUE(other.Read(bytes, revision).IsOk());
        EXPECT_EQ(revision, written);
        EXPECT_TRUE(bytes == version) << "the bytes come back whole";
        seen = written;
    }
    // Ten thousand users are more than etcd takes in one request uncompressed; they fit packed.
    EXPECT_GT(versions[2].size(), size_t(1536) << 10);
}

TEST_F(SharedBlobTest, AWriteOnAStaleRevisionIsRefusedAndChangesNothing) {
    EtcdClient oneClient(m_config), otherClient(m_config);
    SharedBlob one(oneClient, m_key), other(otherClient, m_key);
    bool conflict = false;
    int64_t first = 0, second = 0, refused = 0;
    ASSERT_TRUE(one.Write("first", 0, conflict, first).IsOk());
    ASSERT_FALSE(conflict);
    // The other instance writes first, on the revision it read ...
    ASSERT_TRUE(other.Write("second", first, conflict, second).IsOk());
    ASSERT_FALSE(conflict);
    // ... so an edit made on the first revision is refused.
    ASSERT_TRUE(one.Write("stale edit", first, conflict, refused).IsOk());
    EXPECT_TRUE(conflict);
    EXPECT_EQ(refused, 0);
    ASSERT_TRUE(one.Write("none yet", 0, conflict, refused).IsOk());
    EXPECT_TRUE(conflict) << "0 means nothing may be stored yet";
    std::string bytes;
    int64_t revision = 0;
    ASSERT_TRUE(one.Read(bytes, revision).IsOk());
    EXPECT_EQ(bytes, "second");
    EXPECT_EQ(revision, second);

    // The same bytes again on the old revision: a retry whose first try went through.
    ASSERT_TRUE(other.Write("second", first, conflict, refused).IsOk());
    EXPECT_FALSE(conflict);
    EXPECT_EQ(refused, second);

    ASSERT_TRUE(one.Write("whatever", SharedBlob::kAnyRevision, conflict, refused).IsOk());
    EXPECT_FALSE(conflict);
}

TEST_F(SharedBlobTest, BytesThatCannotBeUnpackedAreRefusedInWords) {
    EtcdClient client(m_config);
    SharedBlob blob(client, m_key);
    for (const std::string& damaged :
         {std::string("Users.dat"), std::string("\0\0\1\0xyz", 7), std::string("ab")}) {
        ASSERT_TRUE(client.Put(m_key, damaged).IsOk());
        std::string bytes = "left over";
        int64_t revision = 7;
        const Status s = blob.Read(bytes, revision);
        EXPECT_EQ(s.kind, Status::Refused);
        EXPECT_NE(s.message.find("is damaged"), std::string::npos) << s.message;
        EXPECT_NE(s.message.find(m_key), std::string::npos) << s.message;
        EXPECT_TRUE(bytes.empty());
        EXPECT_EQ(revision, 0);
    }
}

} // namespace
} // namespace cluster
