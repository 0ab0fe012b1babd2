// The service manager's notifications through libsystemd's sd_notify.
#include "app/monitor/ServiceNotify.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#ifdef ORVANE_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace service {
namespace {

void Notify([[maybe_unused]] const CString& state) {
#ifdef ORVANE_HAVE_SYSTEMD
    sd_notify(0, state.c_str());
#endif
}

// One line of STATUS= text: a line end would end the field.
CString StatusLine(CString text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

} // namespace

void Ready(const CString& status) {
    Notify("READY=1\nSTATUS=" + StatusLine(status));
}

void Reloading(const CString& status) {
    Notify("RELOADING=1\nSTATUS=" + StatusLine(status));
}

void Stopping() {
    Notify("STOPPING=1\nSTATUS=Stopping after the running cycle");
}

void Watchdog() {
#ifdef ORVANE_HAVE_SYSTEMD
    using Clock = std::chrono::steady_clock;
    static bool asked = false;
    static uint64_t periodUsec = 0;
    static Clock::time_point last{};
    if (!asked) {
        asked = true;
        if (sd_watchdog_enabled(0, &periodUsec) <= 0)
            periodUsec = 0;
    }
    if (periodUsec == 0)
        return;
    const Clock::time_point now = Clock::now();
    if (last != Clock::time_point{} && now - last < std::chrono::microseconds(periodUsec / 4))
        return;
    last = now;
    sd_notify(0, "WATCHDOG=1");
#endif
}

bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream || !*stream)
        return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
        return false;
    struct stat st;
    return fstat(2, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

} // namespace service
