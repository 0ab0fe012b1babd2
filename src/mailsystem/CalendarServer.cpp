// Checking a calendar server's configuration and making each mailbox's calendar home from it.
#include "mailsystem/CalendarServer.h"

#include "core/Text.h"

#include <string_view>
#include <strings.h>

namespace mail {
namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

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
    size_t schemeLength = 0;
    if (StartsWithNoCase(url, "http://"))
        schemeLength = 7;
    else if (StartsWithNoCase(url, "https://"))
        schemeLength = 8;
    else
        return "The calendar server URL must begin with http:// or https://, not \"" + url + "\".";
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7f)
            return "The calendar server URL \"" + url +
                   "\" may not hold blanks or control "
                   "characters.";
    }
    if (url.find_first_of("?#") != std::string::npos)
        return "The calendar server URL \"" + url + "\" may not hold a query (?) or fragment (#).";
    const std::string_view rest = std::string_view(url).substr(schemeLength);
    const size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    if (authority.find('@') != std::string_view::npos)
        return "Give the calendar user with --calendar-user and the password with "
               "--calendar-password-file, not inside the URL.";
    if (authority.find('{') != std::string_view::npos)
        return "{mailbox} belongs in the path of the calendar server URL, not in its host.";
    std::string_view host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return "The IPv6 address in \"" + url + "\" has no closing \"]\".";
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return "Unexpected text after the host in \"" + url + "\".";
            port = after.substr(1);
            if (port.empty())
                return "The port in \"" + url + "\" must be a number from 1 to 65535.";
        }
    } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
        if (port.empty())
            return "The port in \"" + url + "\" must be a number from 1 to 65535.";
    }
    if (host.empty() || host == "[]")
        return "The calendar server URL \"" + url + "\" names no host.";
    if (!port.empty()) {
        long value = 0;
        bool digits = port.size() <= 5;
        for (char c : port) {
            digits = digits && c >= '0' && c <= '9';
            if (digits)
                value = value * 10 + (c - '0');
        }
        if (!digits || value < 1 || value > 65535)
            return "The port in \"" + url + "\" must be a number from 1 to 65535.";
    }
    if (slash == std::string_view::npos ||
        rest.substr(slash).find(kMailboxPlaceholder) == std::string_view::npos)
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
