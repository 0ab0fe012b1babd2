// Orvane: the monitor (desktop or headless) and the administrator's commands.
#include "app/Cli.h"
#include "app/HeadlessMonitor.h"
#include "app/OrvaneApp.h"
#include "app/QtMessageBoxes.h"
#include "app/UserListPasses.h"
#include "paging/EventLog.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <iostream>

namespace {

bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    return (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
           (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"));
}

int RunHeadless(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Without a window, events are also shown where the administrator started the monitor.
    EventLog::SetObserver([](const EventLog::Entry& entry) {
        std::cerr << "orvane: event " << entry.eventId;
        for (const CString& s : entry.strings)
            std::cerr << ": " << s;
        std::cerr << std::endl;
    });
    CUserListPasses passes;
    CHeadlessMonitor monitor;
    monitor.SetPasses(&passes);
    if (!monitor.Start())
        return 1;
    return app.exec();
}

int RunDesktop(int argc, char** argv) {
    QApplication app(argc, argv);
    QtMessageBoxes boxes;
    SetMessageBoxes(&boxes);
    CUserListPasses passes;
    int code = 0;
    {
        COrvaneApp orvane;
        orvane.SetPasses(&passes);
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
    for (const std::string& a : args) {
        if (a == "--headless") {
            headless = true;
        } else {
            std::cerr << "orvane: unknown option \"" << a << "\"; see orvane --help\n";
            return 2;
        }
    }
    if (headless || !HasDisplay())
        return RunHeadless(argc, argv);
    return RunDesktop(argc, argv);
}
