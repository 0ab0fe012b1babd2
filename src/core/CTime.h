// Calendar time: signed 32-bit seconds since 1970, broken down and formatted in local time.
#pragma once

#include "CString.h"

#include <cstdint>
#include <ctime>
#include <optional>

// A span of whole seconds (minute 60, hour 3600, day 86400, week 604800).
class CTimeSpan {
public:
    constexpr CTimeSpan() = default;
    constexpr explicit CTimeSpan(int64_t seconds) : m_seconds(seconds) {}
    constexpr CTimeSpan(int days, int hours, int minutes, int seconds)
        : m_seconds(int64_t(days) * 86400 + int64_t(hours) * 3600 + int64_t(minutes) * 60 +
                    seconds) {}
    constexpr int64_t GetTotalSeconds() const { return m_seconds; }
    constexpr auto operator<=>(const CTimeSpan&) const = default;

private:
    int64_t m_seconds = 0;
};

// Seconds since 1970 of a local date and time, normalised like mktime (a day 31 of a 30-day month
// runs into the next month); nDST -1 lets the C library decide. -1 when the C library cannot
// represent it (as mktime, which also gives -1 for the second before 1970 in UTC).
int64_t LocalTimeToInstant(int year, int month, int day, int hour, int minute, int second,
                           int nDST = -1);

// A value of 0 means "no time" or "due at once" where the caller says so. Arithmetic saturates at
// the ends of the 32-bit range instead of wrapping, so a limit computed near 2038 stays a limit.
class CTime {
public:
    constexpr CTime() = default;
    constexpr explicit CTime(int32_t seconds) : m_time(seconds) {}

    // Local date and time, normalised like mktime (a day 31 of a 30-day month runs into the next
    // month). nDST -1 lets the C library decide. Gives nothing when the result does not fit.
    static std::optional<CTime> FromLocal(int year, int month, int day, int hour, int minute,
                                          int second, int nDST = -1);
    // As FromLocal, but 0 when the result does not fit.
    CTime(int year, int month, int day, int hour, int minute, int second, int nDST = -1);

    // The program's clock (Clock.h), which tests can set.
    static CTime GetCurrentTime();

    constexpr int32_t GetTime() const { return m_time; }

    // Local-time breakdown; false only when the C library cannot break the time down.
    bool GetLocalTm(struct tm* out) const;
    int GetYear() const;      // e.g. 2026
    int GetMonth() const;     // 1 to 12
    int GetDay() const;       // 1 to 31
    int GetHour() const;      // 0 to 23
    int GetMinute() const;    // 0 to 59
    int GetSecond() const;    // 0 to 60
    int GetDayOfWeek() const; // 1 = Sunday to 7 = Saturday

    // strftime of the local time in the "C" locale, whatever locale the process has selected.
    CString Format(const char* pattern) const;
    // The same in UTC, for machine-readable records.
    CString FormatGmt(const char* pattern) const;

    constexpr auto operator<=>(const CTime&) const = default;

    CTime operator+(CTimeSpan span) const {
        return Saturate(int64_t(m_time) + span.GetTotalSeconds());
    }
    CTime operator-(CTimeSpan span) const {
        return Saturate(int64_t(m_time) - span.GetTotalSeconds());
    }
    CTime& operator+=(CTimeSpan span) { return *this = *this + span; }
    CTime& operator-=(CTimeSpan span) { return *this = *this - span; }
    CTimeSpan operator-(CTime other) const { return CTimeSpan(int64_t(m_time) - other.m_time); }

    static CTime Saturate(int64_t seconds);

private:
    int32_t m_time = 0;
};

// "YYYY-MM-DD HH:MM:SS" in local time (the form of --at and of the saved status); false for
// anything else or a moment that does not exist.
bool ParseLocalTime(const std::string& text, CTime& out);

namespace timespans {
inline constexpr CTimeSpan kMinute{60};
inline constexpr CTimeSpan kHour{3600};
inline constexpr CTimeSpan kDay{86400};
inline constexpr CTimeSpan kWeek{604800};
} // namespace timespans
