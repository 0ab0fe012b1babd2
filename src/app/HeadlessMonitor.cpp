// The monitor without a window.
#include "app/HeadlessMonitor.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
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
    CString text = std::to_string(users.GetCount()) + (users.GetCount() == 1 ? " user" : " users") +
                   " (" + std::to_string(active) + " active): " + std::to_string(pending) +
                   (pending == 1 ? " reminder" : " reminders") + " pending";
    if (next) // the reminder's own time, a minute after its page time
        text += ", next due " + (next->PageTime + timespans::kMinute).Format("%m/%d/%y %H:%M");
    if (failed)
        text += "; " + std::to_string(failed) + (failed == 1 ? " scan failed" : " scans failed");
    return text;
}

CHeadlessMonitor::CHeadlessMonitor(QObject* parent) : QObject(parent) {}

void CHeadlessMonitor::RefreshView() {
    const CString summary = MonitoringSummary(LiveUsers());
    if (summary != m_lastSummary) {
        std::fprintf(stderr, "orvane: %s\n", summary.c_str());
        m_lastSummary = summary;
    }
}

CHeadlessMonitor::~CHeadlessMonitor() {
    if (!m_closed)
        OnDestroy();
}

bool CHeadlessMonitor::Start() {
    if (!OnCreate())
        return false;
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_signals = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
        connect(m_signals, &QSocketNotifier::activated, this, [this] {
            char buffer[16];
            while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
            }
            std::fprintf(stderr, "orvane: stopping%s\n",
                         IsBusy() ? " after the running cycle" : "");
            RequestQuit();
        });
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
    return true;
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
