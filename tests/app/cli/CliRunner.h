// Runs an "orvane" command in this process and keeps what it printed.
#pragma once

#include "app/cli/Cli.h"

#include <sstream>
#include <string>
#include <vector>

struct CliResult {
    int code;
    std::string out, err;
};

inline CliResult RunCli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = cli::Run(args, out, err);
    return {code, out.str(), err.str()};
}
