// Stepping by an Outlook recurrence pattern in local time, as the scan advances a recurring
// appointment whose reminder has passed; shared with the calendar reader, which tells the scan
// (by reporting pattern type 4) when that advance would land where the series has no occurrence.
#pragma once

#include "core/CTime.h"
#include "mailsystem/model/Items.h"

#include <cstdint>
#include <functional>

namespace mail::pattern {

// The spans the scan steps by, in seconds.
struct Spans {
    CTimeSpan day{86400};
    CTimeSpan week{604800};
    CTimeSpan hour{3600};
};

// One round of the advance: moves `start` on by one step of `pattern` (weekday, month and hour
// read in local time), then back to the local hour of the start it came from where the step
// crossed a change of daylight-saving time. False, with `start` unchanged, for a pattern type
// that has no step (4, or one unknown). A step whose condition does not hold leaves `start`
// where it is, which ends the advance.
bool StepOnce(const RecurrencePattern& pattern, const Spans& spans, CTime& start);

// The scan's search returns an occurrence at `start` (seconds since 1970) when it lies within
// the week after the scan's moment, and advances it when its reminder, `leadMinutes` before it,
// has passed: step by step while each step's reminder has passed too and the step lies within
// that week, giving the reminder of where it stops. True when, for every moment of the scan at
// which that happens, the start where the advance stops satisfies `isOccurrence`; false too when
// `start` lies beyond what the scan's 32-bit times reach.
bool AdvanceLandsOnOccurrences(const RecurrencePattern& pattern, int64_t start, int32_t leadMinutes,
                               const std::function<bool(int64_t)>& isOccurrence);

// How far after an occurrence (in seconds) the start where that advance stops can lie.
int64_t AdvanceReach(const RecurrencePattern& pattern, int32_t leadMinutes);

} // namespace mail::pattern
