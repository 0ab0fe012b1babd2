// The address book read from an LDAP directory with libldap: TLS with verified certificates,
// simple bind, paged searches (RFC 2696) and bounded waits.
#include "mailsystem/AddressBook.h"
#include "mailsystem/Directory.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <ldap.h>
#include <mutex>
#include <netdb.h>
#include <openldap.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace mail {
namespace {

using Clock = std::chrono::steady_clock;

// A failure to reach or bind to the server is kept this long: requests meanwhile fail at once.
constexpr auto kFailureMemory = std::chrono::seconds(60);
// More entries than any real address list; a directory that sends more is refused rather than
// read into memory without end.
constexpr size_t kMaxEntries = 2'000'000;

timeval Milliseconds(long ms) {
    if (ms < 1)
        ms = 1;
    return timeval{ms / 1000, (ms % 1000) * 1000};
}

std::string Seconds(long ms) {
    const long s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

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

// libldap's text for the last failure on `ld`, in parentheses, or nothing.
std::string Diagnostic(LDAP* ld) {
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

// libldap's words for a result code, starting in lower case to follow a colon.
std::string Words(int rc) {
    std::string text = ldap_err2string(rc);
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

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

class DirectoryAddressBook final : public AddressBook {
public:
    DirectoryAddressBook(DirectoryConfig config, DirectoryUrl url, DirectoryMap map,
                         DirectoryLimits limits)
        : m_config(std::move(config)), m_url(std::move(url)), m_map(std::move(map)),
          m_limits(std::move(limits)), m_attributes(m_map.Attributes()) {
        const std::string filter = NormalizeFilter(m_config.filter);
        std::string present;
        for (const std::string& a : m_map.address)
            present += "(" + a + "=*)";
        if (m_map.address.size() > 1)
            present = "(|" + present + ")";
        m_baseFilter = filter.empty() ? present : "(&" + filter + present + ")";
    }
    ~DirectoryAddressBook() override { Disconnect(); }

    bool AddressList(std::vector<AddressEntry>& entries, std::string& error) override {
        return Read(m_baseFilter, true, entries, error);
    }

    bool FindByDisplayName(const std::string& name, std::vector<AddressEntry>& found,
                           std::string& error) override {
        return Find(m_map.displayName, &AddressEntry::displayName, name, found, error);
    }

    bool FindByAddress(const std::string& address, std::vector<AddressEntry>& found,
                       std::string& error) override {
        return Find(m_map.address, &AddressEntry::address, address, found, error);
    }

private:
    enum class Outcome {
        Ok,
        Refused, // the server answered with a failure; the connection stays usable
        Broken,  // no answer in time, or the connection failed: it is dropped and remembered
        Lost,    // the connection failed at its first answer (a kept one may be stale)
    };

    // A search for the entries whose field equals `value`: the directory matches by its own
    // rules (mostly without regard to case), so the answer is narrowed to exact equality here.
    bool Find(const std::vector<std::string>& attributes, std::string AddressEntry::*field,
              const std::string& value, std::vector<AddressEntry>& found, std::string& error) {
        found.clear();
        const std::string escaped = EscapeFilterValue(value);
        std::string any;
        for (const std::string& a : attributes)
            any += "(" + a + "=" + escaped + ")";
        if (attributes.size() > 1)
            any = "(|" + any + ")";
        std::vector<AddressEntry> candidates;
        if (!Read("(&" + m_baseFilter + any + ")", false, candidates, error))
            return false;
        for (AddressEntry& e : candidates) {
            if (e.*field == value)
                found.push_back(std::move(e));
        }
        return true;
    }

    // Runs one search; a kept connection that the server has closed meanwhile is opened again
    // once.
    bool Read(const std::string& filter, bool whole, std::vector<AddressEntry>& entries,
              std::string& error) {
        entries.clear();
        NoSigpipe guard;
        if (!m_failure.empty() && Clock::now() - m_failedAt < kFailureMemory) {
            error = m_failure;
            return false;
        }
        m_failure.clear();
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool fresh = m_ld == nullptr;
            if (fresh && !Connect(error))
                return Remember(error);
            const Outcome outcome = Search(filter, whole, entries, error);
            if (outcome == Outcome::Ok)
                return true;
            entries.clear();
            if (outcome == Outcome::Refused)
                return false;
            Disconnect();
            if (outcome == Outcome::Broken || fresh)
                return Remember(error);
        }
        return Remember(error);
    }

    bool Remember(const std::string& error) {
        Disconnect();
        m_failure = error;
        m_failedAt = Clock::now();
        return false;
    }

    std::string Sentence(const std::string& what) const {
        return "The directory " + m_config.url + " " + what + ".";
    }

    // Waits up to `timeoutMs` for the next message of `msgid`; null, with the reason in `error`,
    // when none came in time (the request is abandoned) or the connection failed.
    LDAPMessage* Answer(int msgid, long timeoutMs, std::string& error) {
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
            error = Sentence("did not answer within " + Seconds(timeoutMs));
        } else {
            error = Sentence("closed the connection: " + Words(code) + Diagnostic(m_ld));
        }
        return nullptr;
    }

    // Opens the connection (TLS from the first byte, or StartTLS) and binds.
    bool Connect(std::string& error) {
        Disconnect();
        const int fd = OpenSocket(error);
        if (fd < 0)
            return false;
        // libldap is handed a connected socket: it owns it from here on and closes it.
        if (ldap_init_fd(fd, LDAP_PROTO_TCP, m_url.server.c_str(), &m_ld) != LDAP_SUCCESS ||
            !m_ld) {
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
        bool set =
            ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version) == LDAP_OPT_SUCCESS &&
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
            error = Sentence("cannot be used: the TLS settings were refused" + Diagnostic(m_ld));
            return false;
        }

        if (m_url.tls && !InstallTls(m_limits.connectTimeoutMs, error))
            return false;
        if (!m_url.tls && m_config.startTls) {
            int msgid = 0;
            int rc = ldap_extended_operation(m_ld, LDAP_EXOP_START_TLS, nullptr, nullptr, nullptr,
                                             &msgid);
            if (rc != LDAP_SUCCESS) {
                error = Sentence("closed the connection: " + Words(rc) + Diagnostic(m_ld));
                return false;
            }
            LDAPMessage* answer = Answer(msgid, m_limits.operationTimeoutMs, error);
            if (!answer)
                return false;
            int result = LDAP_OTHER;
            rc = ldap_parse_result(m_ld, answer, &result, nullptr, nullptr, nullptr, nullptr, 1);
            if (rc != LDAP_SUCCESS || result != LDAP_SUCCESS) {
                error =
                    Sentence("does not offer StartTLS (" + Words(rc != LDAP_SUCCESS ? rc : result) +
                             "), and the profile allows no connection without TLS");
                return false;
            }
            if (!InstallTls(m_limits.operationTimeoutMs, error))
                return false;
        }

        berval password;
        password.bv_len = m_config.password.size();
        password.bv_val = const_cast<char*>(m_config.password.c_str());
        int msgid = 0;
        int rc = ldap_sasl_bind(m_ld, m_config.user.c_str(), LDAP_SASL_SIMPLE, &password, nullptr,
                                nullptr, &msgid);
        if (rc != LDAP_SUCCESS) {
            error = Sentence("closed the connection: " + Words(rc) + Diagnostic(m_ld));
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
            error = Sentence("refused " +
                             (m_config.user.empty() ? std::string("an anonymous bind")
                                                    : "the bind as " + m_config.user) +
                             ": " + Words(code) + said +
                             (code == LDAP_INVALID_CREDENTIALS
                                  ? " (check the profile's directory user and "
                                    "password)"
                                  : ""));
            return false;
        }
        return true;
    }

    // A TCP connection to the server within the connection time limit, trying each of its
    // addresses in turn; -1, with the sentence in `error`, when none answers.
    int OpenSocket(std::string& error) {
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
                    const long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                          deadline - Clock::now())
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
                            ? "no answer within " + Seconds(m_limits.connectTimeoutMs)
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
    bool InstallTls(long timeoutMs, std::string& error) {
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
            error = Sentence("did not answer within " + Seconds(timeoutMs));
            return false;
        }
        error = Sentence("cannot be reached securely: the TLS connection could not be set up or "
                         "the server's certificate is not trusted" +
                         Diagnostic(m_ld));
        return false;
    }

