// One connection to an LDAP directory server with libldap: the TCP connection made here within
// a time limit, TLS from the first byte or StartTLS with the certificate verified, a simple bind,
// and waits for answers that end within their limits.
#pragma once

#include "mailsystem/ldap/LdapSettings.h"

#include <csignal>
#include <ldap.h>
#include <string>

namespace mail {

// libldap writes to its socket with write(): a server that closed the connection would raise
// SIGPIPE and end the program. The signal is blocked on this thread while libldap runs, and one
// it raised meanwhile is taken off before the old mask comes back.
class NoSigpipe {
public:
    NoSigpipe() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    }
    ~NoSigpipe() {
        if (!m_wasPending && sigismember(&m_old, SIGPIPE) != 1) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec now = {0, 0};
                sigtimedwait(&m_pipe, nullptr, &now);
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    NoSigpipe(const NoSigpipe&) = delete;
    NoSigpipe& operator=(const NoSigpipe&) = delete;

private:
    sigset_t m_pipe, m_old;
    bool m_wasPending = false;
};

// libldap's words for a result code, starting in lower case to follow a colon.
std::string LdapWords(int rc);
// "1 second", "10 seconds": a time limit in whole seconds, rounded up.
std::string LimitText(long ms);

class LdapConnection {
public:
    LdapConnection(const LdapConfig& config, const LdapUrl& url, const LdapLimits& limits)
        : m_config(config), m_url(url), m_limits(limits) {}
    ~LdapConnection() { Close(); }
    LdapConnection(const LdapConnection&) = delete;
    LdapConnection& operator=(const LdapConnection&) = delete;

    // Connects (TLS from the first byte, or StartTLS) and binds; false, with the sentence in
    // `error`, when any step fails. Call with SIGPIPE blocked (NoSigpipe).
    bool Open(std::string& error);
    bool IsOpen() const { return m_ld != nullptr; }
    // Unbinds and closes; nothing when not open.
    void Close();
    LDAP* Handle() const { return m_ld; }

    // Waits up to `timeoutMs` for the next message of `msgid`; null, with the reason in `error`,
    // when none came in time (the request is abandoned) or the connection failed.
    LDAPMessage* Answer(int msgid, long timeoutMs, std::string& error);

    // "The directory URL " + what + ".": how every sentence about the directory reads.
    std::string Sentence(const std::string& what) const;
    // libldap's text for the last failure, in parentheses after a blank, or nothing.
    std::string Diagnostic() const;

private:
    int OpenSocket(std::string& error);
    bool InstallTls(long timeoutMs, std::string& error);

    LdapConfig m_config;
    LdapUrl m_url;
    LdapLimits m_limits;
    LDAP* m_ld = nullptr;
    int m_fd = -1; // the connection's socket, owned by m_ld
};

} // namespace mail
