// The remembered local-time conversions against the C library itself, in zones with the changes
// that could trip them: daylight-saving time both ways, half-hour changes, a skipped day, leap
// seconds, and a zone changed between two conversions.
#include "core/LocalTime.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

using testing_support::ScopedTimeZone;

namespace {

std::string Text(const struct tm& tm) {
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S wday %w yday %j dst ", &tm);
    return buffer + std::to_string(tm.tm_isdst) + " off " + std::to_string(tm.tm_gmtoff) + " " +
           (tm.tm_zone ? tm.tm_zone : "-");
}

std::string Library(int64_t instant) {
    const time_t t = time_t(instant);
    struct tm tm;
    return localtime_r(&t, &tm) ? Text(tm) : "none";
}

std::string Remembered(int64_t instant) {
    struct tm tm;
    return local_time::Breakdown(instant, tm) ? Text(tm) : "none";
}

int64_t LibraryInstant(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return int64_t(mktime(&tm));
}

struct ZoneCase {
    const char* zone;
    int64_t around; // an instant near the zone's interesting change
};

// Each zone walked for twenty days on either side of a change, in steps that land on and beside
// it, in both directions (what is remembered depends on what came before).
const ZoneCase kZones[] = {
    {"America/New_York", 1772953200},    // 8 March 2026, 02:00 EST: clocks go forward
    {"America/New_York", 1793512800},    // 1 November 2026, 02:00 EDT: the hour repeats
    {"Europe/Berlin", 1792976400},       // 25 October 2026, 03:00 CEST
    {"Australia/Lord_Howe", 1775313000}, // 5 April 2026: half an hour back
    {"Pacific/Apia", 1325239200},        // 30 December 2011 was skipped
    {"Asia/Kathmandu", 504901800},       // 1986: from +05:30 to +05:45
    {"UTC", 1773493540},
    {"right/America/New_York", 1773493540}, // counts leap seconds
    {"EST5EDT,M3.2.0,M11.1.0", 1772953200}, // a rule, not a file
};

} // namespace

TEST(LocalTime, BreaksTimesDownAsTheCLibraryDoes) {
    for (const ZoneCase& c : kZones) {
        SCOPED_TRACE(c.zone);
        ScopedTimeZone zone(c.zone);
        for (int direction : {1, -1}) {
            for (int64_t step = -20 * 86400; step <= 20 * 86400; step += 1799) {
                const int64_t t = c.around + direction * step;
                ASSERT_EQ(Remembered(t), Library(t)) << t;
                ASSERT_EQ(Remembered(t - 1), Library(t - 1)) << t - 1;
            }
        }
    }
}

TEST(LocalTime, TurnsLocalTimesIntoInstantsAsMktimeDoes) {
    for (const ZoneCase& c : kZones) {
        SCOPED_TRACE(c.zone);
        ScopedTimeZone zone(c.zone);
        for (int direction : {1, -1}) {
            for (int64_t step = -20 * 86400; step <= 20 * 86400; step += 1799) {
                const time_t t = time_t(c.around + direction * step);
                struct tm tm;
                ASSERT_TRUE(localtime_r(&t, &tm));
                // Every local time near the change, including the skipped and repeated ones.
                for (int minutes : {0, 15, 29, 30, 31, 45, 60, 61}) {
                    const int y = tm.tm_year + 1900, mo = tm.tm_mon + 1, d = tm.tm_mday,
                              h = tm.tm_hour, mi = tm.tm_min + minutes;
                    ASSERT_EQ(local_time::Instant(y, mo, d, h, mi, tm.tm_sec),
                              LibraryInstant(y, mo, d, h, mi, tm.tm_sec))
                        << y << "-" << mo << "-" << d << " " << h << ":" << mi;
                }
            }
        }
    }
}

TEST(LocalTime, NormalisesFieldsOutsideTheirRangesAsMktimeDoes) {
    ScopedTimeZone zone("Europe/Berlin");
    const struct {
        int year, month, day, hour, minute, second;
    } rows[] = {
        {2026, 4, 31, 9, 0, 0},   // 1 May
        {2026, 13, 1, 0, 0, 0},   // January of the next year
        {2026, 0, 1, 0, 0, 0},    // December of the year before
        {2026, -13, 10, 0, 0, 0}, // two years back
        {2026, 3, 0, 12, 0, 0},   // the last day of February
        {2026, 2, 29, 25, 61, 61}, {2024, 2, 29, 0, 0, -1},
        {2026, 10, 25, 2, 30, 0}, // the repeated hour
        {2026, 3, 29, 2, 30, 0},  // the skipped hour
        {1901, 12, 14, 0, 0, 0},   {2038, 1, 19, 4, 14, 7},
    };
    for (int pass = 0; pass < 2; ++pass) { // the second pass answers from what the first learned
        for (const auto& r : rows) {
            SCOPED_TRACE(std::to_string(r.year) + "-" + std::to_string(r.month) + "-" +
                         std::to_string(r.day));
            EXPECT_EQ(local_time::Instant(r.year, r.month, r.day, r.hour, r.minute, r.second),
                      LibraryInstant(r.year, r.month, r.day, r.hour, r.minute, r.second));
        }
    }
}

TEST(LocalTime, AnswersFromMemoryAndForgetsWhenTheZoneChanges) {
    const int64_t now = 1773493540; // 14 March 2026, 13:05:40 UTC
    ScopedTimeZone berlin("Europe/Berlin");
    const std::string inBerlin = Remembered(now);
    const local_time::Stats before = local_time::GetStats();
    for (int i = 0; i < 100; ++i)
        Remembered(now + i * 3600);
    const local_time::Stats after = local_time::GetStats();
    EXPECT_GE(after.remembered - before.remembered, 95u) << "a few days from one stretch";
    {
        ScopedTimeZone tokyo("Asia/Tokyo");
        EXPECT_EQ(Remembered(now), Library(now));
        EXPECT_NE(Remembered(now), inBerlin);
    }
    EXPECT_EQ(Remembered(now), inBerlin);

    // Other variables coming and going, and TZ itself set without telling the C library.
    setenv("ORVANE_LOCAL_TIME_TEST", "1", 1);
    EXPECT_EQ(Remembered(now), inBerlin);
    setenv("TZ", "Asia/Tokyo", 1);
    const std::string inTokyo = Remembered(now);
    EXPECT_EQ(inTokyo, Library(now));
    EXPECT_NE(inTokyo, inBerlin);
    unsetenv("ORVANE_LOCAL_TIME_TEST");
    EXPECT_EQ(Remembered(now), inTokyo);
    setenv("TZ", "Europe/Berlin", 1);
    EXPECT_EQ(Remembered(now), inBerlin);
}
