// Dates of the proleptic Gregorian calendar counted in days since 1 January 1970, for any year
// the C library's time functions may not cover.
#pragma once

#include <cstdint>

namespace civil {

struct Date {
    int64_t year;
    int month;   // 1 to 12
    int day;     // 1 to 31
    int weekday; // 0 Sunday to 6 Saturday
};

// Days from 1 January 1970 to the date (negative before); `month` 1 to 12.
int64_t DaysFromCivil(int64_t year, int month, int day);
// The date `days` after 1 January 1970.
Date CivilFromDays(int64_t days);
// 0 Sunday to 6 Saturday.
int Weekday(int64_t days);
// 28 to 31; `month` 1 to 12.
int DaysInMonth(int64_t year, int month);

} // namespace civil
