// Exceptions that change their occurrence and every later one (RECURRENCE-ID;RANGE=THISANDFUTURE),
// applied to the occurrences a series' rules and dates give.
#pragma once

#include "mailsystem/ical/CalendarEvents.h"
#include "mailsystem/ical/IcalTime.h"

#include <cstdint>
#include <vector>

namespace mail::calendar {

// One occurrence of a series, as its rules and dates give it and as the changes leave it.
struct Occurrence {
    icaltimetype wall; // the series' own wall-clock time of it (before any change)
    int64_t start, end;
    int32_t change = -1; // index of the FutureChange it follows; -1: the series' own
};

struct FutureChange {
    const Event* exception; // borrowed from the caller's events
    int64_t from;           // the instant of the occurrence it names
    int64_t shift;          // seconds that it and the later occurrences move
    int64_t length;         // seconds that they last
};

// Furthest a change's shift is followed outside the range being read, each way: an occurrence
// that a change moves further than this into the range is not seen.
inline constexpr int64_t kMaxFollowedShift = 400 * 86400;

// The THISANDFUTURE exceptions among `overrides` of a series in `seriesZone`, by `from`.
std::vector<FutureChange> FutureChanges(const std::vector<const Event*>& overrides,
                                        const ical::Zone& seriesZone);

// How far before and after the range the series has to be walked so that every occurrence the
// changes move into it is met (each at most kMaxFollowedShift).
struct ShiftReach {
    int64_t before = 0, after = 0;
};
ShiftReach ReachOf(const std::vector<FutureChange>& changes);

// Every occurrence after a change's `from` (up to the next change) moves by its shift, takes its
// length and is marked with it; under a cancelled change it is dropped. The occurrence a change
// names itself is not touched: it is replaced like that of any exception. `occurrences` are in
// order of start before, and again after.
void ApplyFutureChanges(const std::vector<FutureChange>& changes,
                        std::vector<Occurrence>& occurrences);

} // namespace mail::calendar
