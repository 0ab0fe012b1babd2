// "orvane out-of-office": one mailbox's out-of-office state as the monitor reads it, and why.
#pragma once

#include "app/cli/Cli.h"

namespace cli {
extern const Command kOutOfOfficeCommand;
}
