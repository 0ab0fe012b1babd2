// CTime: local breakdown and C-locale formatting in zones with and without daylight saving.
#include "core/CTime.h"
#include "core/Clock.h"
#include "support/TestSupport.h"

#include <climits>
#include <clocale>
#include <ctime>
#include <gtest/gtest.h>
#include <locale.h>

using testing_support::ScopedTimeZone;

TEST(CTime, FormatsThePatternsTheProgramUsesInTheCLocale) {
    ScopedTimeZone zone("America/New_York");
    // Whatever locale the process selects, the formats stay those of the C locale.
    const char* previous = setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    setlocale(LC_ALL, "C.UTF-8");

    const CTime t(2001, 3, 14, 9, 5, 40);
    EXPECT_EQ(t.Format("%m/%d/%y %H:%M"), "03/14/01 09:05");
    EXPECT_EQ(t.Format("%I:%M"), "09:05");
    EXPECT_EQ(t.Format("%H%M"), "0905");
    EXPECT_EQ(t.Format("%x %I:%M%p"), "03/14/01 09:05AM");
    const CTime afternoon(2001, 3, 14, 14, 0, 0);
    EXPECT_EQ(afternoon.Format("%x %I:%M%p"), "03/14/01 02:00PM");
    setlocale(LC_ALL, saved.c_str());
}

TEST(CTime, FormatsEveryPatternAsStrftimeDoes) {
    ScopedTimeZone zone("Europe/Berlin");
    const char* patterns[] = {"%m/%d/%y %H:%M:%S", "%I:%M-",   "%I:%M ",   "%H%M", "%x %I:%M%p",
                              "%Y%m%d-%H%M%S",     "100%% %d", "%A %Z %j", "%",    "plain"};
    locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    // Midnight, noon and the hours around them, on the first and last days the times reach.
    for (int32_t t : {INT32_MIN, -86400 * 365, 0, 43199, 43200, 46800, 984560740, 1773493540,
                      1793512800, INT32_MAX}) {
        for (int32_t shift : {0, 3600, 7200, 11 * 3600 + 59 * 60, 12 * 3600}) {
            const CTime time = CTime::Saturate(int64_t(t) + shift);
            const time_t tt = time.GetTime();
            struct tm tm;
            ASSERT_TRUE(localtime_r(&tt, &tm));
            for (const char* pattern : patterns) {
                char buffer[256];
                const size_t n = strftime_l(buffer, sizeof buffer, pattern, &tm, c);
                EXPECT_EQ(time.Format(pattern), std::string(buffer, n)) << pattern << " " << tt;
            }
        }
    }
    freelocale(c);
}

TEST(CTime, BreaksDownLocalTimeAcrossDaylightSavingChanges) {
    ScopedTimeZone zone("America/New_York");
    // 2026-03-08 02:00 EST is the spring-forward instant; one day of seconds after 09:00 on the
    // day before lands at 10:00 local time.
    const CTime before(2026, 3, 7, 9, 0, 0);
    const CTime dayLater = before + timespans::kDay;
    EXPECT_EQ(dayLater.GetDay(), 8);
    EXPECT_EQ(dayLater.GetHour(), 10);
    EXPECT_EQ(dayLater.GetDayOfWeek(), 1); // Sunday
    // The same wall clock time built from its date keeps 09:00.
    const CTime rebuilt(2026, 3, 8, 9, 0, 0);
    EXPECT_EQ(rebuilt.GetHour(), 9);
    EXPECT_EQ((rebuilt - before).GetTotalSeconds(), 86400 - 3600);
}

TEST(CTime, NormalisesDatesBeyondTheEndOfTheMonth) {
    ScopedTimeZone zone("UTC");
    const CTime t(2026, 4, 31, 8, 0, 0); // April has 30 days
    EXPECT_EQ(t.GetMonth(), 5);
    EXPECT_EQ(t.GetDay(), 1);
    const CTime december(2026, 13, 1, 0, 0, 0);
    EXPECT_EQ(december.GetYear(), 2027);
    EXPECT_EQ(december.GetMonth(), 1);
}

