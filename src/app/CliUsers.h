// "orvane users": list and edit Users.dat in the working directory.
#pragma once

#include "app/Cli.h"

namespace cli {
extern const Command kUsersCommand;
}
