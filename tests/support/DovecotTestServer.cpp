// Dovecot with ManageSieve on loopback: a temporary configuration, users, a test CA, scripts.
#include "support/DovecotTestServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

constexpr const char* kDovecot = "/usr/sbin/dovecot";

bool RunQuietly(const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(args.front(), args.mid(1));
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok)
        ADD_FAILURE() << args.join(' ').toStdString() << ":\n"
                      << process.readAll().toStdString();
    return ok;
}

// Starts a program with its output in `log`; it is killed when the test process ends, even when
// a test is interrupted.
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

std::string NameOf(uid_t uid) {
    const passwd* entry = getpwuid(uid);
    return entry ? entry->pw_name : std::to_string(uid);
}

} // namespace

DovecotTestServer::DovecotTestServer(const std::vector<std::string>& users) : m_users(users) {
    if (access(kDovecot, X_OK) != 0) {
        ADD_FAILURE() << kDovecot
                      << " is not installed (scripts/setup-debian.sh --tests installs "
                         "dovecot-core, dovecot-managesieved and dovecot-sieve)";
        return;
    }
    // Dovecot runs no user's mail process as root: as root the users are "nobody".
    m_mailUid = geteuid();
    m_mailGid = getegid();
    if (m_mailUid == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody) {
            ADD_FAILURE() << "there is no user \"nobody\" to run the test users' mail processes";
            return;
        }
        m_mailUid = nobody->pw_uid;
        m_mailGid = nobody->pw_gid;
    }
    // The users' processes reach their homes through the temporary directory.
    chmod(m_dir.Path().c_str(), 0755);
    mkdir(m_dir.File("run").c_str(), 0755);
    mkdir(m_dir.File("state").c_str(), 0755);
    mkdir(m_dir.File("home").c_str(), 0755);
    if (!MakeCertificates())
        return;
    std::string passwd;
    for (const std::string& user : m_users) {
        mkdir(Home(user).c_str(), 0700);
        GiveToMailUser(Home(user));
        passwd += user + ":{PLAIN}" + user + "-pw:" + std::to_string(m_mailUid) + ":" +
                  std::to_string(m_mailGid) + "::" + Home(user) + "\n";
    }
    WriteFile(m_dir.File("users"), passwd);
    WriteFile(m_dir.File("masters"), std::string(kMaster) + ":{PLAIN}" + kMasterPassword + "\n");
    chmod(m_dir.File("users").c_str(), 0644);
    chmod(m_dir.File("masters").c_str(), 0644);
    m_port = FreePort();
    WriteConfiguration();
    for (int attempt = 0; attempt < 3 && !Start(); ++attempt) {
        m_port = FreePort(); // most likely taken meanwhile
        WriteConfiguration();
    }
    if (!Started())
        ADD_FAILURE() << "Dovecot did not start:\n" << Log();
}

DovecotTestServer::~DovecotTestServer() {
    Stop();
}

std::string DovecotTestServer::Url() const {
    return "sieve://127.0.0.1:" + std::to_string(m_port);
}

std::string DovecotTestServer::Home(const std::string& user) const {
    return m_dir.File("home/" + user);
}

void DovecotTestServer::GiveToMailUser(const std::string& path) const {
    if (geteuid() == 0 && lchown(path.c_str(), m_mailUid, m_mailGid) != 0)
        ADD_FAILURE() << "cannot give " << path << " to the mail user: " << std::strerror(errno);
}

bool DovecotTestServer::MakeCertificates() {
    m_caFile = m_dir.File("ca.pem");
    const QString dir = QString::fromStdString(m_dir.Path());
    WriteFile(m_dir.File("server.ext"), "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    return RunQuietly(QStringList{"openssl", "req", "-x509"} + ec +
                      QStringList{"-keyout", dir + "/ca.key", "-out", dir + "/ca.pem", "-days",
                                  "2", "-subj", "/CN=Orvane test CA"}) &&
           RunQuietly(QStringList{"openssl", "req"} + ec +
                      QStringList{"-keyout", dir + "/server.key", "-out", dir + "/server.csr",
                                  "-subj", "/CN=127.0.0.1"}) &&
           RunQuietly({"openssl", "x509", "-req", "-in", dir + "/server.csr", "-CA",
                       dir + "/ca.pem", "-CAkey", dir + "/ca.key", "-CAcreateserial", "-out",
                       dir + "/server.pem", "-days", "2", "-extfile", dir + "/server.ext"});
}

