// Times as libical gives them, turned into instants: zones of a calendar file, floating and
// all-day times in the process's local time zone.
#pragma once

#include <cstdint>
#include <libical/ical.h>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace mail::ical {

struct ComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
// A parsed component owned by the caller (icalcomponent_free on release).
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

// Where a wall-clock time lies. A zone pointer is borrowed: from the zone pool or libical's
// built-in zones, both living as long as the process (or until ZonePoolTrim).
struct Zone {
    enum Kind { Floating, Utc, Zoned };
    Kind kind = Floating;
    icaltimezone* zone = nullptr; // Zoned only
};

// Seconds since 1970 of a wall-clock time. DATE values (all-day) are local midnight whatever
// the zone; floating times are local time (the TZ of the process at the call).
int64_t ToInstant(const icaltimetype& t, const Zone& zone);
// The wall-clock time of an instant in `zone`; with `isDate`, only its date.
icaltimetype FromInstant(int64_t instant, const Zone& zone, bool isDate);
// The instant of local midnight at the start of that date (mktime; no range limit on 64 bits).
int64_t LocalMidnight(int year, int month, int day);

// The zones one calendar file refers to: its own VTIMEZONEs first, then libical's built-in zones
// by name (Olson names such as "Europe/Berlin"). A TZID that neither knows is read as floating.
class ZoneTable {
public:
    // Registers one VTIMEZONE block (its raw text). Identical texts share one parsed zone in a
    // process-wide pool, so a thousand calendars with the same zone parse it once.
    void Add(std::string_view vtimezoneText);
    // The zone of a DATE-TIME property: UTC for a "Z" value, its TZID's zone, else floating.
    Zone ZoneOf(icalproperty* property, const icaltimetype& value);

private:
    std::map<std::string, icaltimezone*, std::less<>> m_byTzid;
};

// Frees the pooled zones when more than `keep` distinct ones are held. Call only when no
// ZoneTable is in use (the calendar cache calls it between builds).
void ZonePoolTrim(size_t keep);

} // namespace mail::ical
