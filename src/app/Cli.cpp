// The command dispatcher and the helpers commands share.
#include "app/Cli.h"

#include "app/CliAddressList.h"
#include "app/CliDemo.h"
#include "app/CliPage.h"
#include "app/CliProfile.h"
#include "app/CliScan.h"
#include "app/CliStatus.h"
#include "app/CliUsers.h"

#include <cstdio>
#include <ostream>

namespace cli {
namespace {

const Command* const kCommands[] = {
    &kUsersCommand, &kStatusCommand, &kAddressListCommand, &kProfileCommand,
    &kDemoCommand,  &kScanCommand,   &kPageCommand,
};

const Command* Find(const std::string& name) {
    for (const Command* c : kCommands) {
        if (name == c->name)
            return c;
    }
    return nullptr;
}

} // namespace

std::string HelpText() {
    std::string text =
        "Usage: orvane [--headless] [--at \"YYYY-MM-DD HH:MM:SS\"]\n"
        "       orvane COMMAND ...\n"
        "\n"
        "Without a command, Orvane monitors the users listed in Users.dat in the current\n"
        "directory: it scans their calendars and task lists and pages them when a reminder\n"
        "falls due. It opens its window when a display is available and runs headless\n"
        "otherwise (or with --headless), writing what goes wrong to the system log.\n"
        "Headless, it prints one line per scan and per page sent, dropped or failed.\n"
        "--at starts its clock at that local time and lets it run on (for trials).\n"
        "SIGHUP reads Users.dat again; SIGINT or SIGTERM stops it after the running cycle.\n"
        "\n"
        "Commands:\n";
    for (const Command* c : kCommands)
        text += c->usage;
    text += "\n"
            "Environment:\n"
            "  ORVANE_EVENT_LOG   also append every event to this file, one JSON object a line\n"
            "  XDG_CONFIG_HOME    where settings and mail profiles are kept (default ~/.config)\n";
    return text;
}

bool IsCommand(const Args& args) {
    return !args.empty() &&
           (Find(args[0]) || args[0] == "--help" || args[0] == "-h" || args[0] == "help");
}

int Run(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << HelpText();
        return 0;
    }
    const Command* command = Find(args[0]);
    if (!command) {
        err << "orvane: unknown command \"" << args[0] << "\"; see orvane --help\n";
        return 2;
    }
    return command->run(Args(args.begin() + 1, args.end()), out, err);
}

bool ParseOptions(const Args& args, size_t first, const std::vector<std::string>& allowed,
                  std::vector<OptionValue>& values, Args& positional, std::ostream& err) {
    values.assign(allowed.size(), OptionValue{});
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
            positional.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name =
            word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        size_t index = 0;
        while (index < allowed.size() && allowed[index] != name)
            ++index;
        if (index == allowed.size()) {
            err << "orvane: unknown option --" << name << "\n";
            return false;
        }
        if (equals != std::string::npos) {
            values[index] = {true, word.substr(equals + 1)};
        } else if (i + 1 < args.size()) {
            values[index] = {true, args[++i]};
        } else {
            err << "orvane: option --" << name << " needs a value\n";
            return false;
        }
    }
    return true;
}

bool TakePrefixedOptions(Args& args, const std::string& prefix,
                         const std::vector<std::pair<std::string, OptionValue*>>& names,
                         std::ostream& err) {
    Args rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.rfind(prefix, 0) != 0) {
            rest.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name =
            word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        OptionValue* value = nullptr;
        for (const auto& [known, field] : names) {
            if (name == known)
                value = field;
        }
        if (!value) {
            err << "orvane: unknown option --" << name << "\n";
            return false;
        }
        if (equals != std::string::npos) {
            *value = {true, word.substr(equals + 1)};
        } else if (i + 1 < args.size()) {
            *value = {true, args[++i]};
        } else {
            err << "orvane: option --" << name << " needs a value\n";
            return false;
        }
    }
    args = std::move(rest);
    return true;
}

bool ParseLocalTime(const std::string& text, CTime& out) {
    int year, month, day, hour, minute, second;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &second, &tail) != 6)
        return false;
    const auto t = CTime::FromLocal(year, month, day, hour, minute, second);
    if (!t || t->GetYear() != year || t->GetMonth() != month || t->GetDay() != day ||
        t->GetMinute() != minute || t->GetSecond() != second)
        return false; // normalised: the date or time does not exist as written
    out = *t;
    return true;
}

std::string EscapeField(const std::string& value) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

} // namespace cli
