// "orvane users": list and edit Users.dat in the working directory.
#pragma once

#include "app/cli/Cli.h"

namespace cli {
extern const Command kUsersCommand;
} // namespace cli
