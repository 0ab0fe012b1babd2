// Recurrence rules: the Outlook pattern of each rule shape, and walks that start near the range
// or skip a rule altogether giving exactly what a plain walk from DTSTART gives.
#include "core/CivilDays.h"
#include "mailsystem/ical/Recurrence.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using namespace mail::recurrence;

struct PatternRow {
    const char* rule;
    const char* start; // DTSTART (floating)
    int type, interval, instance, mask, day, month;
};

TEST(RecurrencePatternTest, EachRuleShapeMapsToItsPatternOrToType4) {
    const PatternRow rows[] = {
        // Daily: every N days, or every weekday through the mask.
        {"FREQ=DAILY", "20260305T090000", 0, 1, 0, 0, 0, 0},
        {"FREQ=DAILY;INTERVAL=3;COUNT=10", "20260305T090000", 0, 3, 0, 0, 0, 0},
        {"FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR", "20260305T090000", 0, 0, 0, 62, 0, 0},
        {"FREQ=DAILY;INTERVAL=2;BYDAY=MO,FR", "20260305T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=DAILY;BYMONTH=3", "20260305T090000", 4, 0, 0, 0, 0, 0},
        // Weekly: the days, or DTSTART's day (5 March 2026 is a Thursday).
        {"FREQ=WEEKLY", "20260305T090000", 1, 1, 0, 16, 0, 0},
        {"FREQ=WEEKLY;BYDAY=SU,SA", "20260305T090000", 1, 1, 0, 65, 0, 0},
        {"FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,TH", "20260305T090000", 1, 2, 0, 18, 0, 0},
        {"FREQ=WEEKLY;INTERVAL=2;BYDAY=SU,MO;WKST=SU", "20260305T090000", 1, 2, 0, 3, 0, 0},
        // Weeks from Monday put Sunday with the following days: not the pattern's weeks.
        {"FREQ=WEEKLY;INTERVAL=2;BYDAY=SU,MO", "20260305T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,SA;WKST=TU", "20260305T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SA;WKST=TU", "20260305T090000", 1, 2, 0, 68, 0, 0},
        {"FREQ=WEEKLY;BYDAY=1MO", "20260305T090000", 4, 0, 0, 0, 0, 0},
        // Monthly on a day of the month.
        {"FREQ=MONTHLY", "20260305T090000", 2, 1, 0, 0, 5, 0},
        {"FREQ=MONTHLY;INTERVAL=3;BYMONTHDAY=31", "20260131T090000", 2, 3, 0, 0, 31, 0},
        {"FREQ=MONTHLY;BYMONTHDAY=1,15", "20260301T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=MONTHLY;BYMONTHDAY=-1", "20260331T090000", 4, 0, 0, 0, 0, 0},
        // Monthly on the Nth weekday; -1 is the last, which Instance 5 reaches.
        {"FREQ=MONTHLY;BYDAY=2TU", "20260310T090000", 3, 1, 2, 4, 0, 0},
        {"FREQ=MONTHLY;INTERVAL=2;BYDAY=-1FR", "20260327T090000", 3, 2, 5, 32, 0, 0},
        {"FREQ=MONTHLY;BYDAY=TU;BYSETPOS=3", "20260317T090000", 3, 1, 3, 4, 0, 0},
        {"FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=1", "20260302T090000", 3, 1, 1, 62, 0, 0},
        {"FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1", "20260331T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=MONTHLY;BYDAY=5MO", "20260330T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=MONTHLY;BYDAY=-2MO", "20260323T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=MONTHLY;BYDAY=1MO,3MO", "20260302T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=MONTHLY;BYDAY=MO", "20260302T090000", 4, 0, 0, 0, 0, 0},
        // Yearly on a date, or on the Nth weekday of one month.
        {"FREQ=YEARLY", "20260305T090000", 5, 1, 0, 0, 5, 3},
        {"FREQ=YEARLY;BYMONTH=7;BYMONTHDAY=4", "20260704T090000", 5, 1, 0, 0, 4, 7},
        {"FREQ=YEARLY;BYMONTH=11", "20261105T090000", 5, 1, 0, 0, 5, 11},
        {"FREQ=YEARLY;INTERVAL=2", "20260305T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=11;BYDAY=4TH", "20261126T090000", 6, 1, 4, 16, 0, 11},
        {"FREQ=YEARLY;BYMONTH=5;BYDAY=-1MO", "20260525T090000", 6, 1, 5, 2, 0, 5},
        {"FREQ=YEARLY;BYDAY=20MO", "20260518T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=YEARLY;BYMONTH=3,9", "20260305T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=YEARLY;BYYEARDAY=100", "20260410T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=YEARLY;BYWEEKNO=20", "20260511T090000", 4, 0, 0, 0, 0, 0},
        // Anything below a day, or with times of day of its own.
        {"FREQ=HOURLY;INTERVAL=4", "20260305T090000", 4, 0, 0, 0, 0, 0},
        {"FREQ=DAILY;BYHOUR=9,17", "20260305T090000", 4, 0, 0, 0, 0, 0},
    };
    for (const PatternRow& row : rows) {
        SCOPED_TRACE(row.rule);
        const icalrecurrencetype rule = icalrecurrencetype_from_string(row.rule);
        const mail::RecurrencePattern p = MapRule(rule, icaltime_from_string(row.start));
        EXPECT_EQ(p.recurrenceType, row.type);
        if (row.type != 4) {
            EXPECT_EQ(p.interval, row.interval);
            EXPECT_EQ(p.instance, row.instance);
            EXPECT_EQ(p.dayOfWeekMask, row.mask);
            EXPECT_EQ(p.dayOfMonth, row.day);
            EXPECT_EQ(p.monthOfYear, row.month);
        }
    }
}

