// The main window: tool bar, status bar and the monitoring cycle on the desktop.
#pragma once

#include "app/MonitorCycle.h"
#include "app/SecondTimer.h"
#include "core/StatusText.h"

#include <QMainWindow>

class QAction;
class QLabel;

class CPageWindow : public QMainWindow, public CMonitorCycle, public IStatusText {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Orvane";

    explicit CPageWindow(QWidget* parent = nullptr);
    ~CPageWindow() override;

    // Creates the window's contents and starts monitoring; false when creation failed.
    bool Create();

    // The status bar's message pane.
    void SetMessageText(const CString& text) override;
    QString MessageText() const;
    QString ModeText() const;

protected:
    void closeEvent(QCloseEvent* event) override;

    bool CreateBars() override;
    unsigned StartTimer(unsigned id, unsigned periodMs) override;
    void StopTimer(unsigned timerId) override;
    void SetModeText(const CString& text) override;
    void PostCloseRequest() override;
    bool RunUserListDialog(CUserList& workingCopy) override;

private:
    CSecondTimer m_ticker{[this] { OnTimer(); }};
    QAction* m_pauseAction = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_modePane = nullptr;
    bool m_destroyed = false;
};
