// HTTP for the cluster client: one easy handle per member, every failure turned into words.
//
// libcurl (through mail::net, its one owner) keeps each handle's connection open between
// requests; every option is checked.
#include "app/cluster/EtcdHttp.h"

#include "mailsystem/net/Curl.h"

#include <map>
#include <vector>

namespace cluster {
namespace {

struct Body {
    std::string text;
    size_t limit = 0;
    bool tooLarge = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Body* body = static_cast<Body*>(user);
    const size_t n = size * count;
    if (body->text.size() + n > body->limit) {
        body->tooLarge = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    body->text.append(data, n);
    return n;
}

std::string Seconds(long ms) {
    if (ms < 1000)
        return std::to_string(ms) + " ms";
    const long s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

std::string Words(CURLcode code, const char* errorBuffer, const HttpLimits& limits, long connectMs,
                  long totalMs, bool connected) {
    const std::string why = mail::net::Detail(code, errorBuffer);
    switch (mail::net::Classify(code)) {
    case mail::net::Failure::Unresolved:
        return "cannot be found by its name (" + why + ")";
    case mail::net::Failure::Unreachable:
        return "refused the connection or cannot be reached (" + why + ")";
    case mail::net::Failure::TimedOut:
        if (!connected)
            return "did not accept a connection within " + Seconds(std::min(connectMs, totalMs));
        return "did not answer within " + Seconds(totalMs);
    case mail::net::Failure::Untrusted:
        return "has a certificate that is not trusted (" + why + ")";
    case mail::net::Failure::Tls:
        return "cannot be reached securely (" + why + ")";
    case mail::net::Failure::NoAnswer:
        return "closed the connection without answering";
    case mail::net::Failure::Broken:
    case mail::net::Failure::CutShort:
        return "broke the connection off (" + why + ")";
    case mail::net::Failure::TooLarge:
        return "sent an answer larger than " + std::to_string(limits.maxResponseBytes >> 20) +
               " MiB";
    case mail::net::Failure::OutOfMemory:
        return "could not be asked: out of memory";
    default:
        return "could not be asked (" + why + ")";
    }
}

} // namespace

struct HttpSession::Impl {
    std::map<std::string, mail::net::EasyHandle> handles; // by origin
    std::map<std::string, std::string> caFiles; // the bundle each handle was set up with
    uint64_t connections = 0;
};

HttpSession::HttpSession() : m_impl(std::make_unique<Impl>()) {}

HttpSession::~HttpSession() = default;

HttpAnswer HttpSession::Post(const std::string& origin, const std::string& path,
                             const std::string& body, const std::string& token,
                             const HttpLimits& limits) {
    HttpAnswer answer;
    mail::net::EasyHandle& handle = m_impl->handles[origin];
    // A handle keeps the trust it was made with: another bundle needs a new handle.
    if (handle && m_impl->caFiles[origin] != limits.caFile)
        handle.reset();
    std::string failure;
    if (!handle)
        handle = mail::net::NewHandle(failure);
    if (!handle) {
        m_impl->handles.erase(origin);
        answer.failure = "could not be asked: " + failure;
        return answer;
    }
    m_impl->caFiles[origin] = limits.caFile;

    mail::net::HeaderList headers;
    // A large body would otherwise wait for a "100 Continue" first.
    std::vector<std::string> lines = {"Content-Type: application/json", "Expect:"};
    if (!token.empty())
        lines.push_back("Authorization: " + token);
    for (const std::string& line : lines) {
        if (!mail::net::Append(headers, line)) {
            answer.failure = "could not be asked: out of memory";
            return answer;
        }
    }

    Body received;
    received.limit = limits.maxResponseBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    const std::string url = origin + path;
    const long connectMs = std::min(limits.connectTimeoutMs, limits.totalTimeoutMs);
    CURL* h = handle.get();
    mail::net::Options options(h);
    auto option = [&](CURLoption o, auto value) { options.Set(o, value); };
    option(CURLOPT_ERRORBUFFER, errorBuffer);
    option(CURLOPT_URL, url.c_str());
    option(CURLOPT_PROTOCOLS_STR, "http,https");
    option(CURLOPT_FOLLOWLOCATION, 0L);
    option(CURLOPT_POST, 1L);
    option(CURLOPT_POSTFIELDS, body.c_str());
    option(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    option(CURLOPT_HTTPHEADER, headers.get());
    option(CURLOPT_USERAGENT, "Orvane");
    option(CURLOPT_NOSIGNAL, 1L);
    option(CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    option(CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    option(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxResponseBytes));
    option(CURLOPT_MAXCONNECTS, 1L);
    // A member that vanished without closing (power cut, cable pulled) is noticed by the request
    // bound; keep-alive probes let the kernel drop such a connection while it lies idle.
    option(CURLOPT_TCP_KEEPALIVE, 1L);
    option(CURLOPT_TCP_KEEPIDLE, 10L);
    option(CURLOPT_TCP_KEEPINTVL, 5L);
    option(CURLOPT_TCP_NODELAY, 1L);
    option(CURLOPT_SSL_VERIFYPEER, 1L);
    option(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!limits.caFile.empty())
        option(CURLOPT_CAINFO, limits.caFile.c_str());
    option(CURLOPT_WRITEFUNCTION, &OnBody);
    option(CURLOPT_WRITEDATA, &received);
    if (!options.ok()) {
        answer.failure = "could not be asked: " + options.Error();
        return answer;
    }

    const CURLcode code = curl_easy_perform(h);
    long connects = 0;
    if (curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK)
        m_impl->connections += static_cast<uint64_t>(connects);
    // The request began to go out: a connection (new or kept) was there.
    curl_off_t pretransfer = 0;
    const bool connected =
        curl_easy_getinfo(h, CURLINFO_PRETRANSFER_TIME_T, &pretransfer) == CURLE_OK &&
        pretransfer > 0;
    // Leave no pointer to this call's buffers (the token's header, the body) in the kept handle.
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));

    if (code == CURLE_OK) {
        answer.answered = true;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
        answer.body = std::move(received.text);
        return answer;
    }
    if (code == CURLE_WRITE_ERROR && !received.tooLarge)
        answer.failure = "could not be asked (" + std::string(errorBuffer) + ")";
    else
        answer.failure =
            Words(code, errorBuffer, limits, connectMs, limits.totalTimeoutMs, connected);
    // etcd closes a plain connection to a port that serves TLS without a word.
    if (code == CURLE_GOT_NOTHING && origin.rfind("http://", 0) == 0)
        answer.failure += " (as one that expects TLS does: is etcds:// meant?)";
    return answer;
}

uint64_t HttpSession::Connections() const {
    return m_impl->connections;
}

void HttpSession::CloseAll() {
    m_impl->handles.clear();
    m_impl->caFiles.clear();
}

} // namespace cluster
