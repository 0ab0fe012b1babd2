// The strict reader of server URLs.
#include "mailsystem/net/Url.h"

#include "core/Text.h"

#include <QUrl>
#include <cstdio>
#include <string_view>
#include <strings.h>

namespace mail::net {

UrlFault ReadServerUrl(const std::string& text, const std::vector<std::string>& schemes,
                       ServerUrl& out) {
    out = ServerUrl();
    for (const std::string& scheme : schemes) {
        const std::string prefix = scheme + "://";
        if (text.size() >= prefix.size() &&
            strncasecmp(text.data(), prefix.data(), prefix.size()) == 0) {
            out.scheme = scheme;
            break;
        }
    }
    if (out.scheme.empty())
        return UrlFault::Scheme;
    for (unsigned char c : text) {
        if (c == ' ' || IsControlCharacter(c))
            return UrlFault::Blank;
    }

    // The authority's own faults are told apart before the strict reader refuses them as a whole.
    const std::string_view rest = std::string_view(text).substr(out.scheme.size() + 3);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    out.hasUserInfo = authority.find('@') != std::string_view::npos;
    if (out.hasUserInfo)
        authority = authority.substr(authority.rfind('@') + 1);
    std::string_view host = authority, port;
    bool portGiven = false;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return UrlFault::UnclosedIpv6;
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return UrlFault::TextAfterHost;
            port = after.substr(1);
            portGiven = true;
        }
    } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
        portGiven = true;
    }
    if (host.empty() || host == "[]")
        return UrlFault::NoHost;
    if (portGiven) {
        long value = 0;
        bool digits = !port.empty() && port.size() <= 5;
        for (char c : port) {
            digits = digits && c >= '0' && c <= '9';
            if (digits)
                value = value * 10 + (c - '0');
        }
        if (!digits || value < 1 || value > 65535)
            return UrlFault::Port;
        out.port = static_cast<int>(value);
    }

    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return UrlFault::Malformed;
    out.host = std::string(host);
    out.path = url.path(QUrl::FullyEncoded).toStdString();
    out.hasQuery = url.hasQuery();
    out.hasFragment = url.hasFragment();
    return UrlFault::None;
}

bool IsLoopbackHost(const std::string& host) {
    if (strcasecmp(host.c_str(), "localhost") == 0 || host == "[::1]")
        return true;
    // Four decimal parts, the first 127; the strict reader has already refused other forms.
    int parts[4];
    char end = 0;
    if (std::sscanf(host.c_str(), "%d.%d.%d.%d%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &end) != 4)
        return false;
    for (int part : parts) {
        if (part < 0 || part > 255)
            return false;
    }
    return parts[0] == 127 && host.find_first_not_of("0123456789.") == std::string::npos;
}

} // namespace mail::net
