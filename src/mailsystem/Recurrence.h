// Recurrence rules: their Outlook pattern, and bounded walks over their occurrences.
#pragma once

#include "mailsystem/MailSystem.h"

#include <cstdint>
#include <functional>
#include <libical/ical.h>
#include <vector>

namespace mail::recurrence {

// Limits of one walk. A rule that needs more gives no occurrence at all.
inline constexpr int kMaxSteps = 100000;         // occurrences read from libical's iterator
inline constexpr size_t kMaxOccurrences = 10000; // occurrences kept in the asked range
inline constexpr int kMaxInterval = 10000;

// The pattern that describes `rule` for a series starting at `dtstart` (its wall-clock time),
// or type 4 when no pattern type expresses it (docs/mailsystem.md has the table).
RecurrencePattern MapRule(const icalrecurrencetype& rule, const icaltimetype& dtstart);

// Whether walking `rule` costs bounded time in libical 3: a frequency of a day or more, an
// interval from 1 to kMaxInterval, the Gregorian calendar, and BYMONTH/BYMONTHDAY that can
// meet. Rules that fail give no occurrence.
bool IsWalkable(const icalrecurrencetype& rule);

// The longest gap between two consecutive occurrences of a plain rule of this frequency and
// interval, in seconds (a bound, not exact).
int64_t StepBound(const icalrecurrencetype& rule);

// False only when `rule`, for a series whose DTSTART falls on the given wall-clock date, surely
// has no occurrence on any day from `firstDay` to `lastDay` (days since 1970-01-01 of wall-clock
// dates). Decided without libical for plain monthly and yearly rules; true for anything else.
bool MayOccur(const icalrecurrencetype& rule, int year, int month, int day, int64_t firstDay,
              int64_t lastDay);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t year, int month, int day);
struct CivilDate {
    int year, month, day, weekday; // weekday 0 Sunday
};
CivilDate CivilFromDays(int64_t days);

struct Walk {
    enum Outcome { Reached /* went past `to` */, Ended /* the rule ran out */, Refused };
    Outcome outcome = Refused;
    // (wall-clock time, instant) of each occurrence with from <= instant <= to, in order.
    std::vector<std::pair<icaltimetype, int64_t>> occurrences;
    int64_t last = INT64_MIN; // Ended: instant of the rule's last occurrence (INT64_MIN: none)
};

// Walks `rule` from `dtstart`, starting near `from` when the rule has no COUNT, and keeps the
// occurrences in [from, to]. `toInstant` turns an occurrence's wall-clock time into an instant.
// Refused when the rule is not walkable, libical refuses it, or a limit above is reached.
Walk WalkRule(const icalrecurrencetype& rule, const icaltimetype& dtstart, int64_t dtstartInstant,
              int64_t from, int64_t to,
              const std::function<int64_t(const icaltimetype&)>& toInstant,
              const std::function<icaltimetype(int64_t)>& fromInstant);

} // namespace mail::recurrence
