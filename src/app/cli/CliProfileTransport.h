// "orvane profile set --transport URL --transport-...": the options of a web transport.
#pragma once

#include "app/admin/ProfileRules.h"
#include "app/cli/Cli.h"

#include <iosfwd>

namespace cli {

using admin::WebTransportOptions;

// Moves the options of this concern out of `args` into `options`, so that the others parse
// alone. False, with a message on `err`, for an unknown option or a missing value.
bool TakeWebTransportOptions(Args& args, WebTransportOptions& options, std::ostream& err);

} // namespace cli
