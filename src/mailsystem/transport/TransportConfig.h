// What a profile says about how its outgoing mail (the pages) leaves: the outbox, an SMTP server,
// or one HTTP request per page to a web service (a push service, a chat system, a webhook).
#pragma once

#include <string>

namespace mail {

// The request a web transport makes of each page (docs/mapi.md, "Pages over HTTP").
enum class WebFormat {
    Json,   // POST to the URL: {"to", "text", "page_time", "reminder_time", "user", "id"}
    Ntfy,   // POST the text to URL/TOPIC, with Title and Priority headers
    Gotify, // POST {"title", "message", "priority"} to URL/message with an application token
};

// How a profile's outgoing mail (the pages) is delivered.
struct TransportConfig {
    enum class Kind { Outbox, Smtp, Web };
    Kind kind = Kind::Outbox;
    // Smtp: "smtp://host[:port]" or "smtps://host[:port]" (TLS from the first byte).
    // Web: "https://host[:port][/path]", or "http://..." on loopback or with `insecure`.
    std::string url;
    bool startTls = false; // smtp:// only: upgrade with STARTTLS and refuse to go on without it
    std::string user;      // empty: no authentication
    std::string password;  // or "credential:NAME", read at each delivery (core/Credentials.h)
    std::string sender;    // envelope sender and From; empty: "orvane@" + the host name
    // Web only. (Each initialised here, so that a configuration written without them need not
    // name them.)
    WebFormat format = WebFormat::Json;
    std::string token = {}; // bearer (or Gotify application) token, or "credential:NAME"; empty:
                            // none. Never shown.
    bool insecure = false;  // plain http:// allowed to a host that is not loopback
};

// The kind a profile's "transport" value names: "outbox", an http:// or https:// URL (Web), or
// anything else, which CheckTransport then reads as an SMTP URL.
TransportConfig::Kind TransportKindOf(const std::string& value);

// "json", "ntfy", "gotify"; and back (exact, lower case). False for any other word.
const char* WebFormatName(WebFormat format);
bool ParseWebFormat(const std::string& word, WebFormat& format);

// Empty when the transport is complete and consistent (outbox; an smtp:// or smtps:// URL with
// a host, an optional port from 1 to 65535, no user or path in it, STARTTLS only with smtp://;
// an https:// URL, or http:// to loopback or with `insecure`, without a user or fragment in it
// and with a printable token); otherwise a sentence saying what is wrong.
std::string CheckTransport(const TransportConfig& transport);
// "outbox"; an SMTP URL followed by " (STARTTLS)" when it applies; a web URL followed by its
// format, as "https://ntfy.example.org (ntfy)". Never shows the password or the token.
std::string DescribeTransport(const TransportConfig& transport);

} // namespace mail
