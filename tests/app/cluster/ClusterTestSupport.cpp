// Shared helpers of the cluster tests.
#include "ClusterTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

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

CandidateProcess::CandidateProcess(const std::string& program,
                                   const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    m_out = fds[0];
}

CandidateProcess::~CandidateProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGCONT);
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        close(m_out);
}

void CandidateProcess::Signal(int signal) {
    if (m_pid > 0)
        kill(m_pid, signal);
}

bool CandidateProcess::WaitForLine(const std::string& start, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    size_t checked = m_lines.size();
    for (;;) {
        for (; checked < m_lines.size(); ++checked) {
            if (m_lines[checked].rfind(start, 0) == 0)
                return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !ReadSome(static_cast<int>(left)))
            return false;
    }
}

void CandidateProcess::Drain() {
    while (ReadSome(0)) {
    }
}

bool CandidateProcess::ReadSome(int timeoutMs) {
    pollfd p = {m_out, POLLIN, 0};
    if (m_out < 0 || poll(&p, 1, timeoutMs) <= 0)
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

} // namespace cluster_test
