// Out-of-office states read from the mail server: each user's active Sieve script, fetched over
// ManageSieve by an administrator acting as the user, decides whether a vacation reply would go
// out for a message arriving now.
#pragma once

#include "mailsystem/sieve/ManageSieveClient.h"
#include "mailsystem/sieve/VacationCheck.h"

#include <string>

namespace mail::sieve {

inline constexpr int kDefaultPort = 4190;
inline constexpr const char* kMailboxPlaceholder = "{mailbox}";

// The Sieve server a profile names. An empty url: the out-of-office states are the mail system
// directory's files.
struct SieveConfig {
    std::string url;      // sieve://HOST[:PORT]
    std::string user;     // the administrator who logs in (a Dovecot master user, a Cyrus admin)
    std::string password; // the administrator's; never written to an event or a log line
    bool startTls = true; // false: speak in the clear (the password then travels in the clear)
    std::string login;    // each user's login, with {mailbox} for the address-list entry's
                          // Mailbox field; empty: "{mailbox}"
    std::string zone;     // the mail server's zone (IANA name) for dates that name none; empty:
                          // the local zone
};

bool operator==(const SieveConfig& a, const SieveConfig& b);

struct SieveUrl {
    std::string host; // without IPv6 brackets
    int port = kDefaultPort;
    std::string server; // "sieve://host:port", how sentences name it
};

// False, with a sentence, unless `url` is sieve://HOST[:PORT] with a port from 1 to 65535 and
// nothing else (no user, path, query or fragment).
bool ParseSieveUrl(const std::string& url, SieveUrl& out, std::string& error);

// Empty when the settings are complete and consistent (a readable URL, an administrator, a login
// template with {mailbox} and no control characters, a known zone); else a sentence saying what
// is wrong. An empty URL is always fine.
std::string CheckSieveConfig(const SieveConfig& config);

// "sieve://host:4190 as orvane (STARTTLS), logins {mailbox}@example.com, zone Europe/Berlin",
// leaving out what is default. Never shows the password.
std::string DescribeSieveConfig(const SieveConfig& config);

// The login of the user whose Mailbox field is `mailbox`: the template with every {mailbox}
// replaced.
std::string LoginFor(const SieveConfig& config, const std::string& mailbox);

// Reads out-of-office states from one Sieve server. Readers of the same server and
// administrator share one connection, kept open between calls (and between passes) and made
// again when the server closed it. Calls on one server take turns; every wait ends within the
// client's limits.
class SieveOutOfOfficeReader {
public:
    explicit SieveOutOfOfficeReader(SieveConfig config);

    // Reads the state of the user whose address-list entry has `mailbox` as its Mailbox field,
    // for a message arriving at Clock::Now(). False, with a sentence naming the server and the
    // cause, when it cannot be read (the server cannot be reached or refuses the login, the user
    // does not exist, a script cannot be read): only this user's check fails. A server that
    // could not be reached, or refused the administrator, fails the checks of the next 30
    // seconds at once with the same sentence, so that a pass over many users does not wait on
    // it once per user.
    bool Read(const std::string& mailbox, Verdict& out, std::string& error);

    // What kind of failure a Read met, for callers that answer each kind with a code.
    enum class Failure {
        Unreachable, // no connection, a broken one, a time limit, an answer that cannot be read
        Refused,     // the administrator's login or a request was refused; unusable settings
        NoSuchUser,  // the server refused to act as this user (it does not know the login)
        Script,      // a script cannot be read or followed
    };
    bool Read(const std::string& mailbox, Verdict& out, std::string& error, Failure& failure);

    // Requests and connections made for all readers since the process started (benchmarks).
    struct Stats {
        long requests = 0;
        long connections = 0;
    };
    static Stats TotalStats();

    // Closes every kept connection (LOGOUT), so that the next Read connects anew.
    static void CloseAll();

private:
    SieveConfig m_config;
};

} // namespace mail::sieve
