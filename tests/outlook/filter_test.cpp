// Restriction filters: date literals, minute and AM/PM edges, daylight-saving minutes, the
// grammar's failures, and the range a calendar Find asks the store for.
#include "FakeMailSystem.h"
#include "outlook/automation/Filter.h"
#include "outlook/automation/OutlookServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using automation::ItemClass;
using automation::LocalMinute;
using automation::RestrictionFilter;
using outlook_test::Local;
using testing_support::ScopedTimeZone;

namespace {

RestrictionFilter Parse(const std::string& text, ItemClass itemClass = ItemClass::Appointment) {
    CString error;
    auto filter = RestrictionFilter::Parse(text, itemClass, error);
    EXPECT_TRUE(filter.has_value()) << text << ": " << error;
    return filter.value_or(*RestrictionFilter::Parse("[Subject] = ''", itemClass, error));
}

mail::Appointment At(int64_t start) {
    return outlook_test::Appointment("a", start);
}

mail::Task TaskAt(int64_t reminder, bool set = true) {
    mail::Task t;
    t.subject = "t";
    t.reminderSet = set;
    t.reminderTime = reminder;
    return t;
}

} // namespace

TEST(DateLiteral, BothFormsAndTheTwelveHourEdges) {
    struct Row {
        const char* text;
        int year, month, day, hour, minute;
    };
    const Row rows[] = {
        {"03/14/01 09:05AM", 2001, 3, 14, 9, 5},  {"03/14/01 09:05", 2001, 3, 14, 9, 5},
        {"03/14/01 12:00AM", 2001, 3, 14, 0, 0},  {"03/14/01 12:59AM", 2001, 3, 14, 0, 59},
        {"03/14/01 01:00AM", 2001, 3, 14, 1, 0},  {"03/14/01 11:59AM", 2001, 3, 14, 11, 59},
        {"03/14/01 12:00PM", 2001, 3, 14, 12, 0}, {"03/14/01 12:59PM", 2001, 3, 14, 12, 59},
        {"03/14/01 01:00PM", 2001, 3, 14, 13, 0}, {"03/14/01 11:59PM", 2001, 3, 14, 23, 59},
        {"03/14/01 00:00", 2001, 3, 14, 0, 0},    {"03/14/01 23:59", 2001, 3, 14, 23, 59},
        {"3/4/2001 9:05 pm", 2001, 3, 4, 21, 5},  {" 03/14/01  09:05AM ", 2001, 3, 14, 9, 5},
        {"03/14/68 00:00", 2068, 3, 14, 0, 0},    {"03/14/69 00:00", 1969, 3, 14, 0, 0},
        {"01/19/38 03:14AM", 2038, 1, 19, 3, 14}, {"12/31/99", 1999, 12, 31, 0, 0},
        {"02/29/00 23:59", 2000, 2, 29, 23, 59},
    };
    for (const Row& row : rows) {
        LocalMinute m;
        ASSERT_TRUE(automation::ParseDateLiteral(row.text, m)) << row.text;
        EXPECT_EQ(m.year, row.year) << row.text;
        EXPECT_EQ(m.month, row.month) << row.text;
        EXPECT_EQ(m.day, row.day) << row.text;
        EXPECT_EQ(m.hour, row.hour) << row.text;
        EXPECT_EQ(m.minute, row.minute) << row.text;
    }
    const char* invalid[] = {"03/14/01 00:05AM",
                             "03/14/01 13:05PM",
                             "03/14/01 24:00",
                             "03/14/01 09:60",
                             "02/29/01 10:00",
                             "13/01/01 10:00",
                             "00/01/01",
                             "03/00/01",
                             "03/14/01 9:5",
                             "03/14/01 09:05:40",
                             "03/14/0109:05",
                             "03-14-01 09:05",
                             "",
                             "03/14/01 09:05 XM",
                             "03/14/1 09:05",
                             "03/14/001 09:05",
                             "03/14/01 09:05AMX",
                             "03/14/01 :05"};
    for (const char* text : invalid) {
        LocalMinute m;
        EXPECT_FALSE(automation::ParseDateLiteral(text, m)) << text;
    }
}

