// LDAP settings: the URL, the attribute map, filters and the mapping of one entry.
#include "mailsystem/ldap/LdapSettings.h"

#include "core/Text.h"
#include "mailsystem/addressbook/AddressBook.h"

#include <algorithm>
#include <cstdlib>
#include <ldap.h>
#include <memory>
#include <strings.h>

namespace mail {
namespace {

struct MapField {
    const char* name;
    std::vector<std::string> LdapMap::*member;
    bool required;
};
const MapField kMapFields[] = {
    {"Display-Name", &LdapMap::displayName, true}, {"Address", &LdapMap::address, true},
    {"Home-Store", &LdapMap::homeStore, false},    {"Mailbox", &LdapMap::mailbox, false},
    {"Deliver-To", &LdapMap::deliverTo, false},
};

LdapMap OpenLdapMap() {
    return LdapMap{{"displayName", "cn"}, {"mail"}, {"mailHost"}, {"uid"}, {"mail"}};
}
LdapMap ActiveDirectoryMap() {
    return LdapMap{{"displayName", "cn"}, {"mail"}, {"homeMDB"}, {"sAMAccountName"}, {"mail"}};
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// An attribute description as RFC 4512 has it: a name (a letter, then letters, digits and
// hyphens) or a numeric OID.
bool IsAttributeName(std::string_view name) {
    if (name.empty() || name.size() > 128)
        return false;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (letter(name[0]))
        return std::all_of(name.begin(), name.end(),
                           [&](char c) { return letter(c) || digit(c) || c == '-'; });
    bool lastDot = true;
    for (char c : name) {
        if (c == '.') {
            if (lastDot)
                return false;
            lastDot = true;
        } else if (digit(c)) {
            lastDot = false;
        } else {
            return false;
        }
    }
    return !lastDot;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t stop = text.find(separator, start);
        parts.push_back(text.substr(start, stop == std::string_view::npos ? stop : stop - start));
        if (stop == std::string_view::npos)
            return parts;
        start = stop + 1;
    }
}

// True when the filter's parentheses pair up, outside escapes, into one outer pair.
bool IsOneParenthesisedFilter(std::string_view filter) {
    if (filter.size() < 3 || filter.front() != '(' || filter.back() != ')')
        return false;
    int depth = 0;
    for (size_t i = 0; i < filter.size(); ++i) {
        if (filter[i] == '(') {
            ++depth;
        } else if (filter[i] == ')') {
            if (--depth < 0)
                return false;
            if (depth == 0 && i + 1 != filter.size())
                return false;
        }
    }
    return depth == 0;
}

} // namespace

bool operator==(const LdapConfig& a, const LdapConfig& b) {
    return a.url == b.url && a.user == b.user && a.password == b.password && a.filter == b.filter &&
           a.map == b.map && a.startTls == b.startTls;
}

std::vector<std::string> LdapMap::Attributes() const {
    std::vector<std::string> names, lower;
    for (const MapField& field : kMapFields) {
        for (const std::string& name : this->*field.member) {
            if (std::find(lower.begin(), lower.end(), Lower(name)) != lower.end())
                continue;
            lower.push_back(Lower(name));
            names.push_back(name);
        }
    }
    return names;
}

bool ParseLdapMap(std::string_view text, LdapMap& map, std::string& error) {
    text = TrimBlanks(text);
    map = OpenLdapMap();
    if (text.empty())
        return true;
    std::vector<std::string_view> items = Split(text, ',');
    const std::string_view first = TrimBlanks(items.front());
    if (first.find('=') == std::string_view::npos) {
        if (strcasecmp(std::string(first).c_str(), kMapOpenLdap) == 0) {
            map = OpenLdapMap();
        } else if (strcasecmp(std::string(first).c_str(), kMapActiveDirectory) == 0) {
            map = ActiveDirectoryMap();
        } else {
            error = "The directory map \"" + std::string(first) +
                    "\" is neither openldap, active-directory nor a list of FIELD=ATTRIBUTE.";
            return false;
        }
        items.erase(items.begin());
    }
    bool seen[std::size(kMapFields)] = {};
    for (std::string_view item : items) {
        item = TrimBlanks(item);
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            error = "The directory map item \"" + std::string(item) +
                    "\" is not FIELD=ATTRIBUTE (a preset may only come first).";
            return false;
        }
        const std::string name(TrimBlanks(item.substr(0, equals)));
        size_t index = 0;
        while (index < std::size(kMapFields) &&
               strcasecmp(name.c_str(), kMapFields[index].name) != 0)
            ++index;
        if (index == std::size(kMapFields)) {
            error = "The directory map names an unknown field \"" + name +
                    "\" (the fields are Display-Name, Address, Home-Store, Mailbox and "
                    "Deliver-To).";
            return false;
        }
        if (seen[index]) {
            error = std::string("The directory map names ") + kMapFields[index].name + " twice.";
            return false;
        }
        seen[index] = true;
        std::vector<std::string>& attributes = map.*kMapFields[index].member;
        attributes.clear();
        const std::string_view value = TrimBlanks(item.substr(equals + 1));
        if (value.empty()) {
            if (kMapFields[index].required) {
                error = std::string("The directory map must give ") + kMapFields[index].name +
                        " an attribute.";
                return false;
            }
            continue;
        }
        for (std::string_view attribute : Split(value, '|')) {
            attribute = TrimBlanks(attribute);
            if (!IsAttributeName(attribute)) {
                error = "\"" + std::string(attribute) +
                        "\" cannot be an LDAP attribute name (a letter followed by letters, "
                        "digits and hyphens, or a numeric OID).";
                return false;
            }
            attributes.emplace_back(attribute);
        }
    }
    return true;
}

