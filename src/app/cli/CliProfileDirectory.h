// The --directory options of "orvane profile set": where a profile's address list comes from.
#pragma once

#include "app/cli/Cli.h"
#include "mailsystem/Profiles.h"

#include <iosfwd>

namespace cli {

struct DirectoryOptions {
    OptionValue url, user, passwordFile, password, filter, map, startTls;
    bool Any() const {
        return url.present || user.present || passwordFile.present || password.present ||
               filter.present || map.present || startTls.present;
    }
};

// Moves every --directory... option and its value out of `args` (so that the other options
// parse alone). False, with a message on `err`, for an unknown --directory option or a missing
// value.
bool TakeDirectoryOptions(Args& args, DirectoryOptions& options, std::ostream& err);

// Applies the options to `directory`: --directory "" returns the profile to address-list.txt and
// drops every directory setting. Returns 0, or the exit code (1 or 2) after a message on `err`.
int ApplyDirectoryOptions(const DirectoryOptions& options, mail::LdapConfig& directory,
                          std::ostream& err);

// Tries the profile's directory once (connection, bind and a search) and warns on `err` when it
// does not work; the profile is kept either way.
void WarnIfDirectoryFails(const mail::Profile& profile, std::ostream& err);

// The first line of a file, without its line end; false, with a message on `err`, when it cannot
// be read or holds nothing.
bool ReadPasswordFile(const std::string& path, std::string& password, std::ostream& err);

} // namespace cli
