// One bounded HTTP POST over libcurl.
#include "mailsystem/net/HttpPost.h"

#include <QUrl>
#include <algorithm>
#include <cctype>

namespace mail::net {
namespace {

struct Transfer {
    PostAnswer* answer;
};

// Status lines start each block of headers (an interim answer has its own); the last one counts.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    const size_t n = size * count;
    PostAnswer* answer = static_cast<Transfer*>(user)->answer;
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        // "HTTP/1.1 404 Not Found": the reason is what follows the second blank.
        const size_t first = line.find(' ');
        const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        answer->reason.clear();
        if (second != std::string::npos) {
            for (unsigned char c : line.substr(second + 1, 200))
                answer->reason += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
        }
        answer->body.clear();
    }
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    const size_t n = size * count;
    PostAnswer* answer = static_cast<Transfer*>(user)->answer;
    const size_t room = kMaxAnswerExcerpt - std::min(kMaxAnswerExcerpt, answer->body.size());
    answer->body.append(data, std::min(n, room));
    return n;
}

} // namespace

std::string Origin(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    const std::string scheme = parsed.scheme().toLower().toStdString();
    if (!parsed.isValid() || (scheme != "http" && scheme != "https") || parsed.host().isEmpty())
        return {};
    std::string host = parsed.host(QUrl::FullyEncoded).toLower().toStdString();
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    const int port = parsed.port(scheme == "https" ? 443 : 80);
    return scheme + "://" + host + ":" + std::to_string(port);
}

PostAnswer Post(const PostRequest& request) {
    PostAnswer answer;
    EasyHandle curl = NewHandle(answer.detail);
    if (!curl) {
        answer.failure = Failure::Other;
        return answer;
    }
    HeaderList headers;
    // No "Expect: 100-continue" round trip, and nothing but what the caller lists.
    std::vector<std::string> lines = request.headers;
    lines.push_back("Expect:");
    for (const std::string& line : lines) {
        if (!Append(headers, line)) {
            answer.failure = Failure::OutOfMemory;
            answer.detail = "no memory for the request's headers";
            return answer;
        }
    }

    Transfer transfer{&answer};
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    CURL* h = curl.get();
    Options options(h);
    auto option = [&](CURLoption o, auto value) { options.Set(o, value); };
    option(CURLOPT_ERRORBUFFER, errorBuffer);
    option(CURLOPT_URL, request.url.c_str());
    option(CURLOPT_PROTOCOLS_STR, "http,https");
    option(CURLOPT_FOLLOWLOCATION, 0L);
    option(CURLOPT_POST, 1L);
    option(CURLOPT_POSTFIELDS, request.body.data());
    option(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    option(CURLOPT_HTTPHEADER, headers.get());
    option(CURLOPT_USERAGENT, "Orvane");
    option(CURLOPT_NOSIGNAL, 1L);
    option(CURLOPT_CONNECTTIMEOUT_MS, std::min(request.connectTimeoutMs, request.overallTimeoutMs));
    option(CURLOPT_TIMEOUT_MS, request.overallTimeoutMs);
    option(CURLOPT_SSL_VERIFYPEER, 1L);
    option(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.caFile.empty())
        option(CURLOPT_CAINFO, request.caFile.c_str());
    option(CURLOPT_HEADERFUNCTION, &OnHeader);
    option(CURLOPT_HEADERDATA, &transfer);
    option(CURLOPT_WRITEFUNCTION, &OnBody);
    option(CURLOPT_WRITEDATA, &transfer);
    if (!options.ok()) {
        answer.failure = Failure::Other;
        answer.detail = options.Error();
        return answer;
    }

    const CURLcode code = curl_easy_perform(h);
    curl_off_t connectedAt = 0;
    long requestBytes = 0;
    answer.connected = (curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectedAt) == CURLE_OK &&
                        connectedAt > 0) ||
                       (curl_easy_getinfo(h, CURLINFO_REQUEST_SIZE, &requestBytes) == CURLE_OK &&
                        requestBytes > 0);
    if (code != CURLE_OK) {
        answer.failure = Classify(code);
        answer.detail = Detail(code, errorBuffer);
        if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.statusOfCutAnswer) != CURLE_OK)
            answer.statusOfCutAnswer = 0;
        answer.reason.clear();
        answer.body.clear();
        return answer;
    }
    answer.answered = true;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
    char* location = nullptr;
    if (answer.status >= 300 && answer.status < 400 &&
        curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        answer.location = location;
    return answer;
}

} // namespace mail::net
