// Loopback test servers: the aiosmtpd script as a child process, and two raw sockets.
#include "support/SmtpTestServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testing_support {
namespace {

// Debian's aiosmtpd is installed for the system interpreter, which may not be the first
// python3 on the PATH.
constexpr const char* kPython = "/usr/bin/python3";

std::vector<char*> Argv(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int BoundPort(int fd) {
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int LoopbackSocket() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot bind a loopback socket: " << std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

// Starts a server script (its standard input open to the caller, whose closing ends it) and
// reads the "PORT n" line it prints first; 0 when none came.
int StartWithPort(const std::vector<std::string>& args, pid_t& pid, int& stdinFd) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return 0;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> argv = Argv(args);
    const int rc = posix_spawn(&pid, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdinFd = in[1];
    if (rc != 0) {
        pid = -1;
        close(out[0]);
        ADD_FAILURE() << "cannot start " << kPython << ": " << std::strerror(rc);
        return 0;
    }

    // The first line is "PORT n"; the interpreter needs a moment to start.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p = {out[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    return line.rfind("PORT ", 0) == 0 ? std::atoi(line.c_str() + 5) : 0;
}

// Ends a server started by StartWithPort: closes its input and waits, killing it after 5 s.
void Stop(pid_t pid, int stdinFd) {
    if (stdinFd >= 0)
        close(stdinFd);
    if (pid <= 0)
        return;
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

} // namespace

int StartServerScript(const std::vector<std::string>& args, pid_t& pid, int& stdinFd) {
    std::vector<std::string> argv = {kPython};
    argv.insert(argv.end(), args.begin(), args.end());
    return StartWithPort(argv, pid, stdinFd);
}

void StopServerScript(pid_t pid, int stdinFd) {
    Stop(pid, stdinFd);
}

int RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv = Argv(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TestCertificate MakeCertificate(const TempDir& dir) {
    TestCertificate c;
    c.certFile = dir.File("cert.pem");
    c.keyFile = dir.File("key.pem");
    c.ok = RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", c.keyFile, "-out",
                       c.certFile, "-days", "2", "-subj", "/CN=localhost", "-addext",
                       "subjectAltName=IP:127.0.0.1,DNS:localhost"}) == 0;
    return c;
}

SmtpTestServer::SmtpTestServer(const Options& options) {
    if (options.tls == "implicit")
        m_scheme = "smtps";
    std::vector<std::string> args = {kPython,   ORVANE_SMTP_SERVER_SCRIPT,
                                     "--spool", m_spool.Path(),
                                     "--mode",  options.mode,
                                     "--tls",   options.tls};
    if (!options.certFile.empty())
        args.insert(args.end(), {"--cert", options.certFile, "--key", options.keyFile});
    if (!options.auth.empty())
        args.insert(args.end(), {"--auth", options.auth});
    if (options.port > 0)
        args.insert(args.end(), {"--port", std::to_string(options.port)});

    m_port = StartWithPort(args, m_pid, m_stdin);
    if (m_port <= 0)
        ADD_FAILURE() << "the SMTP test server did not start (is python3-aiosmtpd installed?)";
}

SmtpTestServer::~SmtpTestServer() {
    Stop(m_pid, m_stdin);
}

std::string SmtpTestServer::Url() const {
    return m_scheme + "://127.0.0.1:" + std::to_string(m_port);
}

std::vector<SmtpTestServer::Message> SmtpTestServer::Messages() const {
    std::vector<int> numbers;
    if (DIR* dir = opendir(m_spool.Path().c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".env") == 0)
                numbers.push_back(std::atoi(name.c_str()));
        }
        closedir(dir);
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<Message> messages;
    for (int n : numbers) {
        Message m;
        const std::string base = m_spool.File(std::to_string(n));
        m.data = ReadFile(base + ".eml");
        const std::string envelope = ReadFile(base + ".env");
        size_t start = 0;
        bool first = true;
        while (start < envelope.size()) {
            const size_t end = envelope.find('\n', start);
            const std::string line = envelope.substr(start, end - start);
            if (first)
                m.sender = line;
            else
                m.recipients.push_back(line);
            first = false;
            start = end == std::string::npos ? envelope.size() : end + 1;
        }
        messages.push_back(m);
    }
    return messages;
}

ScriptedSmtpServer::ScriptedSmtpServer(const std::string& fault, int failures, int port) {
    std::vector<std::string> args = {
        kPython,      ORVANE_SMTP_SCRIPT_SERVER, "--spool", m_spool.Path(),
        "--failures", std::to_string(failures),  "--port",  std::to_string(port)};
    if (!fault.empty())
        args.insert(args.end(), {"--fault", fault});
    m_port = StartWithPort(args, m_pid, m_stdin);
    if (m_port <= 0)
        ADD_FAILURE() << "the scripted SMTP server did not start";
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
    Stop(m_pid, m_stdin);
}

std::string ScriptedSmtpServer::Url() const {
    return "smtp://127.0.0.1:" + std::to_string(m_port);
}

int ScriptedSmtpServer::Taken() const {
    int n = 0;
    if (DIR* dir = opendir(m_spool.Path().c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            n += name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0;
        }
        closedir(dir);
    }
    return n;
}

RefusingPort::RefusingPort() : m_fd(LoopbackSocket()) {
    m_port = m_fd >= 0 ? BoundPort(m_fd) : 0;
}
RefusingPort::~RefusingPort() {
    if (m_fd >= 0)
        close(m_fd);
}

SilentServer::SilentServer() : m_fd(LoopbackSocket()) {
    if (m_fd >= 0 && listen(m_fd, 8) == 0)
        m_port = BoundPort(m_fd);
}
SilentServer::~SilentServer() {
    if (m_fd >= 0)
        close(m_fd);
}

} // namespace testing_support
