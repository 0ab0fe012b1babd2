// "orvane profile set --directory ...": the options of the LDAP directory a profile reads its
// address list from.
#pragma once

#include "app/admin/ProfileRules.h"
#include "app/cli/Cli.h"

#include <iosfwd>

namespace cli {

using admin::DirectoryOptions;

// Moves the options of this concern out of `args` into `options`, so that the others parse
// alone. False, with a message on `err`, for an unknown option or a missing value.
bool TakeDirectoryOptions(Args& args, DirectoryOptions& options, std::ostream& err);

} // namespace cli
