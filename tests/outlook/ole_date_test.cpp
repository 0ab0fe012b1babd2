// Automation date conversions: exact values, rounding, and the edges of every range.
#include "outlook/automation/OleDate.h"
#include "support/TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

using testing_support::ScopedTimeZone;

namespace {

OleLocalTime Fields(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    OleLocalTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    return t;
}

DATE Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    DATE date = NAN;
    EXPECT_TRUE(LocalTimeToVariantTime(Fields(y, mo, d, h, mi, s), date));
    return date;
}

} // namespace

TEST(OleDate, KnownDatesConvertBothWays) {
    struct Row {
        OleLocalTime time;
        DATE date;
        int dayOfWeek;
    };
    const Row rows[] = {
        {Fields(1899, 12, 30), 0.0, 6},
        {Fields(1899, 12, 29, 6), -1.25, 5}, // before day 0 the fraction still counts forward
        {Fields(1899, 12, 30, 12), 0.5, 6},
        {Fields(1900, 1, 1), 2.0, 1},
        {Fields(1970, 1, 1), 25569.0, 4},
        {Fields(2001, 3, 14, 9, 5, 40), 36964.0 + (9 * 3600 + 5 * 60 + 40) / 86400.0, 3},
        {Fields(2038, 1, 19, 3, 14, 7), 50424.0 + (3 * 3600 + 14 * 60 + 7) / 86400.0, 2},
        {Fields(100, 1, 1), kOleDateMin, 5},
        {Fields(9999, 12, 31, 23, 59, 59), kOleDateMax + 86399 / 86400.0, 5},
        {Fields(4501, 1, 1), kOleDateNone, 6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.date);
        DATE date = NAN;
        ASSERT_TRUE(LocalTimeToVariantTime(row.time, date));
        EXPECT_DOUBLE_EQ(date, row.date);
        OleLocalTime back;
        ASSERT_TRUE(VariantTimeToLocalTime(row.date, back));
        EXPECT_EQ(back.year, row.time.year);
        EXPECT_EQ(back.month, row.time.month);
        EXPECT_EQ(back.day, row.time.day);
        EXPECT_EQ(back.hour, row.time.hour);
        EXPECT_EQ(back.minute, row.time.minute);
        EXPECT_EQ(back.second, row.time.second);
        EXPECT_EQ(back.dayOfWeek, row.dayOfWeek);
    }
}

TEST(OleDate, RoundsToTheNearestSecondAndRollsOverMidnight) {
    OleLocalTime t;
    ASSERT_TRUE(VariantTimeToLocalTime(Date(2001, 3, 14, 9, 5, 40) + 0.4 / 86400, t));
    EXPECT_EQ(t.second, 40);
    ASSERT_TRUE(VariantTimeToLocalTime(Date(2001, 3, 14, 9, 5, 40) + 0.6 / 86400, t));
    EXPECT_EQ(t.second, 41);
    ASSERT_TRUE(VariantTimeToLocalTime(Date(2001, 12, 31, 23, 59, 59) + 0.7 / 86400, t));
    EXPECT_EQ(t.year, 2002);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.second, 0);
    // Before day 0: 29 December 1899 23:59:59.7 is the 30th at midnight.
    ASSERT_TRUE(VariantTimeToLocalTime(-1.0 - 86399.7 / 86400, t));
    EXPECT_EQ(t.day, 30);
    EXPECT_EQ(t.hour, 0);
}

TEST(OleDate, RejectsWhatIsOutsideTheRange) {
    OleLocalTime t;
    EXPECT_FALSE(VariantTimeToLocalTime(NAN, t));
    EXPECT_FALSE(VariantTimeToLocalTime(kOleDateMin - 1.0, t));
    EXPECT_TRUE(VariantTimeToLocalTime(kOleDateMin - 0.5, t)); // 1 January 100, 12:00
    EXPECT_EQ(t.year, 100);
    EXPECT_FALSE(VariantTimeToLocalTime(kOleDateMax + 1.0, t));
    EXPECT_FALSE(VariantTimeToLocalTime(kOleDateMax + 86399.6 / 86400, t)); // rounds into 10000

    DATE date = 0;
    const OleLocalTime invalid[] = {
        Fields(2001, 13, 1),          Fields(2001, 0, 1),     Fields(2001, 2, 29),
        Fields(2001, 4, 31),          Fields(2001, 1, 1, 24), Fields(2001, 1, 1, 0, 60),
        Fields(2001, 1, 1, 0, 0, 60), Fields(99, 12, 31),     Fields(10000, 1, 1)};
    for (const OleLocalTime& fields : invalid)
        EXPECT_FALSE(LocalTimeToVariantTime(fields, date))
            << fields.year << "-" << fields.month << "-" << fields.day;
    EXPECT_TRUE(LocalTimeToVariantTime(Fields(2000, 2, 29), date));
}

