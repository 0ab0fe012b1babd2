// Automation dates: conversions to and from broken-down local time, instants and DOS dates.
#pragma once

#include "OleTypes.h"
#include "core/CTime.h"
#include "core/CivilDays.h"

#include <cstdint>
#include <optional>

// A broken-down local date and time, as SYSTEMTIME holds it (without milliseconds).
struct OleLocalTime {
    int year = 0;      // 100 to 9999
    int month = 0;     // 1 to 12
    int day = 0;       // 1 to the month's length
    int hour = 0;      // 0 to 23
    int minute = 0;    // 0 to 59
    int second = 0;    // 0 to 59
    int dayOfWeek = 0; // 0 Sunday to 6 Saturday; filled on output, ignored on input
};

inline constexpr DATE kOleDateMin = -657434.0; // 1 January 100 00:00
inline constexpr DATE kOleDateMax = 2958465.0; // 31 December 9999 00:00; its fraction may follow
// Outlook's "None" date (1 January 4501), what a date property without a value reads as.
inline constexpr DATE kOleDateNone = 949998.0;

// As VariantTimeToSystemTime: the date rounded to the nearest second (a time that rounds up to
// midnight moves to the next day). False for NaN and outside 1 January 100 to 31 December 9999.
bool VariantTimeToLocalTime(DATE date, OleLocalTime& out);
// As SystemTimeToVariantTime: false when a field is out of its range (nothing is normalised).
bool LocalTimeToVariantTime(const OleLocalTime& time, DATE& out);

// As VariantTimeToDosDateTime: TRUE (1) with the DOS date (day | month << 5 | (year - 1980) << 9)
// and time (second / 2 | minute << 5 | hour << 11) of `date`, rounded to the nearest second and
// then down to an even second; FALSE (0) with both outputs untouched when the date lies outside
// the years 1980 to 2107 or cannot be converted.
int VariantTimeToDosDateTime(DATE date, WORD* dosDate, WORD* dosTime);
// The fields of a DOS date and time; false when one is out of its range (month 0, second 60...).
bool DosDateTimeToLocalTime(WORD dosDate, WORD dosTime, OleLocalTime& out);
// The calendar time of a DOS date and time read as local time (MFC's CTime(WORD, WORD, int));
// nothing when the fields are invalid or the time does not fit the 32-bit CTime.
std::optional<CTime> DosDateTimeToCTime(WORD dosDate, WORD dosTime, int nDST = -1);

// The automation date of an instant (seconds since 1970, UTC) in local time. False when the C
// library cannot break it down or the year lies outside 100 to 9999.
bool UnixTimeToVariantTime(int64_t seconds, DATE& out);

namespace automation {

using civil::DaysFromCivil;
using civil::DaysInMonth;

} // namespace automation
