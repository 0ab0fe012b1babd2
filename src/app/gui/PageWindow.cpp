// The main window.
#include "app/gui/PageWindow.h"

#include "app/gui/Display.h"
#include "app/gui/DlgPreferences.h"
#include "app/gui/EventsView.h"
#include "app/gui/MyStatusBar.h"
#include "app/gui/Placement.h"
#include "app/gui/profiles/DlgMailProfiles.h"
#include "core/Help.h"
#include "core/Settings.h"
#include "users/DlgUserList.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

namespace {

// Keeps a tool bar button without a tool tip.
class NoToolTip : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

} // namespace

CPageWindow::CPageWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(kTitle);
    setObjectName("PageWindow");
    // The tool bar stays where it is: no menu to hide it.
    setContextMenuPolicy(Qt::PreventContextMenu);
}

CPageWindow::~CPageWindow() {
    Destroy();
    if (&StatusText() == this)
        SetStatusText(nullptr);
}

bool CPageWindow::Create() {
    return OnCreate();
}

bool CPageWindow::CreateBars() {
    CreateMenus();
    CreateToolBar();
    m_statusBar = new CMyStatusBar(this);
    setStatusBar(m_statusBar);
    SetStatusText(this);
    return true;
}

QAction* CPageWindow::AddCommand(const QString& text, const char* objectName,
                                 const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setObjectName(objectName);
    action->setStatusTip(prompt);
    action->setIconVisibleInMenu(false);
    return action;
}

void CPageWindow::CreateMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->setObjectName("menuFile");
    QAction* printSetup =
        AddCommand(tr("&Print Setup..."), "actionPrintSetup", tr("Configure the printer settings"));
    connect(printSetup, &QAction::triggered, this, &CPageWindow::OnFilePrintSetup);
    file->addAction(printSetup);
    file->addSeparator();
    QAction* exit = AddCommand(tr("E&xit"), "actionExit", tr("Quit the application"));
    connect(exit, &QAction::triggered, this, [this] { OnAppExit(); });
    file->addAction(exit);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->setObjectName("menuView");
    QAction* events =
        AddCommand(tr("&Events"), "actionViewEvents", tr("Show the events the monitor wrote"));
    connect(events, &QAction::triggered, this, &CPageWindow::OnViewEvents);
    view->addAction(events);

    QMenu* configure = menuBar()->addMenu(tr("&Configure"));
    configure->setObjectName("menuConfigure");
    QAction* users =
        AddCommand(tr("&Users..."), "actionConfigureUsers", tr("Configure the User List"));
    connect(users, &QAction::triggered, this, [this] { OnConfigureUsers(); });
    configure->addAction(users);
    QAction* profiles = AddCommand(tr("&Mail Profiles..."), "actionConfigureMailProfiles",
                                   tr("Configure the mail profiles"));
    connect(profiles, &QAction::triggered, this, &CPageWindow::OnConfigureMailProfiles);
    configure->addAction(profiles);
    configure->addSeparator();
    QAction* preferences = AddCommand(tr("P&references..."), "actionConfigurePreferences",
                                      tr("Configure the program preferences"));
    connect(preferences, &QAction::triggered, this, &CPageWindow::OnConfigurePreferences);
    configure->addAction(preferences);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName("menuHelp");
    m_helpContentsAction =
        AddCommand(tr("&Contents"), "actionHelpContents", tr("Display help contents"));
    m_helpContentsAction->setToolTip(tr("Help"));
    m_helpContentsAction->setIcon(QIcon(QStringLiteral(":/images/help.svg")));
    connect(m_helpContentsAction, &QAction::triggered, this, &CPageWindow::OnHelpContents);
    help->addAction(m_helpContentsAction);
    QAction* search =
        AddCommand(tr("&Search for Help On..."), "actionHelpSearch", tr("Search for a help topic"));
    connect(search, &QAction::triggered, this, &CPageWindow::OnHelpSearch);
    help->addAction(search);
    QAction* howTo = AddCommand(tr("&How to Use Help"), "actionHelpHowTo",
                                tr("Display information on how to use the help system"));
    connect(howTo, &QAction::triggered, this, &CPageWindow::OnHelpHelp);
    help->addAction(howTo);
    help->addSeparator();
    QAction* sales = AddCommand(tr("Co&ntacting Quorvik Sales"), "actionHelpSales",
                                tr("Display information on how to contact Quorvik Sales"));
    connect(sales, &QAction::triggered, this, &CPageWindow::OnHelpSales);
    help->addAction(sales);
    QAction* support = AddCommand(tr("&Obtaining Technical Support"), "actionHelpSupport",
                                  tr("Display information on the support available for Orvane"));
    connect(support, &QAction::triggered, this, &CPageWindow::OnHelpSupport);
    help->addAction(support);
    help->addSeparator();
    QMenu* web = help->addMenu(tr("Quorvik on the &Web..."));
    web->setObjectName("menuWeb");
    QAction* home =
        AddCommand(tr("&Home Page"), "actionHelpWebHome", tr("Opens Quorvik's home page"));
    connect(home, &QAction::triggered, this, &CPageWindow::OnHelpWebHome);
    web->addAction(home);
    QAction* info = AddCommand(tr("Orvane &Info and Updates"), "actionHelpWebInfo",
                               tr("Open information and updates on Orvane"));
    connect(info, &QAction::triggered, this, &CPageWindow::OnHelpWebInfo);
    web->addAction(info);
    help->addSeparator();
    QAction* about = AddCommand(tr("&About Orvane..."), "actionAbout",
                                tr("Display the program's picture, version and maker"));
    connect(about, &QAction::triggered, this, &CPageWindow::appAboutRequested);
    help->addAction(about);

    // The message pane returns to "Ready" when a menu closes, as the idle text.
    for (QMenu* menu : {file, view, configure, help})
        connect(menu, &QMenu::aboutToHide, this, [this] {
            m_statusBar->SetPaneText(CMyStatusBar::kMessagePaneId,
                                     QString::fromLatin1(CMyStatusBar::kIdleText));
        });

    // F1 sends the framework's Help command, which does nothing here.
    auto* f1 = new QAction(this);
    f1->setObjectName("actionHelpF1");
    f1->setShortcut(QKeySequence::HelpContents);
    f1->setShortcutContext(Qt::ApplicationShortcut);
    connect(f1, &QAction::triggered, this, &CPageWindow::helpRequested);
    addAction(f1);
}