TEST(OleDate, DosDateAndTimeAtTheEdgesOfTheirRange) {
    struct Row {
        DATE date;
        int ok;
        WORD dosDate, dosTime;
    };
    const Row rows[] = {
        {Date(1980, 1, 1), 1, WORD(1 | 1 << 5), 0},
        {Date(1979, 12, 31, 23, 59, 59), 0, 0, 0},
        {Date(2107, 12, 31, 23, 59, 58), 1, WORD(31 | 12 << 5 | 127 << 9),
         WORD(29 | 59 << 5 | 23 << 11)},
        // Odd seconds go down to the even second below.
        {Date(2107, 12, 31, 23, 59, 59), 1, WORD(31 | 12 << 5 | 127 << 9),
         WORD(29 | 59 << 5 | 23 << 11)},
        {Date(2107, 12, 31, 23, 59, 59) + 0.6 / 86400, 0, 0, 0}, // rounds into 2108
        {Date(2108, 1, 1), 0, 0, 0},
        {kOleDateNone, 0, 0, 0},
        {Date(2001, 3, 14, 9, 5, 41), 1, WORD(14 | 3 << 5 | 21 << 9), WORD(20 | 5 << 5 | 9 << 11)},
        {Date(2001, 3, 14, 12, 0, 0), 1, WORD(14 | 3 << 5 | 21 << 9), WORD(12 << 11)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.date);
        WORD dosDate = 0xFFFF, dosTime = 0xFFFF;
        EXPECT_EQ(VariantTimeToDosDateTime(row.date, &dosDate, &dosTime), row.ok);
        EXPECT_EQ(dosDate, row.ok ? row.dosDate : 0xFFFF);
        EXPECT_EQ(dosTime, row.ok ? row.dosTime : 0xFFFF);
        if (row.ok) {
            OleLocalTime back;
            ASSERT_TRUE(DosDateTimeToLocalTime(dosDate, dosTime, back));
            WORD againDate = 0, againTime = 0;
            DATE date = 0;
            ASSERT_TRUE(LocalTimeToVariantTime(back, date));
            ASSERT_EQ(VariantTimeToDosDateTime(date, &againDate, &againTime), 1);
            EXPECT_EQ(againDate, dosDate);
            EXPECT_EQ(againTime, dosTime);
        }
    }
}

TEST(OleDate, DosFieldsOutOfRangeAreRefused) {
    OleLocalTime t;
    const WORD date = WORD(14 | 3 << 5 | 21 << 9), time = WORD(20 | 5 << 5 | 9 << 11);
    ASSERT_TRUE(DosDateTimeToLocalTime(date, time, t));
    EXPECT_EQ(t.year, 2001);
    EXPECT_EQ(t.second, 40);
    EXPECT_EQ(t.dayOfWeek, 3);
    EXPECT_FALSE(DosDateTimeToLocalTime(WORD(14 | 0 << 5), time, t));           // month 0
    EXPECT_FALSE(DosDateTimeToLocalTime(WORD(0 | 3 << 5), time, t));            // day 0
    EXPECT_FALSE(DosDateTimeToLocalTime(WORD(30 | 2 << 5 | 21 << 9), time, t)); // 30 February
    EXPECT_FALSE(DosDateTimeToLocalTime(date, WORD(30), t));                    // second 60
    EXPECT_FALSE(DosDateTimeToLocalTime(date, WORD(24 << 11), t));              // hour 24
    EXPECT_FALSE(DosDateTimeToLocalTime(date, WORD(60 << 5), t));               // minute 60
}

TEST(OleDate, DosDateTimeBecomesALocalCalendarTimeThatFits) {
    ScopedTimeZone zone("America/New_York");
    WORD d = 0, t = 0;
    ASSERT_EQ(VariantTimeToDosDateTime(Date(2026, 3, 8, 9, 0, 1), &d, &t), 1);
    EXPECT_EQ(DosDateTimeToCTime(d, t), CTime(2026, 3, 8, 9, 0, 0));
    // The last second of the 32-bit time is 03:14:07 UTC on 19 January 2038, 22:14:07 the day
    // before in New York; the DOS time drops the odd second.
    ASSERT_EQ(VariantTimeToDosDateTime(Date(2038, 1, 18, 22, 14, 7), &d, &t), 1);
    EXPECT_EQ(DosDateTimeToCTime(d, t), CTime(INT32_MAX - 1));
    ASSERT_EQ(VariantTimeToDosDateTime(Date(2038, 1, 18, 22, 14, 8), &d, &t), 1);
    EXPECT_EQ(DosDateTimeToCTime(d, t), std::nullopt);
    EXPECT_EQ(DosDateTimeToCTime(0, 0), std::nullopt);
}

TEST(OleDate, InstantsReadInLocalTimeAcrossDaylightSaving) {
    ScopedTimeZone zone("America/New_York");
    struct Row {
        int64_t instant;
        DATE expected;
    };
    // 09:00 local on the Saturday before and the Monday after the change of 8 March 2026.
    const Row rows[] = {
        {1772892000, Date(2026, 3, 7, 9, 0, 0)},   // 14:00 UTC, EST
        {1773061200, Date(2026, 3, 9, 9, 0, 0)},   // 13:00 UTC, EDT
        {1772953199, Date(2026, 3, 8, 1, 59, 59)}, // the last second of EST
        {1772953200, Date(2026, 3, 8, 3, 0, 0)},   // the first of EDT
        {0, Date(1969, 12, 31, 19, 0, 0)},
    };
    for (const Row& row : rows) {
        DATE date = 0;
        ASSERT_TRUE(UnixTimeToVariantTime(row.instant, date));
        EXPECT_NEAR(date, row.expected, 1e-9) << row.instant;
    }
    DATE date = 0;
    EXPECT_FALSE(UnixTimeToVariantTime(int64_t(400000) * 366 * 86400, date)); // beyond 9999
}
