// "orvane page": sends one test page the way the paging pass sends it.
#pragma once

#include "app/cli/Cli.h"

namespace cli {
extern const Command kPageCommand;
}