void CPageWindow::CreateToolBar() {
    m_toolBar = addToolBar(tr("Tool Bar"));
    m_toolBar->setObjectName("toolBar");
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_pauseAction = new QAction(QIcon(QStringLiteral(":/images/pause.svg")), tr("Pause"), this);
    m_pauseAction->setObjectName("actionPause");
    m_pauseAction->setCheckable(true);
    m_pauseAction->setStatusTip(tr("Pause processing of page reminders."));
    connect(m_pauseAction, &QAction::triggered, this, [this] {
        OnActionPause();
        m_pauseAction->setChecked(IsPaused()); // pressed exactly while paused
    });
    m_toolBar->addAction(m_pauseAction);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_helpContentsAction);
    if (QWidget* pauseButton = m_toolBar->widgetForAction(m_pauseAction)) {
        pauseButton->setObjectName("pauseButton");
        pauseButton->installEventFilter(new NoToolTip(pauseButton));
    }
    if (QWidget* helpButton = m_toolBar->widgetForAction(m_helpContentsAction))
        helpButton->setObjectName("helpButton");
}

void CPageWindow::SetDisplay(display* view) {
    m_display = view;
    setCentralWidget(view);
    if (view)
        connect(view, &display::scanErrorActivated, this, &CPageWindow::ShowEvents);
}

void CPageWindow::RefreshView() {
    if (m_display)
        m_display->DoDataExchange();
}

