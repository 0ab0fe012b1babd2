// The program's own advance of a recurring appointment to its next occurrence still to come.
#pragma once

#include "core/CTime.h"

#include <cstdint>

// The values read from an appointment's RecurrencePattern.
struct RecurrenceValues {
    int32_t RecurrenceType =
        0;                // 0 daily, 1 weekly, 2 monthly, 3 monthly Nth, 5 yearly, 6 yearly Nth
    int32_t Interval = 0; // days, weeks or months between occurrences
    int32_t Instance = 0; // the N of an Nth-weekday pattern; 5 reaches the last
    int32_t DayOfWeekMask = 0; // bit 0 Sunday ... bit 6 Saturday
    int32_t DayOfMonth = 0;    // only tested for > 0
    int32_t MonthOfYear = 0;   // read, not used
};

// The spans the session steps by, in seconds.
struct RecurrenceSpans {
    CTimeSpan day{86400};
    CTimeSpan week{604800};
    CTimeSpan hour{3600};
};

enum class AdvanceOutcome {
    Stepped,     // the repeat ended; `start` and `reminderTime` hold where it stopped
    UnknownType, // no step exists for the pattern type: the appointment gives no reminder
};

// Moves `start` on by the pattern while its reminder time (start - lead) is before `now`, start
// is not later than now + one week, and every step moves start forward; each step keeps the
// local hour of the start it came from. `reminderTime` follows `start`. The caller decides from
// the final reminder time whether a reminder remains.
AdvanceOutcome AdvanceToNextOccurrence(const RecurrenceValues& pattern,
                                       const RecurrenceSpans& spans, CTime now, CTimeSpan lead,
                                       CTime& start, CTime& reminderTime);
