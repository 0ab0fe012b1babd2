// Reading and checking a cluster URL.
#include "app/cluster/ClusterUrl.h"

#include "core/Text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>

namespace cluster {
namespace {

constexpr const char* kExample = "etcd://etcd1.example.com:2379,etcd2.example.com:2379/orvane";

bool IsDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// A DNS name or an IPv4 address: labels of letters, digits and '-', joined by single dots.
bool IsHostName(const std::string& host) {
    if (host.empty() || host.size() > 253)
        return false;
    size_t start = 0;
    while (start <= host.size()) {
        const size_t dot = std::min(host.find('.', start), host.size());
        const std::string label = host.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (unsigned char c : label) {
            if (!std::isalnum(c) && c != '-')
                return false;
        }
        start = dot + 1;
    }
    return true;
}

bool IsPrefixSegment(const std::string& segment) {
    return !segment.empty() && segment != "." && segment != ".." &&
           std::all_of(segment.begin(), segment.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '-' || c == '_' || c == '.';
           });
}

// One "HOST[:PORT]" of the list.
bool ParseMember(const std::string& url, const std::string& item, Member& member,
                 std::string& error) {
    std::string host, port;
    if (!item.empty() && item.front() == '[') {
        const size_t close = item.find(']');
        if (close == std::string::npos) {
            error = "The member \"" + item + "\" in the cluster URL \"" + url +
                    "\" opens a bracket for an IPv6 address but does not close it.";
            return false;
        }
        host = item.substr(1, close - 1);
        in6_addr address;
        if (inet_pton(AF_INET6, host.c_str(), &address) != 1) {
            error = "\"" + host + "\" in the cluster URL \"" + url + "\" is not an IPv6 address.";
            return false;
        }
        const std::string rest = item.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                error = "The member \"" + item + "\" in the cluster URL \"" + url +
                        "\" has something other than a port after its address.";
                return false;
            }
            port = rest.substr(1);
            if (port.empty())
                port = "-";
        }
    } else if (std::count(item.begin(), item.end(), ':') > 1) {
        error = "The member \"" + item + "\" in the cluster URL \"" + url +
                "\" looks like an IPv6 address: an IPv6 address goes in brackets, as in "
                "[2001:db8::1]:2379.";
        return false;
    } else {
        const size_t colon = item.find(':');
        host = item.substr(0, colon);
        if (colon != std::string::npos) {
            port = item.substr(colon + 1);
            if (port.empty())
                port = "-";
        }
        if (!IsHostName(host)) {
            error = host.empty() ? "A member in the cluster URL \"" + url + "\" names no host."
                                 : "\"" + host + "\" in the cluster URL \"" + url +
                                       "\" is not a host name or address (an IPv6 address goes "
                                       "in brackets, as in [2001:db8::1]:2379).";
            return false;
        }
    }
    member.host = host;
    member.port = kDefaultEtcdPort;
    if (!port.empty()) {
        const bool number = IsDigits(port) && port.size() <= 5;
        const int value = number ? std::stoi(port) : 0;
        if (value < 1 || value > 65535) {
            error = "The port of the member \"" + item + "\" in the cluster URL \"" + url +
                    "\" must be a number from 1 to 65535.";
            return false;
        }
        member.port = value;
    }
    return true;
}

} // namespace

bool operator==(const Member& a, const Member& b) {
    return a.port == b.port && a.host == b.host;
}

bool ParseClusterUrl(const std::string& text, ClusterUrl& out, std::string& error) {
    out = ClusterUrl{};
    if (text.empty()) {
        error = std::string("The cluster URL is empty; give one such as ") + kExample + ".";
        return false;
    }
    if (HasControlCharacter(text) || text.find(' ') != std::string::npos) {
        error = "The cluster URL may not hold spaces or control characters.";
        return false;
    }
    const size_t schemeEnd = text.find("://");
    std::string scheme = schemeEnd == std::string::npos ? "" : text.substr(0, schemeEnd);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != "etcd" && scheme != "etcds") {
        error = "The cluster must be an etcd:// or etcds:// URL, as in " + std::string(kExample) +
                ", not \"" + text + "\".";
        return false;
    }
    if (text.find_first_of("?#") != std::string::npos) {
        error = "The cluster URL \"" + text + "\" may not have a query or a fragment (? or #).";
        return false;
    }
    const size_t hostsStart = schemeEnd + 3;
    const size_t slash = text.find('/', hostsStart);
    const std::string hosts = text.substr(
        hostsStart, slash == std::string::npos ? std::string::npos : slash - hostsStart);
    if (hosts.find('@') != std::string::npos) {
        error = "The cluster URL may not hold a user or password; give them with "
                "--cluster-user and --cluster-password-file.";
        return false;
    }
    if (hosts.empty()) {
        error = "The cluster URL \"" + text + "\" names no etcd member.";
        return false;
    }

    ClusterUrl url;
    url.tls = scheme == "etcds";
    size_t start = 0;
    while (start <= hosts.size()) {
        const size_t comma = std::min(hosts.find(',', start), hosts.size());
        const std::string item = hosts.substr(start, comma - start);
        if (item.empty()) {
            error = "The cluster URL \"" + text + "\" has an empty member between its commas.";
            return false;
        }
        Member member;
        if (!ParseMember(text, item, member, error))
            return false;
        if (std::find(url.members.begin(), url.members.end(), member) != url.members.end()) {
            error = "The cluster URL \"" + text + "\" names the member " + MemberName(member) +
                    " twice.";
            return false;
        }
        url.members.push_back(member);
        if (url.members.size() > kMaxMembers) {
            error = "The cluster URL \"" + text + "\" names more than " +
                    std::to_string(kMaxMembers) + " members.";
            return false;
        }
        start = comma + 1;
    }

    const std::string prefix = slash == std::string::npos ? "" : text.substr(slash + 1);
    if (prefix.empty()) {
        error = "The cluster URL \"" + text +
                "\" names no prefix; add the cluster's name after the members, as in " + kExample +
                ".";
        return false;
    }
    start = 0;
    while (start <= prefix.size()) {
        const size_t next = std::min(prefix.find('/', start), prefix.size());
        if (!IsPrefixSegment(prefix.substr(start, next - start))) {
            error = "The prefix \"" + prefix + "\" in the cluster URL \"" + text +
                    "\" must be names of letters, digits, '-', '_' and '.' separated by single "
                    "slashes, as in orvane/site1.";
            return false;
        }
        start = next + 1;
    }
    url.prefix = prefix;
    out = std::move(url);
    return true;
}

std::string MemberName(const Member& member) {
    const bool v6 = member.host.find(':') != std::string::npos;
    return (v6 ? "[" + member.host + "]" : member.host) + ":" + std::to_string(member.port);
}

std::string MemberOrigin(const Member& member, bool tls) {
    return (tls ? "https://" : "http://") + MemberName(member);
}

} // namespace cluster