TEST(CTime, DatesOutsideThe32BitRangeDoNotFit) {
    ScopedTimeZone zone("UTC");
    EXPECT_FALSE(CTime::FromLocal(2038, 1, 19, 3, 14, 8).has_value());
    EXPECT_TRUE(CTime::FromLocal(2038, 1, 19, 3, 14, 7).has_value());
    EXPECT_EQ(CTime(2040, 1, 1, 0, 0, 0).GetTime(), 0);
}

TEST(CTime, ArithmeticSaturatesInsteadOfWrapping) {
    const CTime nearEnd(INT32_MAX - 10);
    EXPECT_EQ((nearEnd + timespans::kWeek).GetTime(), INT32_MAX);
    EXPECT_GT(nearEnd + timespans::kWeek, nearEnd);
    const CTime nearStart(INT32_MIN + 10);
    EXPECT_EQ((nearStart - timespans::kDay).GetTime(), INT32_MIN);
}

TEST(Clock, FreezesAdvancesAndRunsFromAChosenMoment) {
    Clock::Freeze(CTime(1000));
    EXPECT_EQ(Clock::Now().GetTime(), 1000);
    Clock::Advance(61);
    EXPECT_EQ(CTime::GetCurrentTime().GetTime(), 1061);

    Clock::StartAt(CTime(5000));
    const int32_t started = Clock::Now().GetTime();
    EXPECT_GE(started, 5000);
    EXPECT_LE(started, 5002);
    Clock::Reset();
    EXPECT_NEAR(Clock::Now().GetTime(), static_cast<double>(time(nullptr)), 2);
}

TEST(Clock, TheSteadyReadingStandsAndMovesWithAFrozenClock) {
    Clock::Freeze(CTime(1000));
    const int64_t start = Clock::SteadyMilliseconds();
    EXPECT_EQ(Clock::SteadyMilliseconds(), start) << "stands while frozen";
    // Milliseconds add up to whole seconds of the time; seconds move both.
    const struct {
        int64_t milliseconds;
        int64_t seconds;
        int32_t now;
        int64_t steady;
    } steps[] = {{400, 0, 1000, 400},
                 {599, 0, 1000, 999},
                 {1, 0, 1001, 1000},
                 {0, 2, 1003, 3000},
                 {2500, 0, 1005, 5500}};
    for (const auto& step : steps) {
        Clock::AdvanceMilliseconds(step.milliseconds);
        Clock::Advance(step.seconds);
        EXPECT_EQ(Clock::Now().GetTime(), step.now);
        EXPECT_EQ(Clock::SteadyMilliseconds() - start, step.steady);
        EXPECT_EQ(Clock::NowMilliseconds(), 1000000 + step.steady) << "the time within its second";
    }

    // A running clock's steady reading runs on and moves with both advances too.
    Clock::StartAt(CTime(5000));
    const int64_t running = Clock::SteadyMilliseconds();
    Clock::AdvanceMilliseconds(250);
    Clock::Advance(1);
    const int64_t moved = Clock::SteadyMilliseconds() - running;
    EXPECT_GE(moved, 1250);
    EXPECT_LT(moved, 1250 + 60000);
    EXPECT_LE(Clock::Now().GetTime(), 5000 + 1 + 2);
    // Its milliseconds belong to the second Now() shows.
    for (int i = 0; i < 3; ++i) {
        const int64_t before = Clock::Now().GetTime();
        const int64_t ms = Clock::NowMilliseconds();
        const int64_t after = Clock::Now().GetTime();
        EXPECT_GE(ms, before * 1000);
        EXPECT_LT(ms, (after + 1) * 1000);
    }
    Clock::Reset();
}
