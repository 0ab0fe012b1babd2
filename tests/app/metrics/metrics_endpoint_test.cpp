// The metrics endpoint on a loopback port, asked by real clients (libcurl, and raw sockets for
// what no well-behaved client sends) while the test's event loop serves it, as the monitor's
// does between ticks.
#include "app/metrics/MetricsServer.h"
#include "app/metrics/MetricsText.h"
#include "app/monitor/MonitorHealth.h"
#include "app/monitor/MonitorMetrics.h"
#include "core/Clock.h"
#include "support/MetricsClient.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testing_support::HttpExchange;
using testing_support::HttpGet;
using testing_support::ServeUntil;
using testing_support::WhileServing;

class MetricsEndpoint : public ::testing::Test {
protected:
    void SetUp() override {
        metrics.remindersPending.Set(5);
        metrics.Registry().SetCollectHook([this] {
            ++collected;
            metrics.nextPageTimestamp.Set(1780000000);
        });
        Clock::Freeze(CTime(1780000000));
        health.TickRan();
    }
    void Listen(const CMetricsServer::Limits& limits = {}) {
        server.SetLimits(limits);
        port = testing_support::FreePort();
        std::string whyNot;
        ASSERT_TRUE(server.Listen({"127.0.0.1", uint16_t(port), false}, whyNot)) << whyNot;
    }
    std::string Exposition() {
        std::string text;
        metrics::text::Write(metrics.Registry(), text);
        return text;
    }

    CMonitorMetrics metrics{"9.9.9", false};
    CMonitorHealth health;
    int collected = 0;   // expositions asked for
    int healthCalls = 0; // health checks asked for
    CMetricsServer server{metrics.Registry(), [this] {
                              ++healthCalls;
                              return health.Check();
                          }};
    int port = 0;
};

} // namespace

TEST_F(MetricsEndpoint, MetricsAndHealthForARealClient) {
    Listen();
    const testing_support::HttpReply scrape =
        WhileServing([this] { return HttpGet(port, "/metrics"); });
    EXPECT_EQ(scrape.status, 200);
    EXPECT_EQ(scrape.contentType, "text/plain; version=0.0.4");
    EXPECT_EQ(collected, 1) << "the collect hook runs before each exposition";
    EXPECT_EQ(scrape.body, Exposition());
    EXPECT_NE(scrape.body.find("\norvane_next_page_timestamp_seconds 1780000000\n"),
              std::string::npos);

    // Healthy while the last tick is less than five seconds old on the program's clock; a
    // stopping monitor is not.
    const struct {
        int64_t advanceMs;
        bool stopping;
        long status;
        const char* body;
    } rows[] = {
        {0, false, 200, "ok\n"},
        {4999, false, 200, "ok\n"},
        {1, false, 503, "no monitoring tick for 5.0 seconds (one is due every second)\n"},
        {60000, false, 503, "no monitoring tick for 65.0 seconds (one is due every second)\n"},
        {0, true, 503, "the monitor is stopping\n"},
    };
    for (const auto& row : rows) {
        Clock::AdvanceMilliseconds(row.advanceMs);
        health.SetStopping(row.stopping);
        const testing_support::HttpReply reply =
            WhileServing([this] { return HttpGet(port, "/healthz"); });
        EXPECT_EQ(reply.status, row.status) << row.body;
        EXPECT_EQ(reply.body, row.body);
    }
    health.SetStopping(false);
    health.TickRan(); // ticks come again
    EXPECT_EQ(WhileServing([this] { return HttpGet(port, "/healthz"); }).status, 200);
    EXPECT_EQ(CMonitorHealth().Check().reason, "the monitor has not ticked yet");
}