bool CPageWindow::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::StatusTip: {
        // Prompts go to the message pane; an empty one (the pointer left) brings back "Ready".
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (m_statusBar)
            m_statusBar->SetPaneText(CMyStatusBar::kMessagePaneId,
                                     tip.isEmpty() ? QString::fromLatin1(CMyStatusBar::kIdleText)
                                                   : tip);
        return true;
    }
    case QEvent::Show:
        m_everShown = true;
        [[fallthrough]];
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange: {
        const bool handled = QMainWindow::event(event);
        FollowFrameMargins();
        return handled;
    }
    default:
        return QMainWindow::event(event);
    }
}

void CPageWindow::SetMessageText(const CString& text) {
    if (m_statusBar)
        m_statusBar->SetPaneText(CMyStatusBar::kMessagePaneId, QString::fromStdString(text));
}

QString CPageWindow::MessageText() const {
    return m_statusBar ? m_statusBar->PaneText(CMyStatusBar::kMessagePaneId) : QString();
}
QString CPageWindow::ModeText() const {
    return m_statusBar ? m_statusBar->PaneText(CMyStatusBar::kModePaneId) : QString();
}

void CPageWindow::SetModeText(const CString& text) {
    if (m_statusBar)
        m_statusBar->SetPaneText(CMyStatusBar::kModePaneId, QString::fromStdString(text));
}

void CPageWindow::ShowClusterRole(cluster::Role role, const CString& sentence) {
    if (!m_statusBar)
        return;
    m_statusBar->SetPaneText(CMyStatusBar::kClusterPaneId, cluster::RoleName(role));
    m_statusBar->findChild<QLabel*>("clusterPane")->setToolTip(QString::fromStdString(sentence));
}

void CPageWindow::closeEvent(QCloseEvent* event) {
    if (!OnSysClose()) {
        event->ignore();
        return;
    }
    Destroy();
    event->accept();
}

void CPageWindow::Destroy() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    OnDestroy();
    if (m_display)
        m_display->SaveColumnWidths();
    SavePlacement();
    m_wantedOuter.reset();
    if (m_eventsView && m_eventsView->isVisible())
        m_eventsView->close(); // it remembers its place as it closes
}

void CPageWindow::SavePlacement() {
    // A minimised window keeps the placement saved before; a maximised one saves what it covers.
    // A window that never appeared (its creation failed) has no placement of its own.
    if (isMinimized() || !m_everShown)
        return;
    const QRect outer = frameGeometry();
    using Settings::WriteProfileString;
    WriteProfileString(Settings::kDisplay, "Top", std::to_string(outer.top()));
    WriteProfileString(Settings::kDisplay, "Bottom", std::to_string(outer.top() + outer.height()));
    WriteProfileString(Settings::kDisplay, "Left", std::to_string(outer.left()));
    WriteProfileString(Settings::kDisplay, "Right", std::to_string(outer.left() + outer.width()));
}

QMargins CPageWindow::FrameMargins() const {
    const QWindow* window = windowHandle();
    return window ? window->frameMargins() : QMargins();
}

QSize CPageWindow::DefaultOuterSize() const {
    // The layout's size with the list view at its default size: menu bar, tool bar, list view
    // and status bar stacked.
    const QSize client = sizeHint();
    const QMargins frame = FrameMargins();
    const QSize outer(client.width() + frame.left() + frame.right(),
                      client.height() + frame.top() + frame.bottom());
    return outer.expandedTo(QSize(kMinimumWidth, kMinimumHeight));
}

void CPageWindow::ApplyMinimumSize(const QMargins& frame) {
    setMinimumSize(std::max(0, kMinimumWidth - frame.left() - frame.right()),
                   std::max(0, kMinimumHeight - frame.top() - frame.bottom()));
}

void CPageWindow::SetOuterGeometry(const QRect& outer) {
    const QMargins frame = FrameMargins();
    m_marginsUsed = frame;
    m_wantedOuter = outer;
    ApplyMinimumSize(frame);
    move(outer.topLeft()); // a top-level window's position is that of its frame
    resize(outer.width() - frame.left() - frame.right(),
           outer.height() - frame.top() - frame.bottom());
}

