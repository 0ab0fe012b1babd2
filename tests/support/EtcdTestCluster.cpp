// etcd members as children of the test process, their certificates and users, and their health.
#include "support/EtcdTestCluster.h"

#include <cerrno>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testing_support {
namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// Runs a program to its end with its output in `log`; its exit status, or -1.
int RunToEnd(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

} // namespace

EtcdTestCluster::EtcdTestCluster(const Options& options) : m_options(options) {
    if (options.tls && !MakeCertificates())
        return;
    // A port found free can be taken by someone else before the member binds it: the member then
    // ends at once, and the whole cluster starts again on other ports.
    for (int attempt = 1; attempt <= 3 && !m_started; ++attempt)
        m_started = StartAll();
    if (!m_started) {
        ADD_FAILURE() << "the etcd cluster did not start:\n" << Logs();
        return;
    }
    if (options.auth && !EnableAuth()) {
        m_started = false;
        ADD_FAILURE() << "authentication could not be switched on:\n" << Logs();
    }
}

EtcdTestCluster::~EtcdTestCluster() {
    for (MemberProcess& m : m_members)
        Reap(m, false);
}

bool EtcdTestCluster::MakeCertificates() {
    m_caFile = m_dir.File("ca.crt");
    m_certFile = m_dir.File("member.crt");
    m_keyFile = m_dir.File("member.key");
    const std::string caKey = m_dir.File("ca.key"), request = m_dir.File("member.csr"),
                      extensions = m_dir.File("member.ext"), log = m_dir.File("openssl.log");
    WriteFile(extensions, "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    const bool made =
        RunToEnd({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                  "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", caKey, "-out", m_caFile,
                  "-days", "2", "-subj", "/CN=Orvane test CA"},
                 log) == 0 &&
        RunToEnd({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                  "-nodes", "-keyout", m_keyFile, "-out", request, "-subj", "/CN=127.0.0.1"},
                 log) == 0 &&
        RunToEnd({"openssl", "x509", "-req", "-in", request, "-CA", m_caFile, "-CAkey", caKey,
                  "-CAcreateserial", "-out", m_certFile, "-days", "2", "-extfile", extensions},
                 log) == 0;
    if (!made)
        ADD_FAILURE() << "openssl could not make the test certificates:\n" << ReadFile(log);
    return made;
}

bool EtcdTestCluster::StartAll() {
    for (MemberProcess& m : m_members)
        Reap(m, true);
    m_members.clear();
    std::set<int> ports;
    while (ports.size() < static_cast<size_t>(2 * m_options.members)) {
        const int port = FreePort();
        if (port <= 0)
            return false;
        ports.insert(port);
    }
    auto next = ports.begin();
    m_initialCluster.clear();
    for (int i = 0; i < m_options.members; ++i) {
        MemberProcess m;
        m.name = "m" + std::to_string(i);
        m.dataDir = m_dir.File(m.name + ".etcd");
        m.log = m_dir.File(m.name + ".log");
        m.clientPort = *next++;
        m.peerPort = *next++;
        m_initialCluster +=
            (i ? "," : "") + m.name + "=http://127.0.0.1:" + std::to_string(m.peerPort);
        m_members.push_back(m);
    }
    // A token of its own, so that members of another test's cluster never join this one.
    m_token = "orvane-test-" + std::to_string(std::random_device{}());
    for (MemberProcess& m : m_members) {
        std::filesystem::remove_all(m.dataDir);
        if (!Spawn(m))
            return false;
    }
    return WaitHealthy();
}

bool EtcdTestCluster::Spawn(MemberProcess& m) {
    const std::string client = Scheme() + "://127.0.0.1:" + std::to_string(m.clientPort);
    const std::string peer = "http://127.0.0.1:" + std::to_string(m.peerPort);
    std::vector<std::string> args = {"etcd",
                                     "--name=" + m.name,
                                     "--data-dir=" + m.dataDir,
                                     "--listen-client-urls=" + client,
                                     "--advertise-client-urls=" + client,
                                     "--listen-peer-urls=" + peer,
                                     "--initial-advertise-peer-urls=" + peer,
                                     "--initial-cluster=" + m_initialCluster,
                                     "--initial-cluster-state=new",
                                     "--initial-cluster-token=" + m_token,
                                     "--logger=zap",
                                     "--log-outputs=stderr",
                                     "--log-level=warn"};
    if (m_options.tls) {
        args.push_back("--cert-file=" + m_certFile);
        args.push_back("--key-file=" + m_keyFile);
    }
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m.log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawnp(&m.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m.pid = -1;
        ADD_FAILURE() << "cannot start etcd (is etcd-server installed? scripts/setup-debian.sh "
                         "--tests): "
                      << std::strerror(rc);
        return false;
    }
    m.paused = false;
    return true;
}

void EtcdTestCluster::Reap(MemberProcess& m, bool force) {
    if (m.pid <= 0)
        return;
    if (m.paused)
        kill(m.pid, SIGCONT);
    m.paused = false;
    int status = 0;
    if (!force) {
        kill(m.pid, SIGTERM);
        const auto deadline = SteadyClock::now() + std::chrono::seconds(5);
        while (SteadyClock::now() < deadline) {
            if (waitpid(m.pid, &status, WNOHANG) == m.pid) {
                m.pid = -1;
                return;
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
    }
    kill(m.pid, SIGKILL);
    while (waitpid(m.pid, &status, 0) < 0 && errno == EINTR) {
    }
    m.pid = -1;
}

int EtcdTestCluster::ClientPort(int member) const {
    return m_members.at(static_cast<size_t>(member)).clientPort;
}

int EtcdTestCluster::PeerPort(int member) const {
    return m_members.at(static_cast<size_t>(member)).peerPort;
}

std::string EtcdTestCluster::Url(const std::string& prefix) const {
    std::string url = m_options.tls ? "etcds://" : "etcd://";
    for (size_t i = 0; i < m_members.size(); ++i)
        url += (i ? ",127.0.0.1:" : "127.0.0.1:") + std::to_string(m_members[i].clientPort);
    return url + "/" + prefix;
}

void EtcdTestCluster::Kill(int member) {
    Reap(m_members.at(static_cast<size_t>(member)), true);
}

void EtcdTestCluster::Pause(int member) {
    MemberProcess& m = m_members.at(static_cast<size_t>(member));
    if (m.pid > 0 && kill(m.pid, SIGSTOP) == 0)
        m.paused = true;
}

void EtcdTestCluster::Resume(int member) {
    MemberProcess& m = m_members.at(static_cast<size_t>(member));
    if (m.pid > 0 && kill(m.pid, SIGCONT) == 0)
        m.paused = false;
}

bool EtcdTestCluster::Restart(int member) {
    MemberProcess& m = m_members.at(static_cast<size_t>(member));
    if (m.pid > 0)
        return true;
    return Spawn(m) && Running(member);
}

bool EtcdTestCluster::Running(int member) {
    MemberProcess& m = m_members.at(static_cast<size_t>(member));
    if (m.pid <= 0)
        return false;
    int status = 0;
    if (waitpid(m.pid, &status, WNOHANG) == m.pid) {
        m.pid = -1;
        return false;
    }
    return true;
}

std::string EtcdTestCluster::Ask(int member, const std::string& path, const char* body) {
    CURL* curl = curl_easy_init();
    if (!curl)
        return {};
    std::string answer;
    const std::string url = Scheme() + "://127.0.0.1:" + std::to_string(ClientPort(member)) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 1000L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    if (body)
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
    if (!m_caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_caFile.c_str());
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return code == CURLE_OK ? answer : std::string();
}

bool EtcdTestCluster::Healthy(int member) {
    if (!Running(member) || m_members.at(static_cast<size_t>(member)).paused)
        return false;
    return Ask(member, "/health").find("\"true\"") != std::string::npos;
}

int EtcdTestCluster::Leader() {
    // Each member tells its own id in the header and the leader's id beside it.
    auto field = [](const std::string& json, const std::string& name) {
        const size_t at = json.find("\"" + name + "\":\"");
        if (at == std::string::npos)
            return std::string();
        const size_t start = at + name.size() + 4;
        return json.substr(start, json.find('"', start) - start);
    };
    std::vector<std::string> ids(m_members.size());
    std::string leader;
    for (int i = 0; i < Members(); ++i) {
        if (!Running(i) || m_members[static_cast<size_t>(i)].paused)
            continue;
        const std::string status = Ask(i, "/v3/maintenance/status", "{}");
        ids[static_cast<size_t>(i)] = field(status, "member_id");
        if (leader.empty())
            leader = field(status, "leader");
    }
    for (int i = 0; i < Members(); ++i) {
        if (!leader.empty() && ids[static_cast<size_t>(i)] == leader)
            return i;
    }
    return -1;
}

bool EtcdTestCluster::WaitHealthy(std::chrono::milliseconds bound) {
    const auto deadline = SteadyClock::now() + bound;
    std::vector<bool> healthy(m_members.size(), false);
    while (SteadyClock::now() < deadline) {
        bool all = true;
        for (int i = 0; i < Members(); ++i) {
            const MemberProcess& m = m_members[static_cast<size_t>(i)];
            if (m.pid <= 0 || m.paused || healthy[static_cast<size_t>(i)])
                continue;
            if (!Running(i))
                return false; // it ended: a port was taken, or its data cannot be used
            healthy[static_cast<size_t>(i)] = Healthy(i);
            all = all && healthy[static_cast<size_t>(i)];
        }
        if (all)
            return true;
        std::this_thread::sleep_for(milliseconds(50));
    }
    return false;
}

bool EtcdTestCluster::Ctl(const std::vector<std::string>& args, std::string* output) {
    std::string endpoints;
    for (int i = 0; i < Members(); ++i) {
        if (m_members[static_cast<size_t>(i)].pid > 0)
            endpoints += (endpoints.empty() ? "" : ",") + Scheme() +
                         "://127.0.0.1:" + std::to_string(ClientPort(i));
    }
    std::vector<std::string> command = {"etcdctl", "--endpoints=" + endpoints, "--dial-timeout=3s",
                                        "--command-timeout=10s"};
    if (!m_caFile.empty())
        command.push_back("--cacert=" + m_caFile);
    if (m_authOn)
        command.push_back(std::string("--user=root:") + kRootPassword);
    command.insert(command.end(), args.begin(), args.end());
    const std::string log = m_dir.File("etcdctl.log");
    const bool ok = RunToEnd(command, log) == 0;
    if (output)
        *output = ReadFile(log);
    return ok;
}

bool EtcdTestCluster::EnableAuth() {
    const std::vector<std::vector<std::string>> steps = {
        {"user", "add", std::string("root:") + kRootPassword, "--interactive=false"},
        {"user", "grant-role", "root", "root"},
        {"role", "add", kUser},
        {"role", "grant-permission", kUser, "--prefix=true", "readwrite", kUserPrefix},
        {"user", "add", std::string(kUser) + ":" + kPassword, "--interactive=false"},
        {"user", "grant-role", kUser, kUser},
        {"auth", "enable"},
    };
    for (const auto& step : steps) {
        std::string output;
        if (!Ctl(step, &output)) {
            ADD_FAILURE() << "etcdctl " << step[0] << " " << step[1] << " failed: " << output;
            return false;
        }
        if (step[0] == "auth")
            m_authOn = true;
    }
    return true;
}

std::string EtcdTestCluster::Log(int member) const {
    const std::string& path = m_members.at(static_cast<size_t>(member)).log;
    return std::filesystem::exists(path) ? ReadFile(path) : std::string();
}

std::string EtcdTestCluster::Logs() const {
    std::string all;
    for (int i = 0; i < Members(); ++i)
        all += "--- member " + std::to_string(i) + "\n" + Log(i);
    return all;
}

EtcdClusterEnvironment* EtcdClusterEnvironment::s_current = nullptr;

void EtcdClusterEnvironment::SetUp() {
    m_cluster = std::make_unique<EtcdTestCluster>(m_options);
    s_current = this;
}

void EtcdClusterEnvironment::TearDown() {
    m_cluster.reset();
    s_current = nullptr;
}

EtcdTestCluster* EtcdClusterEnvironment::Cluster() {
    EtcdTestCluster* cluster = s_current && s_current->m_cluster && s_current->m_cluster->Started()
                                   ? s_current->m_cluster.get()
                                   : nullptr;
    if (!cluster)
        ADD_FAILURE() << "the test program's etcd cluster is not running";
    return cluster;
}

} // namespace testing_support
