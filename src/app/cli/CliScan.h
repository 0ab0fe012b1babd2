// "orvane scan": one Outlook session and one scan of a mailbox, printed as the monitor would page
// it.
#pragma once

#include "app/cli/Cli.h"

namespace cli {
extern const Command kScanCommand;
}