    // One paged search (RFC 2696), every page in turn; the entries in the directory's order.
    Outcome Search(const std::string& filter, bool whole, std::vector<AddressEntry>& entries,
                   std::string& error) {
        std::vector<char*> attributes;
        for (const std::string& a : m_attributes)
            attributes.push_back(const_cast<char*>(a.c_str()));
        attributes.push_back(nullptr);
        const long budgetMs = whole ? m_limits.readTimeoutMs : m_limits.operationTimeoutMs;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
        timeval serverLimit = {std::max<long>(1, (budgetMs + 999) / 1000), 0};

        berval cookie = {0, nullptr};
        size_t received = 0;
        bool firstAnswer = true;
        while (true) {
            LDAPControl* page = nullptr;
            int rc = ldap_create_page_control(m_ld, m_limits.pageSize, &cookie, 0, &page);
            ber_memfree(cookie.bv_val);
            cookie = {0, nullptr};
            if (rc != LDAP_SUCCESS) {
                error = Sentence("cannot be searched: " + Words(rc));
                return Outcome::Refused;
            }
            LDAPControl* controls[] = {page, nullptr};
            int msgid = 0;
            rc = ldap_search_ext(m_ld, m_url.baseDn.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(),
                                 attributes.data(), 0, controls, nullptr, &serverLimit,
                                 LDAP_NO_LIMIT, &msgid);
            ldap_control_free(page);
            if (rc == LDAP_FILTER_ERROR) {
                error = Sentence("cannot be searched: the filter " + filter +
                                 " is not a valid LDAP filter (check the profile's directory "
                                 "filter)");
                return Outcome::Refused;
            }
            if (rc != LDAP_SUCCESS) {
                error = Sentence("closed the connection: " + Words(rc) + Diagnostic(m_ld));
                return firstAnswer ? Outcome::Lost : Outcome::Broken;
            }

            while (true) {
                const long left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count();
                if (left <= 0) {
                    ldap_abandon_ext(m_ld, msgid, nullptr, nullptr);
                    error = Sentence("did not finish the read within " + Seconds(budgetMs));
                    return Outcome::Broken;
                }
                const bool last = left < m_limits.operationTimeoutMs;
                LDAPMessage* message =
                    Answer(msgid, last ? left : m_limits.operationTimeoutMs, error);
                if (!message) {
                    if (last && Clock::now() >= deadline)
                        error = Sentence("did not finish the read within " + Seconds(budgetMs));
                    // Only a connection that failed at its very first answer may have been
                    // closed by the server while it was kept; anything later is reported.
                    return firstAnswer ? Outcome::Lost : Outcome::Broken;
                }
                firstAnswer = false;
                const int type = ldap_msgtype(message);
                if (type == LDAP_RES_SEARCH_ENTRY) {
                    if (++received > kMaxEntries) {
                        ldap_msgfree(message);
                        ldap_abandon_ext(m_ld, msgid, nullptr, nullptr);
                        error = Sentence("holds more than " + std::to_string(kMaxEntries) +
                                         " entries for the address list; narrow it with the "
                                         "profile's directory filter");
                        return Outcome::Refused;
                    }
                    AddressEntry entry;
                    if (MapDirectoryEntry(m_map, Attributes(message), entry))
                        entries.push_back(std::move(entry));
                    ldap_msgfree(message);
                    continue;
                }
                if (type != LDAP_RES_SEARCH_RESULT) {
                    ldap_msgfree(message); // a continuation reference: referrals are not chased
                    continue;
                }
                int result = LDAP_OTHER;
                char* diagnostic = nullptr;
                LDAPControl** returned = nullptr;
                rc = ldap_parse_result(m_ld, message, &result, nullptr, &diagnostic, nullptr,
                                       &returned, 1);
                const std::string said =
                    diagnostic && *diagnostic ? std::string(" (") + diagnostic + ")" : "";
                ldap_memfree(diagnostic);
                if (rc == LDAP_SUCCESS && result == LDAP_SUCCESS && returned) {
                    if (LDAPControl* response =
                            ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
                        ber_int_t estimate = 0;
                        if (ldap_parse_pageresponse_control(m_ld, response, &estimate, &cookie) !=
                            LDAP_SUCCESS)
                            cookie = {0, nullptr};
                    }
                }
                ldap_controls_free(returned);
                if (rc != LDAP_SUCCESS) {
                    error = Sentence("sent an answer that cannot be read: " + Words(rc));
                    return Outcome::Broken;
                }
                if (result == LDAP_SIZELIMIT_EXCEEDED || result == LDAP_ADMINLIMIT_EXCEEDED) {
                    ber_memfree(cookie.bv_val);
                    error = Sentence(
                        "stopped the read of the address list after " + std::to_string(received) +
                        " entries (" + Words(result) + said +
                        "), so the list is not used; let the profile's directory user read it "
                        "whole (for slapd: limits dn.exact=\"BIND-DN\" size.prtotal=unlimited)");
                    return Outcome::Refused;
                }
                if (result != LDAP_SUCCESS) {
                    ber_memfree(cookie.bv_val);
                    error = Sentence("refused the search: " + Words(result) + said);
                    return Outcome::Refused;
                }
                break;
            }
            if (cookie.bv_len == 0 || !cookie.bv_val) {
                ber_memfree(cookie.bv_val);
                return Outcome::Ok;
            }
        }
    }

