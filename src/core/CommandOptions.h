// Options of the command line and of the commands handed to a running monitor: "--name VALUE" or
// "--name=VALUE" among positional words.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace options {

using Args = std::vector<std::string>;

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

} // namespace options
