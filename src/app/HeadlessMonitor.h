// The monitor without a window: the cycle on a Qt event loop, stopped by SIGINT or SIGTERM.
#pragma once

#include "app/MonitorCycle.h"
#include "app/SecondTimer.h"

#include <QObject>

class QSocketNotifier;

// One line about the live list, as the window's list view would show it: users, active users,
// pending reminders, the next due time and failed scans.
CString MonitoringSummary(const CUserList& users);

class CHeadlessMonitor : public QObject, public CMonitorCycle {
    Q_OBJECT
public:
    explicit CHeadlessMonitor(QObject* parent = nullptr);
    ~CHeadlessMonitor() override;

    // Creates the monitor (OnCreate) and watches for SIGINT and SIGTERM; false when creation
    // failed. The event loop ends once the monitor has closed.
    bool Start();

protected:
    unsigned StartTimer(unsigned id, unsigned periodMs) override;
    void StopTimer(unsigned timerId) override;
    void SetModeText(const CString& text) override;
    // Prints the summary when it has changed since the last one.
    void RefreshView() override;
    void PostCloseRequest() override;
    bool RunUserListDialog(CUserList& workingCopy) override;

private:
    void Close();

    CSecondTimer m_ticker{[this] { OnTimer(); }};
    QSocketNotifier* m_signals = nullptr;
    CString m_lastSummary;
    bool m_closed = false;
};
