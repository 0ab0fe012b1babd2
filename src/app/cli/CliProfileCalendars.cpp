// "orvane profile set --calendars ...": the CalDAV server a profile reads calendars from.
#include "app/cli/CliProfileCalendars.h"

namespace cli {

bool TakeCalendarOptions(Args& args, CalendarOptions& options, std::ostream& err) {
    return TakePrefixedOptions(args, "--calendar",
                               {
                                   {"calendars", &options.url},
                                   {"calendar-user", &options.user},
                                   {"calendar-password-file", &options.passwordFile},
                                   {"calendar-password", &options.password},
                               },
                               err);
}

} // namespace cli
