// Outlook's recurrence pattern, stepped in local time.
#include "mailsystem/ical/PatternStep.h"

#include <algorithm>
#include <optional>

namespace mail::pattern {
namespace {

constexpr int kSunday = 1; // CTime::GetDayOfWeek
constexpr int64_t kDay = 86400;

// A mask that names no weekday (none of bits 0 to 6) counts as no mask at all.
int32_t EffectiveMask(int32_t mask) {
    return (mask & 0x7F) == 0 ? 0 : mask;
}

bool InMask(int32_t mask, int dayOfWeek) {
    return (mask >> (dayOfWeek - 1)) & 1;
}

bool InMask(int32_t mask, CTime t) {
    return InMask(mask, t.GetDayOfWeek());
}

// The local breakdown of `t` (one call to the C library rather than one per field).
struct tm Local(CTime t) {
    struct tm tm = {};
    t.GetLocalTm(&tm);
    return tm;
}

// A local date with the time of day of `like` (its breakdown), normalised by the C library;
// nothing when it does not fit the 32-bit range.
std::optional<CTime> DateLike(const struct tm& like, int year, int month, int day) {
    return CTime::FromLocal(year, month, day, like.tm_hour, like.tm_min, like.tm_sec);
}

// `months` months after the month of `start` (its breakdown; after December comes January of
// the next year).
void MonthsOn(const struct tm& start, int64_t months, int& year, int& month) {
    const int64_t index = int64_t(start.tm_year + 1900) * 12 + start.tm_mon + months;
    year = static_cast<int>(index >= 0 ? index / 12 : (index - 11) / 12);
    month = static_cast<int>(index - int64_t(year) * 12) + 1;
}

// Adds days until start's weekday is in the mask; the mask names a weekday, so within a week.
void OnToMaskedDay(int32_t mask, const Spans& spans, CTime& start) {
    for (int i = 0; i < 7 && !InMask(mask, start); ++i)
        start += spans.day;
}

// The Nth weekday of the mask in `start`'s month, from the 1st; N of 5 reaches the last.
void NthWeekday(int32_t instance, int32_t mask, const Spans& spans, CTime& start) {
    const int month = start.GetMonth();
    for (int32_t n = 0; n < instance; ++n) {
        if (n > 0) {
            start += spans.week;
            if (start.GetMonth() != month)
                start -= spans.week;
        }
        OnToMaskedDay(mask, spans, start);
        if (n >= 6)
            break; // later rounds cannot move start any further within the month
    }
}

// One step of the pattern; false for a type that has no step.
bool Step(const RecurrencePattern& p, const Spans& spans, CTime& start) {
    const int32_t mask = EffectiveMask(p.dayOfWeekMask);
    switch (p.recurrenceType) {
    case 0: // daily
        if (p.interval > 0) {
            start += CTimeSpan(int64_t(p.interval) * spans.day.GetTotalSeconds());
        } else if (mask > 0) {
            start += spans.day;
            OnToMaskedDay(mask, spans, start);
        }
        return true;
    case 1: // weekly
        if (mask > 0) {
            // Passing a Sunday starts a new week: skip the weeks the interval leaves out.
            for (int i = 0; i < 8; ++i) {
                start += spans.day;
                int dayOfWeek = start.GetDayOfWeek();
                if (dayOfWeek == kSunday && p.interval > 0 && p.interval != 1) {
                    start += CTimeSpan(int64_t(p.interval - 1) * spans.week.GetTotalSeconds());
                    dayOfWeek = start.GetDayOfWeek();
                }
                if (InMask(mask, dayOfWeek))
                    break;
            }
        }
        return true;
    case 2: // monthly on start's day of the month
        if (p.dayOfMonth > 0) {
            const struct tm local = Local(start);
            int year, month;
            MonthsOn(local, p.interval, year, month);
            if (auto next = DateLike(local, year, month, local.tm_mday))
                start = *next;
        }
        return true;
    case 3: // monthly on the Nth weekday
        if (mask > 0) {
            const struct tm local = Local(start);
            int year, month;
            MonthsOn(local, p.interval < 1 ? 1 : p.interval, year, month);
            if (auto first = DateLike(local, year, month, 1)) {
                start = *first;
                NthWeekday(p.instance, mask, spans, start);
            }
        }
        return true;
    case 5: { // yearly on the same month and day
        const struct tm local = Local(start);
        const int year = local.tm_year + 1900;
        if (year + 1 < 2038) {
            if (auto next = DateLike(local, year + 1, local.tm_mon + 1, local.tm_mday))
                start = *next;
        }
        return true;
    }
    case 6: { // yearly on the Nth weekday of start's month
        const struct tm local = Local(start);
        const int year = local.tm_year + 1900;
        if (mask > 0 && year + 1 < 2038) {
            if (auto first = DateLike(local, year + 1, local.tm_mon + 1, 1)) {
                start = *first;
                NthWeekday(p.instance, mask, spans, start);
            }
        }
        return true;
    }
    default:
        return false;
    }
}

// Keeps the local hour of `base` where a step crossed a change of daylight-saving time.
void AlignHour(CTime base, const Spans& spans, CTime& start) {
    const int hour = base.GetHour();
    int now = start.GetHour();
    for (int i = 0; i < 24 && now > hour; ++i) {
        start -= spans.hour;
        now = start.GetHour();
    }
    for (int i = 0; i < 24 && now < hour; ++i) {
        start += spans.hour;
        now = start.GetHour();
    }
}

// The longest single step of a pattern, in seconds (a bound).
int64_t LongestStep(const RecurrencePattern& p) {
    const int64_t interval = std::max<int64_t>(p.interval, 1);
    switch (p.recurrenceType) {
    case 0:
        return p.interval > 0 ? interval * kDay : 7 * kDay;
    case 1:
        return 8 * kDay + 2 * (interval - 1) * 7 * kDay;
    case 2:
        return interval * 31 * kDay + 3 * kDay;
    case 3:
        return (interval + 1) * 31 * kDay;
    default:
        return (366 + 31 + 7) * kDay;
    }
}

} // namespace

bool StepOnce(const RecurrencePattern& pattern, const Spans& spans, CTime& start) {
    const CTime base = start;
    if (!Step(pattern, spans, start)) {
        start = base;
        return false;
    }
    AlignHour(base, spans, start);
    return true;
}

int64_t AdvanceReach(const RecurrencePattern& pattern, int32_t leadMinutes) {
    const int64_t lead = std::clamp<int64_t>(leadMinutes, 0, 8 * 1440) * 60;
    return std::min<int64_t>(lead, 7 * kDay) + 60 + LongestStep(pattern) + 2 * 3600;
}

bool AdvanceLandsOnOccurrences(const RecurrencePattern& pattern, int64_t start, int32_t leadMinutes,
                               const std::function<bool(int64_t)>& isOccurrence) {
    const Spans spans;
    const int64_t week = spans.week.GetTotalSeconds();
    const int64_t lead = int64_t(leadMinutes) * 60;
    // The moments at which the search returns this occurrence: its start lies within the week
    // from the scan's minute, to the minute.
    const int64_t latest = start + 60;
    // The advance begins only once the reminder has passed.
    int64_t earliest = std::max(start - week - 60, start - lead + 1);
    if (earliest > latest)
        return true;
    if (start < 0 || start > INT32_MAX - LongestStep(pattern) - week)
        return false; // beyond what the scan's times can hold: assume the worst
    CTime at(static_cast<int32_t>(start));
    int64_t previous = start;
    for (int round = 0; round < 4000; ++round) {
        if (!StepOnce(pattern, spans, at))
            return true; // no step: the scan gives no reminder at all
        const int64_t next = at.GetTime();
        if (next <= previous)
            return true; // no progress: the advance ends with a reminder that has passed
        // It went on from `previous` only while that lay within the week from the moment.
        earliest = std::max(earliest, previous - week);
        // It stops here when this step's reminder has not passed.
        if (earliest <= std::min(latest, next - lead) && !isOccurrence(next))
            return false;
        // It goes on from here only for moments after this step's reminder.
        earliest = std::max(earliest, next - lead + 1);
        if (earliest > latest || next - week > latest)
            return true;
        previous = next;
    }
    return false;
}

} // namespace mail::pattern
