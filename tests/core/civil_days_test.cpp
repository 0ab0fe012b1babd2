// Day counts of the proleptic Gregorian calendar, far outside the C library's range too.
#include "core/CivilDays.h"

#include <gtest/gtest.h>

TEST(CivilDays, CountsRoundTripAndAgreeWithKnownDates) {
    EXPECT_EQ(civil::DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(civil::DaysFromCivil(1969, 12, 31), -1);
    EXPECT_EQ(civil::DaysFromCivil(2000, 3, 1), 11017);
    EXPECT_EQ(civil::DaysFromCivil(1899, 12, 30), -25569) << "day 0 of automation dates";
    EXPECT_EQ(civil::Weekday(0), 4) << "a Thursday";
    EXPECT_EQ(civil::Weekday(civil::DaysFromCivil(2026, 3, 8)), 0) << "a Sunday";
    EXPECT_EQ(civil::Weekday(-1), 3);
    EXPECT_EQ(civil::CivilFromDays(civil::DaysFromCivil(2026, 3, 8)).weekday, 0);
    const civil::Date leap = civil::CivilFromDays(civil::DaysFromCivil(2024, 2, 29));
    EXPECT_EQ(leap.month * 100 + leap.day, 229);

    // Every day across four centuries before and after 1970, with their leap rules.
    int64_t previous = civil::DaysFromCivil(-401, 12, 31);
    for (int64_t days = previous + 1; days < 2 * 146097; days += 1) {
        const civil::Date d = civil::CivilFromDays(days);
        ASSERT_EQ(civil::DaysFromCivil(d.year, d.month, d.day), days);
        ASSERT_EQ(d.weekday, civil::Weekday(days));
        ASSERT_GE(d.day, 1);
        ASSERT_LE(d.day, civil::DaysInMonth(d.year, d.month));
        const civil::Date before = civil::CivilFromDays(previous);
        if (d.day == 1) {
            ASSERT_EQ(before.day, civil::DaysInMonth(before.year, before.month)) << days;
        } else {
            ASSERT_EQ(before.day, d.day - 1) << days;
        }
        previous = days;
    }
    EXPECT_EQ(civil::DaysInMonth(1900, 2), 28);
    EXPECT_EQ(civil::DaysInMonth(2000, 2), 29);
    EXPECT_EQ(civil::DaysInMonth(2024, 2), 29);
    EXPECT_EQ(civil::DaysInMonth(2026, 4), 30);
}
