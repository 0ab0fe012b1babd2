// What a profile says about how its outgoing mail (the pages) leaves: the outbox or an SMTP server.
#pragma once

#include <string>

namespace mail {

// How a profile's outgoing mail (the pages) is delivered.
struct TransportConfig {
    enum class Kind { Outbox, Smtp };
    Kind kind = Kind::Outbox;
    // Smtp only: "smtp://host[:port]" or "smtps://host[:port]" (TLS from the first byte).
    std::string url;
    bool startTls = false; // smtp:// only: upgrade with STARTTLS and refuse to go on without it
    std::string user;      // empty: no authentication
    std::string password;  // or "credential:NAME", read at each delivery (core/Credentials.h)
    std::string sender;    // envelope sender and From; empty: "orvane@" + the host name
};

// Empty when the transport is complete and consistent (outbox; or an smtp:// or smtps:// URL
// with a host, an optional port from 1 to 65535, no user or path in it, STARTTLS only with
// smtp://); otherwise a sentence saying what is wrong.
std::string CheckTransport(const TransportConfig& transport);
// "outbox", or the URL followed by " (STARTTLS)" when it applies. Never shows the password.
std::string DescribeTransport(const TransportConfig& transport);

} // namespace mail
