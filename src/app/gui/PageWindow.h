// The main window: menu, tool bar, status bar, the list view and the monitoring cycle.
#pragma once

#include "app/monitor/MonitorCycle.h"
#include "app/monitor/SecondTimer.h"
#include "core/StatusText.h"

#include <QMainWindow>
#include <QMargins>
#include <QRect>
#include <memory>
#include <optional>

class CEventsView;
class CMyStatusBar;
class QAction;
class QPrinter;
class QToolBar;
class display;

class CPageWindow : public QMainWindow, public CMonitorCycle, public IStatusText {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Orvane";
    // The smallest outer size the window can be dragged to.
    static constexpr int kMinimumWidth = 324;
    static constexpr int kMinimumHeight = 384;
    // The maker's home page and the product's page.
    static constexpr const char* kHomePageUrl = "https://www.quorvik.example/";
    static constexpr const char* kInfoPageUrl = "https://www.quorvik.example/orvane/";

    explicit CPageWindow(QWidget* parent = nullptr);
    ~CPageWindow() override;

    // Creates the window's contents and starts monitoring; false when creation failed.
    bool Create();

    // The list view, created by the application after the window (not owned: a child).
    void SetDisplay(display* view);
    display* Display() const { return m_display; }

    // The outer size of the window around the list view at its default size, with the frame
    // as far as it is known now.
    QSize DefaultOuterSize() const;
    // That size centred on the primary screen.
    QRect DefaultRectangle() const;
    // Puts the window's outer rectangle (frame included) at `outer`.
    void SetOuterGeometry(const QRect& outer);
    // Start-up placement: the centred default, then the rectangle saved in "Display", mended
    // when no screen shows it.
    void PlaceAtStartup();

    // The status bar's message pane.
    void SetMessageText(const CString& text) override;
    QString MessageText() const;
    QString ModeText() const;
    CMyStatusBar* StatusBar() const { return m_statusBar; }

    // Menu commands.
    void OnFilePrintSetup();
    void OnConfigurePreferences();
    void OnConfigureMailProfiles();
    void OnViewEvents();
    // The Events view, with the events of the user `code` only (0: every user's).
    void ShowEvents(int16_t code);
    // Null until the Events view was first shown.
    CEventsView* EventsView() const { return m_eventsView; }
    void OnHelpContents();
    void OnHelpSearch();
    void OnHelpHelp();
    void OnHelpSales();
    void OnHelpSupport();
    void OnHelpWebHome();
    void OnHelpWebInfo();

signals:
    // Help, About Orvane...
    void appAboutRequested();
    // F1: the framework's Help command.
    void helpRequested();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    bool CreateBars() override;
    unsigned StartTimer(unsigned id, unsigned periodMs) override;
    void StopTimer(unsigned timerId) override;
    void RefreshView() override;
    void SetModeText(const CString& text) override;
    // The status bar's cluster pane: the role, with the sentence as its tool tip.
    void ShowClusterRole(cluster::Role role, const CString& sentence) override;
    void PostCloseRequest() override;
    bool RunUserListDialog(CUserList& workingCopy) override;

private:
    void CreateMenus();
    void CreateToolBar();
    QAction* AddCommand(const QString& text, const char* objectName, const QString& prompt);
    QMargins FrameMargins() const;
    void ApplyMinimumSize(const QMargins& frame);
    void FollowFrameMargins();
    // The end of the window: the cycle's part, then the column widths and the placement.
    void Destroy();
    void SavePlacement();

    CMyStatusBar* m_statusBar = nullptr;
    display* m_display = nullptr;
    CEventsView* m_eventsView = nullptr; // a child window, made when first shown
    QToolBar* m_toolBar = nullptr;
    CSecondTimer m_ticker{[this] { OnTimer(); }, [this](int ms) { return OnBetweenTicks(ms); }};
    QAction* m_pauseAction = nullptr;
    QAction* m_helpContentsAction = nullptr;
    std::unique_ptr<QPrinter> m_printer; // Print Setup's choices, for as long as the program runs
    // The outer rectangle asked for before the window manager had framed the window; applied
    // again once the frame is known.
    std::optional<QRect> m_wantedOuter;
    QMargins m_marginsUsed;
    bool m_followDefault = false; // the wanted rectangle is the default one
    bool m_everShown = false;
    bool m_destroyed = false;
};
