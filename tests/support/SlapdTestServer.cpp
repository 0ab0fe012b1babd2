// slapd on loopback with a temporary configuration, LDIF for address lists, a stalling proxy.
#include "support/SlapdTestServer.h"

#include "support/SmtpTestServer.h"

#include <QByteArray>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

constexpr const char* kSlapd = "/usr/sbin/slapd";
constexpr const char* kSlapadd = "/usr/sbin/slapadd";

// An LDIF line: plain when RFC 2849 allows the value as it is, base64 otherwise.
std::string Line(const std::string& attribute, const std::string& value) {
    bool safe = !value.empty() && value.front() != ' ' && value.front() != ':' &&
                value.front() != '<' && value.back() != ' ';
    for (unsigned char c : value)
        safe = safe && c >= 0x20 && c < 0x7f;
    if (safe)
        return attribute + ": " + value + "\n";
    const QByteArray encoded = QByteArray(value.data(), static_cast<int>(value.size())).toBase64();
    return attribute + ":: " + encoded.toStdString() + "\n";
}

std::string BaseEntries() {
    return std::string("dn: dc=example,dc=org\nobjectClass: dcObject\nobjectClass: organization\n"
                       "o: Example\ndc: example\n\n"
                       "dn: ou=people,dc=example,dc=org\nobjectClass: organizationalUnit\n"
                       "ou: people\n\n") +
           "dn: " + SlapdTestServer::kReaderDn +
           "\nobjectClass: person\nobjectClass: simpleSecurityObject\ncn: orvane\nsn: orvane\n" +
           Line("userPassword", SlapdTestServer::kReaderPassword) + "\n" +
           "dn: " + SlapdTestServer::kLimitedDn +
           "\nobjectClass: person\nobjectClass: simpleSecurityObject\ncn: limited\nsn: limited\n" +
           Line("userPassword", SlapdTestServer::kLimitedPassword) + "\n";
}

// Starts a program with its output in `log`; it is killed when the test process ends, even
// when a test is interrupted.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // The child: only calls that are safe after fork() in a process with threads.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
        _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
}

} // namespace

SlapdTestServer::SlapdTestServer(const Options& options, const std::string& ldif) {
    if (access(kSlapd, X_OK) != 0 || access(kSlapadd, X_OK) != 0) {
        ADD_FAILURE() << kSlapd << " is not installed (scripts/setup-debian.sh installs slapd)";
        return;
    }
    const std::string database = m_dir.File("db");
    mkdir(database.c_str(), 0700);
    std::string tls;
    if (options.tls) {
        m_certFile = m_dir.File("cert.pem");
        const std::string key = m_dir.File("key.pem");
        const bool ip =
            options.certificateName.find_first_not_of("0123456789.") == std::string::npos;
        const bool made = RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                      "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
                                      "-out", m_certFile, "-days", "2", "-subj",
                                      "/CN=" + options.certificateName, "-addext",
                                      std::string("subjectAltName=") + (ip ? "IP:" : "DNS:") +
                                          options.certificateName}) == 0;
        if (!made) {
            ADD_FAILURE() << "openssl could not make a test certificate";
            return;
        }
        tls = "TLSCertificateFile " + m_certFile + "\nTLSCertificateKeyFile " + key + "\n";
    }
    m_config = m_dir.File("slapd.conf");
    WriteFile(m_config,
              "include /etc/ldap/schema/core.schema\n"
              "include /etc/ldap/schema/cosine.schema\n"
              "include /etc/ldap/schema/inetorgperson.schema\n"
              "include /etc/ldap/schema/misc.schema\n"
              "modulepath /usr/lib/ldap\n"
              "moduleload back_mdb\n"
              "pidfile " +
                  m_dir.File("slapd.pid") + "\nargsfile " + m_dir.File("slapd.args") +
                  "\nsizelimit " + std::to_string(options.sizeLimit) + "\n" + tls +
                  "database mdb\nmaxsize 268435456\nsuffix \"" + kBase +
                  "\"\nrootdn \"cn=admin,dc=example,dc=org\"\nrootpw admin-only\n"
                  "directory " +
                  database + "\nindex objectClass eq\n" +
                  (options.indexes ? "index cn,displayName,mail,uid eq\n" : "") +
                  "limits dn.exact=\"" + kReaderDn +
                  "\" size.prtotal=unlimited\n"
                  "access to attrs=userPassword by self read by anonymous auth by * none\n"
                  "access to * by * read\n");
    const std::string data = m_dir.File("data.ldif");
    WriteFile(data, BaseEntries() + ldif);
    if (RunProgram({kSlapadd, "-q", "-f", m_config, "-l", data}) != 0) {
        ADD_FAILURE() << "slapadd refused the test data";
        return;
    }
    for (int attempt = 0; attempt < 3 && !Started(); ++attempt) {
        Start(true);
    }
    if (!Started())
        ADD_FAILURE() << "slapd did not start; see " << m_dir.File("slapd.log");
}

