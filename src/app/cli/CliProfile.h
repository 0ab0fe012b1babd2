// "orvane profile": the mail profiles, for administrators who do not edit files.
#pragma once

#include "app/cli/Cli.h"
#include "core/FileSystem.h"

#include <iosfwd>

namespace cli {
extern const Command kProfileCommand;

// Takes the lock that lets one command at a time change the profiles file; false, with the
// reason on `err`, when another holds it or it cannot be taken.
bool LockProfiles(FileLock& lock, std::ostream& err);
} // namespace cli
