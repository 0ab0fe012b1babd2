// Checking and describing a profile's transport settings.
#include "mailsystem/transport/TransportConfig.h"

#include "core/Text.h"
#include "mailsystem/net/Url.h"

#include <strings.h>

namespace mail {
namespace {

// The sentence for a URL that the strict reader refused; empty when it read it.
std::string UrlProblem(net::UrlFault fault, const std::string& url) {
    switch (fault) {
    case net::UrlFault::None:
        return {};
    case net::UrlFault::Scheme:
        return "The transport must be outbox or an smtp:// or smtps:// URL, or a web service's "
               "https:// URL, not \"" +
               url + "\".";
    case net::UrlFault::Blank:
        return "The URL \"" + url + "\" may not hold blanks or control characters.";
    case net::UrlFault::UnclosedIpv6:
        return "The IPv6 address in \"" + url + "\" has no closing \"]\".";
    case net::UrlFault::TextAfterHost:
        return "Unexpected text after the host in \"" + url + "\".";
    case net::UrlFault::NoHost:
        return "The URL \"" + url + "\" names no host.";
    case net::UrlFault::Port:
        return "The port in \"" + url + "\" must be a number from 1 to 65535.";
    case net::UrlFault::Malformed:
        return "The URL \"" + url + "\" is not a valid URL.";
    }
    return {};
}

// A token travels in a header line: printable ASCII without blanks, as bearer tokens are.
bool IsPrintableToken(const std::string& token) {
    for (unsigned char c : token) {
        if (c <= 0x20 || c >= 0x7f)
            return false;
    }
    return true;
}

std::string CheckWeb(const TransportConfig& transport) {
    const std::string& url = transport.url;
    net::ServerUrl parts;
    const std::string problem = UrlProblem(net::ReadServerUrl(url, {"http", "https"}, parts), url);
    if (!problem.empty())
        return problem;
    if (parts.hasUserInfo)
        return "Give the web service's token with --transport-token-file, not inside the URL.";
    if (parts.hasFragment)
        return "A web transport's URL may not end in a fragment (#...).";
    if (parts.hasQuery && transport.format != WebFormat::Json)
        return std::string("An ") + WebFormatName(transport.format) +
               " URL names the server and an optional path, without a query (?...).";
    if (parts.scheme == "http" && !transport.insecure && !net::IsLoopbackHost(parts.host))
        return "Plain http:// would send the pages and the token to " + parts.host +
               " unencrypted; use https://, or allow it with --transport-insecure yes.";
    if (parts.scheme == "https" && transport.insecure)
        return "--transport-insecure applies to http:// only; https:// is always encrypted and "
               "its certificate always verified.";
    if (transport.startTls || !transport.user.empty() || !transport.password.empty())
        return "A web transport takes a token (--transport-token-file), not STARTTLS, a user name "
               "or a password.";
    if (!IsPrintableToken(transport.token))
        return "The web service's token may hold only printable ASCII characters, without blanks.";
    if (HasControlCharacter(transport.sender))
        return "The sender may not hold control characters.";
    return {};
}

} // namespace

TransportConfig::Kind TransportKindOf(const std::string& value) {
    if (value == "outbox")
        return TransportConfig::Kind::Outbox;
    if (strncasecmp(value.c_str(), "http://", 7) == 0 ||
        strncasecmp(value.c_str(), "https://", 8) == 0)
        return TransportConfig::Kind::Web;
    return TransportConfig::Kind::Smtp;
}

const char* WebFormatName(WebFormat format) {
    switch (format) {
    case WebFormat::Json:
        return "json";
    case WebFormat::Ntfy:
        return "ntfy";
    case WebFormat::Gotify:
        return "gotify";
    }
    return "json";
}

bool ParseWebFormat(const std::string& word, WebFormat& format) {
    for (WebFormat f : {WebFormat::Json, WebFormat::Ntfy, WebFormat::Gotify}) {
        if (word == WebFormatName(f)) {
            format = f;
            return true;
        }
    }
    return false;
}

std::string CheckTransport(const TransportConfig& transport) {
    // A setting that would silently do nothing (and vanish at the next save) is refused.
    if (transport.kind != TransportConfig::Kind::Web &&
        (!transport.token.empty() || transport.insecure || transport.format != WebFormat::Json))
        return "A token, a format and --transport-insecure apply to a web transport (an https:// "
               "URL) only.";
    if (transport.kind == TransportConfig::Kind::Web)
        return CheckWeb(transport);
    if (transport.kind == TransportConfig::Kind::Outbox)
        return transport.startTls
                   ? "STARTTLS applies to an smtp:// transport only, not to the outbox."
                   : std::string();
    const std::string& url = transport.url;
    net::ServerUrl parts;
    const std::string problem = UrlProblem(net::ReadServerUrl(url, {"smtp", "smtps"}, parts), url);
    if (!problem.empty())
        return problem;
    if (parts.hasUserInfo)
        return "Give the user name with --user and the password with --password-file, not inside "
               "the URL.";
    if ((!parts.path.empty() && parts.path != "/") || parts.hasQuery || parts.hasFragment)
        return "An SMTP URL names only a host and a port, as in smtp://mail.example.com:587.";
    const bool secure = parts.scheme == "smtps";
    if (secure && transport.startTls)
        return "STARTTLS applies to smtp:// only; smtps:// is encrypted from the first byte.";
    if (HasControlCharacter(transport.user) || HasControlCharacter(transport.sender))
        return "The user name and the sender may not hold control characters.";
    if (transport.user.empty() && !transport.password.empty())
        return "A password is set but no user name.";
    return {};
}

std::string DescribeTransport(const TransportConfig& transport) {
    switch (transport.kind) {
    case TransportConfig::Kind::Outbox:
        return "outbox";
    case TransportConfig::Kind::Smtp:
        return transport.url + (transport.startTls ? " (STARTTLS)" : "");
    case TransportConfig::Kind::Web:
        return transport.url + " (" + WebFormatName(transport.format) +
               (transport.insecure ? ", plain http allowed" : "") + ")";
    }
    return {};
}

} // namespace mail
