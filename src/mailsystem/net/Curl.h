// The one owner of libcurl: its global set-up, handles, checked options, and what each of its
// failure codes means, for the calendar server's requests and SMTP delivery alike.
#pragma once

#include <curl/curl.h>
#include <memory>
#include <string>

namespace mail::net {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
// An easy handle, cleaned up when it goes.
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
// A list of header lines (or SMTP recipients), freed when it goes.
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// A new easy handle, after libcurl's global set-up (done once per process, or per loaded copy of
// this code, and left in place: cleaning it up while another thread uses libcurl would be
// unsafe). Null, with the cause in words in `error`, when either fails.
EasyHandle NewHandle(std::string& error);

// Appends a copy of `line`; false, with `list` as it was, when memory runs out.
bool Append(HeaderList& list, const std::string& line);

// Sets options on one handle, keeping the first refusal, so that a whole run of settings is
// checked once at its end.
class Options {
public:
    explicit Options(CURL* handle) : m_handle(handle) {}
    template <typename T> Options& Set(CURLoption option, T value) {
        if (m_result == CURLE_OK)
            m_result = curl_easy_setopt(m_handle, option, value);
        return *this;
    }
    bool ok() const { return m_result == CURLE_OK; }
    // "libcurl refused an option: ..." for the first refusal.
    std::string Error() const;

private:
    CURL* m_handle;
    CURLcode m_result = CURLE_OK;
};

// What went wrong, by kind: the one table from libcurl's codes, which each client turns into
// its own outcome and words.
enum class Failure {
    None,        // CURLE_OK
    Unresolved,  // the host name cannot be resolved
    Unreachable, // no connection could be made
    TimedOut,    // a time limit ran out (connecting or later)
    Untrusted,   // the peer's certificate was not trusted
    Tls,         // the secure connection could not be set up
    LoginDenied, // the server refused the credentials
    CutShort,    // the answer ended before its announced end
    NoAnswer,    // the server closed the connection without answering
    Broken,      // sending or receiving failed midway
    Garbled,     // the server's answer is not the protocol's
    TooLarge,    // the answer exceeded a size limit (or a write callback refused it)
    TooManyRedirects,
    BadScheme,   // a protocol (or a redirect to one) that the request does not allow
    BadEncoding, // compressed content that cannot be undone
    OutOfMemory,
    Other,
};
Failure Classify(CURLcode code);

// libcurl's own words for a failure: its error buffer when it wrote one, else the code's text.
std::string Detail(CURLcode code, const char* errorBuffer);

// The cause of a failure in words, with the detail in parentheses where it helps, such as
// "the server cannot be reached (Failed to connect to ...)". Time limits and size limits are the
// caller's to word, since only it knows which limit ran out; for those kinds the detail alone.
std::string Cause(Failure failure, const std::string& detail);

} // namespace mail::net
