// WebDAV requests over libcurl: a pool of a few easy handles per server, each of whose
// connection libcurl keeps alive between requests and between scan passes.
#include "mailsystem/caldav/DavClient.h"

#include "core/Settings.h"
#include "mailsystem/net/Curl.h"

#include <QUrl>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <strings.h>
#include <vector>

namespace mail::dav {
namespace {

constexpr long kMaxRedirects = 3;
constexpr long kAnyAuth = CURLAUTH_BASIC | CURLAUTH_DIGEST;

// One server's handle. libcurl keeps its connection open for the next request on it.
struct Connection {
    net::EasyHandle curl;
    // The schemes the server asked for when it last refused a request without credentials:
    // once known, Basic goes with the first request instead of after a refusal.
    long auth = kAnyAuth;
    std::string authUser; // the user `auth` was learnt for
    std::string caFile;   // the CA bundle the handle was made for
};

// One server's handles: at most Limits::connectionsPerServer requests to it are in flight at
// once, each on its own handle; a request waits for a free one until its deadline.
struct Server {
    std::vector<std::unique_ptr<Connection>> idle;
    int busy = 0;
    std::condition_variable freed;
};

struct Pool {
    std::mutex mutex;                                       // held to take or give back a handle
    std::map<std::string, std::shared_ptr<Server>> servers; // by scheme://host:port
    Stats stats;
};

Pool& ThePool() {
    static Pool* pool = new Pool; // outlives static destructors that might still scan
    return *pool;
}

// A handle of the server taken for one request, given back (kept alive) when it ends.
class Lease {
public:
    // Null connection when none came free by `deadline`.
    Lease(const std::string& origin, int most, Clock::time_point deadline) {
        Pool& pool = ThePool();
        std::unique_lock<std::mutex> lock(pool.mutex);
        std::shared_ptr<Server>& server = pool.servers[origin];
        if (!server)
            server = std::make_shared<Server>();
        m_server = server;
        const bool free = m_server->freed.wait_until(lock, deadline, [&] {
            return !m_server->idle.empty() || m_server->busy < std::max(most, 1);
        });
        if (!free)
            return;
        if (!m_server->idle.empty()) {
            m_connection = std::move(m_server->idle.back());
            m_server->idle.pop_back();
        } else {
            m_connection = std::make_unique<Connection>();
        }
        ++m_server->busy;
    }
    ~Lease() {
        if (!m_connection)
            return;
        std::lock_guard<std::mutex> lock(ThePool().mutex);
        --m_server->busy;
        if (m_connection->curl)
            m_server->idle.push_back(std::move(m_connection));
        m_server->freed.notify_one();
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Connection* get() const { return m_connection.get(); }

private:
    std::shared_ptr<Server> m_server;
    std::unique_ptr<Connection> m_connection;
};

// What one request gathers while libcurl runs it.
struct Transfer {
    std::string body;
    std::string reason;
    size_t limit = 0;
    bool tooLarge = false;
    bool sent = false; // a request went out: the connection was made
    long offered = 0;  // the schemes a refusal (401) asked for: CURLAUTH_BASIC, CURLAUTH_DIGEST
    Stats* stats = nullptr;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Transfer* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    std::string_view line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new answer begins (after a redirect or an authentication round): what came before
        // belongs to an earlier one.
        t->body.clear();
        t->tooLarge = false;
        t->reason.clear();
        const size_t first = line.find(' ');
        const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
        if (second != std::string_view::npos) {
            for (unsigned char c : line.substr(second + 1, 100)) {
                if (c >= 0x20 && c != 0x7f)
                    t->reason += static_cast<char>(c);
            }
        }
    } else if (line.size() > 17 && strncasecmp(line.data(), "WWW-Authenticate:", 17) == 0) {
        std::string_view scheme = line.substr(17);
        while (!scheme.empty() && (scheme.front() == ' ' || scheme.front() == '\t'))
            scheme.remove_prefix(1);
        if (scheme.size() >= 6 && strncasecmp(scheme.data(), "Digest", 6) == 0)
            t->offered |= CURLAUTH_DIGEST;
        else if (scheme.size() >= 5 && strncasecmp(scheme.data(), "Basic", 5) == 0)
            t->offered |= CURLAUTH_BASIC;
    }
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t->body.size() + n > t->limit) {
        t->tooLarge = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    t->body.append(data, n);
    return n;
}

// Counts what went over the wire. Nothing is written anywhere: headers going out carry the
// credentials.
int OnTrace(CURL*, curl_infotype type, char*, size_t size, void* user) {
    Transfer* t = static_cast<Transfer*>(user);
    switch (type) {
    case CURLINFO_HEADER_OUT:
        t->sent = true;
        ++t->stats->requests;
        break;
    case CURLINFO_HEADER_IN:
    case CURLINFO_DATA_IN:
        t->stats->bytesRead += size;
        break;
    default:
        break;
    }
    return 0;
}

std::string Seconds(long ms) {
    const long s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

std::string Size(size_t bytes) {
    if (bytes >= (size_t(1) << 20) && bytes % (size_t(1) << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

std::string Origin(const std::string& url) {
    const QUrl u(QString::fromStdString(url), QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || u.host().isEmpty() || (scheme != "http" && scheme != "https"))
        return {};
    return (scheme + "://" + u.host().toLower() + ":" +
            QString::number(u.port(scheme == "https" ? 443 : 80)))
        .toStdString();
}

Limits CurrentLimits() {
    Limits limits;
    limits.connectionsPerServer = Settings::CalendarServerConnections();
    if (const char* ca = std::getenv("ORVANE_CALDAV_CA_FILE"); ca && *ca)
        limits.caFile = ca;
    if (const char* cap = std::getenv("ORVANE_TEST_CALDAV_TIMEOUT_MS"); cap && *cap) {
        char* end = nullptr;
        const long ms = std::strtol(cap, &end, 10);
        if (end && *end == '\0' && ms > 0) {
            limits.connectTimeoutMs = std::min(limits.connectTimeoutMs, ms);
            limits.requestTimeoutMs = std::min(limits.requestTimeoutMs, ms);
            limits.mailboxTimeoutMs = std::min(limits.mailboxTimeoutMs, 2 * ms);
        }
    }
    return limits;
}

Response Send(const Request& request, const Account& account, const Limits& limits,
              Clock::time_point deadline) {
    Response response;
    response.url = request.url;
    const std::string origin = Origin(request.url);
    if (origin.empty()) {
        response.failure = "it is not an http:// or https:// address";
        return response;
    }
    // A request waits for a free connection no longer than it may wait for an answer.
    const auto waitUntil =
        std::min(deadline, Clock::now() + std::chrono::milliseconds(limits.requestTimeoutMs));
    Lease lease(origin, limits.connectionsPerServer, waitUntil);
    if (!lease.get()) {
        response.failure = waitUntil == deadline
                               ? "the time allowed for one mailbox (" +
                                     Seconds(limits.mailboxTimeoutMs) +
                                     ") ran out while waiting for a free connection"
                               : "no connection to the server came free within " +
                                     Seconds(limits.requestTimeoutMs);
        return response;
    }
    // Counted from when the request can go out.
    const long left = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    const bool budgetBound = left < limits.requestTimeoutMs;
    const long timeoutMs = std::min(limits.requestTimeoutMs, left);
    if (timeoutMs <= 0) {
        response.failure = "the time allowed for one mailbox (" + Seconds(limits.mailboxTimeoutMs) +
                           ") ran out before it";
        return response;
    }
    Connection& connection = *lease.get();
    if (connection.curl && connection.caFile != limits.caFile)
        connection = Connection(); // a handle keeps its trust: another bundle needs a new one
    connection.caFile = limits.caFile;
    if (!connection.curl)
        connection.curl = net::NewHandle(response.failure);
    if (!connection.curl)
        return response;
    if (connection.authUser != account.user) {
        connection.auth = kAnyAuth;
        connection.authUser = account.user;
    }

    net::HeaderList headers;
    for (const std::string& h : {std::string("Depth: ") + (request.depth ? "1" : "0"),
                                 std::string("Content-Type: application/xml; charset=utf-8"),
                                 // Servers that know it leave out the properties they do not have.
                                 std::string("Prefer: return-minimal"), std::string("Expect:")}) {
        if (!net::Append(headers, h)) {
            response.failure = "no memory for the request";
            return response;
        }
    }

    Stats counted; // added to the pool's when the request ends
    Transfer transfer;
    transfer.limit = limits.maxResponseBytes;
    transfer.stats = &counted;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    CURL* h = connection.curl.get();
    net::Options options(h);
    auto option = [&](CURLoption o, auto value) { options.Set(o, value); };
    option(CURLOPT_ERRORBUFFER, errorBuffer);
    option(CURLOPT_URL, request.url.c_str());
    option(CURLOPT_PROTOCOLS_STR, "http,https");
    option(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    option(CURLOPT_FOLLOWLOCATION, 1L);
    option(CURLOPT_MAXREDIRS, kMaxRedirects);
    option(CURLOPT_UNRESTRICTED_AUTH, 0L);
    // A redirected PROPFIND or REPORT stays one, with its body.
    option(CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    option(CURLOPT_CUSTOMREQUEST, request.method.c_str());
    option(CURLOPT_POSTFIELDS, request.body.c_str());
    option(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    option(CURLOPT_HTTPHEADER, headers.get());
    option(CURLOPT_USERAGENT, "Orvane");
    option(CURLOPT_ACCEPT_ENCODING, "");
    option(CURLOPT_NOSIGNAL, 1L);
    option(CURLOPT_CONNECTTIMEOUT_MS, std::min(limits.connectTimeoutMs, timeoutMs));
    option(CURLOPT_TIMEOUT_MS, timeoutMs);
    option(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxResponseBytes));
    option(CURLOPT_MAXCONNECTS, 1L); // this handle's one connection, kept alive
    option(CURLOPT_SSL_VERIFYPEER, 1L);
    option(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!limits.caFile.empty())
        option(CURLOPT_CAINFO, limits.caFile.c_str());
    option(CURLOPT_HEADERFUNCTION, &OnHeader);
    option(CURLOPT_HEADERDATA, &transfer);
    option(CURLOPT_WRITEFUNCTION, &OnBody);
    option(CURLOPT_WRITEDATA, &transfer);
    option(CURLOPT_DEBUGFUNCTION, &OnTrace);
    option(CURLOPT_DEBUGDATA, &transfer);
    option(CURLOPT_VERBOSE, 1L);
    if (account.user.empty()) {
        option(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NONE));
        option(CURLOPT_USERNAME, static_cast<const char*>(nullptr));
        option(CURLOPT_PASSWORD, static_cast<const char*>(nullptr));
    } else {
        option(CURLOPT_HTTPAUTH, connection.auth);
        option(CURLOPT_USERNAME, account.user.c_str());
        option(CURLOPT_PASSWORD, account.password.c_str());
    }
    if (!options.ok()) {
        response.failure = options.Error();
        return response;
    }

    const CURLcode code = curl_easy_perform(h);
    long connects = 0;
    if (curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK)
        counted.connections += static_cast<uint64_t>(connects);
    {
        Pool& pool = ThePool();
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.stats.requests += counted.requests;
        pool.stats.bytesRead += counted.bytesRead;
        pool.stats.connections += counted.connections;
    }
    // Leave no pointer to this call's buffers behind in the kept handle.
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
    curl_easy_setopt(h, CURLOPT_PASSWORD, static_cast<const char*>(nullptr));
    char* effective = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        response.url = effective;

    if (code == CURLE_OK) {
        response.answered = true;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
        response.reason = std::move(transfer.reason);
        response.body = std::move(transfer.body);
        // What a refusal during this request asked for is what the server takes from now on.
        if (!account.user.empty()) {
            if (response.status == 401)
                connection.auth = kAnyAuth; // learn again next time
            else if (transfer.offered & CURLAUTH_DIGEST)
                connection.auth = CURLAUTH_DIGEST;
            else if (transfer.offered & CURLAUTH_BASIC)
                connection.auth = CURLAUTH_BASIC;
        }
        return response;
    }

    const std::string detail = net::Detail(code, errorBuffer);
    const net::Failure failure = net::Classify(code);
    switch (failure) {
    case net::Failure::Unresolved:
    case net::Failure::Unreachable:
        response.failure = net::Cause(failure, detail);
        response.unreachable = true;
        break;
    case net::Failure::TimedOut:
        if (!transfer.sent) {
            response.failure = "the server did not accept a connection within " +
                               Seconds(std::min(limits.connectTimeoutMs, timeoutMs));
            response.unreachable = true;
        } else if (budgetBound) {
            response.failure = "the time allowed for one mailbox (" +
                               Seconds(limits.mailboxTimeoutMs) + ") ran out while waiting";
        } else {
            response.failure = "the server did not answer within " + Seconds(timeoutMs);
        }
        break;
    case net::Failure::TooLarge:
        // A write refused for another reason than the size says what it was.
        response.failure =
            code == CURLE_WRITE_ERROR && !transfer.tooLarge
                ? detail
                : "the server's answer is larger than " + Size(limits.maxResponseBytes);
        break;
    case net::Failure::TooManyRedirects:
        response.failure =
            "the server redirected more than " + std::to_string(kMaxRedirects) + " times";
        break;
    case net::Failure::BadScheme:
        response.failure = "the server redirected to an address that is not http:// or https://";
        break;
    default:
        response.failure = net::Cause(failure, detail);
        break;
    }
    return response;
}

Stats GetStats() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    return pool.stats;
}

void CloseConnections() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    // Handles in use go back to the server they were taken from, which is no longer kept.
    pool.servers.clear();
}

} // namespace mail::dav