// Floating times under UTC: the wall clock is the instant.
int64_t Instant(const icaltimetype& t) {
    return static_cast<int64_t>(icaltime_as_timet(t));
}
icaltimetype Wall(int64_t instant) {
    return icaltime_from_timet_with_zone(static_cast<time_t>(instant), 0, nullptr);
}

std::vector<int64_t> ReferenceWalk(const icalrecurrencetype& rule, const icaltimetype& start,
                                   int64_t from, int64_t to) {
    std::vector<int64_t> out;
    icalrecur_iterator* it = icalrecur_iterator_new(rule, start);
    if (!it)
        return out;
    for (int i = 0; i < 200000; ++i) {
        const icaltimetype o = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(o) || Instant(o) > to)
            break;
        if (Instant(o) >= from)
            out.push_back(Instant(o));
    }
    icalrecur_iterator_free(it);
    return out;
}

std::string RandomRule(std::mt19937& random) {
    static const char* const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::string rule;
    switch (pick(6)) {
    case 0:
        rule = "FREQ=DAILY";
        break;
    case 1:
        rule = "FREQ=WEEKLY;BYDAY=" + std::string(kDays[pick(7)]) + "," + kDays[pick(7)];
        break;
    case 2:
        rule = "FREQ=MONTHLY;BYMONTHDAY=" + std::to_string(1 + pick(31));
        break;
    case 3:
        rule = "FREQ=MONTHLY;BYDAY=" + std::to_string(pick(2) ? -1 : 1 + pick(4)) + kDays[pick(7)];
        break;
    case 4:
        rule = "FREQ=YEARLY";
        break;
    default:
        rule = "FREQ=YEARLY;BYMONTH=" + std::to_string(1 + pick(12)) +
               ";BYDAY=" + std::to_string(1 + pick(4)) + kDays[pick(7)];
        break;
    }
    if (pick(3) == 0)
        rule += ";INTERVAL=" + std::to_string(2 + pick(3));
    if (pick(4) == 0)
        rule += ";COUNT=" + std::to_string(1 + pick(80));
    return rule;
}

