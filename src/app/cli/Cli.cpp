// The command dispatcher and the helpers commands share.
#include "app/cli/Cli.h"

#include "app/cli/CliAddressList.h"
#include "app/cli/CliDemo.h"
#include "app/cli/CliOutOfOffice.h"
#include "app/cli/CliPage.h"
#include "app/cli/CliProfile.h"
#include "app/cli/CliScan.h"
#include "app/cli/CliStatus.h"
#include "app/cli/CliUsers.h"

#include <cstdio>
#include <ostream>

namespace cli {
namespace {

const Command* const kCommands[] = {
    &kUsersCommand, &kStatusCommand, &kAddressListCommand, &kProfileCommand,
    &kDemoCommand,  &kScanCommand,   &kOutOfOfficeCommand, &kPageCommand,
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
        "Usage: orvane [--headless] [--at \"YYYY-MM-DD HH:MM:SS\"] [--metrics ADDRESS:PORT]\n"
        "              [--cluster etcd://HOST:PORT[,HOST:PORT...]/PREFIX [--cluster-user USER\n"
        "               --cluster-password-file FILE|credential:NAME]]\n"
        "       orvane COMMAND ...\n"
        "\n"
        "Without a command, Orvane monitors the users listed in Users.dat in the current\n"
        "directory: it scans their calendars and task lists and pages them when a reminder\n"
        "falls due. It opens its window when a display is available and runs headless\n"
        "otherwise (or with --headless), writing what goes wrong to the system log.\n"
        "Headless, it prints one line per scan and per page sent, dropped or failed.\n"
        "--at starts its clock at that local time and lets it run on (for trials).\n"
        "--metrics serves GET /metrics (for Prometheus) and GET /healthz on that address,\n"
        "such as 127.0.0.1:9842 (default: the setting MetricsAddress of Preferences;\n"
        "empty: none).\n"
        "--cluster monitors with the other instances of that etcd cluster (etcds:// for TLS):\n"
        "one of them pages, the others stand by and take over when it stops (default: the\n"
        "settings Cluster, ClusterUser and ClusterPasswordFile of Preferences; empty: alone).\n"
        "SIGHUP reads Users.dat again; SIGINT or SIGTERM stops it after the running cycle.\n"
        "\n"
        "Commands:\n";
    for (const Command* c : kCommands)
        text += c->usage;
    text += "\n"
            "Environment:\n"
            "  CREDENTIALS_DIRECTORY\n"
            "                     where a profile's passwords given as credential:NAME are read\n"
            "                     (systemd's LoadCredential= sets it)\n"
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

} // namespace cli
