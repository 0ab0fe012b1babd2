// A scraper of the metrics endpoint for tests.
#include "support/MetricsClient.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <charconv>
#include <cmath>
#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {
namespace {

size_t Append(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

} // namespace

void ServeUntil(const std::function<bool()>& condition, int timeoutMs) {
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(timeoutMs);
    while (!condition() && limit.isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // closed connections
    }
}

HttpReply HttpGet(int port, const std::string& path) {
    HttpReply reply;
    CURL* curl = curl_easy_init();
    if (!curl)
        return reply;
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
        const char* type = nullptr;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
        reply.contentType = type ? type : "";
    }
    curl_easy_cleanup(curl);
    return reply;
}

std::string HttpExchange(int port, const std::string& request) {
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return "no connection";
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (!request.empty() && send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        close(fd);
        return "not sent";
    }
    std::string received;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
        received.append(buffer, size_t(n));
    close(fd);
    return received;
}

std::pair<int, std::string> PromtoolCheckMetrics(const std::string& text) {
    const QString tool = QStandardPaths::findExecutable("promtool");
    if (tool.isEmpty())
        return {-1, "promtool is missing: install Debian's prometheus package "
                    "(scripts/setup-debian.sh --tests)"};
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, {"check", "metrics"});
    process.write(text.data(), static_cast<qint64>(text.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        return {-1, "promtool did not finish"};
    return {process.exitCode(), process.readAll().toStdString()};
}

double Sample(const std::string& exposition, const std::string& series) {
    const std::string start = series + " ";
    size_t at = 0;
    if (exposition.compare(0, start.size(), start) != 0) {
        at = exposition.find("\n" + start);
        if (at == std::string::npos)
            return std::nan("");
        ++at;
    }
    at += start.size();
    const std::string value = exposition.substr(at, exposition.find('\n', at) - at);
    if (value == "+Inf")
        return INFINITY;
    if (value == "-Inf")
        return -INFINITY;
    double number = std::nan("");                                       // "NaN" stays NaN
    std::from_chars(value.data(), value.data() + value.size(), number); // whatever the locale
    return number;
}

} // namespace testing_support
