// Checking and describing a profile's transport settings.
#include "mailsystem/transport/TransportConfig.h"

#include "core/Text.h"
#include "mailsystem/net/Url.h"

namespace mail {

std::string CheckTransport(const TransportConfig& transport) {
    // A setting that would silently do nothing (and vanish at the next save) is refused.
    if (transport.kind == TransportConfig::Kind::Outbox)
        return transport.startTls
                   ? "STARTTLS applies to an smtp:// transport only, not to the outbox."
                   : std::string();
    const std::string& url = transport.url;
    net::ServerUrl parts;
    switch (net::ReadServerUrl(url, {"smtp", "smtps"}, parts)) {
    case net::UrlFault::None:
        break;
    case net::UrlFault::Scheme:
        return "The transport must be outbox or an smtp:// or smtps:// URL, not \"" + url + "\".";
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
    if (transport.kind == TransportConfig::Kind::Outbox)
        return "outbox";
    return transport.url + (transport.startTls ? " (STARTTLS)" : "");
}

} // namespace mail
