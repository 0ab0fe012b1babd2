// The administrator's command line: commands that work without a display.
#pragma once

#include "core/CTime.h"

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

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

// Shared parsing helpers for command implementations.
struct OptionValue {
    bool present = false;
    std::string value;
};
// Reads "--name VALUE" or "--name=VALUE" options of `allowed` from args[first...]; positional
// words go to `positional`. False (with a message on err) for an unknown option or a missing
// value.
bool ParseOptions(const Args& args, size_t first, const std::vector<std::string>& allowed,
                  std::vector<OptionValue>& values, Args& positional, std::ostream& err);
// Moves the options whose word begins with `prefix` ("--calendar"), as "--name VALUE" or
// "--name=VALUE", and their values out of `args` into the value `names` gives for each name, so
// that the other options parse alone. False (with a message on err) for an unknown name with the
// prefix or a missing value.
bool TakePrefixedOptions(Args& args, const std::string& prefix,
                         const std::vector<std::pair<std::string, OptionValue*>>& names,
                         std::ostream& err);

// "YYYY-MM-DD HH:MM:SS" in local time (the form of --at); false for anything else or a moment
// that does not exist.
bool ParseLocalTime(const std::string& text, CTime& out);

// Text for one output field: backslash and control characters escaped, so that tabs and line
// ends inside a value never break a line apart.
std::string EscapeField(const std::string& value);

} // namespace cli
