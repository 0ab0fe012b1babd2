// Shared helpers of the cluster tests.
#include "ClusterTestSupport.h"

#include <thread>

namespace cluster_test {

std::string TestPrefix() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        // Parameterised names hold '/', which would make a prefix of several segments.
        if (c == '/')
            c = '.';
    }
    return "t/" + name;
}

cluster::ClientConfig ConfigFor(const testing_support::EtcdTestCluster& cluster) {
    cluster::ClientConfig config;
    std::string error;
    EXPECT_TRUE(cluster::ParseClusterUrl(cluster.Url(TestPrefix()), config.url, error)) << error;
    config.caFile = cluster.CaFile();
    return config;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound,
             std::chrono::milliseconds pause) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
    }
    return true;
}

long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

RestoreCluster::~RestoreCluster() {
    for (int i = 0; i < m_cluster.Members(); ++i) {
        m_cluster.Resume(i);
        if (!m_cluster.Running(i)) {
            EXPECT_TRUE(m_cluster.Restart(i)) << m_cluster.Log(i);
        }
    }
    EXPECT_TRUE(m_cluster.WaitHealthy()) << m_cluster.Logs();
}

} // namespace cluster_test
