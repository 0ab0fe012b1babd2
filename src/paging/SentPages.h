// The pages already sent, or dropped outside the paging hours, kept on disk until their reminders
// have passed, so that a reminder collected again (after a restart, or by a rescan) is not paged
// a second time, nor after all.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"

#include <vector>

struct ReminderStru;
class IPageGate;

// One line per page in a small text file beside Users.dat:
//   KEEP-UNTIL <tab> MAILBOX <tab> PAGER <tab> TIME-KEY <tab> TEXT
// KEEP-UNTIL is a UTC time ("2026-06-03T07:03:00Z"); the other fields are escaped as
// `orvane users list` escapes them (\\, \t, \n, \r, \xHH), so a line is always one page.
// Lines beginning with "#" are comments. The file is replaced whole at every change
// (SaveFileAtomically), so a crash leaves the old record or the new one, never a mixture.
class CSentPages {
public:
    static constexpr const char* kFileName = "SentPages.dat";

    CSentPages() = default;
    CSentPages(const CSentPages&) = delete;
    CSentPages& operator=(const CSentPages&) = delete;

    // Reads the record at `path`, which later changes are saved to. A missing file is an empty
    // record; entries whose time has passed at `now` are left out; a line that cannot be read is
    // skipped, and one event names the file and the first such line.
    void Load(const CString& path, CTime now);

    // Whether the page of `reminder` to `pager` for `mailbox` was sent and its reminder time
    // has not passed yet at `now`.
    bool WasSent(const CString& mailbox, const CString& pager, const ReminderStru& reminder,
                 CTime now);
    // Remembers a page that has just been sent or dropped and saves the record (when it has a
    // path). A save that fails writes an event, once until a save succeeds again; the page is still
    // remembered for as long as this process runs.
    void Record(const CString& mailbox, const CString& pager, const ReminderStru& reminder,
                CTime now);

    // How long a sent page is remembered: to the end of the minute of its reminder time (its
    // page time plus two minutes), since the task search matches reminder times to the minute
    // and so can collect a reminder again up to then.
    static CTime KeepUntil(const ReminderStru& reminder);

    // The gate every page is claimed at before it leaves (not owned); null: none, the pages are
    // this instance's alone.
    void SetGate(IPageGate* gate) { m_gate = gate; }
    IPageGate* Gate() const { return m_gate; }

    int GetCount() const { return static_cast<int>(m_entries.size()); }
    const CString& Path() const { return m_path; }
    // The file's contents for the current entries.
    CString Encode() const;

private:
    struct Entry {
        CTime keepUntil;
        CString mailbox, pager, timeKey, text;
    };
    void Prune(CTime now);
    void Save();

    CString m_path; // empty: kept in memory only
    std::vector<Entry> m_entries;
    bool m_saveFailing = false; // an event about a failed save has been written
    IPageGate* m_gate = nullptr;
};
