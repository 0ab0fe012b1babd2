// Automation date conversions in proleptic Gregorian days, independent of the C library's range.
#include "OleDate.h"

#include "core/LocalTime.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace automation {} // namespace automation

namespace {

using automation::DaysFromCivil;
using automation::DaysInMonth;

// 30 December 1899, day 0 of automation dates, in days since 1970.
constexpr int64_t kDateEpoch = -25569;

bool ValidFields(const OleLocalTime& t, int minYear, int maxYear) {
    return t.year >= minYear && t.year <= maxYear && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// The automation date of a day (days since 1970) and a time of day in seconds.
DATE ToDate(int64_t daysSince1970, int secondOfDay) {
    const double days = double(daysSince1970 - kDateEpoch);
    const double fraction = secondOfDay / 86400.0;
    return days < 0 ? days - fraction : days + fraction;
}

} // namespace

bool VariantTimeToLocalTime(DATE date, OleLocalTime& out) {
    if (std::isnan(date) || date <= kOleDateMin - 1.0 || date >= kOleDateMax + 1.0)
        return false;
    const double whole = std::trunc(date);
    int64_t day = int64_t(whole) + kDateEpoch;
    int64_t second = std::llround(std::fabs(date - whole) * 86400.0);
    if (second >= 86400) {
        second -= 86400;
        ++day;
    }
    const civil::Date civilDate = civil::CivilFromDays(day);
    if (civilDate.year < 100 || civilDate.year > 9999)
        return false;
    OleLocalTime t;
    t.year = int(civilDate.year);
    t.month = civilDate.month;
    t.day = civilDate.day;
    t.hour = int(second / 3600);
    t.minute = int(second / 60 % 60);
    t.second = int(second % 60);
    t.dayOfWeek = civil::Weekday(day);
    out = t;
    return true;
}

bool LocalTimeToVariantTime(const OleLocalTime& time, DATE& out) {
    if (!ValidFields(time, 100, 9999))
        return false;
    out = ToDate(DaysFromCivil(time.year, time.month, time.day),
                 time.hour * 3600 + time.minute * 60 + time.second);
    return true;
}

int VariantTimeToDosDateTime(DATE date, WORD* dosDate, WORD* dosTime) {
    OleLocalTime t;
    if (!VariantTimeToLocalTime(date, t) || t.year < 1980 || t.year > 2107)
        return 0;
    if (dosDate)
        *dosDate = WORD(t.day | t.month << 5 | (t.year - 1980) << 9);
    if (dosTime)
        *dosTime = WORD(t.second / 2 | t.minute << 5 | t.hour << 11);
    return 1;
}

bool DosDateTimeToLocalTime(WORD dosDate, WORD dosTime, OleLocalTime& out) {
    OleLocalTime t;
    t.day = dosDate & 0x1F;
    t.month = (dosDate >> 5) & 0x0F;
    t.year = (dosDate >> 9) + 1980;
    t.second = (dosTime & 0x1F) * 2;
    t.minute = (dosTime >> 5) & 0x3F;
    t.hour = dosTime >> 11;
    if (!ValidFields(t, 1980, 2107))
        return false;
    t.dayOfWeek = civil::Weekday(DaysFromCivil(t.year, t.month, t.day));
    out = t;
    return true;
}

std::optional<CTime> DosDateTimeToCTime(WORD dosDate, WORD dosTime, int nDST) {
    // The fields as DosDateTimeToLocalTime reads them, without the day of the week it works out.
    OleLocalTime t;
    t.day = dosDate & 0x1F;
    t.month = (dosDate >> 5) & 0x0F;
    t.year = (dosDate >> 9) + 1980;
    t.second = (dosTime & 0x1F) * 2;
    t.minute = (dosTime >> 5) & 0x3F;
    t.hour = dosTime >> 11;
    if (!ValidFields(t, 1980, 2107))
        return std::nullopt;
    return CTime::FromLocal(t.year, t.month, t.day, t.hour, t.minute, t.second, nDST);
}

bool UnixTimeToVariantTime(int64_t seconds, DATE& out) {
    struct tm tm;
    if (!local_time::Breakdown(seconds, tm))
        return false;
    const int64_t year = int64_t(tm.tm_year) + 1900;
    if (year < 100 || year > 9999)
        return false;
    out = ToDate(DaysFromCivil(year, tm.tm_mon + 1, tm.tm_mday),
                 tm.tm_hour * 3600 + tm.tm_min * 60 + std::min(tm.tm_sec, 59));
    return true;
}
