// One connection to an LDAP directory server: connecting, TLS, binding, and bounded waits.
#include "mailsystem/ldap/LdapConnection.h"

#include "core/Credentials.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <openldap.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace mail {
namespace {

using Clock = std::chrono::steady_clock;

timeval Milliseconds(long ms) {
    if (ms < 1)
        ms = 1;
    return timeval{ms / 1000, (ms % 1000) * 1000};
}

} // namespace

std::string LimitText(long ms) {
    const long s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

std::string LdapWords(int rc) {
    std::string text = ldap_err2string(rc);
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

namespace {

// Shuts a socket down when a time limit passes before it is destroyed: every read and write on
// the socket then fails at once, whatever state the code using it is in.
class Watchdog {
public:
    Watchdog(int fd, long timeoutMs)
        : m_thread([this, fd, timeoutMs] {
              std::unique_lock<std::mutex> lock(m_lock);
              if (!m_done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [this] { return m_finished; })) {
                  m_fired = true;
                  shutdown(fd, SHUT_RDWR);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    bool Fired() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_fired;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_finished = false, m_fired = false;
    std::thread m_thread; // last: started once the members above exist
};

} // namespace

std::string LdapConnection::Diagnostic() const {
    LDAP* ld = m_ld;
    char* text = nullptr;
    if (!ld || ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) != LDAP_OPT_SUCCESS || !text)
        return {};
    std::string diagnostic = text;
    ldap_memfree(text);
    for (char& c : diagnostic) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    }
    // GnuTLS's text for a failed handshake says nothing a person can act on.
    if (diagnostic.empty() || diagnostic == "(unknown error code)")
        return {};
    if (diagnostic.front() == '(' && diagnostic.back() == ')')
        return " " + diagnostic;
    return " (" + diagnostic + ")";
}

std::string LdapConnection::Sentence(const std::string& what) const {
    return "The directory " + m_config.url + " " + what + ".";
}

void LdapConnection::Close() {
    if (!m_ld)
        return;
    NoSigpipe guard;
    ldap_unbind_ext(m_ld, nullptr, nullptr);
    m_ld = nullptr;
    m_fd = -1;
}

LDAPMessage* LdapConnection::Answer(int msgid, long timeoutMs, std::string& error) {
    timeval wait = Milliseconds(timeoutMs);
    LDAPMessage* message = nullptr;
    const int rc = ldap_result(m_ld, msgid, LDAP_MSG_ONE, &wait, &message);
    if (rc > 0)
        return message;
    if (message)
        ldap_msgfree(message);
    int code = LDAP_TIMEOUT;
    if (rc != 0)
        ldap_get_option(m_ld, LDAP_OPT_RESULT_CODE, &code);
    if (rc == 0 || code == LDAP_TIMEOUT) {
        ldap_abandon_ext(m_ld, msgid, nullptr, nullptr);
        error = Sentence("did not answer within " + LimitText(timeoutMs));
    } else {
        error = Sentence("closed the connection: " + LdapWords(code) + Diagnostic());
    }
    return nullptr;
}

bool LdapConnection::Open(std::string& error) {
    Close();
    // Read at every connection: a credential of the service manager changes with the unit.
    std::string password, why;
    if (!credentials::Resolve(m_config.password, password, why)) {
        error = Sentence("cannot be bound to: the directory password is not available") + " " + why;
        return false;
    }
    const int fd = OpenSocket(error);
    if (fd < 0)
        return false;
    // libldap is handed a connected socket: it owns it from here on and closes it.
    if (ldap_init_fd(fd, LDAP_PROTO_TCP, m_url.server.c_str(), &m_ld) != LDAP_SUCCESS || !m_ld) {
        close(fd);
        m_ld = nullptr;
        error = Sentence("cannot be used: libldap does not accept the server " + m_url.server);
        return false;
    }
    m_fd = fd;
    const int version = LDAP_VERSION3;
    const timeval operation = Milliseconds(m_limits.operationTimeoutMs);
    // Certificates are always verified, whatever ldap.conf or ~/.ldaprc say.
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    const int tls12 = LDAP_OPT_X_TLS_PROTOCOL_TLS1_2;
    const int client = 0;
    bool set = ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version) == LDAP_OPT_SUCCESS &&
               ldap_set_option(m_ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) == LDAP_OPT_SUCCESS &&
               ldap_set_option(m_ld, LDAP_OPT_TIMEOUT, &operation) == LDAP_OPT_SUCCESS &&
               ldap_set_option(m_ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand) == LDAP_OPT_SUCCESS &&
               ldap_set_option(m_ld, LDAP_OPT_X_TLS_PROTOCOL_MIN, &tls12) == LDAP_OPT_SUCCESS;
    if (set && !m_limits.caFile.empty())
        set = ldap_set_option(m_ld, LDAP_OPT_X_TLS_CACERTFILE, m_limits.caFile.c_str()) ==
              LDAP_OPT_SUCCESS;
    if (set && (m_url.tls || m_config.startTls))
        set = ldap_set_option(m_ld, LDAP_OPT_X_TLS_NEWCTX, &client) == LDAP_OPT_SUCCESS;
    if (!set) {
        error = Sentence("cannot be used: the TLS settings were refused" + Diagnostic());
        return false;
    }

    if (m_url.tls && !InstallTls(m_limits.connectTimeoutMs, error))
        return false;
    if (!m_url.tls && m_config.startTls) {
        int msgid = 0;
        int rc =
            ldap_extended_operation(m_ld, LDAP_EXOP_START_TLS, nullptr, nullptr, nullptr, &msgid);
        if (rc != LDAP_SUCCESS) {
            error = Sentence("closed the connection: " + LdapWords(rc) + Diagnostic());
            return false;
        }
        LDAPMessage* answer = Answer(msgid, m_limits.operationTimeoutMs, error);
        if (!answer)
            return false;
        int result = LDAP_OTHER;
        rc = ldap_parse_result(m_ld, answer, &result, nullptr, nullptr, nullptr, nullptr, 1);
        if (rc != LDAP_SUCCESS || result != LDAP_SUCCESS) {
            error =
                Sentence("does not offer StartTLS (" + LdapWords(rc != LDAP_SUCCESS ? rc : result) +
                         "), and the profile allows no connection without TLS");
            return false;
        }
        if (!InstallTls(m_limits.operationTimeoutMs, error))
            return false;
    }

    berval credential;
    credential.bv_len = password.size();
    credential.bv_val = password.data();
    int msgid = 0;
    int rc = ldap_sasl_bind(m_ld, m_config.user.c_str(), LDAP_SASL_SIMPLE, &credential, nullptr,
                            nullptr, &msgid);
    if (rc != LDAP_SUCCESS) {
        error = Sentence("closed the connection: " + LdapWords(rc) + Diagnostic());
        return false;
    }
    LDAPMessage* answer = Answer(msgid, m_limits.operationTimeoutMs, error);
    if (!answer)
        return false;
    int result = LDAP_OTHER;
    char* diagnostic = nullptr;
    rc = ldap_parse_result(m_ld, answer, &result, nullptr, &diagnostic, nullptr, nullptr, 1);
    std::string said = diagnostic && *diagnostic ? std::string(" (") + diagnostic + ")" : "";
    ldap_memfree(diagnostic);
    if (rc != LDAP_SUCCESS || result != LDAP_SUCCESS) {
        const int code = rc != LDAP_SUCCESS ? rc : result;
        error =
            Sentence("refused " +
                     (m_config.user.empty() ? std::string("an anonymous bind")
                                            : "the bind as " + m_config.user) +
                     ": " + LdapWords(code) + said +
                     (code == LDAP_INVALID_CREDENTIALS ? " (check the profile's directory user and "
                                                         "password)"
                                                       : ""));
        return false;
    }
    return true;
}

// A TCP connection to the server within the connection time limit, trying each of its
// addresses in turn; -1, with the sentence in `error`, when none answers.
int LdapConnection::OpenSocket(std::string& error) {
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved =
        getaddrinfo(m_url.host.c_str(), std::to_string(m_url.port).c_str(), &hints, &addresses);
    if (resolved != 0) {
        error = Sentence("cannot be reached: the name " + m_url.host + " cannot be resolved (" +
                         gai_strerror(resolved) + ")");
        return -1;
    }
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(m_limits.connectTimeoutMs);
    std::string cause = "it has no address";
    int fd = -1;
    for (addrinfo* a = addresses; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            cause = std::strerror(errno);
            continue;
        }
        int failure = 0;
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            failure = errno;
            if (failure == EINPROGRESS) {
                const long left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count();
                pollfd p = {fd, POLLOUT, 0};
                int ready;
                do {
                    ready = poll(&p, 1, static_cast<int>(std::max<long>(left, 0)));
                } while (ready < 0 && errno == EINTR);
                socklen_t length = sizeof failure;
                if (ready == 0)
                    failure = ETIMEDOUT;
                else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length))
                    failure = errno;
            }
        }
        if (failure != 0) {
            cause = failure == ETIMEDOUT
                        ? "no answer within " + LimitText(m_limits.connectTimeoutMs)
                        : std::string(std::strerror(failure));
            close(fd);
            fd = -1;
            continue;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    freeaddrinfo(addresses);
    if (fd < 0)
        error = Sentence("cannot be reached: " + cause);
    return fd;
}

// The TLS handshake on the open connection. libldap bounds it poorly (a server that
// accepts and stays silent can keep it waiting, or spinning), so a watchdog shuts the
// socket down when the limit passes, which ends the handshake at once.
bool LdapConnection::InstallTls(long timeoutMs, std::string& error) {
    int rc;
    bool late;
    {
        Watchdog watchdog(m_fd, timeoutMs);
        rc = ldap_install_tls(m_ld);
        late = watchdog.Fired();
    }
    if (rc == LDAP_SUCCESS)
        return true;
    if (late) {
        error = Sentence("did not answer within " + LimitText(timeoutMs));
        return false;
    }
    error = Sentence("cannot be reached securely: the TLS connection could not be set up or "
                     "the server's certificate is not trusted" +
                     Diagnostic());
    return false;
}

} // namespace mail
