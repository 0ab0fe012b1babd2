// "orvane address-list": the global address list as the user list dialog reads it.
#pragma once

#include "app/cli/Cli.h"

namespace cli {
extern const Command kAddressListCommand;
}