// The walk starts two days before the range (libical's set_start) instead of at DTSTART, and
// plain monthly and yearly rules are skipped when their dates miss the range: neither may
// change what is found.
TEST(RecurrenceWalkTest, ShortcutsGiveWhatAPlainWalkGives) {
    std::mt19937 random(20260314);
    const int64_t day = 86400;
    const int64_t base = civil::DaysFromCivil(2024, 1, 1) * day;
    int skipped = 0, compared = 0;
    for (int i = 0; i < 1500; ++i) {
        const std::string text = RandomRule(random);
        SCOPED_TRACE(text);
        const icalrecurrencetype rule = icalrecurrencetype_from_string(text.c_str());
        ASSERT_NE(rule.freq, ICAL_NO_RECURRENCE);
        // DTSTART on a day the rule selects: its first occurrence from an arbitrary day.
        icaltimetype start =
            Wall(base + static_cast<int64_t>(random() % 700) * day + 9 * 3600 + 1800);
        {
            icalrecur_iterator* first = icalrecur_iterator_new(rule, start);
            ASSERT_TRUE(first);
            icalrecur_iterator_next(first); // DTSTART itself
            const icaltimetype next = icalrecur_iterator_next(first);
            icalrecur_iterator_free(first);
            if (icaltime_is_null_time(next))
                continue;
            start = next;
        }
        const int64_t from = base + static_cast<int64_t>(random() % 1000) * day +
                             static_cast<int64_t>(random() % 86400);
        const int64_t to = from + static_cast<int64_t>(1 + random() % 20) * day;
        const std::vector<int64_t> expected = ReferenceWalk(rule, start, from, to);

        const Walk walk = WalkRule(rule, start, Instant(start), from, to, Instant, Wall);
        ASSERT_NE(walk.outcome, Walk::Refused);
        std::vector<int64_t> got;
        for (const auto& [wall, instant] : walk.occurrences)
            got.push_back(instant);
        EXPECT_EQ(got, expected) << "from " << from << " to " << to;
        ++compared;

        const int64_t firstDay = from / day - 1, lastDay = to / day + 1;
        if (!MayOccur(rule, start.year, start.month, start.day, firstDay, lastDay)) {
            EXPECT_TRUE(expected.empty());
            ++skipped;
        }
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(skipped, 200); // the shortcut is taken often enough to matter
}

std::string RandomSubDailyRule(std::mt19937& random) {
    static const char* const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const bool hourly = pick(2) == 0;
    // Minutely intervals from half an hour keep the plain walk of two months affordable.
    std::string rule = hourly ? "FREQ=HOURLY;INTERVAL=" + std::to_string(1 + pick(30))
                              : "FREQ=MINUTELY;INTERVAL=" + std::to_string(30 + pick(400));
    if (pick(3) == 0)
        rule += ";BYDAY=" + std::string(kDays[pick(7)]) + "," + kDays[pick(7)];
    if (pick(3) == 0)
        rule += ";BYHOUR=" + std::to_string(pick(12)) + "," + std::to_string(12 + pick(12));
    if (hourly && pick(4) == 0)
        rule += ";BYMINUTE=0,30";
    if (pick(4) == 0)
        rule += ";BYMONTHDAY=" + std::to_string(1 + pick(28)) + "," + std::to_string(1 + pick(28));
    if (pick(4) == 0)
        rule += ";COUNT=" + std::to_string(1 + pick(60));
    return rule;
}

// Below a day a walk that skips ahead must begin on a day a whole number of the interval's
// periods after DTSTART's, or libical's steps shift (every 5 hours from 10:00 would give 15:00,
// 20:00 ... from any later midnight).
TEST(RecurrenceWalkTest, SubDailyWalksThatSkipAheadGiveWhatAPlainWalkGives) {
    std::mt19937 random(20260315);
    const int64_t day = 86400;
    const int64_t base = civil::DaysFromCivil(2025, 10, 1) * day;
    int compared = 0, nonEmpty = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string text = RandomSubDailyRule(random);
        SCOPED_TRACE(text);
        const icalrecurrencetype rule = icalrecurrencetype_from_string(text.c_str());
        ASSERT_NE(rule.freq, ICAL_NO_RECURRENCE);
        const icaltimetype start = Wall(base + static_cast<int64_t>(random() % 60) * day +
                                        static_cast<int64_t>(random() % 288) * 300);
        if (!IsWalkable(rule, start))
            continue;
        const int64_t from = Instant(start) + static_cast<int64_t>(random() % 60) * day +
                             static_cast<int64_t>(random() % 86400);
        const int64_t to = from + static_cast<int64_t>(1 + random() % 3) * day;
        const std::vector<int64_t> expected = ReferenceWalk(rule, start, from, to);
        const Walk walk = WalkRule(rule, start, Instant(start), from, to, Instant, Wall);
        ASSERT_NE(walk.outcome, Walk::Refused);
        std::vector<int64_t> got;
        for (const auto& [wall, instant] : walk.occurrences)
            got.push_back(instant);
        EXPECT_EQ(got, expected) << "from " << from << " to " << to;
        ++compared;
        nonEmpty += !expected.empty();
    }
    EXPECT_GT(compared, 300);
    EXPECT_GT(nonEmpty, 200);
}

