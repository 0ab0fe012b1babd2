// Test servers on loopback: the aiosmtpd server of smtp_server.py, a port that refuses
// connections, and one that accepts them and never answers.
#pragma once

#include "support/TestSupport.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

// Runs a program (no shell) and waits for it; its exit status, or -1 when it could not run.
int RunProgram(const std::vector<std::string>& argv);

// Starts a Python server script (`args` after the interpreter) that prints "PORT n" first and
// runs until its standard input closes; the port, or 0 when none came. StopServerScript closes
// its input and waits for it (killing it after 5 s).
int StartServerScript(const std::vector<std::string>& args, pid_t& pid, int& stdinFd);
void StopServerScript(pid_t pid, int stdinFd);

// A self-signed certificate for 127.0.0.1 and localhost, made with the openssl command.
struct TestCertificate {
    bool ok = false; // false when openssl is not installed or failed
    std::string certFile, keyFile;
};
TestCertificate MakeCertificate(const TempDir& dir);

class SmtpTestServer {
public:
    struct Options {
        std::string mode = "accept"; // or refuse-recipient, refuse-sender, refuse-data
        std::string tls = "none";    // or implicit, starttls
        std::string certFile, keyFile;
        std::string auth; // "user:password" that AUTH must present
        int port = 0;     // 0: a free port the kernel picks (a server restarted on its old port
                          // stands for a mail server that was down and came back)
    };
    struct Message {
        std::string sender;
        std::vector<std::string> recipients;
        std::string data; // as received, after the server undid the dot-stuffing
    };

    explicit SmtpTestServer(const Options& options);
    SmtpTestServer() : SmtpTestServer(Options{}) {}
    ~SmtpTestServer();
    SmtpTestServer(const SmtpTestServer&) = delete;
    SmtpTestServer& operator=(const SmtpTestServer&) = delete;

    bool Started() const { return m_port > 0; }
    int Port() const { return m_port; }
    // "smtp://127.0.0.1:PORT" (or smtps:// for implicit TLS).
    std::string Url() const;
    // The messages accepted so far, in order.
    std::vector<Message> Messages() const;

private:
    TempDir m_spool;
    std::string m_scheme = "smtp";
    pid_t m_pid = -1;
    int m_stdin = -1; // closing it ends the server
    int m_port = 0;
};

// smtp_script_server.py: the first `failures` connections meet `fault` ("STAGE:ACTION", see the
// script; empty for none), later ones are served. `port` 0 lets the kernel choose.
class ScriptedSmtpServer {
public:
    ScriptedSmtpServer(const std::string& fault, int failures, int port = 0);
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    int Port() const { return m_port; }
    std::string Url() const;
    // How many messages the server has taken (also those whose reply it then withheld).
    int Taken() const;

private:
    TempDir m_spool;
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_port = 0;
};

// A loopback port bound without listening: connections to it are refused.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A loopback port that accepts connections (in the kernel's backlog) and never says a word.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace testing_support
