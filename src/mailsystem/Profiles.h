// Named mail profiles: which mail system a session opens and how its mail leaves.
#pragma once

#include "mailsystem/caldav/CalendarServer.h"
#include "mailsystem/ldap/LdapSettings.h"
#include "mailsystem/sieve/SieveOutOfOffice.h"
#include "mailsystem/transport/TransportConfig.h"

#include <string>
#include <string_view>
#include <vector>

namespace mail {

// Every secret a profile holds (the SMTP password, the directory's and the calendar server's)
// is stored either as the secret itself or as "credential:NAME", a credential that the service
// manager puts in $CREDENTIALS_DIRECTORY (core/Credentials.h). Its users hand the stored value to
// credentials::Resolve right where they need the secret, at every use, and never keep the
// result: a secret added later does the same, and nothing else about a profile changes.
struct Profile {
    std::string name;
    std::string mailSystem; // absolute directory of the mail system (MailSystem.h)
    TransportConfig transport;
    LdapConfig ldap; // where the address list comes from; no URL: address-list.txt
    // Unused: the calendars are the mail system directory's files. (Initialised here, so that
    // a profile written without it need not name it.)
    CalendarServerConfig calendars = {};
    // No URL: the out-of-office states are the mailbox folders' files; else the Sieve server
    // they are read from (OutOfOfficeServer.h).
    sieve::SieveConfig outOfOffice = {};
};

// Empty when `name` can name a profile (1 to 200 bytes, no control characters, no "[" or "]",
// no blank at either end); otherwise a sentence saying why not.
std::string CheckProfileName(const std::string& name);
// The profiles of the current user, kept in one file readable by its owner only:
// $XDG_CONFIG_HOME/Quorvik/Orvane-profiles.conf (XDG_CONFIG_HOME defaults to ~/.config).
// Nothing is cached between Load calls.
class Profiles {
public:
    static std::string FilePath();

    // Reads the file; a missing file is an empty set. False, with a sentence in `error`, when
    // the file cannot be read or is malformed.
    bool Load(std::string& error);
    // Writes the file safely (temporary file, flush, rename), mode 0600.
    bool Save(std::string& error) const;

    // Reads the text of a profiles file (`path` names it in sentences); what Load does after
    // reading the file. On failure nothing is kept.
    bool Parse(std::string_view text, const std::string& path, std::string& error);
    // The text Save writes. False, with a sentence, when a profile cannot be stored.
    bool Format(std::string& text, std::string& error) const;

    // The profile of that name; an empty name means the default profile. Null when none.
    const Profile* Find(const std::string& name) const;
    const std::vector<Profile>& All() const { return m_profiles; }
    const std::string& DefaultName() const { return m_default; }

    // Adds or replaces the profile of that name. The first profile becomes the default.
    void Set(const Profile& profile);
    // False when there is no such profile. Removing the default leaves no default.
    bool Remove(const std::string& name);
    // False when there is no such profile.
    bool SetDefault(const std::string& name);

private:
    std::vector<Profile> m_profiles;
    std::string m_default;
};

} // namespace mail
