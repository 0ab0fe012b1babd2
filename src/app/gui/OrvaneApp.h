// The application object: start-up, one copy per user and desktop, the about box.
#pragma once

#include "app/cluster/ClusterSetup.h"
#include "app/gui/SingleInstance.h"
#include "app/monitor/Signals.h"

#include <QObject>
#include <memory>
#include <optional>
#include <string>

class CHelpWindow;
class CPageWindow;
class IHelp;
class IMonitorPasses;
class display;

// Lives beside the QApplication, which main() owns; tests create one per start-up they drive.
class COrvaneApp : public QObject {
    Q_OBJECT
public:
    // `runtimeDirectory` and `desktopKey` place the single-instance lock and socket (empty: the
    // user's runtime directory and this desktop).
    explicit COrvaneApp(const QString& runtimeDirectory = QString(),
                        const QString& desktopKey = QString(), QObject* parent = nullptr);
    ~COrvaneApp() override;

    // The passes each cycle runs (not owned); set before InitInstance.
    void SetPasses(IMonitorPasses* passes) { m_passes = passes; }
    // The command line's metrics address (nullopt: the setting decides); before InitInstance.
    void SetMetricsAddress(const std::optional<std::string>& address) {
        m_metricsAddress = address;
    }

    // The command line's cluster options; before InitInstance.
    void SetClusterOptions(const cluster::ClusterOptions& options) { m_clusterOptions = options; }

    // Starts the program; SIGINT and SIGTERM then close the window as Exit does, without a
    // question (after the running cycle). False to end at once: another copy runs (it has been
    // asked to come forward; ExitCode 0) or the main window could not be created (ExitCode 1).
    bool InitInstance();
    int ExitCode() const { return m_exitCode; }

    CPageWindow* MainWindow() const { return m_window.get(); }
    display* ListView() const { return m_pDisplay; }
    CHelpWindow* HelpWindow() const { return m_help.get(); }
    CSingleInstance& Instance() { return m_instance; }

    // Help, About Orvane...: the about box, modal.
    void OnAppAbout();
    // F1: does nothing.
    void OnHelp() {}
    // Another copy asked this one to come forward: the main window, restored if minimised, with
    // its open dialog or message box on top.
    void BringForward();

private:
    CSingleInstance m_instance;
    CSignals m_quitSignals;
    IMonitorPasses* m_passes = nullptr;
    std::optional<std::string> m_metricsAddress;
    cluster::ClusterOptions m_clusterOptions;
    std::unique_ptr<CHelpWindow> m_help;
    IHelp* m_previousHelp = nullptr;
    bool m_helpInstalled = false;
    std::unique_ptr<CPageWindow> m_window;
    display* m_pDisplay = nullptr; // the list view, a child of the main window
    int m_exitCode = 0;
};
