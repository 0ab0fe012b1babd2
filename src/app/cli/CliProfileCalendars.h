// "orvane profile set --calendars ...": the options of the CalDAV server a profile reads calendars
// from.
#pragma once

#include "app/admin/ProfileRules.h"
#include "app/cli/Cli.h"

#include <iosfwd>

namespace cli {

using admin::CalendarOptions;

// Moves the options of this concern out of `args` into `options`, so that the others parse
// alone. False, with a message on `err`, for an unknown option or a missing value.
bool TakeCalendarOptions(Args& args, CalendarOptions& options, std::ostream& err);

} // namespace cli
