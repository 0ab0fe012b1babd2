// The administrator's command line: commands that work without a display.
#pragma once

#include "core/CTime.h"
#include "core/CommandOptions.h"
#include "core/Text.h"

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace cli {

using options::Args;

// One command group, such as "users": `run` gets the words after the group's name.
struct Command {
    const char* name;
    const char* usage; // the lines --help prints for the group, each ending in "\n"
    int (*run)(const Args& args, std::ostream& out, std::ostream& err);
};

// True when `args` (argv without the program name) ask for a command rather than the monitor.
bool IsCommand(const Args& args);
// Runs the command; returns the process exit code (0 success, 1 failure, 2 bad usage).
int Run(const Args& args, std::ostream& out, std::ostream& err);
// The whole --help text.
std::string HelpText();

// The option helpers, the field escaping and the time form, shared with the monitor (core).
using options::OptionValue;
using options::ParseOptions;
using options::TakePrefixedOptions;

} // namespace cli
