// The monitor without a window.
#include "app/HeadlessMonitor.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <cstdio>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

CHeadlessMonitor::CHeadlessMonitor(QObject* parent) : QObject(parent) {}

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
            std::fprintf(stderr, "orvane: stopping%s\n", IsBusy() ? " after the running cycle" : "");
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

void CHeadlessMonitor::timerEvent(QTimerEvent*) { OnTimer(); }

unsigned CHeadlessMonitor::StartTimer(unsigned, unsigned periodMs) {
    const int id = startTimer(static_cast<int>(periodMs));
    return id > 0 ? static_cast<unsigned>(id) : 0;
}

void CHeadlessMonitor::StopTimer(unsigned timerId) { killTimer(static_cast<int>(timerId)); }

void CHeadlessMonitor::SetModeText(const CString& text) {
    std::fprintf(stderr, "orvane: %s %s\n", text.c_str(), WorkingDirectory().c_str());
}

void CHeadlessMonitor::PostCloseRequest() {
    QMetaObject::invokeMethod(this, [this] { Close(); }, Qt::QueuedConnection);
}

bool CHeadlessMonitor::RunUserListDialog(CUserList&) {
    return false;  // no dialogs without a display; "orvane users" edits the file instead
}

void CHeadlessMonitor::Close() {
    if (m_closed)
        return;
    m_closed = true;
    OnDestroy();
    QCoreApplication::exit(0);
}