bool SlapdTestServer::Restart() {
    if (m_pid > 0)
        return true;
    // The ports were just given up; slapd binds them again with SO_REUSEADDR.
    for (int attempt = 0; attempt < 50 && !Started(); ++attempt) {
        if (!Start(false))
            poll(nullptr, 0, 100);
    }
    return Started();
}

bool SlapdTestServer::Start(bool newPorts) {
    if (newPorts) {
        m_port = FreePort();
        m_tlsPort = FreePort();
    }
    std::string urls = "ldap://127.0.0.1:" + std::to_string(m_port) + "/";
    if (!m_certFile.empty())
        urls += " ldaps://127.0.0.1:" + std::to_string(m_tlsPort) + "/";
    // -d 0 keeps slapd in the foreground, a child of the test that ends it.
    m_pid = Spawn({kSlapd, "-f", m_config, "-h", urls, "-d", "0"}, m_dir.File("slapd.log"));
    if (m_pid <= 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1; // it ended: most likely a port taken meanwhile
            return false;
        }
        const int fd = ConnectLoopback(m_port);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        poll(nullptr, 0, 20);
    }
    Stop();
    return false;
}

SlapdTestServer::~SlapdTestServer() {
    Stop();
}

std::string SlapdTestServer::Url(bool ldaps) const {
    return std::string(ldaps ? "ldaps" : "ldap") +
           "://127.0.0.1:" + std::to_string(ldaps ? m_tlsPort : m_port) + "/" + kPeople;
}

void SlapdTestServer::Pause() {
    if (m_pid > 0 && kill(m_pid, SIGSTOP) == 0)
        m_paused = true;
}

void SlapdTestServer::Resume() {
    if (m_pid > 0 && kill(m_pid, SIGCONT) == 0)
        m_paused = false;
}

void SlapdTestServer::Stop() {
    if (m_pid <= 0)
        return;
    if (m_paused)
        Resume();
    kill(m_pid, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(m_pid, &status, WNOHANG) != m_pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
        poll(nullptr, 0, 20);
    }
    m_pid = -1;
}

std::string LdifFor(const std::vector<mail::AddressEntry>& entries) {
    std::string ldif;
    for (size_t i = 0; i < entries.size(); ++i) {
        const mail::AddressEntry& e = entries[i];
        EXPECT_TRUE(e.deliverTo.empty() || e.deliverTo == e.address) << e.displayName;
        ldif += "dn: employeeNumber=" + std::to_string(i) + "," + SlapdTestServer::kPeople + "\n";
        ldif += "objectClass: inetOrgPerson\nobjectClass: inetLocalMailRecipient\n";
        ldif += "employeeNumber: " + std::to_string(i) + "\n";
        ldif += Line("cn", e.displayName) + Line("sn", e.displayName);
        ldif += Line("displayName", e.displayName) + Line("mail", e.address);
        if (!e.homeStore.empty())
            ldif += Line("mailHost", e.homeStore);
        if (!e.mailbox.empty())
            ldif += Line("uid", e.mailbox);
        ldif += "\n";
    }
    return ldif;
}

StallingProxy::StallingProxy(int targetPort, size_t passBytes)
    : m_target(targetPort), m_passBytes(passBytes) {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listen < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        listen(m_listen, 8) ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) ||
        pipe2(m_stop, O_CLOEXEC)) {
        ADD_FAILURE() << "the proxy cannot listen: " << std::strerror(errno);
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

StallingProxy::~StallingProxy() {
    if (m_stop[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = write(m_stop[1], &byte, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_listen, m_stop[0], m_stop[1]}) {
        if (fd >= 0)
            close(fd);
    }
}

// One connection at a time, which is all a test needs.
void StallingProxy::Run() {
    std::vector<int> open;
    int client = -1, server = -1;
    size_t passed = 0;
    char buffer[16384];
    while (true) {
        std::vector<pollfd> fds = {{m_stop[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
        if (client >= 0)
            fds.push_back({client, POLLIN, 0});
        if (server >= 0 && passed < m_passBytes)
            fds.push_back({server, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            const int accepted = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                client = accepted;
                server = ConnectLoopback(m_target);
                passed = 0;
                open.push_back(client);
                if (server >= 0)
                    open.push_back(server);
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            const bool fromClient = fds[i].fd == client;
            size_t want = sizeof buffer;
            if (!fromClient)
                want = std::min(want, m_passBytes - passed);
            const ssize_t n = read(fds[i].fd, buffer, want);
            if (n <= 0) {
                // The test's side closed: forget this connection (kept open until the end).
                if (fromClient)
                    client = -1;
                else
                    server = -1;
                continue;
            }
            const int to = fromClient ? server : client;
            if (!fromClient)
                passed += static_cast<size_t>(n);
            if (to >= 0)
                (void)send(to, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
        }
    }
    for (int fd : open)
        close(fd);
}

} // namespace testing_support
