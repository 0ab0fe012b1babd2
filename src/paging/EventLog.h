// The event writer: one error entry per failure of Outlook, MAPI or mail work.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Every entry carries the source "Orvane", the error type, the caller's event ID and its
// insertion strings in order, each kept as its own field:
//  - in the system journal (fields ORVANE_EVENT_ID, ORVANE_EVENT_TYPE, ORVANE_STRING_1, ...), or
//    through syslog where no journal listens;
//  - and, when the environment variable ORVANE_EVENT_LOG names a file, as one JSON object per
//    line appended to that file.
// Writing is fire-and-forget: a failure of any sink is dropped without notice.
namespace EventLog {

inline constexpr const char* kSource = "Orvane";
inline constexpr int kErrorType = 1; // EVENTLOG_ERROR_TYPE
inline constexpr unsigned long kEventId = 1001;
inline constexpr const char* kFileVariable = "ORVANE_EVENT_LOG";

struct Entry {
    CString source;
    int type = kErrorType;
    unsigned long eventId = 0;
    std::vector<CString> strings; // 0, 1 or 2 insertion strings, the first text first
    CTime written;                // system time of writing
};

// Writes one entry. `first` absent: no strings (a second text alone is not sent).
void Write(unsigned long eventId, const char* first, const char* second);

// The line written to syslog: `event 1001 error: "first" "second"`, with backslash, quote and
// every control character escaped, so that one entry can never read as two.
CString SyslogLine(const Entry& entry);
// The JSON object written to the file sink (no line end); invalid UTF-8 bytes become \u00XX.
CString JsonLine(const Entry& entry);

// Tests: every entry is also handed to `observer` (empty to stop), and the system journal or
// syslog can be switched off so that test runs do not fill the machine's log.
// Returns the observer it replaces.
std::function<void(const Entry&)> SetObserver(std::function<void(const Entry&)> observer);
void SetSystemLogEnabled(bool enabled);

// A second slot beside SetObserver's, for the running monitor's own count of entries (its
// metrics), so that neither front end nor test has to hand its observer on. Called after the
// observer, on the thread that wrote the entry. Returns the one it replaces; empty to stop.
std::function<void(const Entry&)> SetCountingObserver(std::function<void(const Entry&)> counter);

// The session sink: every entry written since the program started is kept in memory too, for
// the window's Events view, up to the latest kSessionLimit (the oldest go first). Safe from any
// thread.
inline constexpr size_t kSessionLimit = 1000;
// The kept entries, newest first (a copy).
std::vector<Entry> SessionEntries();
// How many entries were ever written in this session; a reader that saw the same number has
// seen every entry there is.
uint64_t SessionSerial();
// "error" or "information": the entry type's name in the journal's and the file's fields.
const char* TypeText(int type);

// Keeps, besides every sink, the entries written on this thread while it lives, so that a caller
// can tell what an operation reported (the text of a failed page, the reason a scan failed).
// Collectors nest; each one in scope receives the entry.
class Collector {
public:
    Collector();
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    const std::vector<Entry>& Entries() const { return m_entries; }
    // The first insertion string of the first entry; empty when nothing was written.
    CString FirstText() const;

private:
    friend void Write(unsigned long, const char*, const char*);
    Collector* m_outer;
    std::vector<Entry> m_entries;
};

} // namespace EventLog

// The routine behind the LogEvent members of CMAPI, COOFCheck and COutlook.
inline void LogEvent(unsigned long eventId, const char* first, const char* second = nullptr) {
    EventLog::Write(eventId, first, second);
}