void CPageWindow::FollowFrameMargins() {
    // Until the window manager has framed the window its frame is unknown and was counted as
    // none; once it is known, the wanted outer rectangle is applied again, so that the saved
    // placement comes back exactly and the window does not grow at each start.
    if (!m_wantedOuter || !isVisible() || isMinimized() || isMaximized() || isFullScreen())
        return;
    const QMargins frame = FrameMargins();
    if (frame == m_marginsUsed)
        return;
    // The default rectangle was computed around the client area: with the frame known, it is
    // computed again, so that the list view keeps its default size.
    const QRect outer = m_followDefault ? DefaultRectangle() : *m_wantedOuter;
    SetOuterGeometry(outer);
    m_wantedOuter.reset();
}

QRect CPageWindow::DefaultRectangle() const {
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect screenArea = primary ? primary->geometry() : QRect(0, 0, 1024, 768);
    return placement::Centred(DefaultOuterSize(), screenArea);
}

void CPageWindow::PlaceAtStartup() {
    winId(); // the platform window, whose frame some platforms know before it is shown
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect screenArea = primary ? primary->geometry() : QRect(0, 0, 1024, 768);
    const QRect available = primary ? primary->availableGeometry() : screenArea;
    const QRect centred = DefaultRectangle();
    const QSize size = centred.size();

    auto read = [](const char* name, int fallback) {
        return Settings::TextToInt(
            Settings::GetProfileString(Settings::kDisplay, name, std::to_string(fallback).c_str()));
    };
    const int top = read("Top", centred.top());
    const int bottom = read("Bottom", centred.top() + size.height());
    const int left = read("Left", centred.left());
    const int right = read("Right", centred.left() + size.width());
    const QRect saved(QPoint(left, top), QSize(right - left, bottom - top));

    QList<QRect> screens;
    for (QScreen* screen : QGuiApplication::screens())
        screens.append(screen->geometry());
    const QRect chosen = placement::Mend(saved, screens, screenArea, available, size);
    m_followDefault = chosen == centred;
    SetOuterGeometry(chosen);
}

unsigned CPageWindow::StartTimer(unsigned id, unsigned periodMs) {
    m_ticker.Start(periodMs);
    return m_ticker.IsActive() ? id : 0;
}

void CPageWindow::StopTimer(unsigned) {
    m_ticker.Stop();
}

void CPageWindow::PostCloseRequest() {
    QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
}

bool CPageWindow::RunUserListDialog(CUserList& workingCopy) {
    DlgUserList dialog(&workingCopy, this);
    return dialog.DoModal() == IDOK;
}

void CPageWindow::OnFilePrintSetup() {
    // The program prints nothing; the choices are kept for as long as it runs.
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>();
    QPageSetupDialog dialog(m_printer.get(), this);
    dialog.setObjectName("pageSetupDialog");
    dialog.exec();
}

void CPageWindow::OnConfigurePreferences() {
    // Nothing is reloaded afterwards: every setting is read again at its next use.
    DlgPreferences dialog(this);
    dialog.exec();
}

void CPageWindow::OnConfigureMailProfiles() {
    // The monitor opens its sessions with the profiles as saved, read again at each use: a
    // change here reaches it at its next cycle.
    DlgMailProfiles dialog(this);
    dialog.exec();
}

void CPageWindow::OnViewEvents() {
    ShowEvents(0);
}

void CPageWindow::ShowEvents(int16_t code) {
    if (!m_eventsView)
        m_eventsView = new CEventsView(LiveUsers(), this);
    m_eventsView->ShowFiltered(code);
}

void CPageWindow::OnHelpContents() {
    Help().ShowContents();
}
void CPageWindow::OnHelpSearch() {
    Help().ShowSearch();
}
void CPageWindow::OnHelpHelp() {
    Help().ShowHowToUseHelp();
}
void CPageWindow::OnHelpSales() {
    Help().ShowTopic(kHelpContextSales);
}
void CPageWindow::OnHelpSupport() {
    Help().ShowTopic(kHelpContextSupport);
}
void CPageWindow::OnHelpWebHome() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePageUrl)));
}
void CPageWindow::OnHelpWebInfo() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kInfoPageUrl)));
}
