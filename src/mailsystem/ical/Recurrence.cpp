// Recurrence rules mapped to Outlook patterns, and libical walks with limits of our own.
#include "mailsystem/ical/Recurrence.h"

#include "core/CivilDays.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <string>
#include <strings.h>

namespace mail::recurrence {
namespace {

using civil::CivilFromDays;
using civil::DaysFromCivil;
using CivilDate = civil::Date;

constexpr int64_t kDay = 86400;

struct Day {
    int weekday;  // 0 Sunday ... 6 Saturday
    int position; // 0: every such day; n: the nth; -n: the nth from the end
};

struct Parts {
    std::vector<Day> days;
    std::vector<int> months, monthDays, setPositions;
    std::vector<int> hours, minutes, seconds, yearDayValues, weekNumbers;
    bool leapMonth = false;
    bool timeOfDay = false; // BYHOUR, BYMINUTE or BYSECOND
    bool yearDays = false;  // BYYEARDAY or BYWEEKNO
};

template <size_t N> std::vector<int> Values(const short (&array)[N]) {
    std::vector<int> values;
    for (size_t i = 0; i < N && array[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
        values.push_back(array[i]);
    return values;
}

Parts PartsOf(const icalrecurrencetype& rule) {
    Parts parts;
    for (int value : Values(rule.by_day)) {
        const int weekday =
            static_cast<int>(icalrecurrencetype_day_day_of_week(static_cast<short>(value)));
        parts.days.push_back(
            {weekday - 1, icalrecurrencetype_day_position(static_cast<short>(value))});
    }
    for (int value : Values(rule.by_month)) {
        parts.leapMonth =
            parts.leapMonth || icalrecurrencetype_month_is_leap(static_cast<short>(value));
        parts.months.push_back(icalrecurrencetype_month_month(static_cast<short>(value)));
    }
    parts.monthDays = Values(rule.by_month_day);
    parts.setPositions = Values(rule.by_set_pos);
    parts.hours = Values(rule.by_hour);
    parts.minutes = Values(rule.by_minute);
    parts.seconds = Values(rule.by_second);
    parts.yearDayValues = Values(rule.by_year_day);
    parts.weekNumbers = Values(rule.by_week_no);
    parts.timeOfDay = !parts.hours.empty() || !parts.minutes.empty() || !parts.seconds.empty();
    parts.yearDays = !parts.yearDayValues.empty() || !parts.weekNumbers.empty();
    return parts;
}

bool IsGregorian(const icalrecurrencetype& rule) {
    return !rule.rscale || strcasecmp(rule.rscale, "GREGORIAN") == 0;
}

int MaskOf(const std::vector<Day>& days) {
    int mask = 0;
    for (const Day& d : days) {
        if (d.weekday >= 0 && d.weekday <= 6)
            mask |= 1 << d.weekday;
    }
    return mask;
}

bool AllEveryDay(const std::vector<Day>& days) {
    for (const Day& d : days) {
        if (d.position != 0)
            return false;
    }
    return true;
}

// Outlook's Instance for an ordinal: 1 to 4, or 5 for the last; 0 when it has none.
int InstanceOf(int position) {
    if (position >= 1 && position <= 4)
        return position;
    return position == -1 ? 5 : 0;
}

// The Instance and mask of an Nth-weekday rule (monthly or within one month of the year):
// one ordinal day ("2TU", "-1FR"), or plain days with one BYSETPOS that the pattern's search
// reproduces (any position for one day, the first for several). {0, 0} when neither.
std::pair<int, int> NthWeekday(const Parts& parts) {
    if (parts.setPositions.empty() && parts.days.size() == 1)
        return {InstanceOf(parts.days[0].position), MaskOf(parts.days)};
    if (parts.setPositions.size() == 1 && AllEveryDay(parts.days) && !parts.days.empty()) {
        const int instance = InstanceOf(parts.setPositions[0]);
        if (parts.days.size() == 1 || instance == 1)
            return {instance, MaskOf(parts.days)};
    }
    return {0, 0};
}

} // namespace

RecurrencePattern MapRule(const icalrecurrencetype& rule, const icaltimetype& dtstart) {
    RecurrencePattern none; // type 4
    if (!IsGregorian(rule) || rule.interval < 1)
        return none;
    const Parts parts = PartsOf(rule);
    if (parts.timeOfDay || parts.yearDays || parts.leapMonth)
        return none;
    const int startWeekday = icaltime_day_of_week(dtstart) - 1; // 0 Sunday
    RecurrencePattern p;
    p.interval = rule.interval;
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        if (!parts.months.empty() || !parts.monthDays.empty() || !parts.setPositions.empty())
            return none;
        if (parts.days.empty()) {
            p.recurrenceType = 0;
            return p;
        }
        if (!AllEveryDay(parts.days) || rule.interval != 1)
            return none;
        p.recurrenceType = 0;
        p.interval = 0; // "every weekday": the mask decides
        p.dayOfWeekMask = MaskOf(parts.days);
        return p;
    case ICAL_WEEKLY_RECURRENCE: {
        if (!parts.months.empty() || !parts.monthDays.empty() || !parts.setPositions.empty() ||
            !AllEveryDay(parts.days))
            return none;
        p.recurrenceType = 1;
        p.dayOfWeekMask = parts.days.empty() ? 1 << startWeekday : MaskOf(parts.days);
        // The pattern's weeks begin on Sunday. With an interval, a rule whose weeks begin later
        // groups the days before its week start with the following week: another series.
        const int weekStart = rule.week_start == ICAL_NO_WEEKDAY ? 1 : int(rule.week_start) - 1;
        if (rule.interval > 1 && (p.dayOfWeekMask & ((1 << weekStart) - 1)) != 0)
            return none;
        return p;
    }
    case ICAL_MONTHLY_RECURRENCE:
        if (!parts.months.empty())
            return none;
        if (parts.days.empty()) {
            if (!parts.setPositions.empty() || parts.monthDays.size() > 1)
                return none;
            p.recurrenceType = 2;
            p.dayOfMonth = parts.monthDays.empty() ? dtstart.day : parts.monthDays[0];
            if (p.dayOfMonth < 1 || p.dayOfMonth > 31)
                return none;
            return p;
        } else {
            if (!parts.monthDays.empty())
                return none;
            const auto [instance, mask] = NthWeekday(parts);
            if (instance == 0)
                return none;
            p.recurrenceType = 3;
            p.instance = instance;
            p.dayOfWeekMask = mask;
            return p;
        }
    case ICAL_YEARLY_RECURRENCE: {
        if (rule.interval != 1 || parts.months.size() > 1)
            return none;
        p.monthOfYear = parts.months.empty() ? dtstart.month : parts.months[0];
        if (parts.days.empty()) {
            if (!parts.setPositions.empty() || parts.monthDays.size() > 1)
                return none;
            p.recurrenceType = 5;
            p.dayOfMonth = parts.monthDays.empty() ? dtstart.day : parts.monthDays[0];
            if (p.dayOfMonth < 1 || p.dayOfMonth > 31)
                return none;
            return p;
        }
        // Without BYMONTH an ordinal weekday counts through the whole year.
        if (parts.months.empty() || !parts.monthDays.empty())
            return none;
        const auto [instance, mask] = NthWeekday(parts);
        if (instance == 0)
            return none;
        p.recurrenceType = 6;
        p.instance = instance;
        p.dayOfWeekMask = mask;
        return p;
    }
    default:
        return none;
    }
}

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

namespace {

using civil::CivilFromDays;
using civil::DaysFromCivil;
using civil::DaysInMonth;
using CivilDate = civil::Date;

bool SameWallClock(const icaltimetype& a, const icaltimetype& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day &&
           (a.is_date || b.is_date ||
            (a.hour == b.hour && a.minute == b.minute && a.second == b.second));
}

// Where a walk that skips ahead to `near` (wall-clock) begins. Below a day libical steps on from
// the time it is given, so that must be a step of the series: DTSTART's time of day on a day a
// whole number of the interval's periods after DTSTART's day.
icaltimetype StartNear(const icalrecurrencetype& rule, const icaltimetype& dtstart,
                       icaltimetype near) {
    int64_t minutesPerStep = 0;
    if (rule.freq == ICAL_HOURLY_RECURRENCE && rule.by_hour[0] == ICAL_RECURRENCE_ARRAY_MAX)
        minutesPerStep = int64_t(rule.interval) * 60;
    else if (rule.freq == ICAL_MINUTELY_RECURRENCE &&
             rule.by_minute[0] == ICAL_RECURRENCE_ARRAY_MAX)
        minutesPerStep = rule.interval;
    if (minutesPerStep <= 0)
        return near;
    const int64_t periodDays = minutesPerStep / std::gcd(minutesPerStep, int64_t(1440));
    const int64_t first = DaysFromCivil(dtstart.year, dtstart.month, dtstart.day);
    int64_t day = DaysFromCivil(near.year, near.month, near.day);
    if (day < first)
        return dtstart;
    day -= (day - first) % periodDays;
    const CivilDate date = CivilFromDays(day);
    icaltimetype start = dtstart;
    start.year = date.year;
    start.month = date.month;
    start.day = date.day;
    return start;
}

} // namespace

bool MayOccur(const icalrecurrencetype& rule, int year, int month, int day, int64_t firstDay,
              int64_t lastDay) {
    if (lastDay - firstDay > 400)
        return true;
    if (rule.freq != ICAL_MONTHLY_RECURRENCE && rule.freq != ICAL_YEARLY_RECURRENCE)
        return true;
    const Parts parts = PartsOf(rule);
    if (parts.timeOfDay || parts.yearDays || parts.leapMonth || !parts.setPositions.empty())
        return true;
    // DTSTART is always the first occurrence, whether or not the rule selects it.
    const int64_t startDay = DaysFromCivil(year, month, day);
    if (startDay >= firstDay && startDay <= lastDay)
        return true;
    if (!parts.days.empty() && !parts.monthDays.empty())
        return true;
    std::vector<int> months = parts.months;
    if (rule.freq == ICAL_MONTHLY_RECURRENCE) {
        if (!months.empty())
            return true;
    } else if (months.empty()) {
        if (!parts.days.empty())
            return true; // ordinal weekdays counted through the year
        if (parts.monthDays.empty())
            months.push_back(month);
    }
    std::vector<int> monthDays = parts.monthDays;
    if (parts.days.empty() && monthDays.empty())
        monthDays.push_back(day);
    for (int d : monthDays) {
        if (d < 1)
            return true;
    }
    for (int64_t n = firstDay; n <= lastDay; ++n) {
        const CivilDate date = CivilFromDays(n);
        if (!months.empty() && std::find(months.begin(), months.end(), date.month) == months.end())
            continue;
        if (!monthDays.empty()) {
            if (std::find(monthDays.begin(), monthDays.end(), date.day) != monthDays.end())
                return true;
            continue;
        }
        for (const Day& d : parts.days) {
            if (d.weekday != date.weekday)
                continue;
            if (d.position == 0 || (d.position > 0 && (date.day - 1) / 7 + 1 == d.position) ||
                (d.position < 0 &&
                 (DaysInMonth(date.year, date.month) - date.day) / 7 + 1 == -d.position))
                return true;
        }
    }
    return false;
}

Walk WalkRule(const icalrecurrencetype& rule, const icaltimetype& dtstart, int64_t dtstartInstant,
              int64_t from, int64_t to,
              const std::function<int64_t(const icaltimetype&)>& toInstant,
              const std::function<icaltimetype(int64_t)>& fromInstant, bool startCounts) {
    Walk walk;
    if (!IsWalkable(rule, dtstart))
        return walk;
    struct IteratorFree {
        void operator()(icalrecur_iterator* it) const { icalrecur_iterator_free(it); }
    };
    std::unique_ptr<icalrecur_iterator, IteratorFree> it(icalrecur_iterator_new(rule, dtstart));
    if (!it)
        return walk;
    // DTSTART is the first of the COUNT occurrences even where the rule itself does not give it
    // (the caller adds it); libical counts only what the rule gives, so one fewer is taken.
    bool checkFirst = rule.count > 0 && startCounts;
    int64_t left = rule.count > 0 ? rule.count : INT64_MAX; // occurrences still to take
    // Start near the range instead of at DTSTART (impossible with COUNT, which counts from
    // DTSTART). Two days before `from` cover any zone offset.
    const int64_t near = from - 2 * kDay;
    if (rule.count == 0 && dtstartInstant < near) {
        const int64_t until = icaltime_is_null_time(rule.until) ? INT64_MAX
                              : icaltime_is_utc(rule.until) ? int64_t(icaltime_as_timet(rule.until))
                                                            : toInstant(rule.until);
        if (until < near) {
            walk.outcome = Walk::Ended;
            return walk;
        }
        icalrecur_iterator_set_start(it.get(), StartNear(rule, dtstart, fromInstant(near)));
    }
    for (int steps = 0;;) {
        const icaltimetype occurrence = icalrecur_iterator_next(it.get());
        if (checkFirst) {
            checkFirst = false;
            if (!icaltime_is_null_time(occurrence) && !SameWallClock(occurrence, dtstart))
                --left;
        }
        if (icaltime_is_null_time(occurrence) || left-- <= 0) {
            walk.outcome = Walk::Ended;
            return walk;
        }
        if (++steps > kMaxSteps)
            break;
        const int64_t instant = toInstant(occurrence);
        if (instant > to) {
            walk.outcome = Walk::Reached;
            walk.beyond = {occurrence, instant};
            return walk;
        }
        if (instant >= from) {
            if (walk.occurrences.size() >= kMaxOccurrences)
                break;
            walk.occurrences.emplace_back(occurrence, instant);
        }
    }
    walk.occurrences.clear();
    walk.outcome = Walk::Refused;
    return walk;
}

} // namespace mail::recurrence
