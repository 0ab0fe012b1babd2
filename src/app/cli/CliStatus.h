// "orvane status": what the monitor of the working directory shows, for a terminal or a script.
#pragma once

#include "app/cli/Cli.h"

namespace cli {
extern const Command kStatusCommand;
}
