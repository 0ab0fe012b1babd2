// Which recurrence rules libical walks in bounded time: day filters that some day passes, gaps
// between passing days, sub-daily candidates, and positions within a period.
#include "core/CivilDays.h"
#include "mailsystem/ical/Recurrence.h"
#include "mailsystem/ical/RuleParts.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <numeric>

namespace mail::recurrence {

using civil::CivilFromDays;
using civil::DaysFromCivil;
using CivilDate = civil::Date;
using namespace detail;

namespace {

bool Contains(const std::vector<int>& values, int value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// Whether libical's filters below a day let a day pass: it compares the day's own month, day of
// the month, day of the year and weekday with the listed values, so negative days and ordinal
// weekdays never pass.
bool DayPasses(const Parts& parts, const CivilDate& date, int dayOfYear) {
    if (!parts.months.empty() && !Contains(parts.months, date.month))
        return false;
    if (!parts.monthDays.empty() && !Contains(parts.monthDays, date.day))
        return false;
    if (!parts.yearDayValues.empty() && !Contains(parts.yearDayValues, dayOfYear))
        return false;
    if (parts.days.empty())
        return true;
    for (const Day& d : parts.days) {
        if (d.position == 0 && d.weekday == date.weekday)
            return true;
    }
    return false;
}

// The longest run of days, over a whole 400-year cycle of the calendar, from one day that passes
// the day filters to the next; more than `limit` (or none passing): limit + 1.
int64_t LongestDayGap(const Parts& parts, int64_t limit) {
    if (parts.months.empty() && parts.monthDays.empty() && parts.yearDayValues.empty()) {
        // Weekdays alone: the longest way round the week from one listed day to the next.
        int mask = 0;
        for (const Day& d : parts.days)
            mask |= d.position == 0 ? 1 << d.weekday : 0;
        if (parts.days.empty())
            return 1;
        if (mask == 0)
            return limit + 1;
        int64_t longest = 0;
        for (int day = 0; day < 7; ++day) {
            if (!(mask >> day & 1))
                continue;
            int gap = 1;
            while (!(mask >> ((day + gap) % 7) & 1))
                ++gap;
            longest = std::max<int64_t>(longest, gap);
        }
        return std::min(longest, limit + 1);
    }
    constexpr int64_t kCycle = 146097; // days in 400 Gregorian years (a whole number of weeks)
    const int64_t base = DaysFromCivil(2000, 1, 1);
    int64_t first = -1, last = -1, longest = 0, yearStart = base;
    int year = 2000;
    for (int64_t n = 0; n < kCycle; ++n) {
        const CivilDate date = CivilFromDays(base + n);
        if (date.year != year) {
            year = date.year;
            yearStart = base + n;
        }
        if (!DayPasses(parts, date, static_cast<int>(base + n - yearStart + 1))) {
            // The run since the last passing day (or, before the first, the run that wraps
            // around the cycle to it) is already too long.
            if ((last >= 0 ? n - last : n) > limit)
                return limit + 1;
            continue;
        }
        if (first < 0)
            first = n;
        else
            longest = std::max(longest, n - last);
        last = n;
    }
    if (first < 0)
        return limit + 1;
    longest = std::max(longest, first + kCycle - last);
    return std::min(longest, limit + 1);
}

// HOURLY and MINUTELY: libical steps through candidate times (by the interval, or through the
// BYHOUR or BYMINUTE list, ignoring the interval) and tries each against the other parts, up to
// the year 2582. Bounded when some candidate it can reach passes and passing days are not too
// rare for the number of candidates in a day.
bool SubDailyIsBounded(const icalrecurrencetype& rule, const Parts& parts,
                       const icaltimetype& dtstart) {
    // BYSETPOS is ignored below a day (every candidate would be an occurrence); libical refuses
    // BYWEEKNO there itself.
    if (!parts.setPositions.empty() || !parts.weekNumbers.empty())
        return false;
    const bool hourly = rule.freq == ICAL_HOURLY_RECURRENCE;
    const int64_t interval = rule.interval;
    const double expansions = double(std::max<size_t>(parts.seconds.size(), 1)) *
                              double(hourly ? std::max<size_t>(parts.minutes.size(), 1) : 1);
    const bool listed = hourly ? !parts.hours.empty() : !parts.minutes.empty();
    double perDay;
    if (listed)
        perDay = double(hourly ? parts.hours.size() : 24 * parts.minutes.size()) * expansions;
    else
        perDay = (hourly ? 24.0 : 1440.0) / double(interval) * expansions;
    if (!listed) {
        // Stepping by the interval reaches, within a week, only the minutes congruent to the
        // first candidate's modulo gcd(step, week): one of them must pass the weekday and hour.
        constexpr int64_t kWeek = 7 * 1440;
        const int64_t step = hourly ? interval * 60 : interval;
        const int64_t g = std::gcd(step, kWeek);
        const int hour = hourly || parts.hours.empty() ? dtstart.hour : parts.hours[0];
        const int weekday = icaltime_day_of_week(dtstart) - 1;
        const int64_t first = weekday * 1440 + hour * 60 + (hourly ? 0 : dtstart.minute);
        bool reachable = false;
        for (int64_t m = first % g; m < kWeek && !reachable; m += g) {
            const int day = static_cast<int>(m / 1440);
            bool dayOk = parts.days.empty();
            for (const Day& d : parts.days)
                dayOk = dayOk || (d.position == 0 && d.weekday == day);
            const bool hourOk =
                hourly || parts.hours.empty() || Contains(parts.hours, int(m % 1440 / 60));
            reachable = dayOk && hourOk;
        }
        if (!reachable)
            return false;
    }
    const int64_t limit = static_cast<int64_t>(double(kMaxCandidatesBetween) / perDay);
    return LongestDayGap(parts, std::max<int64_t>(limit, 1)) <= limit;
}

// Whether some day of a month passes BYMONTH, BYMONTHDAY and BYDAY with its ordinals counted
// within the month, trying every length of month (that BYMONTH allows) and every weekday it can
// begin on.
bool SomeDayOfAMonthPasses(const Parts& parts) {
    const auto hasLength = [](int month, int length) {
        if (month == 2)
            return length == 28 || length == 29;
        const bool thirty = month == 4 || month == 6 || month == 9 || month == 11;
        return length == (thirty ? 30 : 31);
    };
    for (int length = 28; length <= 31; ++length) {
        if (!parts.months.empty() &&
            std::none_of(parts.months.begin(), parts.months.end(),
                         [&](int month) { return hasLength(month, length); }))
            continue;
        for (int first = 0; first < 7; ++first) {
            for (int d = 1; d <= length; ++d) {
                if (!parts.monthDays.empty() && !Contains(parts.monthDays, d) &&
                    !Contains(parts.monthDays, d - length - 1))
                    continue;
                const int weekday = (first + d - 1) % 7;
                const bool dayPasses =
                    parts.days.empty() ||
                    std::any_of(parts.days.begin(), parts.days.end(), [&](const Day& day) {
                        return day.weekday == weekday &&
                               (day.position == 0 || day.position == (d - 1) / 7 + 1 ||
                                day.position == -((length - d) / 7 + 1));
                    });
                if (dayPasses)
                    return true;
            }
        }
    }
    return false;
}

// At least as many occurrences as one period of a rule of a day or longer can hold, for
// BYSETPOS: a position beyond it never selects one.
int64_t MostInAPeriod(const icalrecurrencetype& rule, const Parts& parts) {
    int64_t ordinalDays = 0, plainDays = 0;
    for (const Day& d : parts.days)
        (d.position == 0 ? plainDays : ordinalDays) += 1;
    const int64_t months = parts.months.empty() ? 12 : int64_t(parts.months.size());
    int64_t days = 1;
    switch (rule.freq) {
    case ICAL_WEEKLY_RECURRENCE:
        days = parts.days.empty() ? 1 : 7;
        break;
    case ICAL_MONTHLY_RECURRENCE:
        days = parts.monthDays.empty() && parts.days.empty() ? 1 : 31;
        if (!parts.monthDays.empty())
            days = std::min<int64_t>(days, int64_t(parts.monthDays.size()));
        if (!parts.days.empty())
            days = std::min(days, ordinalDays + 5 * plainDays);
        break;
    case ICAL_YEARLY_RECURRENCE:
        days = parts.yearDays ? 366 : months * 31;
        break;
    default:
        break;
    }
    const auto count = [](const std::vector<int>& values) {
        return std::max<int64_t>(1, int64_t(values.size()));
    };
    return days * count(parts.hours) * count(parts.minutes) * count(parts.seconds);
}

// Filters that no day can pass make libical search for a first occurrence up to its year limit,
// seconds of work each time (BYDAY=6WE or BYDAY=1MO;BYMONTHDAY=31 in a month, an ordinal
// weekday in a daily rule, BYSETPOS=40 among the Mondays of a month).
bool CanMatch(const icalrecurrencetype& rule, const Parts& parts) {
    const bool withinMonths = rule.freq == ICAL_MONTHLY_RECURRENCE ||
                              (rule.freq == ICAL_YEARLY_RECURRENCE && !parts.months.empty());
    if (withinMonths && !parts.yearDays && !SomeDayOfAMonthPasses(parts))
        return false;
    if (rule.freq == ICAL_DAILY_RECURRENCE && !parts.days.empty() &&
        std::none_of(parts.days.begin(), parts.days.end(),
                     [](const Day& d) { return d.position == 0; }))
        return false;
    if (!parts.setPositions.empty()) {
        const int64_t most = MostInAPeriod(rule, parts);
        if (std::none_of(parts.setPositions.begin(), parts.setPositions.end(),
                         [&](int p) { return p != 0 && std::abs(p) <= most; }))
            return false;
    }
    return true;
}

} // namespace

bool IsWalkable(const icalrecurrencetype& rule, const icaltimetype& dtstart) {
    if (rule.interval < 1 || rule.interval > kMaxInterval || rule.count < 0 || !IsGregorian(rule))
        return false;
    const Parts parts = PartsOf(rule);
    if (parts.leapMonth)
        return false;
    if (!parts.months.empty() && !parts.monthDays.empty()) {
        static constexpr int kLongest[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        bool meet = false;
        for (int month : parts.months) {
            for (int day : parts.monthDays) {
                if (month >= 1 && month <= 12 && day != 0 && std::abs(day) <= kLongest[month])
                    meet = true;
            }
        }
        if (!meet)
            return false;
    }
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
    case ICAL_WEEKLY_RECURRENCE:
    case ICAL_MONTHLY_RECURRENCE:
    case ICAL_YEARLY_RECURRENCE:
        return CanMatch(rule, parts);
    case ICAL_HOURLY_RECURRENCE:
    case ICAL_MINUTELY_RECURRENCE:
        return !dtstart.is_date && SubDailyIsBounded(rule, parts, dtstart);
    default:
        // SECONDLY: a second is too fine a step for any filter to stay bounded.
        return false;
    }
}

} // namespace mail::recurrence
