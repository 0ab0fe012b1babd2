// The metrics endpoint and the address it listens on.
#include "app/metrics/MetricsServer.h"

#include "app/metrics/HttpRequest.h"
#include "app/metrics/Metrics.h"
#include "app/metrics/MetricsText.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <arpa/inet.h>
#include <memory>
#include <sys/socket.h>

namespace metrics {
namespace {

constexpr const char* kExamples = "such as 127.0.0.1:9842 or [::1]:9842";

// The text between quotes in a sentence, control characters shown as "?".
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text)
        quoted += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    return quoted + "\"";
}

bool ReadPort(const std::string& digits, uint16_t& port) {
    if (digits.empty() || digits.size() > 5)
        return false;
    unsigned value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

} // namespace

std::string ListenAddress::Text() const {
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ParseListenAddress(const std::string& text, ListenAddress& address, std::string& error) {
    const std::string quoted = Quoted(text);
    if (text.empty()) {
        error = std::string("The metrics address is empty: give ADDRESS:PORT, ") + kExamples + ".";
        return false;
    }
    ListenAddress parsed;
    std::string port;
    if (text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) {
            error = "The metrics address " + quoted +
                    " opens a bracket that does not close: write an IPv6 address as "
                    "[ADDRESS]:PORT, such as [::1]:9842.";
            return false;
        }
        if (close + 1 == text.size() || text[close + 1] != ':') {
            error = "The metrics address " + quoted +
                    " has no port after its address: write [ADDRESS]:PORT, such as [::1]:9842.";
            return false;
        }
        parsed.host = text.substr(1, close - 1);
        parsed.ipv6 = true;
        port = text.substr(close + 2);
        in6_addr bytes;
        if (inet_pton(AF_INET6, parsed.host.c_str(), &bytes) != 1) {
            error = Quoted(parsed.host) + " in the metrics address " + quoted +
                    " is not an IPv6 address (such as ::1).";
            return false;
        }
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos) {
            error = "The metrics address " + quoted + " has no port: give ADDRESS:PORT, " +
                    kExamples + ".";
            return false;
        }
        if (text.find(':') != colon) {
            error = "The metrics address " + quoted +
                    " looks like an IPv6 address without brackets: write it as [ADDRESS]:PORT, "
                    "such as [::1]:9842.";
            return false;
        }
        parsed.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        in_addr bytes;
        if (inet_pton(AF_INET, parsed.host.c_str(), &bytes) != 1) {
            error = Quoted(parsed.host) + " in the metrics address " + quoted +
                    " is not an IPv4 address (such as 127.0.0.1); host names are not looked up.";
            return false;
        }
    }
    if (!ReadPort(port, parsed.port)) {
        error = "The port " + Quoted(port) + " in the metrics address " + quoted +
                " is not a number from 1 to 65535.";
        return false;
    }
    address = parsed;
    return true;
}

} // namespace metrics

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";

// What one connection has received and whether it has been answered.
struct Connection {
    QByteArray received;
    bool answered = false;
};

} // namespace

CMetricsServer::CMetricsServer(const metrics::Registry& registry, HealthCheck health,
                               QObject* parent)
    : QObject(parent), m_registry(registry), m_health(std::move(health)) {}

CMetricsServer::~CMetricsServer() {
    Close();
}

bool CMetricsServer::Listen(const metrics::ListenAddress& address, std::string& whyNot) {
    Close();
    const QHostAddress host(QString::fromStdString(address.host));
    if (host.isNull()) {
        whyNot = "The metrics endpoint cannot listen on " + address.Text() +
                 ": that is not an IP address.";
        return false;
    }
    m_server = new QTcpServer(this);
    if (!m_server->listen(host, address.port)) {
        whyNot = "The metrics endpoint cannot listen on " + address.Text() + ": " +
                 m_server->errorString().toStdString() + ".";
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QTcpServer::newConnection, this, &CMetricsServer::Accept);
    return true;
}

void CMetricsServer::Close() {
    if (!m_server)
        return;
    m_server->close();
    delete m_server; // and the connections it accepted, its children
    m_server = nullptr;
}

bool CMetricsServer::IsListening() const {
    return m_server && m_server->isListening();
}

uint16_t CMetricsServer::Port() const {
    return m_server ? m_server->serverPort() : 0;
}

void CMetricsServer::Accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection())
        Serve(socket);
}

void CMetricsServer::Serve(QTcpSocket* socket) {
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto state = std::make_shared<Connection>();

    // Once the answer has left, the sending side is shut and what the client still sends is
    // read and dropped until it closes: closing with unread bytes would reset the connection
    // and could lose the answer on the way.
    const auto answer = [socket, state](const std::string& text) {
        state->answered = true;
        socket->write(text.data(), static_cast<qint64>(text.size()));
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket, state] {
        if (state->answered && socket->bytesToWrite() == 0)
            ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    });

    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket, state] {
        if (!state->answered) {
            const std::string late =
                metrics::http::Answer(408, kPlainText, "The request did not arrive in time.\n");
            socket->write(late.data(), static_cast<qint64>(late.size()));
            socket->flush();
        }
        socket->abort();
        socket->deleteLater();
    });
    deadline->start(m_limits.requestTimeoutMs);

    const qint64 limit = m_limits.maxRequestBytes;
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, state, answer, limit] {
        if (state->answered) {
            socket->readAll(); // dropped, see above
            return;
        }
        // Never more than one byte past the bound is kept.
        state->received += socket->read(limit + 1 - state->received.size());
        metrics::http::Request request;
        const auto head = metrics::http::ReadHead(
            std::string_view(state->received.constData(), state->received.size()),
            static_cast<size_t>(limit), request);
        switch (head) {
        case metrics::http::HeadState::Incomplete:
            return;
        case metrics::http::HeadState::Malformed:
            answer(metrics::http::Answer(400, kPlainText, "The request could not be read.\n"));
            break;
        case metrics::http::HeadState::TooLarge:
            answer(metrics::http::Answer(431, kPlainText, "The request is too large.\n"));
            break;
        case metrics::http::HeadState::Complete:
            answer(Respond(request.method, request.path));
            break;
        }
        socket->readAll();
    });

    if (m_open > m_limits.maxConnections)
        answer(metrics::http::Answer(503, kPlainText,
                                     "Too many connections are open; try again shortly.\n"));
}

std::string CMetricsServer::Respond(const std::string& method, const std::string& path) const {
    const bool metricsPath = path == "/metrics";
    if (!metricsPath && path != "/healthz")
        return metrics::http::Answer(404, kPlainText,
                                     "Not found: this endpoint serves /metrics and /healthz.\n");
    if (method != "GET")
        return metrics::http::Answer(405, kPlainText, "Only GET is served here.\n",
                                     "Allow: GET\r\n");
    if (metricsPath) {
        std::string body;
        m_registry.Collect();
        metrics::text::Write(m_registry, body);
        return metrics::http::Answer(200, metrics::text::kContentType, body);
    }
    const metrics::Health health =
        m_health ? m_health() : metrics::Health{false, "the monitor gives no health check"};
    if (health.ok)
        return metrics::http::Answer(200, kPlainText, "ok\n");
    return metrics::http::Answer(503, kPlainText, health.reason + "\n");
}
