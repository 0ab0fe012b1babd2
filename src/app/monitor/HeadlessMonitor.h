// The monitor without a window: the cycle on a Qt event loop, stopped by SIGINT or SIGTERM,
// its users read again on SIGHUP, and a line printed for every scan and page.
#pragma once

#include "app/monitor/MonitorCycle.h"
#include "app/monitor/SecondTimer.h"
#include "app/monitor/Signals.h"
#include "users/PassListener.h"

#include <QObject>
#include <iosfwd>

// One line about the live list, as the window's list view would show it: users, active users,
// pending reminders, the next due time and failed scans.
CString MonitoringSummary(const CUserList& users);

// The line printed for a user's scan: "2026-06-03 09:00:30 scan: Ann Archer: 3 reminders", or
// "...: failed: " and the reason.
CString ScanLine(const UserlistStru& user, CTime now);
// The line printed for a due reminder: "2026-06-03 09:01:00 page sent: Ann Archer -> Ann Archer
// (Pager): 09:06-09:36 Budget review"; "failed" lines end with the event text in brackets.
CString PageLine(const UserlistStru& user, const ReminderStru& reminder, CTime now,
                 PageOutcome outcome, const CString& event);

class CHeadlessMonitor : public QObject, public CMonitorCycle, public IPassListener {
    Q_OBJECT
public:
    // Scan and page lines go to `lines` (standard output by default), notices to standard error.
    explicit CHeadlessMonitor(QObject* parent = nullptr);
    ~CHeadlessMonitor() override;

    // Creates the monitor (OnCreate), watches for SIGINT, SIGTERM and SIGHUP, and tells a
    // service manager that monitoring runs; false when creation failed. The event loop ends
    // once the monitor has closed.
    bool Start();
    void SetLineStream(std::ostream* lines) { m_lines = lines; }

    void OnScan(const UserlistStru& user) override;
    void OnPage(const UserlistStru& user, const ReminderStru& reminder, const CTime& now,
                PageOutcome outcome, const CString& event) override;

protected:
    unsigned StartTimer(unsigned id, unsigned periodMs) override;
    void StopTimer(unsigned timerId) override;
    void SetModeText(const CString& text) override;
    // Prints the summary when it has changed since the last one.
    void RefreshView() override;
    void PostCloseRequest() override;
    bool RunUserListDialog(CUserList& workingCopy) override;
    // "orvane: cluster: STANDBY: the instance host/12 pages the users; this one stands by"
    void ShowClusterRole(cluster::Role role, const CString& sentence) override;

private:
    // One cycle, then a sign of life to a service manager.
    void OnTick();
    void OnQuitSignal();
    void Reload();
    void Close();
    void PrintLine(const CString& line);

    CSecondTimer m_ticker{[this] { OnTick(); }, [this](int ms) { return OnBetweenTicks(ms); }};
    CSignals m_signals;
    std::ostream* m_lines;
    CString m_lastSummary;
    bool m_closed = false;
};
