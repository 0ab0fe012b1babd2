// A real three-member etcd cluster on loopback for tests (Debian's etcd-server).
//
// Members on free client and peer ports with their data under a temporary directory, killed,
// stopped, resumed and restarted one at a time; optionally with clients over TLS (a test CA made
// with openssl) and with authentication (root, and a user with a password).
#pragma once

#include "support/TestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

class EtcdTestCluster {
public:
    // With authentication on: root, and a user who may read and write the keys under kUserPrefix
    // and nothing else.
    static constexpr const char* kRootPassword = "root s3cret";
    static constexpr const char* kUser = "orvane";
    static constexpr const char* kPassword = "orvane s3cret";
    static constexpr const char* kUserPrefix = "/orvane-auth/";

    struct Options {
        int members = 3;
        bool tls = false;  // clients speak https, with a certificate CaFile() trusts
        bool auth = false; // authentication on, with the users above
    };

    // Starts the members and waits (up to 30 seconds) until the cluster serves requests;
    // Started() tells whether it did, the members' logs are added to the failure otherwise.
    explicit EtcdTestCluster(const Options& options);
    ~EtcdTestCluster();
    EtcdTestCluster(const EtcdTestCluster&) = delete;
    EtcdTestCluster& operator=(const EtcdTestCluster&) = delete;

    bool Started() const { return m_started; }
    int Members() const { return static_cast<int>(m_members.size()); }
    int ClientPort(int member) const;
    // Where the members speak to each other (raft over http): a web server that is not the
    // client gateway.
    int PeerPort(int member) const;
    // "etcd://127.0.0.1:P0,127.0.0.1:P1,127.0.0.1:P2/PREFIX" (etcds:// with TLS).
    std::string Url(const std::string& prefix) const;
    // The CA that signed the members' certificate; empty without TLS.
    const std::string& CaFile() const { return m_caFile; }

    void Kill(int member);   // SIGKILL, and reaped: its port refuses connections
    void Pause(int member);  // SIGSTOP: it keeps its connections and answers nothing
    void Resume(int member); // SIGCONT
    // Starts a killed member again on its ports with its data; false when it ended at once.
    bool Restart(int member);
    bool Running(int member);

    // Waits up to `bound` until every running member answers that it is healthy (it has a
    // leader and serves reads); false when the time ran out.
    bool WaitHealthy(std::chrono::milliseconds bound = std::chrono::seconds(30));
    // Whether `member` answers its health check now (within a second).
    bool Healthy(int member);
    // The member that is raft leader now, as the first member to answer says; -1 when none
    // answers or knows of one.
    int Leader();
    // Runs etcdctl (as root with authentication on) against the running members; false, with
    // its output in `output`, when it failed.
    bool Ctl(const std::vector<std::string>& args, std::string* output = nullptr);

    std::string Log(int member) const;
    std::string Logs() const;

private:
    struct MemberProcess {
        std::string name, dataDir, log;
        int clientPort = 0, peerPort = 0;
        pid_t pid = -1;
        bool paused = false;
    };
    bool StartAll();
    bool Spawn(MemberProcess& member);
    void Reap(MemberProcess& member, bool force);
    bool MakeCertificates();
    bool EnableAuth();
    std::string Scheme() const { return m_options.tls ? "https" : "http"; }
    // GETs or POSTs (with `body`) a path of the member's client port; the answer's body, or
    // empty when none came within a second.
    std::string Ask(int member, const std::string& path, const char* body = nullptr);

    Options m_options;
    TempDir m_dir;
    std::vector<MemberProcess> m_members;
    std::string m_initialCluster, m_token;
    std::string m_caFile, m_certFile, m_keyFile;
    bool m_started = false;
    bool m_authOn = false;
};

// The cluster of a test program, started once before its first test and stopped after its last:
//   testing::AddGlobalTestEnvironment(new EtcdClusterEnvironment(options));
// Tests reach it through Cluster(), which fails the test (and gives null) when it did not start.
class EtcdClusterEnvironment : public testing::Environment {
public:
    explicit EtcdClusterEnvironment(const EtcdTestCluster::Options& options) : m_options(options) {}
    void SetUp() override;
    void TearDown() override;
    static EtcdTestCluster* Cluster();

private:
    EtcdTestCluster::Options m_options;
    std::unique_ptr<EtcdTestCluster> m_cluster;
    static EtcdClusterEnvironment* s_current;
};

} // namespace testing_support
