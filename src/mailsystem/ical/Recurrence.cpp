// Recurrence rules mapped to Outlook patterns, and libical walks with limits of our own (which
// rules are walked at all: RuleBounds.cpp).
#include "mailsystem/ical/Recurrence.h"

#include "core/CivilDays.h"
#include "mailsystem/ical/RuleParts.h"

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
using namespace detail;

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
