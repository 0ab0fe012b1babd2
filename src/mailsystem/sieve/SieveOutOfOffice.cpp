// The Sieve server's settings, and the reader that keeps one connection per server between
// checks and decides each user's state from the scripts it fetches.
#include "mailsystem/sieve/SieveOutOfOffice.h"

#include "core/Clock.h"
#include "core/Credentials.h"
#include "core/Text.h"

#include <QUrl>
#include <map>
#include <memory>
#include <mutex>

namespace mail::sieve {
namespace {

constexpr int64_t kRememberMs = 30000; // how long a server-wide failure is given back at once

// One server's kept connection, and a failure that every check gets back for a while.
struct Kept {
    std::unique_ptr<ManageSieveClient> client;
    std::string caFile; // the CA bundle the client was made with
    std::string failure;
    SieveOutOfOfficeReader::Failure failureKind = SieveOutOfOfficeReader::Failure::Unreachable;
    int64_t failureUntil = 0; // Clock::SteadyMilliseconds()
};

struct Pool {
    std::mutex mutex;                 // held for a whole check: checks on all servers take turns
    std::map<std::string, Kept> kept; // by server, administrator, password and TLS
    SieveOutOfOfficeReader::Stats retired; // of clients no longer kept
};

Pool& ThePool() {
    static Pool* pool = new Pool; // outlives static destructors that might still check
    return *pool;
}

void Retire(Pool& pool, Kept& kept) {
    if (!kept.client)
        return;
    kept.client->Logout();
    pool.retired.requests += kept.client->Requests();
    pool.retired.connections += kept.client->Connections();
    kept.client.reset();
}

// A login refusal that names the authorization is about the user (Dovecot: "Authorization
// failed" for a user it does not know); any other is about the administrator's credentials.
bool AboutTheUser(const std::string& refusal) {
    std::string lower;
    for (char c : refusal)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower.find("authoriz") != std::string::npos;
}

using Failure = SieveOutOfOfficeReader::Failure;

// Reads one user's state on a logged-in client. False with the sentence and its kind; the
// client is closed when the connection was lost.
bool Decide(ManageSieveClient& client, const std::string& login, const Zone& zone, Verdict& out,
            std::string& error, Failure& failure) {
    // A request the server answered with NO leaves the connection open: a refusal. Anything
    // else that ends a request closes it.
    const auto requestFailed = [&client, &failure] {
        failure = client.IsOpen() ? Failure::Refused : Failure::Unreachable;
        return false;
    };
    std::vector<ScriptEntry> scripts;
    if (!client.ListScripts(scripts, error))
        return requestFailed();
    const ScriptEntry* active = nullptr;
    for (const ScriptEntry& s : scripts) {
        if (s.active)
            active = &s;
    }
    if (!active) {
        out = NoActiveScript();
        return true;
    }
    std::string text;
    bool missing = false;
    if (!client.GetScript(active->name, text, missing, error)) {
        if (missing) {
            error = "The Sieve server " + client.Server() + " lists the script \"" + active->name +
                    "\" of " + login + " as active but does not hand it out.";
            failure = Failure::Script;
            return false;
        }
        return requestFailed();
    }
    Situation situation;
    situation.now = Clock::Now().GetTime();
    situation.serverZone = zone;
    situation.source = [&client](const std::string& name, bool global) {
        Fetched fetched;
        // ManageSieve serves the user's own scripts only.
        if (global) {
            fetched.status = Fetched::Status::Unavailable;
            return fetched;
        }
        bool gone = false;
        if (client.GetScript(name, fetched.text, gone, fetched.error))
            fetched.status = Fetched::Status::Found;
        else
            fetched.status = gone ? Fetched::Status::Missing : Fetched::Status::Failed;
        return fetched;
    };
    ScriptFault fault;
    if (!DecideVacation(active->name, text, situation, out, fault)) {
        error = FaultSentence(fault, " of " + login + " on " + client.Server());
        // An include whose fetch broke the connection is the server's failure, not the script's.
        failure = fault.fetchError.empty() ? Failure::Script
                  : client.IsOpen()        ? Failure::Refused
                                           : Failure::Unreachable;
        return false;
    }
    return true;
}

} // namespace

bool operator==(const SieveConfig& a, const SieveConfig& b) {
    return a.url == b.url && a.user == b.user && a.password == b.password &&
           a.startTls == b.startTls && a.login == b.login && a.zone == b.zone;
}

bool ParseSieveUrl(const std::string& url, SieveUrl& out, std::string& error) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    const std::string expected =
        "The out-of-office server \"" + url + "\" is not sieve://HOST or sieve://HOST:PORT";
    if (!parsed.isValid() || parsed.scheme() != QLatin1String("sieve") || parsed.host().isEmpty()) {
        error = expected + ".";
        return false;
    }
    if (!parsed.userInfo().isEmpty() || (!parsed.path().isEmpty() && parsed.path() != "/") ||
        parsed.hasQuery() || parsed.hasFragment()) {
        error = expected + " (the user and password are settings of their own, and nothing may "
                           "follow the port).";
        return false;
    }
    const int port = parsed.port(kDefaultPort);
    if (port < 1 || port > 65535) {
        error = expected + " (the port must be 1 to 65535).";
        return false;
    }
    out.host = parsed.host().toStdString();
    out.port = port;
    const bool v6 = out.host.find(':') != std::string::npos;
    out.server = "sieve://" + (v6 ? "[" + out.host + "]" : out.host) + ":" + std::to_string(port);
    return true;
}

