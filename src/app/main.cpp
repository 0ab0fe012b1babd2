// Orvane: the monitor (desktop or headless) and the administrator's commands.
#include "app/cli/Cli.h"
#include "app/cluster/ClusterSetup.h"
#include "app/gui/OrvaneApp.h"
#include "app/gui/QtMessageBoxes.h"
#include "app/metrics/MetricsServer.h"
#include "app/monitor/HeadlessMonitor.h"
#include "app/monitor/ServiceNotify.h"
#include "app/monitor/UserListPasses.h"
#include "core/Clock.h"
#include "paging/EventLog.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <iostream>
#include <optional>

namespace {

bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    return (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
           (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"));
}

// Reads "--NAME VALUE" or "--NAME=VALUE" at args[i] (moving i past the value) into `value`;
// false when args[i] is not that option. A missing value ends the program's parsing with 2.
bool TakeValue(const cli::Args& args, size_t& i, const std::string& name,
               std::optional<std::string>& value, bool& missing) {
    const std::string& a = args[i];
    const std::string flag = "--" + name;
    if (a == flag) {
        if (i + 1 == args.size()) {
            missing = true;
            return true;
        }
        value = args[++i];
        return true;
    }
    if (a.rfind(flag + "=", 0) == 0) {
        value = a.substr(flag.size() + 1);
        return true;
    }
    return false;
}

int RunHeadless(int argc, char** argv, const std::optional<std::string>& metricsAddress,
                const cluster::ClusterOptions& clusterOptions) {
    QCoreApplication app(argc, argv);
    // Without a window, events are also shown where the administrator started the monitor,
    // unless that is the journal, which has them with their fields already.
    if (!service::StderrIsJournal()) {
        EventLog::SetObserver([](const EventLog::Entry& entry) {
            std::cerr << "orvane: event " << entry.eventId;
            for (const CString& s : entry.strings)
                std::cerr << ": " << s;
            std::cerr << std::endl;
        });
    }
    CUserListPasses passes;
    CHeadlessMonitor monitor;
    monitor.SetPasses(&passes);
    if (metricsAddress)
        monitor.SetMetricsAddress(*metricsAddress);
    monitor.SetClusterOptions(clusterOptions);
    if (!monitor.Start())
        return 1;
    return app.exec();
}

int RunDesktop(int argc, char** argv, const std::optional<std::string>& metricsAddress,
               const cluster::ClusterOptions& clusterOptions) {
    QApplication app(argc, argv);
    QtMessageBoxes boxes;
    SetMessageBoxes(&boxes);
    CUserListPasses passes;
    int code = 0;
    {
        COrvaneApp orvane;
        orvane.SetPasses(&passes);
        orvane.SetMetricsAddress(metricsAddress);
        orvane.SetClusterOptions(clusterOptions);
        code = orvane.InitInstance() ? app.exec() : orvane.ExitCode();
    }
    SetMessageBoxes(nullptr);
    return code;
}

} // namespace

int main(int argc, char** argv) {
    cli::Args args(argv + 1, argv + argc);
    if (cli::IsCommand(args)) {
        QCoreApplication app(argc, argv);
        return cli::Run(args, std::cout, std::cerr);
    }
    bool headless = false;
    std::optional<std::string> metricsAddress; // nullopt: the setting decides
    cluster::ClusterOptions clusterOptions;    // each nullopt: its setting decides
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool missing = false;
        if (TakeValue(args, i, "cluster", clusterOptions.url, missing) ||
            TakeValue(args, i, "cluster-user", clusterOptions.user, missing) ||
            TakeValue(args, i, "cluster-password-file", clusterOptions.passwordFile, missing)) {
            if (missing) {
                std::cerr << "orvane: option " << a << " needs a value\n";
                return 2;
            }
            if (a.rfind("--cluster=", 0) == 0 || a == "--cluster") {
                cluster::ClusterUrl url;
                std::string error;
                if (!clusterOptions.url->empty() &&
                    !cluster::ParseClusterUrl(*clusterOptions.url, url, error)) {
                    std::cerr << "orvane: --cluster: " << error << "\n";
                    return 2;
                }
            }
        } else if (a == "--headless") {
            headless = true;
        } else if (a == "--metrics" || a.rfind("--metrics=", 0) == 0) {
            const bool inline_ = a.size() > 9;
            if (!inline_ && i + 1 == args.size()) {
                std::cerr << "orvane: option --metrics needs ADDRESS:PORT, such as "
                             "127.0.0.1:9842\n";
                return 2;
            }
            metricsAddress = inline_ ? a.substr(10) : args[++i];
            metrics::ListenAddress address;
            std::string error;
            if (!metricsAddress->empty() &&
                !metrics::ParseListenAddress(*metricsAddress, address, error)) {
                std::cerr << "orvane: " << error << "\n";
                return 2;
            }
        } else if (a == "--at" || a.rfind("--at=", 0) == 0) {
            const bool inline_ = a.size() > 4;
            if (!inline_ && i + 1 == args.size()) {
                std::cerr << "orvane: option --at needs a value\n";
                return 2;
            }
            const std::string value = inline_ ? a.substr(5) : args[++i];
            CTime at;
            if (!ParseLocalTime(value, at)) {
                std::cerr << "orvane: --at takes a local time as \"YYYY-MM-DD HH:MM:SS\", not \""
                          << EscapeField(value) << "\"\n";
                return 2;
            }
            Clock::StartAt(at); // and runs on from there
        } else {
            std::cerr << "orvane: unknown option \"" << a << "\"; see orvane --help\n";
            return 2;
        }
    }
    if (headless || !HasDisplay())
        return RunHeadless(argc, argv, metricsAddress, clusterOptions);
    return RunDesktop(argc, argv, metricsAddress, clusterOptions);
}
