// Checking a calendar server's configuration and making each mailbox's calendar home from it.
#include "mailsystem/caldav/CalendarServer.h"

#include "core/Text.h"
#include "mailsystem/net/Url.h"

#include <string_view>

namespace mail {
namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

std::string CheckCalendarServer(const CalendarServerConfig& config) {
    const std::string& url = config.urlTemplate;
    if (url.empty()) {
        if (!config.user.empty() || !config.password.empty())
            return "A calendar user or password is set but no calendar server URL.";
        return {};
    }
    // The placeholder is no URL text: the template is read with a plain word in its place.
    std::string readable = url;
    for (size_t at; (at = readable.find(kMailboxPlaceholder)) != std::string::npos;)
        readable.replace(at, std::string_view(kMailboxPlaceholder).size(), "mailbox");
    net::ServerUrl parts;
    switch (net::ReadServerUrl(readable, {"http", "https"}, parts)) {
    case net::UrlFault::None:
        break;
    case net::UrlFault::Scheme:
        return "The calendar server URL must begin with http:// or https://, not \"" + url + "\".";
    case net::UrlFault::Blank:
        return "The calendar server URL \"" + url + "\" may not hold blanks or control characters.";
    case net::UrlFault::UnclosedIpv6:
        return "The IPv6 address in \"" + url + "\" has no closing \"]\".";
    case net::UrlFault::TextAfterHost:
        return "Unexpected text after the host in \"" + url + "\".";
    case net::UrlFault::NoHost:
        return "The calendar server URL \"" + url + "\" names no host.";
    case net::UrlFault::Port:
        return "The port in \"" + url + "\" must be a number from 1 to 65535.";
    case net::UrlFault::Malformed:
        return "The calendar server URL \"" + url + "\" is not a valid URL.";
    }
    const size_t authority = url.find("://") + 3;
    const size_t placeholder = url.find(kMailboxPlaceholder);
    if (placeholder != std::string::npos && placeholder < url.find('/', authority))
        return "{mailbox} belongs in the path of the calendar server URL, not in its host.";
    if (parts.hasQuery || parts.hasFragment)
        return "The calendar server URL \"" + url + "\" may not hold a query (?) or fragment (#).";
    if (parts.hasUserInfo)
        return "Give the calendar user with --calendar-user and the password with "
               "--calendar-password-file, not inside the URL.";
    if (placeholder == std::string::npos)
        return "The calendar server URL \"" + url +
               "\" must hold {mailbox} in its path, where each mailbox's calendar home differs, "
               "as in https://cloud.example/remote.php/dav/calendars/{mailbox}/.";
    if (HasControlCharacter(config.user))
        return "The calendar user may not hold control characters.";
    if (config.user.empty() && !config.password.empty())
        return "A calendar password is set but no calendar user.";
    return {};
}

std::string DescribeCalendarServer(const CalendarServerConfig& config) {
    return config.Used() ? config.urlTemplate : std::string("directory");
}

std::string CalendarHomeUrl(const std::string& urlTemplate, const std::string& mailbox) {
    if (mailbox.empty() || mailbox == "." || mailbox == "..")
        return {};
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : mailbox) {
        if (IsUnreserved(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    std::string url;
    const std::string_view placeholder = kMailboxPlaceholder;
    size_t pos = 0;
    for (size_t found; (found = urlTemplate.find(placeholder, pos)) != std::string::npos;
         pos = found + placeholder.size())
        url += urlTemplate.substr(pos, found - pos) + encoded;
    return url + urlTemplate.substr(pos);
}

} // namespace mail