// DTSTART is Thursday 5 March 2026, 09:00.
TEST(RecurrenceWalkTest, WalkableRulesAreThoseWithBoundedSearches) {
    const struct {
        const char* rule;
        bool walkable;
    } rows[] = {
        {"FREQ=DAILY", true},
        {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29", true},
        {"FREQ=YEARLY;BYMONTH=2,4;BYMONTHDAY=31", false},
        {"FREQ=YEARLY;BYMONTH=2,4;BYMONTHDAY=30,31", true},
        {"FREQ=YEARLY;BYMONTH=2,3;BYMONTHDAY=30", true},
        {"FREQ=MONTHLY;BYMONTH=6;BYMONTHDAY=-31", false},
        {"FREQ=WEEKLY;INTERVAL=10000", true},
        {"FREQ=WEEKLY;INTERVAL=10001", false},
        // Below a day: what calendar programs write.
        {"FREQ=HOURLY", true},
        {"FREQ=HOURLY;INTERVAL=3;COUNT=8", true},
        {"FREQ=MINUTELY;INTERVAL=30;COUNT=5", true},
        {"FREQ=HOURLY;BYDAY=MO,TU,WE,TH,FR", true},
        {"FREQ=HOURLY;BYHOUR=9,17;BYDAY=MO", true},      // a list: every day is tried
        {"FREQ=MINUTELY;INTERVAL=15;BYHOUR=9,10", true}, // every hour is reached
        {"FREQ=MINUTELY;BYMINUTE=0,30;BYHOUR=12", true},
        {"FREQ=HOURLY;INTERVAL=48;BYDAY=MO", true},    // odd weeks reach every weekday
        {"FREQ=HOURLY;BYMONTH=3", true},               // a year between passing days
        {"FREQ=HOURLY;BYMONTH=2;BYMONTHDAY=29", true}, // up to eight years
        // Below a day: what keeps libical searching, without end or for seconds.
        {"FREQ=SECONDLY", false},
        {"FREQ=HOURLY;BYSETPOS=1;BYMINUTE=0,30", false}, // ignored there: all would occur
        {"FREQ=HOURLY;BYWEEKNO=20", false},
        {"FREQ=HOURLY;BYMONTHDAY=-1", false}, // never passes below a day
        {"FREQ=HOURLY;BYDAY=1MO", false},     // nor does an ordinal weekday
        {"FREQ=HOURLY;BYYEARDAY=-1", false},
        {"FREQ=HOURLY;BYYEARDAY=60;BYMONTH=6", false}, // no day is both
        {"FREQ=HOURLY;BYMONTH=4;BYMONTHDAY=31", false},
        {"FREQ=HOURLY;INTERVAL=168;BYDAY=TU", false},            // every Thursday, never a Tuesday
        {"FREQ=MINUTELY;INTERVAL=10080;BYDAY=TU", false},        // likewise
        {"FREQ=HOURLY;BYMONTH=2;BYMONTHDAY=29;BYDAY=MO", false}, // decades apart
        {"FREQ=MINUTELY;BYMONTH=3", false},                      // a year of minutes apart
        {"FREQ=MINUTELY;INTERVAL=0", false},
        // A day or longer: filters that no day passes keep libical searching its first
        // occurrence up to the year 2582 (seconds each time); those that some day passes do not.
        {"FREQ=MONTHLY;BYDAY=5WE", true},
        {"FREQ=MONTHLY;BYDAY=6WE", false},
        {"FREQ=MONTHLY;BYDAY=-6WE", false},
        {"FREQ=YEARLY;BYMONTH=2;BYDAY=5MO", true}, // 29 February on a Monday
        {"FREQ=YEARLY;BYMONTH=2;BYDAY=-5MO", true},
        {"FREQ=YEARLY;BYMONTH=2;BYDAY=6MO", false},
        {"FREQ=YEARLY;BYMONTH=4,6;BYDAY=5SU;BYMONTHDAY=31", false},
        {"FREQ=MONTHLY;BYDAY=1MO;BYMONTHDAY=7", true},
        {"FREQ=MONTHLY;BYDAY=-1FR;BYMONTHDAY=-7", true},
        {"FREQ=MONTHLY;BYDAY=1MO;BYMONTHDAY=31", false},
        {"FREQ=MONTHLY;BYDAY=2MO;BYMONTHDAY=1,2,3,4,5,6,7", false},
        {"FREQ=DAILY;BYDAY=MO,2TU", true},
        {"FREQ=DAILY;BYDAY=2MO", false},
        {"FREQ=MONTHLY;BYDAY=MO;BYSETPOS=5", true},
        {"FREQ=MONTHLY;BYDAY=MO;BYSETPOS=-6", false},
        {"FREQ=MONTHLY;BYDAY=MO;BYSETPOS=6,1", true},
        {"FREQ=MONTHLY;BYDAY=MO;BYSETPOS=40", false},
        {"FREQ=MONTHLY;BYDAY=MO;BYHOUR=9,10;BYSETPOS=10", true},
        {"FREQ=WEEKLY;BYDAY=MO,TU;BYSETPOS=8", false},
        {"FREQ=YEARLY;BYDAY=MO;BYSETPOS=-53", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rule);
        EXPECT_EQ(IsWalkable(icalrecurrencetype_from_string(row.rule),
                             icaltime_from_string("20260305T090000")),
                  row.walkable);
    }
    // An all-day series has no hours to step through.
    EXPECT_FALSE(IsWalkable(icalrecurrencetype_from_string("FREQ=HOURLY"),
                            icaltime_from_string("20260305")));
}

// Rules as exporters write them, read as they mean them (libical alone refuses or misreads
// each of these).
TEST(RecurrenceRuleTest, ExportersRulesAreReadAsMeant) {
    const struct {
        const char* text;
        const char* read; // libical's own spelling of the rule read; null: unreadable
        int count;
        const char* repeated = ""; // the parts given more than once, as named
    } rows[] = {
        // Confluence, when future events are deleted.
        {"FREQ=WEEKLY;UNTIL=20240331;COUNT=-1;INTERVAL=1;BYDAY=MO",
         "FREQ=WEEKLY;UNTIL=20240331;BYDAY=MO", 0},
        {"FREQ=DAILY;COUNT=0", "FREQ=DAILY", 0},
        {"FREQ=DAILY;COUNT=abc", "FREQ=DAILY", 0},
        {"FREQ=DAILY;COUNT=", "FREQ=DAILY", 0},
        // An empty part would end libical's reading there, losing the interval.
        {"FREQ=DAILY;;INTERVAL=2", "FREQ=DAILY;INTERVAL=2", 0},
        {"FREQ=WEEKLY;BYDAY=MO,TU,", "FREQ=WEEKLY;BYDAY=MO,TU", 0},
        {" FREQ=DAILY ; INTERVAL = 3 ", "FREQ=DAILY;INTERVAL=3", 0},
        {"FREQ=WEEKLY;WKST=;BYDAY=MO", "FREQ=WEEKLY;BYDAY=MO", 0},
        {"FREQ=DAILY;X-NAME=value;COUNT=4", "FREQ=DAILY;COUNT=4", 4},
        {"freq=weekly;byday=mo,fr", "FREQ=WEEKLY;BYDAY=MO,FR", 0},
        // Both ends given: both hold.
        {"FREQ=DAILY;COUNT=5;UNTIL=20240103", "FREQ=DAILY;UNTIL=20240103", 5},
        {"RSCALE=GREGORIAN;FREQ=YEARLY", "FREQ=YEARLY", 0},
        {"", nullptr, 0},
        {"FREQ=FORTNIGHTLY", nullptr, 0},
        {"FREQ=DAILY;BYMONTHDAY=0", nullptr, 0},
        {"RSCALE=HEBREW;FREQ=YEARLY", nullptr, 0},
        // A part given twice (which libical refuses): the first counts.
        {"FREQ=DAILY;COUNT=4;COUNT=7", "FREQ=DAILY;COUNT=4", 4, "COUNT"},
        {"FREQ=WEEKLY;BYDAY=MO;byday=TU;INTERVAL=2;Interval=3;BYDAY=WE",
         "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO", 0, "BYDAY INTERVAL"},
        {"FREQ=DAILY;FREQ=WEEKLY", "FREQ=DAILY", 0, "FREQ"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        icalrecurrencetype rule;
        std::vector<std::string> repeated;
        const bool read = ParseRule(row.text, rule, &repeated);
        ASSERT_EQ(read, row.read != nullptr);
        if (!read)
            continue;
        EXPECT_EQ(std::string(icalrecurrencetype_as_string(&rule)), row.read);
        EXPECT_EQ(rule.count, row.count);
        EXPECT_EQ(rule.rscale, nullptr);
        std::string names;
        for (const std::string& name : repeated)
            names += (names.empty() ? "" : " ") + name;
        EXPECT_EQ(names, row.repeated);
    }
}

} // namespace
