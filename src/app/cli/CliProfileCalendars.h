// The --calendars options of "orvane profile set": the CalDAV server a profile reads every
// mailbox's calendars and task lists from.
#pragma once

#include "app/cli/Cli.h"
#include "mailsystem/Profiles.h"

#include <iosfwd>

namespace cli {

struct CalendarOptions {
    OptionValue url, user, passwordFile, password;
    bool Any() const {
        return url.present || user.present || passwordFile.present || password.present;
    }
};

// Moves --calendars, --calendar-user, --calendar-password-file and --calendar-password (which
// takes credential:NAME only) and their values out of
// `args` (so that the other options parse alone). False, with a message on `err`, for an
// unknown --calendar... option or a missing value.
bool TakeCalendarOptions(Args& args, CalendarOptions& options, std::ostream& err);

// Applies the options to `calendars`: --calendars "" returns the profile to the mail system
// directory's files and drops the calendar credentials; --calendar-user "" drops them alone.
// Returns 0, or the exit code (1 or 2) after a message on `err`.
int ApplyCalendarOptions(const CalendarOptions& options, mail::CalendarServerConfig& calendars,
                         std::ostream& err);

} // namespace cli
