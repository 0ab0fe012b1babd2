// libcurl for the cluster client: one easy handle per member, every failure turned into words.
//
// libcurl keeps each handle's connection open between requests; every option is checked.
#include "app/cluster/EtcdHttp.h"

#include <curl/curl.h>
#include <map>
#include <mutex>
#include <vector>

namespace cluster {
namespace {

// libcurl's global set-up, done once per process and never undone (another thread may be using
// libcurl when this one ends).
bool GlobalInit() {
    static std::once_flag once;
    static CURLcode result = CURLE_FAILED_INIT;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result == CURLE_OK;
}

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Handle = std::unique_ptr<CURL, CurlDeleter>;

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

std::string Words(CURLcode code, const char* detail, const HttpLimits& limits, long connectMs,
                  long totalMs, bool connected) {
    const std::string why = detail && *detail ? detail : curl_easy_strerror(code);
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return "cannot be found by its name (" + why + ")";
    case CURLE_COULDNT_CONNECT:
        return "refused the connection or cannot be reached (" + why + ")";
    case CURLE_OPERATION_TIMEDOUT:
        if (!connected)
            return "did not accept a connection within " + Seconds(std::min(connectMs, totalMs));
        return "did not answer within " + Seconds(totalMs);
    case CURLE_PEER_FAILED_VERIFICATION:
        return "has a certificate that is not trusted (" + why + ")";
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return "cannot be reached securely (" + why + ")";
    case CURLE_GOT_NOTHING:
        return "closed the connection without answering";
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return "broke the connection off (" + why + ")";
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        return "sent an answer larger than " + std::to_string(limits.maxResponseBytes >> 20) +
               " MiB";
    case CURLE_OUT_OF_MEMORY:
        return "could not be asked: out of memory";
    default:
        return "could not be asked (" + why + ")";
    }
}

} // namespace

struct HttpSession::Impl {
    std::map<std::string, Handle> handles;      // by origin
    std::map<std::string, std::string> caFiles; // the bundle each handle was set up with
    uint64_t connections = 0;
};

HttpSession::HttpSession() : m_impl(std::make_unique<Impl>()) {}

HttpSession::~HttpSession() = default;

HttpAnswer HttpSession::Post(const std::string& origin, const std::string& path,
                             const std::string& body, const std::string& token,
                             const HttpLimits& limits) {
    HttpAnswer answer;
    if (!GlobalInit()) {
        answer.failure = "could not be asked: libcurl could not be initialised";
        return answer;
    }
    Handle& handle = m_impl->handles[origin];
    // A handle keeps the trust it was made with: another bundle needs a new handle.
    if (handle && m_impl->caFiles[origin] != limits.caFile)
        handle.reset();
    if (!handle)
        handle.reset(curl_easy_init());
    if (!handle) {
        m_impl->handles.erase(origin);
        answer.failure = "could not be asked: libcurl could not make a handle";
        return answer;
    }
    m_impl->caFiles[origin] = limits.caFile;

    std::unique_ptr<curl_slist, SlistDeleter> headers;
    // A large body would otherwise wait for a "100 Continue" first.
    std::vector<std::string> lines = {"Content-Type: application/json", "Expect:"};
    if (!token.empty())
        lines.push_back("Authorization: " + token);
    for (const std::string& line : lines) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (!grown) {
            answer.failure = "could not be asked: out of memory";
            return answer;
        }
        headers.release();
        headers.reset(grown);
    }

    Body received;
    received.limit = limits.maxResponseBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    const std::string url = origin + path;
    const long connectMs = std::min(limits.connectTimeoutMs, limits.totalTimeoutMs);
    CURL* h = handle.get();
    CURLcode set = CURLE_OK;
    auto option = [&](CURLoption o, auto value) {
        if (set == CURLE_OK)
            set = curl_easy_setopt(h, o, value);
    };
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
    if (set != CURLE_OK) {
        answer.failure = std::string("could not be asked: libcurl refused an option (") +
                         curl_easy_strerror(set) + ")";
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
