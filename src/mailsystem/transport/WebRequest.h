// The HTTP request that carries one page to a web service, for each format: where it goes, its
// headers and its body, and which delivery addresses each format takes.
#pragma once

#include "mailsystem/transport/TransportConfig.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// What one request says of its page.
struct WebPage {
    std::string destination; // the pager entry's delivery address, as WebDestinationProblem took it
    std::string text;        // the page text, any bytes (WebText makes it UTF-8)
    std::string user;        // the paged user's display name; empty: none given
    int64_t pageTime = 0;    // when the page fell due (or is sent), seconds since 1970
    int64_t reminderTime = 0; // the item's reminder time; 0: none given
    std::string id;           // the idempotency key (IsValidPageId)
};

struct WebRequest {
    std::string url;
    std::vector<std::string> headers; // "Name: value", in the order sent
    std::string body;
    // The tokens the request carries (the profile's, an entry's own), never to be repeated in
    // a sentence.
    std::vector<std::string> secrets;
};

// Empty when `destination` can receive pages in `format` with the profile's `token`: an ntfy
// topic ("ntfy:" optional) of 1 to 64 letters, digits, "-" and "_"; for Gotify "gotify:" and
// the entry's own application token, or anything else when the profile has a token; for json any
// text of 1 to 1000 bytes without control characters. Otherwise a sentence that does not repeat
// the destination.
std::string WebDestinationProblem(WebFormat format, const std::string& token,
                                  const std::string& destination);

// The request for `page` (whose destination has passed WebDestinationProblem).
WebRequest ComposeWebRequest(const TransportConfig& config, const WebPage& page);

// `text` in UTF-8: as it is when it is valid UTF-8, otherwise read as windows-1252 (the code page
// Orvane's texts come from, as the e-mail body declares it), so that every byte arrives as the
// character an e-mail reader would show.
std::string WebText(std::string_view text);
// A JSON string literal of UTF-8 `text`: quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text);
// `instant` (seconds since 1970) in local time with its offset: "2026-03-02T09:01:00-05:00".
std::string Rfc3339(int64_t instant);

} // namespace mail
