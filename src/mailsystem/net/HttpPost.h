// One HTTP POST over libcurl, bounded in time, with TLS always verified and no redirect followed
// by libcurl: a redirect comes back to the caller, which decides whether it may follow it.
#pragma once

#include "mailsystem/net/Curl.h"

#include <string>
#include <vector>

namespace mail::net {

struct PostRequest {
    std::string url;                  // http:// or https://
    std::vector<std::string> headers; // "Name: value" lines, sent in this order
    std::string body;                 // sent as it is, with its Content-Length
    long connectTimeoutMs = 10000;
    long overallTimeoutMs = 30000; // the whole request, the answer included
    std::string caFile; // a CA bundle to trust instead of the system's; empty: the system's
};

// At most this much of an answer's body is kept; the rest is read and dropped.
inline constexpr size_t kMaxAnswerExcerpt = 4096;

struct PostAnswer {
    // A whole answer arrived, of any status.
    bool answered = false;
    long status = 0;
    std::string reason;   // the reason phrase ("Not Found"); empty where the server sent none
    std::string body;     // the first kMaxAnswerExcerpt bytes of the answer's body
    std::string location; // a redirect's target, made absolute; empty for any other answer
    // No whole answer: what went wrong, by kind and in libcurl's words, and the status of an
    // answer that began (its status line arrived) but did not end; 0 when none began.
    Failure failure = Failure::None;
    std::string detail;
    long statusOfCutAnswer = 0;
    bool connected = false; // a connection was made before the failure (or the answer)
};

// Sends `request` once. Never throws; returns within the request's overall time limit.
PostAnswer Post(const PostRequest& request);

// "scheme://host:port" of an http:// or https:// URL, scheme and host in lower case and the
// port given even where it is the scheme's default; empty for anything else. Two URLs with the
// same origin reach the same server with the same protection.
std::string Origin(const std::string& url);

} // namespace mail::net
