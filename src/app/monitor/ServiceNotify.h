// What a monitor run by systemd as a Type=notify service tells its service manager; nothing
// happens where no manager listens (NOTIFY_SOCKET unset).
#pragma once

#include "core/CString.h"

namespace service {

// Monitoring runs: READY=1, with a STATUS= line.
void Ready(const CString& status);
// A reload (SIGHUP) has begun; Ready ends it.
void Reloading(const CString& status);
// The monitor stops after its running cycle.
void Stopping();
// Keeps the watchdog fed when the unit sets WatchdogSec=: sends WATCHDOG=1, at most every
// quarter of the watchdog period (and never more often than the calls), so that a monitor that
// stops calling, stuck in a call, is restarted.
void Watchdog();
// Whether standard error is connected to the journal, which then holds every event already.
bool StderrIsJournal();

} // namespace service