    // The attributes of one entry, by lower-case name, with their values.
    DirectoryAttributes Attributes(LDAPMessage* entry) {
        DirectoryAttributes attributes;
        BerElement* ber = nullptr;
        for (char* name = ldap_first_attribute(m_ld, entry, &ber); name;
             name = ldap_next_attribute(m_ld, entry, ber)) {
            std::string key = name;
            for (char& c : key) {
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            }
            std::vector<std::string>& values = attributes[key];
            if (berval** list = ldap_get_values_len(m_ld, entry, name)) {
                for (berval** v = list; *v; ++v)
                    values.emplace_back((*v)->bv_val, (*v)->bv_len);
                ldap_value_free_len(list);
            }
            ldap_memfree(name);
        }
        if (ber)
            ber_free(ber, 0);
        return attributes;
    }

    void Disconnect() {
        if (!m_ld)
            return;
        NoSigpipe guard;
        ldap_unbind_ext(m_ld, nullptr, nullptr);
        m_ld = nullptr;
        m_fd = -1;
    }

    DirectoryConfig m_config;
    DirectoryUrl m_url;
    DirectoryMap m_map;
    DirectoryLimits m_limits;
    std::vector<std::string> m_attributes;
    std::string m_baseFilter;
    LDAP* m_ld = nullptr;
    int m_fd = -1;         // the connection's socket, owned by m_ld
    std::string m_failure; // a failure to reach the server or bind, kept for kFailureMemory
    Clock::time_point m_failedAt;
};

} // namespace

std::unique_ptr<AddressBook> NewDirectoryAddressBook(const DirectoryConfig& config,
                                                     const DirectoryLimits& limits,
                                                     std::string& error) {
    const std::string problem = CheckDirectory(config);
    if (!problem.empty()) {
        error = problem;
        return nullptr;
    }
    DirectoryUrl url;
    DirectoryMap map;
    if (!ParseDirectoryUrl(config.url, url, error) || !ParseDirectoryMap(config.map, map, error))
        return nullptr;
    return std::make_unique<DirectoryAddressBook>(config, std::move(url), std::move(map), limits);
}

} // namespace mail
