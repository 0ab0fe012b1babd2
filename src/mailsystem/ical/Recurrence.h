// Recurrence rules: their Outlook pattern, and bounded walks over their occurrences.
#pragma once

#include "mailsystem/model/Items.h"

#include <cstdint>
#include <functional>
#include <libical/ical.h>
#include <string>
#include <string_view>
#include <vector>

namespace mail::recurrence {

// Limits of one walk. A rule that needs more gives no occurrence at all.
inline constexpr int kMaxSteps = 100000;         // occurrences read from libical's iterator
inline constexpr size_t kMaxOccurrences = 10000; // occurrences kept in the asked range
inline constexpr int kMaxInterval = 10000;
// Below a day libical tries every candidate time in turn until one passes the rule's filters;
// a rule whose filters may leave more candidates than this between two occurrences is refused
// (about a third of a second of libical's search on the reference machine).
inline constexpr int64_t kMaxCandidatesBetween = 200000;

// Reads an RRULE value the way exporters write it, which libical alone refuses or misreads:
// blanks around parts and values, empty parts (";;", a trailing ";"), empty list items (a
// trailing ","), extension parts ("X-..."), a COUNT that is not a positive number (Confluence
// writes COUNT=-1), COUNT together with UNTIL (both are kept: the earlier end counts) and a part
// given twice (the first counts; its name, in upper case, is added to `repeated` when given).
// False when what is left is still no rule, or names a calendar scale other than Gregorian. The
// rule owns no memory.
bool ParseRule(std::string_view value, icalrecurrencetype& out,
               std::vector<std::string>* repeated = nullptr);

// The pattern that describes `rule` for a series starting at `dtstart` (its wall-clock time),
// or type 4 when no pattern type expresses it (docs/mailsystem.md has the table).
RecurrencePattern MapRule(const icalrecurrencetype& rule, const icaltimetype& dtstart);

// Whether walking `rule` from `dtstart` (wall-clock, no zone) costs bounded time in libical 3:
// an interval from 1 to kMaxInterval, the Gregorian calendar, BYMONTH/BYMONTHDAY that can meet;
// below a day (HOURLY, MINUTELY) also no BYSETPOS (which libical ignores there), filters that
// some reachable candidate passes, and no more than kMaxCandidatesBetween candidates between two
// occurrences; never SECONDLY. Rules that fail give no occurrence (docs/mailsystem.md).
bool IsWalkable(const icalrecurrencetype& rule, const icaltimetype& dtstart);

// False only when `rule`, for a series whose DTSTART falls on the given wall-clock date, surely
// has no occurrence on any day from `firstDay` to `lastDay` (days since 1970-01-01 of wall-clock
// dates). Decided without libical for plain monthly and yearly rules; true for anything else.
bool MayOccur(const icalrecurrencetype& rule, int year, int month, int day, int64_t firstDay,
              int64_t lastDay);

struct Walk {
    enum Outcome { Reached /* went past `to` */, Ended /* the rule ran out */, Refused };
    Outcome outcome = Refused;
    // (wall-clock time, instant) of each occurrence with from <= instant <= to, in order.
    std::vector<std::pair<icaltimetype, int64_t>> occurrences;
    // Reached: the first occurrence after `to`, which the walk met on the way.
    std::pair<icaltimetype, int64_t> beyond{};
};

// Walks `rule` from `dtstart`, starting near `from` when the rule has no COUNT, and keeps the
// occurrences in [from, to]. With `startCounts`, DTSTART counts as the first of a COUNT also
// where the rule does not give it: such a walk gives COUNT - 1 occurrences, and the caller adds
// DTSTART (an EXRULE counts only what it gives, as libical reads it). `dtstart` and the rule's
// UNTIL are wall-clock times of one frame without a zone (libical compares them as they stand);
// `toInstant` turns an occurrence's wall-clock time into an instant. Refused when the rule is not
// walkable, libical refuses it, or a limit above is reached.
Walk WalkRule(const icalrecurrencetype& rule, const icaltimetype& dtstart, int64_t dtstartInstant,
              int64_t from, int64_t to,
              const std::function<int64_t(const icaltimetype&)>& toInstant,
              const std::function<icaltimetype(int64_t)>& fromInstant, bool startCounts = true);

} // namespace mail::recurrence
