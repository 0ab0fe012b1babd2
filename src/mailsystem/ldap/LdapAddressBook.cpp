// The address book read from an LDAP directory: paged searches (RFC 2696) of the whole list,
// searches for one name, and what the entries give under the profile's map.
#include "mailsystem/ldap/LdapAddressBook.h"

#include "mailsystem/ldap/LdapConnection.h"

#include <chrono>
#include <ldap.h>

namespace mail {
namespace {

using Clock = std::chrono::steady_clock;

// A failure to reach or bind to the server is kept this long: requests meanwhile fail at once.
constexpr auto kFailureMemory = std::chrono::seconds(60);
// More entries than any real address list; a directory that sends more is refused rather than
// read into memory without end.
constexpr size_t kMaxEntries = 2'000'000;

class DirectoryAddressBook final : public AddressBook {
public:
    DirectoryAddressBook(LdapConfig config, LdapUrl url, LdapMap map, LdapLimits limits)
        : m_config(std::move(config)), m_url(std::move(url)), m_map(std::move(map)),
          m_limits(std::move(limits)), m_attributes(m_map.Attributes()),
          m_connection(m_config, m_url, m_limits) {
        const std::string filter = NormalizeFilter(m_config.filter);
        std::string present;
        for (const std::string& a : m_map.address)
            present += "(" + a + "=*)";
        if (m_map.address.size() > 1)
            present = "(|" + present + ")";
        m_baseFilter = filter.empty() ? present : "(&" + filter + present + ")";
    }

    bool AddressList(std::vector<AddressEntry>& entries, std::string& error) override {
        return Read(m_baseFilter, true, entries, error);
    }

    bool FindByDisplayName(const std::string& name, std::vector<AddressEntry>& found,
                           std::string& error) override {
        return Find(m_map.displayName, &AddressEntry::displayName, name, found, error);
    }

    bool FindByAddress(const std::string& address, std::vector<AddressEntry>& found,
                       std::string& error) override {
        return Find(m_map.address, &AddressEntry::address, address, found, error);
    }

private:
    enum class Outcome {
        Ok,
        Refused, // the server answered with a failure; the connection stays usable
        Broken,  // no answer in time, or the connection failed: it is dropped and remembered
        Lost,    // the connection failed at its first answer (a kept one may be stale)
    };

    // A search for the entries whose field equals `value`: the directory matches by its own
    // rules (mostly without regard to case), so the answer is narrowed to exact equality here.
    bool Find(const std::vector<std::string>& attributes, std::string AddressEntry::*field,
              const std::string& value, std::vector<AddressEntry>& found, std::string& error) {
        found.clear();
        const std::string escaped = EscapeFilterValue(value);
        std::string any;
        for (const std::string& a : attributes)
            any += "(" + a + "=" + escaped + ")";
        if (attributes.size() > 1)
            any = "(|" + any + ")";
        std::vector<AddressEntry> candidates;
        if (!Read("(&" + m_baseFilter + any + ")", false, candidates, error))
            return false;
        for (AddressEntry& e : candidates) {
            if (e.*field == value)
                found.push_back(std::move(e));
        }
        return true;
    }

    // Runs one search; a kept connection that the server has closed meanwhile is opened again
    // once.
    bool Read(const std::string& filter, bool whole, std::vector<AddressEntry>& entries,
              std::string& error) {
        entries.clear();
        NoSigpipe guard;
        if (!m_failure.empty() && Clock::now() - m_failedAt < kFailureMemory) {
            error = m_failure;
            return false;
        }
        m_failure.clear();
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool fresh = !m_connection.IsOpen();
            if (fresh && !m_connection.Open(error))
                return Remember(error);
            const Outcome outcome = Search(filter, whole, entries, error);
            if (outcome == Outcome::Ok)
                return true;
            entries.clear();
            if (outcome == Outcome::Refused)
                return false;
            m_connection.Close();
            if (outcome == Outcome::Broken || fresh)
                return Remember(error);
        }
        return Remember(error);
    }