std::string CheckSieveConfig(const SieveConfig& config) {
    if (config.url.empty()) {
        if (!config.user.empty() || !config.password.empty() || !config.login.empty() ||
            !config.zone.empty() || !config.startTls)
            return "Out-of-office server settings are given but no server URL.";
        return {};
    }
    SieveUrl url;
    std::string error;
    if (!ParseSieveUrl(config.url, url, error))
        return error;
    if (config.user.empty())
        return "The out-of-office server " + url.server +
               " needs an administrator to log in as (a Dovecot master user or a Cyrus admin).";
    if (HasControlCharacter(config.user) || HasControlCharacter(config.password) ||
        HasControlCharacter(config.login) || HasControlCharacter(config.zone))
        return "The out-of-office user, password, login and zone may not hold control "
               "characters.";
    if (!config.login.empty() && config.login.find(kMailboxPlaceholder) == std::string::npos)
        return "The out-of-office login \"" + config.login + "\" has no " + kMailboxPlaceholder +
               ", so every user would be read as the same login.";
    Zone zone;
    if (!Zone::Named(config.zone, zone))
        return "The out-of-office server's zone \"" + config.zone +
               "\" is not a known time zone (such as Europe/Berlin).";
    return {};
}

std::string DescribeSieveConfig(const SieveConfig& config) {
    if (config.url.empty())
        return {};
    std::string text = config.url;
    if (!config.user.empty())
        text += " as " + config.user;
    text += config.startTls ? " (STARTTLS)" : " (no TLS)";
    if (!config.login.empty() && config.login != kMailboxPlaceholder)
        text += ", logins " + config.login;
    if (!config.zone.empty())
        text += ", zone " + config.zone;
    return text;
}

std::string LoginFor(const SieveConfig& config, const std::string& mailbox) {
    std::string login = config.login.empty() ? kMailboxPlaceholder : config.login;
    const std::string placeholder = kMailboxPlaceholder;
    for (size_t at = login.find(placeholder); at != std::string::npos;
         at = login.find(placeholder, at + mailbox.size())) {
        login.replace(at, placeholder.size(), mailbox);
    }
    return login;
}

SieveOutOfOfficeReader::SieveOutOfOfficeReader(SieveConfig config) : m_config(std::move(config)) {}

bool SieveOutOfOfficeReader::Read(const std::string& mailbox, Verdict& out, std::string& error) {
    Failure failure = Failure::Unreachable;
    return Read(mailbox, out, error, failure);
}