TEST(DateLiteral, MinutesThatDaylightSavingRepeatsOrSkips) {
    ScopedTimeZone zone("America/New_York");
    // An ordinary minute.
    auto span = automation::LocalMinuteSpan({2026, 3, 14, 9, 5});
    EXPECT_EQ(span.first, Local(2026, 3, 14, 9, 5));
    EXPECT_EQ(span.last, span.first + 59);
    // 01:30 on 1 November 2026 happens at 05:30 UTC (EDT) and again at 06:30 UTC (EST).
    span = automation::LocalMinuteSpan({2026, 11, 1, 1, 30});
    EXPECT_EQ(span.first, 1793511000);
    EXPECT_EQ(span.last, 1793514600 + 59);
    // 02:30 on 8 March 2026 never happens: the clock goes from 01:59:59 EST to 03:00 EDT at 07:00
    // UTC.
    span = automation::LocalMinuteSpan({2026, 3, 8, 2, 30});
    EXPECT_EQ(span.first, 1772953200);
    EXPECT_EQ(span.last, span.first - 1);
    // The same minutes are plain in a zone without daylight saving.
    ScopedTimeZone utc("UTC");
    span = automation::LocalMinuteSpan({2026, 3, 8, 2, 30});
    EXPECT_EQ(span.first, 1772937000);
    EXPECT_EQ(span.last, 1772937059);
}

TEST(Filter, DatesCompareAtTheMinuteTheLiteralNames) {
    ScopedTimeZone zone("America/New_York");
    const int64_t minute = Local(2001, 3, 14, 9, 5);
    // Items at the literal's minute's first and last second and the seconds either side of it.
    const int64_t before = minute - 1, first = minute, last = minute + 59, after = minute + 60;
    struct Row {
        const char* op;
        bool before, first, last, after;
    };
    const Row rows[] = {
        {">=", false, true, true, true}, {">", false, false, false, true},
        {"<=", true, true, true, false}, {"<", true, false, false, false},
        {"=", false, true, true, false}, {"<>", true, false, false, true},
    };
    for (const char* literal : {"'03/14/01 09:05AM'", "'03/14/01 09:05'", "\"03/14/01 9:05 am\""}) {
        for (const Row& row : rows) {
            const RestrictionFilter f = Parse(std::string("[Start] ") + row.op + " " + literal);
            SCOPED_TRACE(std::string(row.op) + literal);
            EXPECT_EQ(f.Matches(At(before)), row.before);
            EXPECT_EQ(f.Matches(At(first)), row.first);
            EXPECT_EQ(f.Matches(At(last)), row.last);
            EXPECT_EQ(f.Matches(At(after)), row.after);
        }
    }
}

TEST(Filter, TheScansCalendarAndTasksFiltersAtTheirEdges) {
    ScopedTimeZone zone("America/New_York");
    // Built at 09:05:40 on 14 March 2001: the seconds are gone from the literals.
    const RestrictionFilter calendar =
        Parse("[Start] >= '03/14/01 09:05AM' AND [Start] <= '03/21/01 09:05AM'");
    EXPECT_TRUE(calendar.Matches(At(Local(2001, 3, 14, 9, 5, 0))));
    EXPECT_FALSE(calendar.Matches(At(Local(2001, 3, 14, 9, 4, 59))));
    EXPECT_TRUE(calendar.Matches(At(Local(2001, 3, 21, 9, 5, 59))));
    EXPECT_FALSE(calendar.Matches(At(Local(2001, 3, 21, 9, 6, 0))));
    EXPECT_EQ(calendar.StartFrom(), Local(2001, 3, 14, 9, 5, 0));
    EXPECT_EQ(calendar.StartTo(), Local(2001, 3, 21, 9, 5, 59));

    const RestrictionFilter tasks = Parse("[ReminderTime] >= '03/14/01 09:05'", ItemClass::Task);
    EXPECT_TRUE(
        tasks.Matches(TaskAt(Local(2001, 3, 14, 9, 5, 0)))); // earlier in the current minute
    EXPECT_FALSE(tasks.Matches(TaskAt(Local(2001, 3, 14, 9, 4, 59))));
    // A task without a reminder reads as Outlook's "None" date, 4501, and so matches.
    EXPECT_TRUE(tasks.Matches(TaskAt(0, false)));
    EXPECT_FALSE(tasks.StartFrom().has_value());

    // Midnight and noon on the twelve-hour clock.
    const RestrictionFilter midnight = Parse("[Start] >= '03/14/01 12:00AM'");
    EXPECT_TRUE(midnight.Matches(At(Local(2001, 3, 14, 0, 0))));
    EXPECT_FALSE(midnight.Matches(At(Local(2001, 3, 13, 23, 59, 59))));
    const RestrictionFilter noon = Parse("[Start] <= '03/14/01 12:00PM'");
    EXPECT_TRUE(noon.Matches(At(Local(2001, 3, 14, 12, 0, 59))));
    EXPECT_FALSE(noon.Matches(At(Local(2001, 3, 14, 12, 1, 0))));
}

