// A byte-level pass over iCalendar text: checks its structure and finds the components worth
// parsing, without parsing any value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mail::ics {

enum class Kind : uint8_t { Event, Todo, TimeZone };

// "Unknown" for the quick times below: the text did not have the plain date form.
inline constexpr int64_t kUnknownTime = INT64_MIN;

// One VEVENT, VTODO or VTIMEZONE directly inside a VCALENDAR; other components are skipped.
struct RawComponent {
    Kind kind = Kind::Event;
    uint32_t begin = 0; // byte offset of its BEGIN line
    uint32_t end = 0;   // byte offset just past its END line
    uint32_t line = 0;  // line number (from 1) of its BEGIN line
    // DTSTART read as if it were UTC, whatever its zone: within a day of the true instant.
    int64_t approxStart = kUnknownTime;
    // The latest end its RRULEs give, read the same way (an UNTIL date counts to its end);
    // kUnknownTime when a rule has no readable UNTIL.
    int64_t approxUntil = kUnknownTime;
    bool hasRRule = false; // an RRULE with a value (an empty "RRULE:" is no rule)
    bool hasRDate = false;
    bool hasRecurrenceId = false;
    std::string uid;                 // its UID (unfolded)
    std::string recurrenceId;        // the value of its RECURRENCE-ID (unfolded), if any
    std::vector<std::string> rrules; // the values of its RRULEs (unfolded), in file order
    std::vector<std::string> exrules; // the values of its EXRULEs (unfolded), in file order
    // Byte offsets of physical lines inside it that are not content lines: lines read as the
    // continuation of the line before (a fold that lost its leading blank), and lines skipped.
    std::vector<uint32_t> joinedLines, skippedLines;
};

struct ScanResult {
    std::vector<RawComponent> components; // in file order
    std::string damage; // empty, or what is wrong and on which line (a sentence fragment)
    // Repairs worth telling the administrator about (sentence fragments naming lines).
    std::vector<std::string> notices;
    std::string calendarZone; // the first X-WR-TIMEZONE of a VCALENDAR, if any
    // Some line ends with a carriage return alone, which libical does not take for a line end:
    // every component has to reach it through ReducedComponent.
    bool bareCarriageReturns = false;
};

// Scans `text` (the whole file). An empty or blank text is an empty calendar. Line ends may be
// CRLF, LF or a CR alone; folded lines are followed. Inside the calendar a line that is no
// content line is read as the continuation of the property line before it (a fold that lost its
// leading blank) or, after a BEGIN or END line or a blank line, skipped; either is noted. A
// component of the calendar whose BEGIN and END lines do not pair up (an END of another name, a
// component that the next one begins inside, an END:VCALENDAR while it is open) is left out of
// `components`, and the rest of the calendar is read; so is an END line of nothing open inside
// the calendar. Either is noted. Damage: text outside BEGIN:VCALENDAR...END:VCALENDAR, an END
// outside it, NUL bytes, nesting beyond 16 levels, a text ending inside a component.
ScanResult Scan(std::string_view text);

// The longest content line (unfolded) handed to libical, whose parser takes time that grows with
// the square of a line's length: a longer one (a subject of megabytes) is cut there.
inline constexpr size_t kMaxContentLine = 64 * 1024;

// The component's lines that the calendar reader uses (dates, texts, alarms, status; not its
// RRULEs, which are read from RawComponent::rrules), with every BEGIN/END line, as text that
// libical can parse on its own. Folded lines are kept folded, lost folds restored; each is cut at
// kMaxContentLine bytes. With `all`, every line is kept (for VTIMEZONEs).
std::string ReducedComponent(std::string_view text, const RawComponent& component,
                             bool all = false);

// The version of a component as its SEQUENCE, LAST-MODIFIED and DTSTAMP give it (missing ones
// are lowest), for choosing among several components that are versions of one item.
struct Version {
    int64_t sequence = -1;
    int64_t lastModified = kUnknownTime;
    int64_t stamp = kUnknownTime;
    auto operator<=>(const Version&) const = default;
};
Version VersionOf(std::string_view text, const RawComponent& component);

// "YYYYMMDD", "YYYYMMDDTHHMMSS" or "...Z" read as UTC seconds; kUnknownTime otherwise.
int64_t QuickTime(std::string_view value);

} // namespace mail::ics
