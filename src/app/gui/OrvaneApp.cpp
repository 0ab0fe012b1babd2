// The application object.
#include "app/gui/OrvaneApp.h"

#include "app/gui/Display.h"
#include "app/gui/HelpAbout.h"
#include "app/gui/HelpWindow.h"
#include "app/gui/PageWindow.h"
#include "core/Help.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <cstdio>

COrvaneApp::COrvaneApp(const QString& runtimeDirectory, const QString& desktopKey, QObject* parent)
    : QObject(parent),
      m_instance(runtimeDirectory.isEmpty() ? CSingleInstance::DefaultDirectory()
                                            : runtimeDirectory,
                 desktopKey.isEmpty() ? CSingleInstance::CurrentDesktopKey() : desktopKey) {}

COrvaneApp::~COrvaneApp() {
    m_window.reset();
    if (m_helpInstalled)
        SetHelp(m_previousHelp);
}

bool COrvaneApp::InitInstance() {
    // The settings' company key "Quorvik" is fixed in the settings store itself.

    // One copy per user and desktop.
    switch (m_instance.Start()) {
    case CSingleInstance::First:
        break;
    case CSingleInstance::OtherSilent:
        // Still no second window: the first copy is busy (a long scan) or hung.
        std::fprintf(stderr, "orvane: another copy runs on this desktop but did not answer in "
                             "time\n");
        m_exitCode = 0;
        return false;
    case CSingleInstance::OtherAnswered:
        m_exitCode = 0;
        return false;
    }
    connect(&m_instance, &CSingleInstance::raiseRequested, this, &COrvaneApp::BringForward);

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/orvane.svg")));
    m_help = std::make_unique<CHelpWindow>();
    m_previousHelp = SetHelp(m_help.get());
    m_helpInstalled = true;

    // The main window; its creation loads the users and starts the timer.
    m_pDisplay = nullptr;
    m_window = std::make_unique<CPageWindow>();
    m_window->SetPasses(m_passes);
    if (m_metricsAddress)
        m_window->SetMetricsAddress(*m_metricsAddress);
    m_window->SetClusterOptions(m_clusterOptions);
    if (!m_window->Create()) {
        m_window.reset();
        m_exitCode = 1;
        return false;
    }
    connect(m_window.get(), &CPageWindow::appAboutRequested, this, &COrvaneApp::OnAppAbout);
    connect(m_window.get(), &CPageWindow::helpRequested, this, &COrvaneApp::OnHelp);
    // A logout or a service stop saves the placement and a pending edit like Exit.
    connect(&m_quitSignals, &CSignals::quitRequested, m_window.get(), [this] {
        if (m_window)
            m_window->RequestQuit();
    });
    m_quitSignals.Install(false);

    // The list view, filled once from the live list.
    m_pDisplay = new display(m_window->LiveUsers(), m_window.get());
    m_window->SetDisplay(m_pDisplay);
    m_pDisplay->DoDataExchange();

    // Placement: the centred default, then the saved rectangle.
    m_window->PlaceAtStartup();

    m_window->show();
    m_window->repaint();
    m_pDisplay->ListControl()->setFocus();
    return true;
}

void COrvaneApp::OnAppAbout() {
    CHelpAbout about(m_window.get());
    about.exec();
}

void COrvaneApp::BringForward() {
    if (!m_window)
        return;
    // The open dialog or message box, if any, goes on top of the main window.
    QWidget* popup = QApplication::activeModalWidget();
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    if (popup && popup != m_window.get()) {
        popup->raise();
        popup->activateWindow();
    }
}