    bool Remember(const std::string& error) {
        m_connection.Close();
        m_failure = error;
        m_failedAt = Clock::now();
        return false;
    }

    // One paged search (RFC 2696), every page in turn; the entries in the directory's order.
    Outcome Search(const std::string& filter, bool whole, std::vector<AddressEntry>& entries,
                   std::string& error) {
        std::vector<char*> attributes;
        for (const std::string& a : m_attributes)
            attributes.push_back(const_cast<char*>(a.c_str()));
        attributes.push_back(nullptr);
        const long budgetMs = whole ? m_limits.readTimeoutMs : m_limits.operationTimeoutMs;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
        timeval serverLimit = {std::max<long>(1, (budgetMs + 999) / 1000), 0};

        berval cookie = {0, nullptr};
        size_t received = 0;
        bool firstAnswer = true;
        while (true) {
            LDAPControl* page = nullptr;
            int rc = ldap_create_page_control(m_connection.Handle(), m_limits.pageSize, &cookie, 0,
                                              &page);
            ber_memfree(cookie.bv_val);
            cookie = {0, nullptr};
            if (rc != LDAP_SUCCESS) {
                error = m_connection.Sentence("cannot be searched: " + LdapWords(rc));
                return Outcome::Refused;
            }
            LDAPControl* controls[] = {page, nullptr};
            int msgid = 0;
            rc = ldap_search_ext(m_connection.Handle(), m_url.baseDn.c_str(), LDAP_SCOPE_SUBTREE,
                                 filter.c_str(), attributes.data(), 0, controls, nullptr,
                                 &serverLimit, LDAP_NO_LIMIT, &msgid);
            ldap_control_free(page);
            if (rc == LDAP_FILTER_ERROR) {
                error = m_connection.Sentence(
                    "cannot be searched: the filter " + filter +
                    " is not a valid LDAP filter (check the profile's directory "
                    "filter)");
                return Outcome::Refused;
            }
            if (rc != LDAP_SUCCESS) {
                error = m_connection.Sentence("closed the connection: " + LdapWords(rc) +
                                              m_connection.Diagnostic());
                return firstAnswer ? Outcome::Lost : Outcome::Broken;
            }

            while (true) {
                const long left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count();
                if (left <= 0) {
                    ldap_abandon_ext(m_connection.Handle(), msgid, nullptr, nullptr);
                    error = m_connection.Sentence("did not finish the read within " +
                                                  LimitText(budgetMs));
                    return Outcome::Broken;
                }
                const bool last = left < m_limits.operationTimeoutMs;
                LDAPMessage* message =
                    m_connection.Answer(msgid, last ? left : m_limits.operationTimeoutMs, error);
                if (!message) {
                    if (last && Clock::now() >= deadline)
                        error = m_connection.Sentence("did not finish the read within " +
                                                      LimitText(budgetMs));
                    // Only a connection that failed at its very first answer may have been
                    // closed by the server while it was kept; anything later is reported.
                    return firstAnswer ? Outcome::Lost : Outcome::Broken;
                }
                firstAnswer = false;
                const int type = ldap_msgtype(message);
                if (type == LDAP_RES_SEARCH_ENTRY) {
                    if (++received > kMaxEntries) {
                        ldap_msgfree(message);
                        ldap_abandon_ext(m_connection.Handle(), msgid, nullptr, nullptr);
                        error = m_connection.Sentence(
                            "holds more than " + std::to_string(kMaxEntries) +
                            " entries for the address list; narrow it with the "
                            "profile's directory filter");
                        return Outcome::Refused;
                    }
                    AddressEntry entry;
                    if (MapLdapEntry(m_map, Attributes(message), entry))
                        entries.push_back(std::move(entry));
                    ldap_msgfree(message);
                    continue;
                }
                if (type != LDAP_RES_SEARCH_RESULT) {
                    ldap_msgfree(message); // a continuation reference: referrals are not chased
                    continue;
                }
                int result = LDAP_OTHER;
                char* diagnostic = nullptr;
                LDAPControl** returned = nullptr;
                rc = ldap_parse_result(m_connection.Handle(), message, &result, nullptr,
                                       &diagnostic, nullptr, &returned, 1);
                const std::string said =
                    diagnostic && *diagnostic ? std::string(" (") + diagnostic + ")" : "";
                ldap_memfree(diagnostic);
                if (rc == LDAP_SUCCESS && result == LDAP_SUCCESS && returned) {
                    if (LDAPControl* response =
                            ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
                        ber_int_t estimate = 0;
                        if (ldap_parse_pageresponse_control(m_connection.Handle(), response,
                                                            &estimate, &cookie) != LDAP_SUCCESS)
                            cookie = {0, nullptr};
                    }
                }
                ldap_controls_free(returned);
                if (rc != LDAP_SUCCESS) {
                    error = m_connection.Sentence("sent an answer that cannot be read: " +
                                                  LdapWords(rc));
                    return Outcome::Broken;
                }
                if (result == LDAP_SIZELIMIT_EXCEEDED || result == LDAP_ADMINLIMIT_EXCEEDED) {
                    ber_memfree(cookie.bv_val);
                    error = m_connection.Sentence(
                        "stopped the read of the address list after " + std::to_string(received) +
                        " entries (" + LdapWords(result) + said +
                        "), so the list is not used; let the profile's directory user read it "
                        "whole (for slapd: limits dn.exact=\"BIND-DN\" size.prtotal=unlimited)");
                    return Outcome::Refused;
                }
                if (result != LDAP_SUCCESS) {
                    ber_memfree(cookie.bv_val);
                    error =
                        m_connection.Sentence("refused the search: " + LdapWords(result) + said);
                    return Outcome::Refused;
                }
                break;
            }
            if (cookie.bv_len == 0 || !cookie.bv_val) {
                ber_memfree(cookie.bv_val);
                return Outcome::Ok;
            }
        }
    }

