// The monitor without a window.
#include "app/monitor/HeadlessMonitor.h"

#include "app/monitor/ServiceNotify.h"
#include "core/Text.h"

#include <QCoreApplication>
#include <cstdio>
#include <iostream>

namespace {

constexpr const char* kLineTimeFormat = "%Y-%m-%d %H:%M:%S";

CString Users(int n) {
    return std::to_string(n) + (n == 1 ? " user" : " users");
}

} // namespace

CString MonitoringSummary(const CUserList& users) {
    int active = 0, pending = 0, failed = 0;
    const ReminderStru* next = nullptr;
    for (const auto& user : users.Users()) {
        active += IsActiveUser(*user) ? 1 : 0;
        pending += user->Reminders.GetCount();
        failed += user->ScanStatus == 0 ? 1 : 0;
        const ReminderStru* head = user->Reminders.GetHead();
        if (head && (!next || head->PageTime < next->PageTime))
            next = head;
    }
    CString text = Users(users.GetCount()) + " (" + std::to_string(active) +
                   " active): " + std::to_string(pending) +
                   (pending == 1 ? " reminder" : " reminders") + " pending";
    if (next) // the reminder's own time, a minute after its page time
        text += ", next due " + (next->PageTime + timespans::kMinute).Format("%m/%d/%y %H:%M");
    if (failed)
        text += "; " + std::to_string(failed) + (failed == 1 ? " scan failed" : " scans failed");
    return text;
}

CString ScanLine(const UserlistStru& user, CTime now) {
    CString line = now.Format(kLineTimeFormat) + " scan: " + EscapeField(user.DisplayName);
    if (user.ScanStatus == 0)
        return line + ": failed: " + EscapeField(user.LastScanError);
    const int n = user.Reminders.GetCount();
    return line + ": " + std::to_string(n) + (n == 1 ? " reminder" : " reminders");
}

CString PageLine(const UserlistStru& user, const ReminderStru& reminder, CTime now,
                 PageOutcome outcome, const CString& event) {
    const char* what = "";
    switch (outcome) {
    case PageOutcome::Sent:
        what = "page sent";
        break;
    case PageOutcome::Dropped:
        what = "page dropped outside the paging hours";
        break;
    case PageOutcome::Failed:
        what = "page failed";
        break;
    case PageOutcome::AlreadySent:
        what = "page sent before, not sent again";
        break;
    case PageOutcome::Expired:
        what = "page dropped, due while Orvane was stopped and over since";
        break;
    }
    CString line = now.Format(kLineTimeFormat) + " " + what + ": " + EscapeField(user.DisplayName) +
                   " -> " + EscapeField(user.PagerName) + ": " + EscapeField(reminder.Text);
    if (outcome == PageOutcome::Failed)
        line += " [" + EscapeField(event) + "]";
    return line;
}

CHeadlessMonitor::CHeadlessMonitor(QObject* parent) : QObject(parent), m_lines(&std::cout) {}

CHeadlessMonitor::~CHeadlessMonitor() {
    if (!m_closed)
        OnDestroy();
}

void CHeadlessMonitor::PrintLine(const CString& line) {
    *m_lines << line << std::endl; // flushed: a service's journal gets it at once
}

void CHeadlessMonitor::OnScan(const UserlistStru& user) {
    PrintLine(ScanLine(user, CTime::GetCurrentTime()));
    service::Watchdog(); // a long pass that makes progress is not stuck
}

void CHeadlessMonitor::OnPage(const UserlistStru& user, const ReminderStru& reminder,
                              const CTime& now, PageOutcome outcome, const CString& event) {
    PrintLine(PageLine(user, reminder, now, outcome, event));
    service::Watchdog();
}

void CHeadlessMonitor::RefreshView() {
    const CString summary = MonitoringSummary(LiveUsers());
    if (summary != m_lastSummary) {
        std::fprintf(stderr, "orvane: %s\n", summary.c_str());
        m_lastSummary = summary;
    }
}

bool CHeadlessMonitor::Start() {
    if (!OnCreate())
        return false;
    SetPassListener(this);
    if (const monitorstate::RestoreCounts& restored = Restored(); restored.users)
        std::fprintf(stderr,
                     "orvane: restored the reminders of %s from %s: %d pending, %d due while it "
                     "was stopped\n",
                     Users(restored.users).c_str(), StateKeeper().Path().c_str(),
                     restored.reminders, restored.late);
    connect(&m_signals, &CSignals::quitRequested, this, &CHeadlessMonitor::OnQuitSignal);
    connect(&m_signals, &CSignals::reloadRequested, this, &CHeadlessMonitor::Reload);
    m_signals.Install(true);
    service::Ready("Monitoring " + Users(LiveUsers().GetCount()) + " in " + WorkingDirectory());
    service::Watchdog();
    return true;
}

void CHeadlessMonitor::OnQuitSignal() {
    std::fprintf(stderr, "orvane: stopping%s\n", IsBusy() ? " after the running cycle" : "");
    service::Stopping();
    RequestQuit();
}

void CHeadlessMonitor::Reload() {
    service::Reloading("Reading " + DATFileName("Users.dat") + " again");
    bool ok = false;
    const CString result = ReloadUsers(ok);
    std::fprintf(stderr, "orvane: reload: %s\n", result.c_str());
    // Settings, mail profiles and calendars are read at every use; nothing else needs reading.
    service::Ready(result);
}

void CHeadlessMonitor::OnTick() {
    OnTimer();
    service::Watchdog();
}

unsigned CHeadlessMonitor::StartTimer(unsigned id, unsigned periodMs) {
    m_ticker.Start(periodMs);
    return m_ticker.IsActive() ? id : 0;
}

void CHeadlessMonitor::StopTimer(unsigned) {
    m_ticker.Stop();
}

void CHeadlessMonitor::SetModeText(const CString& text) {
    std::fprintf(stderr, "orvane: %s %s\n", text.c_str(), WorkingDirectory().c_str());
}

void CHeadlessMonitor::ShowClusterRole(cluster::Role role, const CString& sentence) {
    std::fprintf(stderr, "orvane: cluster: %s: %s\n", cluster::RoleName(role), sentence.c_str());
}

void CHeadlessMonitor::PostCloseRequest() {
    QMetaObject::invokeMethod(
        this, [this] { Close(); }, Qt::QueuedConnection);
}

bool CHeadlessMonitor::RunUserListDialog(CUserList&) {
    return false; // no dialogs without a display; "orvane users" edits the file instead
}

void CHeadlessMonitor::Close() {
    if (m_closed)
        return;
    m_closed = true;
    OnDestroy();
    QCoreApplication::exit(0);
}
