// The program's own advance of a recurring appointment to its next occurrence still to come.
#pragma once

#include "core/CTime.h"
#include "mailsystem/ical/PatternStep.h"

#include <cstdint>

enum class AdvanceOutcome {
    Stepped,     // the repeat ended; `start` and `reminderTime` hold where it stopped
    UnknownType, // no step exists for the pattern type: the appointment gives no reminder
};

// Moves `start` on by the pattern while its reminder time (start - lead) is before `now`, start
// is not later than now + one week, and every step moves start forward; each step keeps the
// local hour of the start it came from. `reminderTime` follows `start`. The caller decides from
// the final reminder time whether a reminder remains.
// `pattern` holds the values read from the appointment's RecurrencePattern; `spans` are the
// session's day, week and hour.
AdvanceOutcome AdvanceToNextOccurrence(const mail::RecurrencePattern& pattern,
                                       const mail::pattern::Spans& spans, CTime now, CTimeSpan lead,
                                       CTime& start, CTime& reminderTime);
