// What the cluster tests share: a client configuration for the program's etcd cluster, keys of
// each test's own, and bounded waits for a condition.
#pragma once

#include "app/cluster/EtcdClient.h"
#include "support/EtcdTestCluster.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace cluster_test {

// A prefix of the running test's own ("t/Suite.Name"), so that tests never see each other's keys.
std::string TestPrefix();

// A client configuration for `cluster` under TestPrefix(), with the default bounds.
cluster::ClientConfig ConfigFor(const testing_support::EtcdTestCluster& cluster);

// Calls `done` until it returns true, or `bound` has passed; whether it did. For conditions that
// follow from time passing in etcd (a lease running out), bounded by a reason, not a guess.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound,
             std::chrono::milliseconds pause = std::chrono::milliseconds(100));

// Milliseconds since `start` on the steady clock.
long ElapsedMs(std::chrono::steady_clock::time_point start);

// Restarts every killed member and resumes every stopped one at the end of the scope, and waits
// until the cluster is healthy again, so that the next test finds all three members serving.
class RestoreCluster {
public:
    explicit RestoreCluster(testing_support::EtcdTestCluster& cluster) : m_cluster(cluster) {}
    ~RestoreCluster();

private:
    testing_support::EtcdTestCluster& m_cluster;
};

} // namespace cluster_test
