// libcurl's global set-up, handles, options and failure words.
#include "mailsystem/net/Curl.h"

#include <mutex>

namespace mail::net {
namespace {

bool GlobalInit() {
    static std::once_flag once;
    static CURLcode result = CURLE_FAILED_INIT;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result == CURLE_OK;
}

} // namespace

EasyHandle NewHandle(std::string& error) {
    if (!GlobalInit()) {
        error = "libcurl could not be initialised";
        return nullptr;
    }
    EasyHandle handle(curl_easy_init());
    if (!handle)
        error = "libcurl could not make a handle";
    return handle;
}

bool Append(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown)
        return false;
    // curl_slist_append returns the list's head, which is the old head once there is one.
    list.release();
    list.reset(grown);
    return true;
}

std::string Options::Error() const {
    return std::string("libcurl refused an option: ") + curl_easy_strerror(m_result);
}

Failure Classify(CURLcode code) {
    switch (code) {
    case CURLE_OK:
        return Failure::None;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Failure::Unresolved;
    case CURLE_COULDNT_CONNECT:
        return Failure::Unreachable;
    case CURLE_OPERATION_TIMEDOUT:
        return Failure::TimedOut;
    case CURLE_PEER_FAILED_VERIFICATION:
        return Failure::Untrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return Failure::Tls;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
        return Failure::LoginDenied;
    case CURLE_PARTIAL_FILE:
        return Failure::CutShort;
    case CURLE_GOT_NOTHING:
        return Failure::NoAnswer;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return Failure::Broken;
    case CURLE_WEIRD_SERVER_REPLY:
        return Failure::Garbled;
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        return Failure::TooLarge;
    case CURLE_TOO_MANY_REDIRECTS:
        return Failure::TooManyRedirects;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return Failure::BadScheme;
    case CURLE_BAD_CONTENT_ENCODING:
        return Failure::BadEncoding;
    case CURLE_OUT_OF_MEMORY:
        return Failure::OutOfMemory;
    default:
        return Failure::Other;
    }
}

std::string Detail(CURLcode code, const char* errorBuffer) {
    return errorBuffer && errorBuffer[0] ? std::string(errorBuffer)
                                         : std::string(curl_easy_strerror(code));
}

std::string Cause(Failure failure, const std::string& detail) {
    switch (failure) {
    case Failure::Unresolved:
        return "the server's name cannot be resolved (" + detail + ")";
    case Failure::Unreachable:
        return "the server cannot be reached (" + detail + ")";
    case Failure::Untrusted:
        return "the server's certificate is not trusted (" + detail + ")";
    case Failure::Tls:
        return "the secure connection failed (" + detail + ")";
    case Failure::CutShort:
        return "the server's answer was cut short (" + detail + ")";
    case Failure::NoAnswer:
        return "the server closed the connection without answering";
    case Failure::Broken:
        return "the connection broke off (" + detail + ")";
    case Failure::BadEncoding:
        return "the server's answer is damaged (its compression cannot be undone)";
    case Failure::OutOfMemory:
        return "out of memory";
    default:
        return detail;
    }
}

} // namespace mail::net
