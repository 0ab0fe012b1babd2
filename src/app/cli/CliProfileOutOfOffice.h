// "orvane profile set --out-of-office ...": the options of the Sieve server a profile reads
// out-of-office states from.
#pragma once

#include "app/admin/ProfileRules.h"
#include "app/cli/Cli.h"

#include <iosfwd>

namespace cli {

using admin::OutOfOfficeOptions;

// Moves the options of this concern out of `args` into `options`, so that the others parse
// alone. False, with a message on `err`, for an unknown option or a missing value.
bool TakeOutOfOfficeOptions(Args& args, OutOfOfficeOptions& options, std::ostream& err);

} // namespace cli
