// The monitor's state file beside Users.dat: read back at the start, set aside with one event when
// it cannot be used, and saved when the users' state has changed (gathered, not at every tick)
// and when the monitor stops.
#pragma once

#include "core/CString.h"
#include "users/MonitorState.h"

#include <cstdint>

class CUserList;

class CStateKeeper {
public:
    // How long changes are gathered before they are saved, on Clock::SteadyMilliseconds. A
    // crash loses what changed in this time (the first round of scans after the restart reads
    // it again), but a page sent in it is still not sent again: the record of pages sent keeps
    // it for two minutes, which the period must stay well below.
    static constexpr int64_t kDefaultPeriodMs = 30000;

    // The file at `path` (the directory's monitorstate::kFileName).
    void SetPath(const CString& path) { m_path = path; }
    const CString& Path() const { return m_path; }
    void SetPeriodMs(int64_t periodMs) { m_periodMs = periodMs; }

    // Counts the period from now: the file in place (read by Load, or none) stands until then.
    void StartPeriod();
    // Reads the file into `state`. False when there is none (quietly) or when it cannot be used
    // (unreadable, foreign, of another format, damaged): it is then renamed beside itself to
    // "MonitorState.dat.damaged-YYYYMMDD-HHMMSS" (kept for a look, out of the next start's way)
    // and one event says why; the monitor starts as without it.
    bool Load(monitorstate::State& state);

    // Notes that the list was replaced (an edit applied): its state is saved as if it changed.
    void NoteListReplaced() { m_replaced = true; }
    // Saves the state of `users` when it has changed since the last save (StateChanges moved, or
    // the list was replaced) and the last save is at least the period ago.
    void SaveIfDue(const CUserList& users);
    // Saves now, changed or not (the stop). False when it could not be written; one event says
    // so, once until a save succeeds again.
    bool Save(const CUserList& users);

    // The last save: its size in bytes and how long encoding and writing took (milliseconds of
    // the steady system clock, whatever the program's clock does).
    struct Figures {
        size_t bytes = 0;
        double encodeMs = 0, writeMs = 0;
    };
    const Figures& LastSave() const { return m_lastSave; }

private:
    CString m_path;
    int64_t m_periodMs = kDefaultPeriodMs;
    int64_t m_savedAtMs = 0;        // Clock::SteadyMilliseconds at the last save (or the start)
    uint64_t m_savedChanges = 0;    // CUserList::StateChanges at the last save
    bool m_replaced = false;        // NoteListReplaced since the last save
    bool m_reportedFailure = false; // an event about a failed save has been written
    Figures m_lastSave;
};
