// Calendar time: local breakdown through the C library, formatting in the "C" locale.
#include "CTime.h"

#include "Clock.h"
#include "LocalTime.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <locale.h>

namespace {

// One "C" locale object for the whole process; the process locale itself is never changed.
locale_t CLocale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// The directives the program's own patterns use, as the "C" locale's strftime gives them,
// without strftime's cost (a scan formats every reminder's times). False for anything else, and
// for a result that would not fit `out` (`size` characters).
bool FormatSimply(const struct tm& tm, const char* pattern, char* out, size_t size, size_t& n) {
    const int year = tm.tm_year + 1900;
    if (year < 1000 || year > 9999)
        return false;
    n = 0;
    const auto put = [&](char c) {
        if (n == size)
            return false;
        out[n++] = c;
        return true;
    };
    const auto two = [&](int value) {
        return put(char('0' + value / 10 % 10)) && put(char('0' + value % 10));
    };
    for (const char* p = pattern; *p; ++p) {
        bool fits = true;
        if (*p != '%') {
            fits = put(*p);
        } else {
            switch (*++p) {
            case 'H':
                fits = two(tm.tm_hour);
                break;
            case 'I':
                fits = two(tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12);
                break;
            case 'M':
                fits = two(tm.tm_min);
                break;
            case 'S':
                fits = two(tm.tm_sec);
                break;
            case 'd':
                fits = two(tm.tm_mday);
                break;
            case 'm':
                fits = two(tm.tm_mon + 1);
                break;
            case 'y':
                fits = two(year % 100);
                break;
            case 'Y':
                fits = two(year / 100) && two(year % 100);
                break;
            case 'x': // the "C" locale's date
                fits = two(tm.tm_mon + 1) && put('/') && two(tm.tm_mday) && put('/') &&
                       two(year % 100);
                break;
            case 'p':
                fits = put(tm.tm_hour < 12 ? 'A' : 'P') && put('M');
                break;
            case '%':
                fits = put('%');
                break;
            default:
                return false;
            }
        }
        if (!fits)
            return false;
    }
    return true;
}

CString FormatTm(const struct tm& tm, const char* pattern) {
    char buf[256];
    size_t n = 0;
    if (!FormatSimply(tm, pattern, buf, sizeof buf, n))
        n = strftime_l(buf, sizeof buf, pattern, &tm, CLocale());
    return CString(buf, n);
}

} // namespace

CTime CTime::Saturate(int64_t seconds) {
    if (seconds > INT32_MAX)
        return CTime(INT32_MAX);
    if (seconds < INT32_MIN)
        return CTime(INT32_MIN);
    return CTime(static_cast<int32_t>(seconds));
}

int64_t LocalTimeToInstant(int year, int month, int day, int hour, int minute, int second,
                           int nDST) {
    if (nDST < 0)
        return local_time::Instant(year, month, day, hour, minute, second);
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = nDST;
    return static_cast<int64_t>(mktime(&tm));
}

std::optional<CTime> CTime::FromLocal(int year, int month, int day, int hour, int minute,
                                      int second, int nDST) {
    errno = 0;
    const int64_t t = LocalTimeToInstant(year, month, day, hour, minute, second, nDST);
    // -1 is both an error and 23:59:59 on 31 December 1969 (UTC); errno tells them apart.
    if (t == -1 && errno != 0)
        return std::nullopt;
    if (t > INT32_MAX || t < INT32_MIN)
        return std::nullopt;
    return CTime(static_cast<int32_t>(t));
}

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int nDST) {
    m_time = FromLocal(year, month, day, hour, minute, second, nDST).value_or(CTime()).m_time;
}

CTime CTime::GetCurrentTime() {
    return Clock::Now();
}

bool CTime::GetLocalTm(struct tm* out) const {
    return out && local_time::Breakdown(m_time, *out);
}

int CTime::GetYear() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_year + 1900 : 0;
}
int CTime::GetMonth() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_mon + 1 : 0;
}
int CTime::GetDay() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_mday : 0;
}
int CTime::GetHour() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_hour : 0;
}
int CTime::GetMinute() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_min : 0;
}
int CTime::GetSecond() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_sec : 0;
}
int CTime::GetDayOfWeek() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_wday + 1 : 0;
}

CString CTime::Format(const char* pattern) const {
    struct tm tm;
    if (!GetLocalTm(&tm))
        return CString();
    return FormatTm(tm, pattern);
}

CString CTime::FormatGmt(const char* pattern) const {
    const time_t t = m_time;
    struct tm tm;
    if (!gmtime_r(&t, &tm))
        return CString();
    return FormatTm(tm, pattern);
}

bool ParseLocalTime(const std::string& text, CTime& out) {
    int year, month, day, hour, minute, second;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &second, &tail) != 6)
        return false;
    const auto t = CTime::FromLocal(year, month, day, hour, minute, second);
    if (!t || t->GetYear() != year || t->GetMonth() != month || t->GetDay() != day ||
        t->GetMinute() != minute || t->GetSecond() != second)
        return false; // normalised: the date or time does not exist as written
    out = *t;
    return true;
}