bool ParseLdapUrl(const std::string& url, LdapUrl& out, std::string& error) {
    out = LdapUrl{};
    if (HasControlCharacter(url)) {
        error = "The directory URL may not hold control characters.";
        return false;
    }
    const size_t schemeEnd = url.find("://");
    const std::string scheme =
        schemeEnd == std::string::npos ? "" : Lower(url.substr(0, schemeEnd));
    if (scheme != "ldap" && scheme != "ldaps") {
        error = "The directory must be an ldap:// or ldaps:// URL, not \"" + url + "\".";
        return false;
    }
    // Attributes, scope, filter and extensions are the profile's own settings, not the URL's.
    if (url.find('?') != std::string::npos) {
        error = "The directory URL names only a server and a base DN, as in "
                "ldaps://ldap.example.com/ou=People,dc=example,dc=com; give the filter with "
                "--directory-filter.";
        return false;
    }
    LDAPURLDesc* parsed = nullptr;
    if (ldap_url_parse(url.c_str(), &parsed) != LDAP_URL_SUCCESS || !parsed) {
        error = "The directory URL \"" + url + "\" cannot be read.";
        return false;
    }
    std::unique_ptr<LDAPURLDesc, void (*)(LDAPURLDesc*)> guard(parsed, ldap_free_urldesc);
    if (!parsed->lud_host || !*parsed->lud_host) {
        error = "The directory URL \"" + url + "\" names no server.";
        return false;
    }
    // The server part as written, so that an IPv6 address keeps its brackets.
    const size_t hostStart = schemeEnd + 3;
    const size_t slash = url.find('/', hostStart);
    const std::string hostPort =
        url.substr(hostStart, slash == std::string::npos ? std::string::npos : slash - hostStart);
    const size_t bracket = hostPort.rfind(']');
    const size_t colon = hostPort.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        const std::string port = hostPort.substr(colon + 1);
        const bool digits =
            !port.empty() && port.size() <= 5 &&
            std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || std::atoi(port.c_str()) < 1 || std::atoi(port.c_str()) > 65535) {
            error = "The port in \"" + url + "\" must be a number from 1 to 65535.";
            return false;
        }
    }
    if (!parsed->lud_dn || !*parsed->lud_dn) {
        error = "The directory URL \"" + url +
                "\" names no base DN; add it after the server, as in "
                "ldaps://ldap.example.com/ou=People,dc=example,dc=com.";
        return false;
    }
    LDAPDN dn = nullptr;
    if (ldap_str2dn(parsed->lud_dn, &dn, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) {
        error = "\"" + std::string(parsed->lud_dn) + "\" in the directory URL is not a DN.";
        return false;
    }
    ldap_dnfree(dn);
    out.tls = scheme == "ldaps";
    out.server = scheme + "://" + hostPort;
    out.host = parsed->lud_host;
    out.port = parsed->lud_port > 0 ? parsed->lud_port : (out.tls ? 636 : 389);
    out.baseDn = parsed->lud_dn;
    return true;
}