void DovecotTestServer::WriteConfiguration() {
    const bool root = geteuid() == 0;
    // As root, Dovecot's own unprivileged users run its services; otherwise everything runs as
    // the test's user.
    const std::string me = NameOf(geteuid());
    const std::string internal = root ? "dovecot" : me;
    const std::string login = root ? "dovenull" : me;
    const std::string& d = m_dir.Path();
    m_config = m_dir.File("dovecot.conf");
    WriteFile(m_config,
              "base_dir = " + d + "/run\nstate_dir = " + d + "/state\nlog_path = " + d +
                  "/dovecot.log\n"
                  "protocols = sieve\nlisten = 127.0.0.1\n"
                  "ssl = required\nssl_cert = <" +
                  d + "/server.pem\nssl_key = <" + d +
                  "/server.key\nssl_min_protocol = TLSv1.2\n"
                  "disable_plaintext_auth = yes\nauth_mechanisms = plain\n"
                  // A refused login is answered at once: the tests try wrong passwords.
                  "auth_failure_delay = 0\n"
                  "default_internal_user = " +
                  internal + "\ndefault_internal_group = " + internal +
                  "\ndefault_login_user = " + login + "\nfirst_valid_uid = " +
                  std::to_string(m_mailUid) + "\nmail_location = maildir:~/Maildir\n" +
                  "passdb {\n  driver = passwd-file\n  master = yes\n  args = " + d +
                  "/masters\n  pass = yes\n}\n"
                  "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " +
                  d + "/users\n}\nuserdb {\n  driver = passwd-file\n  args = " + d +
                  "/users\n}\n"
                  "service managesieve-login {\n  chroot =\n  inet_listener sieve {\n"
                  "    address = 127.0.0.1\n    port = " +
                  std::to_string(m_port) +
                  "\n  }\n}\n"
                  // No growing delays for the loopback address after a refused login.
                  "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n"
                  "plugin {\n  sieve = file:~/sieve;active=~/.dovecot.sieve\n}\n");
}

bool DovecotTestServer::Start() {
    // -F keeps the master in the foreground, a child of the test that ends it.
    m_pid = Spawn({kDovecot, "-F", "-c", m_config}, m_dir.File("dovecot.out"));
    if (m_pid <= 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
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

bool DovecotTestServer::Restart() {
    if (m_pid > 0)
        return true;
    // The master gives its port up as it ends; a moment may pass before it can be bound again.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (Start())
            return true;
        poll(nullptr, 0, 100);
    }
    return false;
}

void DovecotTestServer::Stop() {
    if (m_pid <= 0)
        return;
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

void DovecotTestServer::EndSessions(const std::string& user) {
    // "managesieve-login: Info: Login: user=<USER>, method=PLAIN, ..., mpid=PID, ..."
    const std::string log = Log();
    const std::string marker = "Login: user=<" + user + ">,";
    for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
        const size_t line = log.find('\n', at);
        const size_t mpid = log.find("mpid=", at);
        if (mpid == std::string::npos || mpid > line)
            continue;
        const pid_t pid = static_cast<pid_t>(std::atoi(log.c_str() + mpid + 5));
        if (pid <= 0 || kill(pid, SIGTERM) != 0)
            continue;
        // Its connection is closed once the process has ended (a zombie until Dovecot reaps it).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
            QFile file(QString::fromStdString(stat));
            if (!file.open(QIODevice::ReadOnly))
                break;
            const QByteArray fields = file.readAll();
            const int close = fields.lastIndexOf(')');
            if (close < 0 || close + 2 >= fields.size() || fields[close + 2] == 'Z' ||
                fields[close + 2] == 'X')
                break;
            poll(nullptr, 0, 10);
        }
    }
}

void DovecotTestServer::PutScript(const std::string& user, const std::string& name,
                                  const std::string& text) {
    const std::string dir = Home(user) + "/sieve";
    mkdir(dir.c_str(), 0700);
    GiveToMailUser(dir);
    const std::string path = dir + "/" + name + ".sieve";
    WriteFile(path, text);
    GiveToMailUser(path);
}

void DovecotTestServer::Activate(const std::string& user, const std::string& name) {
    const std::string link = Home(user) + "/.dovecot.sieve";
    unlink(link.c_str());
    if (name.empty())
        return;
    if (symlink(("sieve/" + name + ".sieve").c_str(), link.c_str()) != 0)
        ADD_FAILURE() << "cannot make " << link << ": " << std::strerror(errno);
    GiveToMailUser(link);
}

void DovecotTestServer::RemoveScripts(const std::string& user) {
    Activate(user, "");
    QDir(QString::fromStdString(Home(user) + "/sieve")).removeRecursively();
}

std::string DovecotTestServer::Log() const {
    std::string log;
    for (const char* name : {"dovecot.out", "dovecot.log"}) {
        QFile file(QString::fromStdString(m_dir.File(name)));
        if (file.open(QIODevice::ReadOnly))
            log += file.readAll().toStdString();
    }
    return log;
}

} // namespace testing_support
