// WebDAV requests over libcurl: a few kept-alive connections per server, bounded in time and size,
// Basic or Digest authentication, certificates verified, failures told apart in words.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace mail::dav {

// Bounds of the requests for calendars. Every request ends within requestTimeoutMs, and all
// requests for one mailbox within mailboxTimeoutMs.
struct Limits {
    long connectTimeoutMs = 10000;
    long requestTimeoutMs = 30000;
    long mailboxTimeoutMs = 60000;
    size_t maxResponseBytes = size_t(64) << 20; // after decompression
    // Requests to one server in flight at once, each on a kept-alive connection of its own; a
    // request waits for a free one within its own time limits.
    int connectionsPerServer = 4;
    std::string caFile; // a CA bundle to trust instead of the system's; empty: the system's
};

// The limits in force: the defaults above, with the setting "CalendarServerConnections"
// (Settings.h) as connectionsPerServer, ORVANE_CALDAV_CA_FILE naming a CA bundle, and
// ORVANE_TEST_CALDAV_TIMEOUT_MS (tests only) capping the connection and request times, and
// the time for one mailbox at twice that.
Limits CurrentLimits();

using Clock = std::chrono::steady_clock;

struct Request {
    std::string method; // "PROPFIND", "REPORT"
    std::string url;    // absolute
    int depth = 0;      // the Depth header: 0 or 1
    std::string body;   // an XML document
};

struct Response {
    // A whole HTTP answer arrived (of any status); false: `failure` says why not.
    bool answered = false;
    long status = 0;
    std::string reason;       // the status line's reason phrase, control characters removed
    std::string body;         // decoded (gzip and deflate undone)
    std::string url;          // where the answer came from, after any redirects
    std::string failure;      // when !answered: the cause in words, such as "no answer within..."
    bool unreachable = false; // no connection could be made (refused, unresolved, timed out)
};

struct Account {
    std::string user; // empty: no authentication
    std::string password;
};

// Sends one request to the server of its URL and reads the whole answer, ending by `deadline`
// at the latest. Only http and https are spoken, also after a redirect (at most 3); the
// credentials are sent only when the server asks for them and never to another host, port or
// scheme than the request's. Never throws; thread-safe (requests from several threads to one
// server share its connections, at most Limits::connectionsPerServer at once).
Response Send(const Request& request, const Account& account, const Limits& limits,
              Clock::time_point deadline);

// "scheme://host:port" of an http or https URL, the server its requests go to; empty for
// anything else.
std::string Origin(const std::string& url);

// What the requests made so far cost: HTTP requests sent (each round of an authentication or
// redirect counts), bytes received (headers and bodies as they came over the connection),
// connections opened.
struct Stats {
    uint64_t requests = 0;
    uint64_t bytesRead = 0;
    uint64_t connections = 0;
};
Stats GetStats();

// Closes every kept connection (benchmarks measure a cold start; a server restarted by a test).
void CloseConnections();

} // namespace mail::dav
