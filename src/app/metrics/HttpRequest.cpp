// Reading a request's head and writing an answer.
#include "app/metrics/HttpRequest.h"

#include <cstring>

namespace metrics::http {
namespace {

bool IsTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool IsToken(std::string_view text) {
    if (text.empty())
        return false;
    for (const char c : text) {
        if (!IsTokenChar(c))
            return false;
    }
    return true;
}

bool ReadRequestLine(std::string_view line, Request& request) {
    const size_t first = line.find(' ');
    if (first == std::string_view::npos)
        return false;
    const size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return false;
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (!IsToken(method) || (version != "HTTP/1.1" && version != "HTTP/1.0"))
        return false;
    if (target.empty() || target.front() != '/')
        return false;
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f)
            return false;
    }
    request.method = method;
    request.target = target;
    request.path = target.substr(0, target.find_first_of("?#"));
    return true;
}

bool IsFieldLine(std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
        return false; // also a line folded onto the previous one: it starts with a blank
    for (const char c : line.substr(colon + 1)) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7f)
            return false;
    }
    return true;
}

} // namespace

HeadState ReadHead(std::string_view bytes, size_t maxBytes, Request& request) {
    size_t pos = 0;
    bool requestLineRead = false;
    for (;;) {
        const size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos)
            return bytes.size() >= maxBytes ? HeadState::TooLarge : HeadState::Incomplete;
        if (end + 1 > maxBytes)
            return HeadState::TooLarge;
        std::string_view line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = end + 1;
        if (!requestLineRead) {
            if (line.empty())
                continue; // empty lines before the request line are allowed
            if (!ReadRequestLine(line, request))
                return HeadState::Malformed;
            requestLineRead = true;
        } else if (line.empty()) {
            return HeadState::Complete;
        } else if (!IsFieldLine(line)) {
            return HeadState::Malformed;
        }
    }
}

const char* ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Internal Server Error";
    }
}

std::string Answer(int status, std::string_view contentType, std::string_view body,
                   std::string_view extraHeaders) {
    std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
    answer += "Content-Type: ";
    answer += contentType;
    answer += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n";
    answer += extraHeaders;
    answer += "\r\n";
    answer += body;
    return answer;
}

} // namespace metrics::http
