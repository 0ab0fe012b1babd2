// Dates as the Sieve date extension (RFC 5260) sees them: time zones, the date parts of an
// instant, date-times written in keys read as instants, and the comparators and match types
// (RFC 5228, RFC 5231) that compare a date part with keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mail::sieve {

// A zone in which instants are shown and wall-clock dates are read: a fixed offset ("+0100"),
// or a named zone whose offset follows its rules.
class Zone {
public:
    Zone() = default; // UTC
    static Zone Fixed(int offsetSeconds);
    // An IANA name ("Europe/Berlin"); an empty name is the process's local zone (TZ). False
    // when the name is not known.
    static bool Named(const std::string& name, Zone& out);
    // A zone as a :zone argument writes it: "+hhmm" or "-hhmm" (also "+hh:mm", "Z", "UTC",
    // "GMT"), or an IANA name. False when it is none of these.
    static bool FromArgument(std::string_view text, Zone& out);

    // Seconds east of UTC at that instant.
    int OffsetAt(int64_t instant) const;
    // The instant at which the zone's clocks show that wall-clock time. A time skipped by a
    // change of the clocks is read with the offset before the change (02:30 on the night the
    // clocks go from 02:00 to 03:00 is 03:30); a time shown twice is the earlier instant.
    int64_t FromWallClock(int64_t year, int month, int day, int hour, int minute,
                          int second) const;

private:
    bool m_named = false;
    int m_offset = 0;    // fixed zones: seconds east of UTC
    std::string m_name;  // named zones: the IANA name; empty: the local zone
};

// The date parts RFC 5260 defines: "year", "month", "day", "date", "julian", "hour", "minute",
// "second", "time", "iso8601", "std11", "zone", "weekday". False for any other name (compared
// without regard to case).
bool IsDatePart(std::string_view part);

// The value of a date part for `instant` shown with `offsetSeconds`: "2026-12-24" for "date",
// "2026-12-24T10:00:00+01:00" for "iso8601", "+0100" for "zone", "4" (Thursday) for "weekday".
// `part` must be one IsDatePart accepts.
std::string DatePart(std::string_view part, int64_t instant, int offsetSeconds);

// A key written as an ISO 8601 date-time ("2026-12-24T10:00:00", optionally with fractions of a
// second and "Z", "+01:00" or "+0100"), read as an instant: with its own offset when it has one,
// else as a wall-clock time in `zone`. False when the key is no complete date-time.
bool ReadDateTime(std::string_view key, const Zone& zone, int64_t& instant);

// How a test compares values with keys.
struct Matcher {
    enum class Type { Is, Contains, Matches, Regex, Value, Count };
    enum class Comparator { AsciiCasemap, Octet, AsciiNumeric, Unknown };
    Type type = Type::Is;
    Comparator comparator = Comparator::AsciiCasemap;
    std::string relation; // Value and Count: "gt", "ge", "lt", "le", "eq" or "ne"
};

// The comparator of a :comparator argument ("i;ascii-casemap", "i;octet", "i;ascii-numeric").
Matcher::Comparator ComparatorNamed(std::string_view name);
// False unless `relation` is one of RFC 5231's six, in any case.
bool IsRelation(std::string_view relation);

// Whether `value` matches `key` under the matcher's type (not Count or Regex) and comparator.
bool Matches(const Matcher& matcher, std::string_view value, std::string_view key);

// The sign of comparing two values under a comparator: negative, zero or positive.
int Compare(Matcher::Comparator comparator, std::string_view a, std::string_view b);
// Whether a comparison's sign satisfies a relation ("ge": sign >= 0).
bool Satisfies(std::string_view relation, int sign);

} // namespace mail::sieve
