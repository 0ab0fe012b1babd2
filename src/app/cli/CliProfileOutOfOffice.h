// The --out-of-office options of "orvane profile set": the Sieve server a profile reads every
// mailbox's out-of-office state from.
#pragma once

#include "app/cli/Cli.h"
#include "mailsystem/Profiles.h"

#include <iosfwd>

namespace cli {

struct OutOfOfficeOptions {
    OptionValue url, user, passwordFile, password, startTls, login, zone;
    bool Any() const {
        return url.present || user.present || passwordFile.present || password.present ||
               startTls.present || login.present || zone.present;
    }
};

// Moves every --out-of-office... option and its value out of `args` (so that the other options
// parse alone). False, with a message on `err`, for an unknown --out-of-office option or a
// missing value.
bool TakeOutOfOfficeOptions(Args& args, OutOfOfficeOptions& options, std::ostream& err);

// Applies the options to `server`: --out-of-office "" returns the profile to the mailbox
// folders' files and drops every out-of-office setting. Returns 0, or the exit code (1 or 2)
// after a message on `err`.
int ApplyOutOfOfficeOptions(const OutOfOfficeOptions& options, mail::sieve::SieveConfig& server,
                            std::ostream& err);

} // namespace cli
