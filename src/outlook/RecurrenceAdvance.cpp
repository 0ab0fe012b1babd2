// Advancing a recurring appointment by its pattern, in local time.
#include "outlook/RecurrenceAdvance.h"

#include <optional>

namespace {

constexpr int kSunday = 1; // CTime::GetDayOfWeek

// A mask that names no weekday (none of bits 0 to 6) counts as no mask at all.
int32_t EffectiveMask(int32_t mask) {
    return (mask & 0x7F) == 0 ? 0 : mask;
}

bool InMask(int32_t mask, CTime t) {
    return (mask >> (t.GetDayOfWeek() - 1)) & 1;
}

// A local date with `like`'s time of day, normalised by the C library; nothing when it does not
// fit the 32-bit range.
std::optional<CTime> DateLike(CTime like, int year, int month, int day) {
    return CTime::FromLocal(year, month, day, like.GetHour(), like.GetMinute(), like.GetSecond());
}

// `months` months after start's month (after December comes January of the next year).
void MonthsOn(CTime start, int64_t months, int& year, int& month) {
    const int64_t index = int64_t(start.GetYear()) * 12 + (start.GetMonth() - 1) + months;
    year = static_cast<int>(index >= 0 ? index / 12 : (index - 11) / 12);
    month = static_cast<int>(index - int64_t(year) * 12) + 1;
}

// Adds days until start's weekday is in the mask; the mask names a weekday, so within a week.
void OnToMaskedDay(int32_t mask, const RecurrenceSpans& spans, CTime& start) {
    for (int i = 0; i < 7 && !InMask(mask, start); ++i)
        start += spans.day;
}

// The Nth weekday of the mask in `start`'s month, from the 1st; N of 5 reaches the last.
void NthWeekday(int32_t instance, int32_t mask, const RecurrenceSpans& spans, CTime& start) {
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
bool Step(const RecurrenceValues& p, const RecurrenceSpans& spans, CTime& start) {
    const int32_t mask = EffectiveMask(p.DayOfWeekMask);
    switch (p.RecurrenceType) {
    case 0: // daily
        if (p.Interval > 0) {
            start += CTimeSpan(int64_t(p.Interval) * spans.day.GetTotalSeconds());
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
                if (start.GetDayOfWeek() == kSunday && p.Interval > 0)
                    start += CTimeSpan(int64_t(p.Interval - 1) * spans.week.GetTotalSeconds());
                if (InMask(mask, start))
                    break;
            }
        }
        return true;
    case 2: // monthly on start's day of the month
        if (p.DayOfMonth > 0) {
            int year, month;
            MonthsOn(start, p.Interval, year, month);
            if (auto next = DateLike(start, year, month, start.GetDay()))
                start = *next;
        }
        return true;
    case 3: // monthly on the Nth weekday
        if (mask > 0) {
            int year, month;
            MonthsOn(start, p.Interval < 1 ? 1 : p.Interval, year, month);
            if (auto first = DateLike(start, year, month, 1)) {
                start = *first;
                NthWeekday(p.Instance, mask, spans, start);
            }
        }
        return true;
    case 5: // yearly on the same month and day
        if (start.GetYear() + 1 < 2038) {
            if (auto next = DateLike(start, start.GetYear() + 1, start.GetMonth(), start.GetDay()))
                start = *next;
        }
        return true;
    case 6: // yearly on the Nth weekday of start's month
        if (mask > 0 && start.GetYear() + 1 < 2038) {
            if (auto first = DateLike(start, start.GetYear() + 1, start.GetMonth(), 1)) {
                start = *first;
                NthWeekday(p.Instance, mask, spans, start);
            }
        }
        return true;
    default:
        return false;
    }
}

// Keeps the local hour of `base` where a step crossed a change of daylight-saving time.
void AlignHour(CTime base, const RecurrenceSpans& spans, CTime& start) {
    const int hour = base.GetHour();
    for (int i = 0; i < 24 && start.GetHour() > hour; ++i)
        start -= spans.hour;
    for (int i = 0; i < 24 && start.GetHour() < hour; ++i)
        start += spans.hour;
}

} // namespace

AdvanceOutcome AdvanceToNextOccurrence(const RecurrenceValues& pattern,
                                       const RecurrenceSpans& spans, CTime now, CTimeSpan lead,
                                       CTime& start, CTime& reminderTime) {
    const CTime limit = now + spans.week;
    CTime previous(0);
    // Every round moves start forward by at least a day and never past the limit a week ahead,
    // so the loop ends; the count is a second, independent bound.
    for (int round = 0; round < 4000 && reminderTime < now && start <= limit && start > previous;
         ++round) {
        previous = start;
        const CTime base = start;
        if (!Step(pattern, spans, start))
            return AdvanceOutcome::UnknownType;
        AlignHour(base, spans, start);
        reminderTime = start - lead;
    }
    return AdvanceOutcome::Stepped;
}