// Every request that is not a GET of the two paths gets its error and nothing else: no
// exposition, no health check, the registry as it was, the connection closed.
TEST_F(MetricsEndpoint, OtherPathsMethodsAndMalformedOrOversizedRequestsGetAnErrorOnly) {
    Listen({5000, 1024, 64});
    const std::string before = Exposition();
    const struct {
        std::string request;
        const char* statusLine;
    } rows[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
        {"GET /metrics/ HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", "HTTP/1.1 405 "},
        {"HEAD /healthz HTTP/1.1\r\n\r\n", "HTTP/1.1 405 "},
        {"DELETE /healthz HTTP/1.1\r\n\r\n", "HTTP/1.1 405 "},
        {"GET /metrics HTTP/2.0\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /metrics HTTP/1.1\r\nBroken header\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\n", 12),
         "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /metrics HTTP/1.1\r\nX: " + std::string(2000, 'a') + "\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large\r\n"},
        {std::string(100000, 'G'), "HTTP/1.1 431 "},
    };
    for (const auto& row : rows) {
        const std::string reply = WhileServing([&] { return HttpExchange(port, row.request); });
        EXPECT_EQ(reply.rfind(row.statusLine, 0), 0u) << row.request.substr(0, 60) << "\n" << reply;
        EXPECT_NE(reply.find("\r\nConnection: close\r\n"), std::string::npos) << reply;
        if (reply.rfind("HTTP/1.1 405 ", 0) == 0) {
            EXPECT_NE(reply.find("\r\nAllow: GET\r\n"), std::string::npos) << reply;
        }
    }
    EXPECT_EQ(collected, 0);
    EXPECT_EQ(healthCalls, 0);
    EXPECT_EQ(Exposition(), before);
    ServeUntil([this] { return server.OpenConnections() == 0; });
    EXPECT_EQ(server.OpenConnections(), 0);
    EXPECT_EQ(WhileServing([this] { return HttpGet(port, "/metrics"); }).status, 200);
}

// Clients that never finish their requests hold only their own connections: a scrape is
// answered meanwhile, the event loop's timers keep firing (a monitor's ticks), and each slow
// client is told 408 and closed once the time bound has passed. Beyond the bound of open
// connections, a new one is refused at once.
TEST_F(MetricsEndpoint, SlowClientsBlockNothingAndAreClosedAfterTheTimeBound) {
    constexpr int kSlow = 6;
    Listen({3000, 8192, kSlow + 1});
    int slow[kSlow];
    for (int& fd : slow) {
        fd = testing_support::ConnectLoopback(port);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(send(fd, "GET /metr", 9, MSG_NOSIGNAL), 9);
    }
    ServeUntil([this] { return server.OpenConnections() == kSlow; });
    ASSERT_EQ(server.OpenConnections(), kSlow);

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    EXPECT_EQ(WhileServing([this] { return HttpGet(port, "/metrics"); }).status, 200);
    for (const int fd : slow) {
        char byte;
        EXPECT_EQ(recv(fd, &byte, 1, MSG_DONTWAIT), -1) << "answered while the slow clients wait";
    }

    // One more connection than the bound allows is refused at once.
    ServeUntil([this] { return server.OpenConnections() == kSlow; });
    const int holder = testing_support::ConnectLoopback(port);
    ServeUntil([this] { return server.OpenConnections() == kSlow + 1; });
    EXPECT_EQ(WhileServing([this] {
                  return HttpExchange(port, "GET /metrics HTTP/1.1\r\n\r\n");
              }).rfind("HTTP/1.1 503 ", 0),
              0u);
    close(holder);

    ServeUntil([this] { return server.OpenConnections() == 0; });
    EXPECT_EQ(server.OpenConnections(), 0);
    EXPECT_GE(ticks, 10) << "the event loop ran its timers while the slow clients waited";
    for (const int fd : slow) {
        char buffer[512] = {};
        const ssize_t n = recv(fd, buffer, sizeof buffer - 1, MSG_DONTWAIT);
        EXPECT_EQ(std::string(buffer, n > 0 ? size_t(n) : 0).rfind("HTTP/1.1 408 ", 0), 0u);
        EXPECT_EQ(recv(fd, buffer, sizeof buffer, MSG_DONTWAIT), 0) << "closed";
        close(fd);
    }
    EXPECT_EQ(collected, 1);
}

TEST_F(MetricsEndpoint, AnAddressInUseIsRefusedWithASentence) {
    Listen();
    CMetricsServer second(metrics.Registry(), {});
    std::string whyNot;
    EXPECT_FALSE(second.Listen({"127.0.0.1", uint16_t(port), false}, whyNot));
    EXPECT_EQ(
        whyNot.rfind(
            "The metrics endpoint cannot listen on 127.0.0.1:" + std::to_string(port) + ": ", 0),
        0u)
        << whyNot;
    EXPECT_FALSE(second.IsListening());
    EXPECT_TRUE(server.IsListening());
}
