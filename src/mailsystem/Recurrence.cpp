// Recurrence rules mapped to Outlook patterns, and libical walks with limits of our own.
#include "mailsystem/Recurrence.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <strings.h>

namespace mail::recurrence {
namespace {

constexpr int64_t kDay = 86400;

struct Day {
    int weekday;  // 0 Sunday ... 6 Saturday
    int position; // 0: every such day; n: the nth; -n: the nth from the end
};

struct Parts {
    std::vector<Day> days;
    std::vector<int> months, monthDays, setPositions;
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
    parts.timeOfDay = !Values(rule.by_hour).empty() || !Values(rule.by_minute).empty() ||
                      !Values(rule.by_second).empty();
    parts.yearDays = !Values(rule.by_year_day).empty() || !Values(rule.by_week_no).empty();
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

bool IsWalkable(const icalrecurrencetype& rule) {
    // libical 3 searches for the next match without limit: at a frequency below a day, a rule
    // that matches rarely or never keeps it busy for hours.
    if (rule.freq != ICAL_DAILY_RECURRENCE && rule.freq != ICAL_WEEKLY_RECURRENCE &&
        rule.freq != ICAL_MONTHLY_RECURRENCE && rule.freq != ICAL_YEARLY_RECURRENCE)
        return false;
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
    return true;
}

int64_t DaysFromCivil(int64_t y, int month, int day) {
    const unsigned m = static_cast<unsigned>(month);
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(day) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

CivilDate CivilFromDays(int64_t z) {
    const int64_t days = z;
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
    const int weekday = static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    return {year, month, day, weekday};
}

namespace {

int DaysInMonth(int year, int month) {
    static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month];
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

int64_t StepBound(const icalrecurrencetype& rule) {
    const int64_t interval = rule.interval < 1 ? 1 : rule.interval;
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        return interval * kDay + 7 * kDay;
    case ICAL_WEEKLY_RECURRENCE:
        return interval * 7 * kDay + 7 * kDay;
    case ICAL_MONTHLY_RECURRENCE:
        return interval * 31 * kDay + 31 * kDay;
    default:
        return interval * 366 * kDay + 366 * kDay;
    }
}

Walk WalkRule(const icalrecurrencetype& rule, const icaltimetype& dtstart, int64_t dtstartInstant,
              int64_t from, int64_t to,
              const std::function<int64_t(const icaltimetype&)>& toInstant,
              const std::function<icaltimetype(int64_t)>& fromInstant) {
    Walk walk;
    if (!IsWalkable(rule))
        return walk;
    struct IteratorFree {
        void operator()(icalrecur_iterator* it) const { icalrecur_iterator_free(it); }
    };
    std::unique_ptr<icalrecur_iterator, IteratorFree> it(icalrecur_iterator_new(rule, dtstart));
    if (!it)
        return walk;
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
        icalrecur_iterator_set_start(it.get(), fromInstant(near));
    }
    for (int steps = 0;;) {
        const icaltimetype occurrence = icalrecur_iterator_next(it.get());
        if (icaltime_is_null_time(occurrence)) {
            walk.outcome = Walk::Ended;
            return walk;
        }
        if (++steps > kMaxSteps)
            break;
        const int64_t instant = toInstant(occurrence);
        walk.last = instant;
        if (instant > to) {
            walk.outcome = Walk::Reached;
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
