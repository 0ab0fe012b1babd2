// An LDAP directory as the source of the global address list: what a profile says about it, how
// its attributes become address-list fields, and how names are put into search filters.
#pragma once

#include "mailsystem/model/Items.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// The directory a profile names (docs/mailsystem.md, "The address list from a directory").
// An empty url means the mail system's address-list.txt.
struct LdapConfig {
    std::string url;      // ldap://HOST[:PORT]/BASE-DN or ldaps://HOST[:PORT]/BASE-DN
    std::string user;     // bind DN; empty: anonymous
    std::string password; // simple-bind password, or "credential:NAME" read at each connection;
                          // never written to an event or a log line
    std::string filter;   // an RFC 4515 filter that entries must also meet; empty: all entries
    std::string map; // openldap, active-directory, or [PRESET,]FIELD=ATTRIBUTE,...; empty: openldap
    bool startTls = true; // ldap:// only: upgrade with StartTLS and refuse to go on without it
};

bool operator==(const LdapConfig& a, const LdapConfig& b);

// Which attributes give the fields of an entry. Each field lists attributes in order of
// preference: the first one an entry has (with a non-empty value) gives the field. A field
// without attributes stays empty. Attribute names are kept as written; the directory compares
// them without regard to case.
struct LdapMap {
    std::vector<std::string> displayName; // Display-Name, required
    std::vector<std::string> address;     // Address, required
    std::vector<std::string> homeStore;   // Home-Store
    std::vector<std::string> mailbox;     // Mailbox
    std::vector<std::string> deliverTo;   // Deliver-To

    // Every attribute named, each once (compared without regard to case), in field order.
    std::vector<std::string> Attributes() const;
};

inline constexpr const char* kMapOpenLdap = "openldap";
inline constexpr const char* kMapActiveDirectory = "active-directory";

// Reads a map: "openldap" (the default, also for an empty text), "active-directory", or a list of
// FIELD=ATTRIBUTE items separated by commas, optionally after a preset ("active-directory,
// Mailbox=uid"). Fields not named keep the preset's attributes (openldap's without a preset);
// "FIELD=" leaves an optional field empty; "A|B" means A, else B. Field names are read without
// regard to case. False, with a sentence in `error`, when the text cannot be read.
bool ParseLdapMap(std::string_view text, LdapMap& map, std::string& error);

// The parts of a directory URL.
struct LdapUrl {
    std::string server; // "ldap://host:port" or "ldaps://host:port", as libldap is given it
    std::string host;   // the host name or address, without IPv6 brackets
    int port = 0;       // the port, 389 or 636 when the URL gives none
    std::string baseDn; // where the searches start (percent escapes undone)
    bool tls = false;   // ldaps://: TLS from the first byte
};

// False, with a sentence in `error`, when `url` is not ldap:// or ldaps:// with a host, an
// optional port from 1 to 65535 and a base DN, and nothing else (no attributes, scope, filter or
// extensions: those are the profile's own settings).
bool ParseLdapUrl(const std::string& url, LdapUrl& out, std::string& error);

// Empty when the directory settings are complete and consistent (a readable URL and map, a
// filter in parentheses, no control characters, a password only with a user, StartTLS only
// with ldap://); otherwise a sentence saying what is wrong. An empty URL is always fine.
std::string CheckLdap(const LdapConfig& config);

// The URL followed by " (StartTLS)" when it applies, or "address-list.txt" for none. Never shows
// the password.
std::string DescribeLdap(const LdapConfig& config);

// `value` as an RFC 4515 assertion value: "*", "(", ")", "\" and NUL (and every byte outside
// printable ASCII) become \XX escapes, so that no value can widen or end the filter around it.
std::string EscapeFilterValue(std::string_view value);

// A filter written without its outer parentheses ("objectClass=person") gets them; blanks at
// either end go. Empty stays empty.
std::string NormalizeFilter(std::string_view filter);

// One directory entry's attributes, keyed by the attribute name in lower case, each with its
// values in the directory's order.
using LdapAttributes = std::map<std::string, std::vector<std::string>>;

// The address-list entry that a directory entry gives under `map`: each field the first
// non-empty value of the first of its attributes that the entry has. False when the entry has no
// display name or no address, when a value holds a control character, or when its mailbox value
// cannot be a mailbox folder: such an entry is not listed.
bool MapLdapEntry(const LdapMap& map, const LdapAttributes& attributes, AddressEntry& entry);

// Bounds and trust for directory connections. Every operation ends within its limits.
struct LdapLimits {
    long connectTimeoutMs = 5000;    // TCP connection (and the TLS handshake of ldaps://)
    long operationTimeoutMs = 10000; // each wait for an answer: bind, StartTLS, each search page
    long readTimeoutMs = 60000;      // a whole read of the address list, all pages together
    int pageSize = 500;              // entries per page of a paged read (RFC 2696)
    std::string caFile;              // CA bundle to trust; empty: libldap's (the system's)
};

// The limits in force: the defaults above, with ORVANE_LDAP_CA_FILE naming a CA bundle, and
// ORVANE_TEST_LDAP_TIMEOUT_MS (tests only) capping the connection and answer limits, and a whole
// read at four times that.
LdapLimits CurrentLdapLimits();

} // namespace mail