bool SieveOutOfOfficeReader::Read(const std::string& mailbox, Verdict& out, std::string& error,
                                  Failure& failure) {
    const std::string problem = CheckSieveConfig(m_config);
    SieveUrl url;
    if (!problem.empty() || !ParseSieveUrl(m_config.url, url, error)) {
        error = problem.empty() ? error : problem;
        failure = Failure::Refused;
        return false;
    }
    // A password held as credential:NAME is read at each check and kept no longer.
    std::string password;
    if (!credentials::Resolve(m_config.password, password, error)) {
        error = "The out-of-office password is not available. " + error;
        failure = Failure::Refused;
        return false;
    }
    Zone zone;
    Zone::Named(m_config.zone, zone);
    const std::string login = LoginFor(m_config, mailbox);
    const ClientLimits limits = CurrentClientLimits();

    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.mutex);
    // The password is part of the key: a reader with another password never gets a connection
    // (or a remembered refusal) that was made with this one.
    Kept& kept = pool.kept[url.server + '\n' + m_config.user + '\n' + password + '\n' +
                           (m_config.startTls ? "tls" : "clear")];
    const int64_t now = Clock::SteadyMilliseconds();
    if (!kept.failure.empty() && now < kept.failureUntil) {
        error = kept.failure;
        failure = kept.failureKind;
        return false;
    }
    kept.failure.clear();
    if (kept.client && kept.caFile != limits.caFile)
        Retire(pool, kept);
    if (!kept.client) {
        kept.client = std::make_unique<ManageSieveClient>(url.server, url.host, url.port,
                                                          m_config.startTls, limits);
        kept.caFile = limits.caFile;
    }
    ManageSieveClient& client = *kept.client;
    auto remember = [&](const std::string& sentence, Failure kind) {
        kept.failure = sentence;
        kept.failureKind = kind;
        kept.failureUntil = now + kRememberMs;
    };

    // A kept connection may have been closed by the server since: it is made again, once.
    for (int attempt = 0;; ++attempt) {
        if (client.IsOpen() && client.AuthorizedAs() != login && !client.AuthorizedAs().empty()) {
            std::string ignored;
            if (!client.CanUnauthenticate() || !client.Unauthenticate(ignored))
                client.Logout();
        }
        bool fresh = false;
        if (!client.IsOpen()) {
            fresh = true;
            if (!client.Connect(error)) {
                failure = Failure::Unreachable;
                remember(error, failure);
                return false;
            }
        }
        const bool retry = !fresh && attempt == 0;
        if (client.AuthorizedAs() != login) {
            bool refused = false;
            if (!client.Authenticate(login, m_config.user, password, error, refused)) {
                if (!refused && retry)
                    continue;
                // After a refusal the next user starts on a fresh connection.
                client.Logout();
                failure = !refused                             ? Failure::Unreachable
                          : AboutTheUser(client.LastRefusal()) ? Failure::NoSuchUser
                                                               : Failure::Refused;
                if (failure != Failure::NoSuchUser)
                    remember(error, failure);
                return false;
            }
        }
        if (Decide(client, login, zone, out, error, failure))
            return true;
        if (client.IsOpen())
            return false; // this user's failure: the connection serves the next one
        if (!retry) {
            remember(error, failure);
            return false;
        }
    }
}

SieveOutOfOfficeReader::Stats SieveOutOfOfficeReader::TotalStats() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.mutex);
    Stats stats = pool.retired;
    for (const auto& [key, kept] : pool.kept) {
        if (kept.client) {
            stats.requests += kept.client->Requests();
            stats.connections += kept.client->Connections();
        }
    }
    return stats;
}

void SieveOutOfOfficeReader::CloseAll() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.mutex);
    for (auto& [key, kept] : pool.kept) {
        Retire(pool, kept);
        kept.failure.clear();
    }
}

} // namespace mail::sieve
