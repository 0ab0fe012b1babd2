// A scraper of the metrics endpoint for tests: real HTTP requests from a thread of their own
// while the test's event loop serves them, raw bytes for what no client sends, and promtool's
// verdict on an exposition.
#pragma once

#include <QCoreApplication>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace testing_support {

// Runs `client` on a thread of its own while this thread's event loop runs (where the monitor
// and its endpoint live), and returns its result. Clients bound their own waits, so this ends.
template <class Client> auto WhileServing(Client client) {
    std::optional<decltype(client())> result;
    std::atomic<bool> done{false};
    std::thread thread([&] {
        result = client();
        done = true;
        QMetaObject::invokeMethod(
            qApp, [] {}, Qt::QueuedConnection); // wakes the loop
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    thread.join();
    return *result;
}

// Runs the event loop until `condition` holds or `timeoutMs` have passed.
void ServeUntil(const std::function<bool()>& condition, int timeoutMs = 20000);

struct HttpReply {
    long status = 0; // 0 when no answer came within 10 seconds
    std::string contentType, body;
};

// GET http://127.0.0.1:PORT/PATH with libcurl, from the calling thread (use WhileServing when
// this thread serves the endpoint).
HttpReply HttpGet(int port, const std::string& path);

// Sends `request` on a new loopback connection and reads until the server closes it (or 10 s
// pass): what came back.
std::string HttpExchange(int port, const std::string& request);

// `promtool check metrics` on an exposition: its exit code (-1 when it could not run) and what
// it printed.
std::pair<int, std::string> PromtoolCheckMetrics(const std::string& text);

// The value of the sample whose line begins with `series` and a blank (such as
// `orvane_pages_total{result="sent"}`) in an exposition; NaN when there is none.
double Sample(const std::string& exposition, const std::string& series);

} // namespace testing_support
