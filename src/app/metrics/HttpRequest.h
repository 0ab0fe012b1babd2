// The little of HTTP/1.x that the metrics endpoint speaks: reading a request's head, writing an
// answer that closes the connection.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace metrics::http {

struct Request {
    std::string method; // as sent: methods are case-sensitive
    std::string target; // as sent, starting with "/"
    std::string path;   // the target without its query ("?...") or fragment
};

enum class HeadState {
    Incomplete, // more bytes may make a whole head
    Complete,   // `request` is filled in
    Malformed,  // not HTTP/1.0 or 1.1 as RFC 9112 writes it
    TooLarge,   // the head (with its ending empty line) is longer than the bound
};

// Reads the request line and header fields that have arrived so far, `bytes`, up to the empty
// line that ends them. Lines end with CRLF or a bare LF; empty lines before the request line
// are skipped. The request line is METHOD SP TARGET SP HTTP/1.x, the method a token, the target
// in origin form (starting with "/", no controls or spaces). A field line is NAME ":" VALUE, the
// name a token and the value free of control characters except tab; a line folded onto the
// previous one is refused. Anything after the head (a body) is not looked at. A head longer
// than `maxBytes` is TooLarge as soon as that many bytes have come without its end, or when
// it ends beyond them.
HeadState ReadHead(std::string_view bytes, size_t maxBytes, Request& request);

// The standard phrase of the status codes the endpoint answers with ("OK", "Not Found", ...).
const char* ReasonPhrase(int status);

// A whole answer: status line, Content-Type, Content-Length, "Connection: close", any
// `extraHeaders` (each ending in CRLF), the empty line and the body.
std::string Answer(int status, std::string_view contentType, std::string_view body,
                   std::string_view extraHeaders = {});

} // namespace metrics::http
