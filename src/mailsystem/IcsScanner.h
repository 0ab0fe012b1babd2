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
    // The UNTIL of its RRULE read the same way; kUnknownTime when there is none.
    int64_t approxUntil = kUnknownTime;
    bool hasRRule = false;
    bool hasRDate = false;
    bool hasRecurrenceId = false;
    std::string uid;   // its UID (unfolded)
    std::string rrule; // the value of its first RRULE
};

struct ScanResult {
    std::vector<RawComponent> components; // in file order
    std::string damage; // empty, or what is wrong and on which line (a sentence fragment)
};

// Scans `text` (the whole file). An empty or blank text is an empty calendar. Line ends may be
// CRLF or LF; folded lines are followed. Damage: text outside BEGIN:VCALENDAR...END:VCALENDAR,
// unbalanced or mismatched BEGIN/END, a line that is no content line, NUL bytes, a text ending
// inside a component.
ScanResult Scan(std::string_view text);

// The longest content line (unfolded) handed to libical, whose parser takes time that grows with
// the square of a line's length: a longer one (a subject of megabytes) is cut here.
inline constexpr size_t kMaxContentLine = 64 * 1024;

// The component's lines that the calendar reader uses (dates, rules, texts, alarms, status),
// with every BEGIN/END line, as text that libical can parse on its own. Folded lines are kept
// folded; each is cut at kMaxContentLine bytes.
std::string ReducedComponent(std::string_view text, const RawComponent& component);

// "YYYYMMDD", "YYYYMMDDTHHMMSS" or "...Z" read as UTC seconds; kUnknownTime otherwise.
int64_t QuickTime(std::string_view value);

} // namespace mail::ics
