// Reading the server URLs of a profile (the calendar server, the SMTP server) with one strict
// reader, so that every setting refuses the same faults in the same way.
#pragma once

#include <string>
#include <vector>

namespace mail::net {

struct ServerUrl {
    std::string scheme; // in lower case, as listed in the allowed schemes
    std::string host;   // as written; an IPv6 address keeps its brackets
    int port = -1;      // -1: none given
    std::string path;   // as written, percent escapes kept; empty when none
    bool hasUserInfo = false, hasQuery = false, hasFragment = false;
};

// Why a URL cannot be read.
enum class UrlFault {
    None,
    Scheme,        // not one of the allowed schemes followed by "://"
    Blank,         // a blank or a control character anywhere
    UnclosedIpv6,  // "[" without "]"
    TextAfterHost, // something other than ":PORT" after a bracketed host
    NoHost,        // an empty host
    Port,          // a port that is not a number from 1 to 65535 (an empty one too)
    Malformed,     // anything else the strict reader refuses
};

// Reads `text` as SCHEME://[USER@]HOST[:PORT][PATH][?QUERY][#FRAGMENT] with one of `schemes`
// (compared without regard to case), strictly (RFC 3986, Qt's QUrl in strict mode). Whether a
// user, path, query or fragment may be there is the caller's to decide from `out`.
UrlFault ReadServerUrl(const std::string& text, const std::vector<std::string>& schemes,
                       ServerUrl& out);

// Whether `host` (as ServerUrl gives it) names this machine over loopback: "localhost", an IPv4
// address in 127.0.0.0/8, or "[::1]". Names are not resolved.
bool IsLoopbackHost(const std::string& host);

} // namespace mail::net
