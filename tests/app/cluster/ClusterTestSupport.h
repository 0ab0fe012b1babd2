// What the cluster tests and the failover benchmark share.
//
// A client configuration for the program's etcd cluster, keys of each test's own, bounded waits
// for a condition, and a candidate in a process of its own.
#pragma once

#include "app/cluster/EtcdClient.h"
#include "support/EtcdTestCluster.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <vector>

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

// cluster_candidate (its path given) as a child, whose output lines are read as they come; killed
// at the end of the scope.
class CandidateProcess {
public:
    CandidateProcess(const std::string& program, const std::vector<std::string>& args);
    ~CandidateProcess();
    CandidateProcess(const CandidateProcess&) = delete;
    CandidateProcess& operator=(const CandidateProcess&) = delete;

    bool Started() const { return m_pid > 0 && m_out >= 0; }
    void Signal(int signal);
    // Reads lines until one that begins with `start` comes, for at most `bound`; every line
    // read is kept.
    bool WaitForLine(const std::string& start, std::chrono::milliseconds bound);
    // Reads whatever it has printed by now.
    void Drain();
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    bool ReadSome(int timeoutMs);

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_partial;
    std::vector<std::string> m_lines;
};

} // namespace cluster_test
