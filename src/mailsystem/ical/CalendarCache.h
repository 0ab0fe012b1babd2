// The process-wide cache of what calendar files hold, shared by every MailSystem object (each
// monitoring pass opens a new session, and the rescan must not parse again).
#pragma once

#include "mailsystem/ical/CalendarFile.h"

#include <cstdint>
#include <functional>
#include <string>

namespace mail::cache {

// Occurrences are kept for this long past the end of the range that made a file be read, so
// that later scans (whose range has moved on) are answered without reading it again. Walking
// rules further costs the first scan more than rereading a file once a day costs later.
inline constexpr int64_t kHorizon = 86400;

enum class Status { Ok, Missing, Failed };

// Calls `use` with the contents of the calendar file at `path`. The file is read again when
// it was never read, when its stamp changed (FileStamp.h), when the local time zone changed,
// or when `window` (if given) is not covered. A damaged or unreadable file gives Failed and a
// sentence naming it in `error`; a missing file gives Missing. What a reading repaired or
// guessed, or could not read as written, goes to the notice sink (Notices.h) as sentences
// naming the file, once: a rereading says only what the reading before it did not. Thread-safe.
Status WithFile(const std::string& path, const calendar::Window* window,
                const std::function<void(const calendar::FileContents&)>& use, std::string& error);

// Reads the file at `path` for `window` into the cache now, unless what is held is current and
// covers it, as WithFile would (the cache's ReadAhead is the worker side of it). What the
// reading repaired or guessed is told at the first WithFile that uses it, not here; a failed
// reading is kept, and told by that WithFile too. Thread-safe: several files are read at once,
// one reading of a path at a time (WithFile waits for a reading of its path under way).
void ReadAhead(const std::string& path, const calendar::Window& window);

struct Stats {
    uint64_t reads = 0;            // files read (and scanned)
    uint64_t hits = 0;             // answers from memory (readings ahead are not counted)
    uint64_t parsedComponents = 0; // components parsed by libical
    size_t entries = 0;            // files held
};
Stats GetStats();

// Forgets everything (benchmarks measure a first scan again).
void Clear();

} // namespace mail::cache