std::string CheckLdap(const LdapConfig& config) {
    if (config.url.empty()) {
        if (!config.user.empty() || !config.password.empty() || !config.filter.empty() ||
            !config.map.empty())
            return "Directory settings are given but no directory URL.";
        return {};
    }
    LdapUrl url;
    std::string error;
    if (!ParseLdapUrl(config.url, url, error))
        return error;
    if (HasControlCharacter(config.user) || HasControlCharacter(config.filter) ||
        HasControlCharacter(config.map))
        return "The directory user, filter and map may not hold control characters.";
    if (!config.user.empty()) {
        LDAPDN dn = nullptr;
        if (ldap_str2dn(config.user.c_str(), &dn, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS)
            return "The directory user \"" + config.user +
                   "\" is not a DN (such as cn=orvane,ou=Services,dc=example,dc=com).";
        ldap_dnfree(dn);
    }
    if (config.user.empty() && !config.password.empty())
        return "A directory password is set but no directory user.";
    if (!config.filter.empty() && !IsOneParenthesisedFilter(NormalizeFilter(config.filter)))
        return "The directory filter \"" + config.filter +
               "\" is not one LDAP filter with its parentheses paired, such as "
               "(objectClass=inetOrgPerson).";
    LdapMap map;
    if (!ParseLdapMap(config.map, map, error))
        return error;
    return {};
}

std::string DescribeLdap(const LdapConfig& config) {
    if (config.url.empty())
        return kAddressListFileName;
    LdapUrl url;
    std::string error;
    const bool plain = ParseLdapUrl(config.url, url, error) && !url.tls;
    return config.url + (plain && config.startTls ? " (StartTLS)" : "");
}

std::string EscapeFilterValue(std::string_view value) {
    if (value.empty())
        return {};
    berval in;
    in.bv_len = value.size();
    in.bv_val = const_cast<char*>(value.data());
    berval out = {0, nullptr};
    if (ldap_bv2escaped_filter_value(&in, &out) != 0 || !out.bv_val)
        throw std::bad_alloc();
    std::string escaped(out.bv_val, out.bv_len);
    ber_memfree(out.bv_val);
    return escaped;
}

std::string NormalizeFilter(std::string_view filter) {
    filter = TrimBlanks(filter);
    if (filter.empty())
        return {};
    if (filter.front() == '(')
        return std::string(filter);
    return "(" + std::string(filter) + ")";
}

bool MapLdapEntry(const LdapMap& map, const LdapAttributes& attributes, AddressEntry& entry) {
    entry = AddressEntry{};
    for (const MapField& field : kMapFields) {
        std::string value;
        for (const std::string& name : map.*field.member) {
            const auto found = attributes.find(Lower(name));
            if (found == attributes.end())
                continue;
            const auto nonEmpty = std::find_if(found->second.begin(), found->second.end(),
                                               [](const std::string& v) { return !v.empty(); });
            if (nonEmpty != found->second.end()) {
                value = *nonEmpty;
                break;
            }
        }
        if (value.empty() && field.required)
            return false;
        // A value takes one line wherever it goes (a header, Users.dat, a list).
        if (HasControlCharacter(value))
            return false;
        if (field.member == &LdapMap::displayName)
            entry.displayName = std::move(value);
        else if (field.member == &LdapMap::address)
            entry.address = std::move(value);
        else if (field.member == &LdapMap::homeStore)
            entry.homeStore = std::move(value);
        else if (field.member == &LdapMap::mailbox)
            entry.mailbox = std::move(value);
        else
            entry.deliverTo = std::move(value);
    }
    return entry.mailbox.empty() || IsValidFolderName(entry.mailbox);
}

LdapLimits CurrentLdapLimits() {
    LdapLimits limits;
    if (const char* ca = std::getenv("ORVANE_LDAP_CA_FILE"); ca && *ca)
        limits.caFile = ca;
    if (const char* test = std::getenv("ORVANE_TEST_LDAP_TIMEOUT_MS"); test && *test) {
        const long cap = std::atol(test);
        if (cap > 0) {
            limits.connectTimeoutMs = std::min(limits.connectTimeoutMs, cap);
            limits.operationTimeoutMs = std::min(limits.operationTimeoutMs, cap);
            limits.readTimeoutMs = std::min(limits.readTimeoutMs, cap * 4);
        }
    }
    return limits;
}

} // namespace mail
