// Dates of the Sieve date extension: every date part of one instant in several zones, date-times
// in keys read as instants, wall clocks across changes of the clocks, and the comparators and
// match types.
#include "mailsystem/sieve/SieveDates.h"

#include <gtest/gtest.h>

namespace {

using namespace mail::sieve;

int64_t Utc(const char* iso) {
    int64_t instant = 0;
    EXPECT_TRUE(ReadDateTime(iso, Zone::Fixed(0), instant)) << iso;
    return instant;
}

TEST(SieveDatesTest, EveryDatePartOfOneInstantInThreeZones) {
    // 31 December 2026, 23:30:05 UTC: a Thursday, and already 1 January in +0100.
    const int64_t instant = Utc("2026-12-31T23:30:05Z");
    struct Row {
        const char* part;
        int offset;
        const char* value;
    };
    const Row rows[] = {
        {"year", 0, "2026"},
        {"year", 3600, "2027"},
        {"month", 3600, "01"},
        {"day", -18000, "31"},
        {"date", 0, "2026-12-31"},
        {"DATE", 3600, "2027-01-01"},
        {"julian", 0, "61405"},
        {"hour", 0, "23"},
        {"hour", -18000, "18"},
        {"minute", 19800, "00"},
        {"second", 0, "05"},
        {"time", 19800, "05:00:05"},
        {"iso8601", 0, "2026-12-31T23:30:05+00:00"},
        {"iso8601", -18000, "2026-12-31T18:30:05-05:00"},
        {"iso8601", 19800, "2027-01-01T05:00:05+05:30"},
        {"std11", 3600, "Fri, 01 Jan 2027 00:30:05 +0100"},
        {"std11", -18000, "Thu, 31 Dec 2026 18:30:05 -0500"},
        {"zone", 0, "+0000"},
        {"zone", -12600, "-0330"},
        {"weekday", 0, "4"},
        {"weekday", 3600, "5"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(IsDatePart(row.part)) << row.part;
        EXPECT_EQ(DatePart(row.part, instant, row.offset), row.value)
            << row.part << " at " << row.offset;
    }
    EXPECT_FALSE(IsDatePart("epoch"));
    EXPECT_FALSE(IsDatePart(""));
}

TEST(SieveDatesTest, DateTimesInKeysAreInstants) {
    struct Row {
        const char* key;
        const char* zone; // the zone of keys that name none
        const char* instant; // UTC, or "" when the key is no date-time
    };
    const Row rows[] = {
        {"2026-12-24T10:00:00Z", "Europe/Berlin", "2026-12-24T10:00:00Z"},
        {"2026-12-24T10:00:00+01:00", "UTC", "2026-12-24T09:00:00Z"},
        {"2026-12-24T10:00:00-0500", "UTC", "2026-12-24T15:00:00Z"},
        {"2026-12-24T10:00:00.750Z", "UTC", "2026-12-24T10:00:00Z"},
        {"2026-12-24T10:00", "UTC", "2026-12-24T10:00:00Z"},
        {"2026-12-24T10:00:00", "Europe/Berlin", "2026-12-24T09:00:00Z"},
        {"2026-07-24T10:00:00", "Europe/Berlin", "2026-07-24T08:00:00Z"},
        {"2026-12-24T24:00:00Z", "UTC", "2026-12-25T00:00:00Z"},
        // Wall clocks across the changes of the clocks in Berlin (29 March, 25 October 2026).
        {"2026-03-29T02:30:00", "Europe/Berlin", "2026-03-29T01:30:00Z"},
        {"2026-10-25T02:30:00", "Europe/Berlin", "2026-10-25T00:30:00Z"},
        {"2026-12-24", "UTC", ""},
        {"2026-02-30T10:00:00Z", "UTC", ""},
        {"2026-12-24T10:00:00+25:00", "UTC", ""},
        {"2026-12-24T10:00:00 Z", "UTC", ""},
        {"2026-12-24 10:00:00Z", "UTC", ""},
        {"", "UTC", ""},
    };
    for (const Row& row : rows) {
        Zone zone;
        ASSERT_TRUE(Zone::Named(row.zone, zone)) << row.zone;
        int64_t instant = 0;
        const bool read = ReadDateTime(row.key, zone, instant);
        EXPECT_EQ(read, *row.instant != '\0') << row.key;
        if (read && *row.instant) {
            EXPECT_EQ(instant, Utc(row.instant)) << row.key << " in " << row.zone;
        }
    }
}

TEST(SieveDatesTest, ZoneArgumentsAndNames) {
    struct Row {
        const char* text;
        bool valid;
        int offset; // at the instant below
    };
    const int64_t july = Utc("2026-07-01T12:00:00Z");
    const Row rows[] = {
        {"+0100", true, 3600},     {"-0530", true, -19800}, {"+05:30", true, 19800},
        {"Z", true, 0},            {"utc", true, 0},        {"Europe/Berlin", true, 7200},
        {"+2400", false, 0},       {"0100", false, 0},      {"+01", true, 3600},
        {"Nowhere/City", false, 0}, {"", false, 0},
    };
    for (const Row& row : rows) {
        Zone zone;
        EXPECT_EQ(Zone::FromArgument(row.text, zone), row.valid) << row.text;
        if (row.valid) {
            EXPECT_EQ(zone.OffsetAt(july), row.offset) << row.text;
        }
    }
}

TEST(SieveDatesTest, ComparatorsAndMatchTypes) {
    using Type = Matcher::Type;
    using Cmp = Matcher::Comparator;
    struct Row {
        Type type;
        Cmp comparator;
        const char* relation;
        const char* value;
        const char* key;
        bool matches;
    };
    const Row rows[] = {
        {Type::Is, Cmp::AsciiCasemap, "", "Thu", "thu", true},
        {Type::Is, Cmp::Octet, "", "Thu", "thu", false},
        {Type::Value, Cmp::AsciiCasemap, "ge", "2026-12-24", "2026-12-24", true},
        {Type::Value, Cmp::AsciiCasemap, "gt", "2026-12-24", "2026-12-24", false},
        {Type::Value, Cmp::AsciiCasemap, "lt", "2026-12-23", "2026-12-24", true},
        {Type::Value, Cmp::AsciiCasemap, "le", "2026-12-25", "2026-12-24", false},
        {Type::Value, Cmp::AsciiCasemap, "ne", "a", "b", true},
        {Type::Value, Cmp::AsciiCasemap, "eq", "A", "a", true},
        // Text compares "9" after "10"; numbers do not.
        {Type::Value, Cmp::AsciiCasemap, "gt", "9", "10", true},
        {Type::Value, Cmp::AsciiNumeric, "gt", "9", "10", false},
        {Type::Value, Cmp::AsciiNumeric, "eq", "007", "7", true},
        {Type::Value, Cmp::AsciiNumeric, "gt", "x", "99999", true}, // no number: above all
        {Type::Contains, Cmp::AsciiCasemap, "", "2026-12-24", "12-2", true},
        {Type::Contains, Cmp::AsciiCasemap, "", "2026", "20265", false},
        {Type::Matches, Cmp::AsciiCasemap, "", "2026-12-24", "2026-12-*", true},
        {Type::Matches, Cmp::AsciiCasemap, "", "2026-12-24", "2026-1?-2?", true},
        {Type::Matches, Cmp::AsciiCasemap, "", "2026-12-24", "2026-12-2", false},
        {Type::Matches, Cmp::AsciiCasemap, "", "a*b", "a\\*b", true},
        {Type::Matches, Cmp::AsciiCasemap, "", "axb", "a\\*b", false},
        {Type::Matches, Cmp::AsciiCasemap, "", "", "*", true},
        {Type::Matches, Cmp::AsciiCasemap, "", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaab",
         "*a*a*a*a*a*a*a*a*c", false},
    };
    for (const Row& row : rows) {
        Matcher matcher;
        matcher.type = row.type;
        matcher.comparator = row.comparator;
        matcher.relation = row.relation;
        EXPECT_EQ(Matches(matcher, row.value, row.key), row.matches)
            << row.value << " against " << row.key << " " << row.relation;
    }
    EXPECT_EQ(ComparatorNamed("I;ASCII-NUMERIC"), Cmp::AsciiNumeric);
    EXPECT_EQ(ComparatorNamed("i;unicode-casemap"), Cmp::Unknown);
}

} // namespace
