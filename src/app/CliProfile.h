// "orvane profile": the mail profiles, for administrators who do not edit files.
#pragma once

#include "app/Cli.h"

namespace cli {
extern const Command kProfileCommand;
}
