// Signals as events of the Qt event loop.
#include "app/monitor/Signals.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

// A handler may only write to a pipe; the event loop reads it. The pipe outlives every handler.
int g_pipe[2] = {-1, -1};

void OnSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
}

void SetHandler(int signal, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

} // namespace

CSignals::CSignals(QObject* parent) : QObject(parent) {}

CSignals::~CSignals() {
    if (!m_notifier)
        return;
    SetHandler(SIGINT, SIG_DFL);
    SetHandler(SIGTERM, SIG_DFL);
    if (m_reload)
        SetHandler(SIGHUP, SIG_DFL);
}

bool CSignals::Install(bool reload) {
    if (m_notifier)
        return true;
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    m_reload = reload;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CSignals::OnReadable);
    SetHandler(SIGINT, OnSignal);
    SetHandler(SIGTERM, OnSignal);
    if (reload)
        SetHandler(SIGHUP, OnSignal);
    return true;
}

void CSignals::OnReadable() {
    char buffer[16];
    ssize_t n;
    while ((n = ::read(g_pipe[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == SIGHUP)
                emit reloadRequested();
            else
                emit quitRequested();
        }
    }
}
