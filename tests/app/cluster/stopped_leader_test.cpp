// A leader in a process of its own, stopped (SIGSTOP) or killed (SIGKILL) while it claims pages:
// a standby takes over within the lease's time, and a stopped leader that wakes finds on its own
// clock that it no longer leads and claims nothing more.
#include "ClusterTestSupport.h"
#include "app/cluster/PageClaims.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cluster {
namespace {

using cluster_test::ConfigFor;
using cluster_test::ElapsedMs;
using cluster_test::WaitFor;
using testing_support::EtcdClusterEnvironment;
using SteadyClock = std::chrono::steady_clock;

constexpr int64_t kTtl = 3;

// cluster_candidate as a child whose output lines are read as they come.
class CandidateProcess {
public:
    CandidateProcess(const std::string& url, const std::string& name) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        const std::string ttl = std::to_string(kTtl);
        std::vector<char*> argv = {const_cast<char*>(ORVANE_CLUSTER_CANDIDATE),
                                   const_cast<char*>(url.c_str()),
                                   const_cast<char*>(name.c_str()), const_cast<char*>(ttl.c_str()),
                                   nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
    }
    ~CandidateProcess() {
        Signal(SIGCONT);
        Signal(SIGKILL);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
        if (m_out >= 0)
            close(m_out);
    }
    bool Started() const { return m_pid > 0 && m_out >= 0; }
    void Signal(int signal) {
        if (m_pid > 0)
            kill(m_pid, signal);
    }

    // Reads lines until one begins with `start`, for at most `bound`; every line read is kept.
    bool WaitForLine(const std::string& start, std::chrono::milliseconds bound) {
        const auto deadline = SteadyClock::now() + bound;
        size_t checked = m_lines.size();
        for (;;) {
            for (; checked < m_lines.size(); ++checked) {
                if (m_lines[checked].rfind(start, 0) == 0)
                    return true;
            }
            const long left = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    deadline - SteadyClock::now())
                                                    .count());
            if (left <= 0 || !ReadSome(static_cast<int>(left)))
                return false;
        }
    }
    // Whatever it printed by now (it is stopped, or has written what it will write).
    void Drain() {
        while (ReadSome(0)) {
        }
    }
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    bool ReadSome(int timeoutMs) {
        pollfd p = {m_out, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = read(m_out, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_partial.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = m_partial.find('\n')) != std::string::npos;) {
            m_lines.push_back(m_partial.substr(0, end));
            m_partial.erase(0, end + 1);
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_partial;
    std::vector<std::string> m_lines;
};

class StoppedLeaderTest : public testing::Test {
protected:
    void SetUp() override {
        auto* cluster = EtcdClusterEnvironment::Cluster();
        ASSERT_NE(cluster, nullptr);
        m_url = cluster->Url(cluster_test::TestPrefix());
        m_config = ConfigFor(*cluster);
    }
    std::string m_url;
    ClientConfig m_config;
};

TEST_F(StoppedLeaderTest, AStandbyTakesOverAndTheWokenLeaderClaimsNothing) {
    struct Row {
        const char* how;
        int signal;
    };
    for (const Row& row : {Row{"stopped", SIGSTOP}, Row{"killed", SIGKILL}}) {
        SCOPED_TRACE(row.how);
        EtcdClient admin(m_config);
        ASSERT_TRUE(admin.Delete(Op::DeletePrefix(m_config.url.KeyRoot())).IsOk());
        CandidateProcess old(m_url, "old");
        ASSERT_TRUE(old.Started());
        ASSERT_TRUE(old.WaitForLine("ROLE ACTIVE", std::chrono::seconds(10)));
        ASSERT_TRUE(old.WaitForLine("CLAIMED", std::chrono::seconds(10)));

        EtcdClient client(m_config);
        Election standby(client, m_config.url.KeyRoot() + "leader",
                         {"standby", kTtl, 1000, BootMilliseconds});
        PageClaims claims(client, m_config.url.KeyRoot() + "pages/");
        ASSERT_EQ(standby.Step(), Role::Standby);

        old.Signal(row.signal);
        const auto signalled = SteadyClock::now();
        old.Drain();
        const size_t before = old.Lines().size();
        // Steps as a monitor's timer would, once a second.
        ASSERT_TRUE(WaitFor([&] { return standby.Step() == Role::Active; },
                            std::chrono::seconds(kTtl + 5), std::chrono::milliseconds(1000)));
        // etcd lets the lease run out within its TTL (it checks leases every half second);
        // the standby notices at its next step.
        EXPECT_LE(ElapsedMs(signalled), (kTtl + 2) * 1000);
        const auto mine = claims.Claim(standby, "standby-page", 0);
        EXPECT_EQ(mine.outcome, PageClaims::Outcome::Claimed) << mine.error;

        if (row.signal == SIGSTOP) {
            old.Signal(SIGCONT);
            ASSERT_TRUE(old.WaitForLine("ROLE STANDBY", std::chrono::seconds(10)));
            const std::vector<std::string> after(old.Lines().begin() + static_cast<long>(before),
                                                 old.Lines().end());
            const auto gap = std::find_if(after.begin(), after.end(), [](const std::string& l) {
                return l.rfind("GAP ", 0) == 0;
            });
            ASSERT_NE(gap, after.end());
            EXPECT_NE(gap->find(" LEADS 0"), std::string::npos)
                << "it judged on its own clock that it no longer leads: " << *gap;
            // A claim it printed on waking was made before it was stopped, before the takeover.
            for (const std::string& line : after) {
                if (line.rfind("CLAIMED ", 0) == 0) {
                    EXPECT_LT(std::stoll(line.substr(line.rfind(' ') + 1)),
                              standby.LeadershipRevision())
                        << "claimed after the takeover: " << line;
                }
            }
        }
        standby.Resign();
    }
}

} // namespace
} // namespace cluster