TEST(Filter, AcrossTheRepeatedAndTheSkippedHour) {
    ScopedTimeZone zone("America/New_York");
    // Both 01:30s of 1 November 2026 are at or after '01:30AM', and neither is before it.
    const RestrictionFilter atLeast = Parse("[Start] >= '11/01/26 01:30AM'");
    const RestrictionFilter equal = Parse("[Start] = '11/01/26 01:30AM'");
    for (int64_t t : {int64_t(1793511000), int64_t(1793514600)}) {
        EXPECT_TRUE(atLeast.Matches(At(t)));
        EXPECT_TRUE(equal.Matches(At(t)));
    }
    EXPECT_FALSE(atLeast.Matches(At(1793511000 - 1)));
    // '02:30AM' of 8 March 2026 does not exist: 01:59 is before it, 03:00 after it.
    const RestrictionFilter gap = Parse("[Start] >= '03/08/26 02:30AM'");
    EXPECT_FALSE(gap.Matches(At(Local(2026, 3, 8, 1, 59, 59))));
    EXPECT_TRUE(gap.Matches(At(Local(2026, 3, 8, 3, 0, 0))));
    EXPECT_FALSE(Parse("[Start] = '03/08/26 02:30AM'").Matches(At(Local(2026, 3, 8, 3, 0, 0))));
}

