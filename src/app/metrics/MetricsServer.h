// The metrics endpoint: GET /metrics for Prometheus and GET /healthz for a health check, served
// over TCP on the monitor's own event loop.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

class QTcpServer;
class QTcpSocket;

namespace metrics {

// What the health check answers: ok, or the reason it is not, as a sentence for the administrator.
struct Health {
    bool ok = false;
    std::string reason; // empty when ok
};

class Registry;

// The setting in "Preferences" that turns the endpoint on when the command line does not; its
// value is an address as ParseListenAddress reads it; empty (the default) = off.
inline constexpr const char* kAddressSetting = "MetricsAddress";

// Where the endpoint listens: an IP address (no host names: nothing is resolved) and a port.
struct ListenAddress {
    std::string host; // "127.0.0.1", "::1": an IPv4 or IPv6 address, without brackets
    uint16_t port = 0;
    bool ipv6 = false;
    // "127.0.0.1:9842", "[::1]:9842"
    std::string Text() const;
};

// Reads "ADDRESS:PORT": a dotted IPv4 address, or an IPv6 address in brackets, then a port from
// 1 to 65535. False, with a sentence for the administrator in `error` (naming the text and what
// to write instead), for anything else, also for an empty text (which the callers take as "off"
// before asking).
bool ParseListenAddress(const std::string& text, ListenAddress& address, std::string& error);

} // namespace metrics

// One connection, one request, one answer, then the connection is closed. GET /metrics answers
// the registry's exposition (its collect hook runs first); GET /healthz answers 200 "ok" or 503
// and the reason from the health check; another path is 404, another method on these paths 405
// (with "Allow: GET"), a request that is not HTTP/1.x is 400, a head larger than the bound 431.
// A connection still open when the time bound has passed is dropped, after a 408 if it had not
// been answered; beyond the bound of open connections, a new one gets 503 at once. No request
// changes anything but the connection's own state.
//
// Everything runs on the thread that made the server, which must be the monitor's: requests are
// read and answered between ticks, a slow or silent client only holds its own connection, and
// an answer is handed to the socket's buffer, never waited for.
class CMetricsServer : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int requestTimeoutMs = 5000; // from the connection to its end, answer written
        int maxRequestBytes = 8192;  // request line and header fields, with line ends
        int maxConnections = 64;     // open at once
    };
    using HealthCheck = std::function<metrics::Health()>;

    // `registry` and whatever `health` uses must outlive the server.
    CMetricsServer(const metrics::Registry& registry, HealthCheck health,
                   QObject* parent = nullptr);
    ~CMetricsServer() override;

    void SetLimits(const Limits& limits) { m_limits = limits; }
    // Listens on `address` (port 0: one the system chooses, see Port). False with a sentence in
    // `whyNot` naming the address and the cause.
    bool Listen(const metrics::ListenAddress& address, std::string& whyNot);
    // Stops listening and drops every open connection.
    void Close();
    bool IsListening() const;
    uint16_t Port() const;
    int OpenConnections() const { return m_open; }

private:
    void Accept();
    void Serve(QTcpSocket* socket);
    // The answer to a whole request head.
    std::string Respond(const std::string& method, const std::string& path) const;

    const metrics::Registry& m_registry;
    HealthCheck m_health;
    Limits m_limits;
    QTcpServer* m_server = nullptr;
    int m_open = 0; // connections accepted and not yet closed
};
