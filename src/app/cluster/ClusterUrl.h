// The cluster URL: etcd's members and the key prefix that the instances of one cluster share.
//
// Written "etcd://HOST[:PORT][,HOST[:PORT]...]/PREFIX", or "etcds://..." for TLS.
#pragma once

#include <string>
#include <vector>

namespace cluster {

// etcd's client port, taken for a member written without one.
inline constexpr int kDefaultEtcdPort = 2379;

struct Member {
    std::string host; // a name, an IPv4 address, or an IPv6 address without its brackets
    int port = 0;     // 1 to 65535
};

bool operator==(const Member& a, const Member& b);

struct ClusterUrl {
    bool tls = false;            // etcds://: every member over https, certificates verified
    std::vector<Member> members; // as written, at least one, none twice
    std::string prefix;          // as written after the first slash: "orvane/site1"

    // Every key of the cluster begins with this: "/" + prefix + "/".
    std::string KeyRoot() const { return "/" + prefix + "/"; }
    // The keys the instances share: the election's, the user list's, and the root of the pages'
    // claims and records.
    std::string LeaderKey() const { return KeyRoot() + "leader"; }
    std::string UsersKey() const { return KeyRoot() + "users"; }
    std::string PagesRoot() const { return KeyRoot() + "pages/"; }
};

// At most this many members are named: a request may try each in turn.
inline constexpr size_t kMaxMembers = 9;

// False, with a sentence in `error`, when `text` is not etcd:// or etcds:// followed by one to
// kMaxMembers members separated by commas (a host name, an IPv4 address or an IPv6 address in
// brackets, each with an optional port from 1 to 65535) and a prefix: one or more segments of
// letters, digits, '-', '_' and '.', separated by single slashes. A user, a password, a query or
// a fragment is refused: the user and password are settings of their own.
bool ParseClusterUrl(const std::string& text, ClusterUrl& out, std::string& error);

// How a sentence names a member: "host:port", "[::1]:port".
std::string MemberName(const Member& member);
// Where the member's requests go: "http://host:port" or "https://[::1]:port".
std::string MemberOrigin(const Member& member, bool tls);

} // namespace cluster