TEST(Filter, OtherPropertiesAndTheirTypes) {
    ScopedTimeZone zone("UTC");
    mail::Appointment a = At(Local(2001, 3, 14, 9, 0));
    a.subject = "Budget Review";
    a.location = "Room 4";
    a.reminderMinutesBeforeStart = 15;
    a.isRecurring = true;
    struct Row {
        const char* filter;
        bool match;
    };
    const Row rows[] = {
        {"[Subject] = 'budget review'", true},
        {"[Subject] <> 'Budget Review'", false},
        {"[Subject] > 'Budget'", true},
        {"[Location] = 'Room 4' and [Subject] = 'Budget Review'", true},
        {"[Location] = 'Room 5'", false},
        {"[ReminderSet] = True", true},
        {"[ReminderSet] = false", false},
        {"[ReminderSet] <> 0", true},
        {"[IsRecurring] = 1", true},
        {"[ReminderMinutesBeforeStart] > 10", true},
        {"[ReminderMinutesBeforeStart] > '15'", false},
        {"[End] <= '03/14/01 10:00'", true},
        {"[End] < '03/14/01 10:00'", false},
        {"[ReminderTime] = '03/14/01 08:45AM'", true},
        {"[ start ]>='03/14/01 09:00'AND[Start]<='03/14/01 09:00'", true},
        {"[Subject] = 'It''s'", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Parse(row.filter).Matches(a), row.match) << row.filter;
    a.subject = "It's";
    EXPECT_TRUE(Parse("[Subject] = 'It''s'").Matches(a));
    EXPECT_TRUE(Parse("[Subject] = \"It's\"").Matches(a));
}

TEST(Filter, MalformedFiltersAreRefusedWithADescription) {
    struct Row {
        const char* filter;
        ItemClass itemClass;
        const char* description;
    };
    const Row rows[] = {
        {"", ItemClass::Appointment, "Cannot parse condition. Error at \"\"."},
        {"[Start] >= '03/14/01 09:05AM' OR [Start] <= '03/21/01 09:05AM'", ItemClass::Appointment,
         "Cannot parse condition. Error at \"OR [Start] <= '03/21/01 09:05AM'\"."},
        {"[Start] >= '03/14/01 09:05AM' AND", ItemClass::Appointment,
         "Cannot parse condition. Error at \"AND\"."},
        {"[Start] >= '03/14/01 09:05AM' [End] <= '03/21/01'", ItemClass::Appointment,
         "Cannot parse condition. Error at \"[End] <= '03/21/01'\"."},
        {"[Start] ~ '03/14/01'", ItemClass::Appointment,
         "Cannot parse condition. Error at \"~ '03/14/01'\"."},
        {"[Start] >= 03/14/01", ItemClass::Appointment,
         "Cannot parse condition. Error at \"03/14/01\"."},
        {"[Start >= '03/14/01'", ItemClass::Appointment,
         "Cannot parse condition. Error at \"[Start >= '03/14/01'\"."},
        {"Start >= '03/14/01'", ItemClass::Appointment,
         "Cannot parse condition. Error at \"Start >= '03/14/01'\"."},
        {"[Subject] = 'open", ItemClass::Appointment,
         "Cannot parse condition. Error at \"'open\"."},
        {"[Subject] = open", ItemClass::Appointment, "Cannot parse condition. Error at \"open\"."},
        {"[Subject] =", ItemClass::Appointment, "Cannot parse condition. Error at \"\"."},
        {"[ReminderMinutesBeforeStart] = 'ten'", ItemClass::Appointment,
         "Cannot parse condition. Error at \"'ten'\"."},
        {"[Foo] = 'x'", ItemClass::Appointment,
         "The property \"Foo\" in the condition is not valid."},
        {"[Location] = 'x'", ItemClass::Task,
         "The property \"Location\" in the condition is not valid."},
        {"[Start] >= '13/14/01 09:05AM'", ItemClass::Appointment,
         "The date \"13/14/01 09:05AM\" in the condition is not valid."},
        {"[Start] >= '03/14/01 00:05AM'", ItemClass::Appointment,
         "The date \"03/14/01 00:05AM\" in the condition is not valid."},
        {"[ReminderSet] > True", ItemClass::Task,
         "The operator in the condition cannot be used with \"ReminderSet\"."},
    };
    for (const Row& row : rows) {
        CString error;
        EXPECT_FALSE(RestrictionFilter::Parse(row.filter, row.itemClass, error).has_value())
            << row.filter;
        EXPECT_EQ(error, row.description) << row.filter;
    }
}

TEST(Filter, TheStartRangeAFindAsksTheStoreFor) {
    ScopedTimeZone zone("America/New_York");
    const int64_t now = Local(2001, 3, 14, 9, 5, 40);
    const int64_t span = automation::kMaxFindSpan;
    struct Row {
        const char* filter;
        int64_t from, to;
    };
    const Row rows[] = {
        {"[Start] >= '03/14/01 09:05AM' AND [Start] <= '03/21/01 09:05AM'",
         Local(2001, 3, 14, 9, 5), Local(2001, 3, 21, 9, 5, 59)},
        {"[Start] > '03/14/01 09:05AM' AND [Start] < '03/21/01 09:05AM'", Local(2001, 3, 14, 9, 6),
         Local(2001, 3, 21, 9, 4, 59)},
        {"[Start] = '03/14/01 09:05AM'", Local(2001, 3, 14, 9, 5), Local(2001, 3, 14, 9, 5, 59)},
        // The tighter of two bounds on a side.
        {"[Start] >= '03/10/01' AND [Start] >= '03/12/01' AND [Start] <= '03/20/01'",
         Local(2001, 3, 12, 0, 0), Local(2001, 3, 20, 0, 0, 59)},
        // Open sides are bounded.
        {"[Subject] = 'x'", now, now + span},
        {"[Start] <> '03/14/01 09:05AM'", now, now + span},
        {"[Start] >= '03/14/01 09:05AM'", Local(2001, 3, 14, 9, 5),
         Local(2001, 3, 14, 9, 5) + span},
        {"[Start] <= '03/21/01 09:05AM'", Local(2001, 3, 21, 9, 5, 59) - span,
         Local(2001, 3, 21, 9, 5, 59)},
        {"[Start] >= '01/01/1990' AND [Start] <= '01/01/2030'", Local(1990, 1, 1, 0, 0),
         Local(1990, 1, 1, 0, 0) + span},
        // Contradictory bounds leave nothing to ask for.
        {"[Start] >= '03/21/01' AND [Start] < '03/14/01'", Local(2001, 3, 21, 0, 0),
         Local(2001, 3, 14, 0, 0) - 1},
    };
    for (const Row& row : rows) {
        const auto range = automation::ExpansionRange(Parse(row.filter), now);
        EXPECT_EQ(range.from, row.from) << row.filter;
        EXPECT_EQ(range.to, row.to) << row.filter;
    }
}

TEST(Filter, SortKeys) {
    automation::ItemProperty p;
    CString error;
    EXPECT_TRUE(automation::ParseSortProperty("[Start]", ItemClass::Appointment, p, error));
    EXPECT_EQ(p, automation::ItemProperty::Start);
    EXPECT_TRUE(automation::ParseSortProperty(" [subject] ", ItemClass::Task, p, error));
    EXPECT_EQ(p, automation::ItemProperty::Subject);
    EXPECT_TRUE(automation::ParseSortProperty("[Start]", ItemClass::Task, p, error));
    EXPECT_FALSE(automation::ParseSortProperty("Start", ItemClass::Appointment, p, error));
    EXPECT_EQ(error, "The property \"Start\" cannot be used to sort these items.");
    EXPECT_FALSE(automation::ParseSortProperty("[Location]", ItemClass::Task, p, error));
    EXPECT_FALSE(automation::ParseSortProperty("[Nothing]", ItemClass::Appointment, p, error));
}
