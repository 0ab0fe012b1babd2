// The parts of a recurrence rule as the rule's readers compare them, shared by the pattern
// mapping, the walks and the checks of which rules are bounded.
#pragma once

#include <libical/ical.h>
#include <strings.h>
#include <vector>

namespace mail::recurrence::detail {

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

template <size_t N> inline std::vector<int> Values(const short (&array)[N]) {
    std::vector<int> values;
    for (size_t i = 0; i < N && array[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
        values.push_back(array[i]);
    return values;
}

inline Parts PartsOf(const icalrecurrencetype& rule) {
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

inline bool IsGregorian(const icalrecurrencetype& rule) {
    return !rule.rscale || strcasecmp(rule.rscale, "GREGORIAN") == 0;
}

} // namespace mail::recurrence::detail
