// "orvane demo": a complete demonstration set-up (mail system, users, profile) in one directory.
#pragma once

#include "app/cli/Cli.h"

namespace cli {
extern const Command kDemoCommand;
}