    // The attributes of one entry, by lower-case name, with their values.
    LdapAttributes Attributes(LDAPMessage* entry) {
        LdapAttributes attributes;
        BerElement* ber = nullptr;
        for (char* name = ldap_first_attribute(m_connection.Handle(), entry, &ber); name;
             name = ldap_next_attribute(m_connection.Handle(), entry, ber)) {
            std::string key = name;
            for (char& c : key) {
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            }
            std::vector<std::string>& values = attributes[key];
            if (berval** list = ldap_get_values_len(m_connection.Handle(), entry, name)) {
                for (berval** v = list; *v; ++v)
                    values.emplace_back((*v)->bv_val, (*v)->bv_len);
                ldap_value_free_len(list);
            }
            ldap_memfree(name);
        }
        if (ber)
            ber_free(ber, 0);
        return attributes;
    }

    LdapConfig m_config;
    LdapUrl m_url;
    LdapMap m_map;
    LdapLimits m_limits;
    std::vector<std::string> m_attributes;
    std::string m_baseFilter;
    LdapConnection m_connection;
    std::string m_failure; // a failure to reach the server or bind, kept for kFailureMemory
    Clock::time_point m_failedAt;
};

} // namespace

std::unique_ptr<AddressBook> NewLdapAddressBook(const LdapConfig& config, const LdapLimits& limits,
                                                std::string& error) {
    const std::string problem = CheckLdap(config);
    if (!problem.empty()) {
        error = problem;
        return nullptr;
    }
    LdapUrl url;
    LdapMap map;
    if (!ParseLdapUrl(config.url, url, error) || !ParseLdapMap(config.map, map, error))
        return nullptr;
    return std::make_unique<DirectoryAddressBook>(config, std::move(url), std::move(map), limits);
}

} // namespace mail
