// Times as libical gives them, turned into instants: zones of a calendar file, floating and
// all-day times in the process's local time zone.
#pragma once

#include <cstdint>
#include <libical/ical.h>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

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

// The zones one calendar file refers to: its own VTIMEZONEs first (by TZID as written, then
// leniently: TimeZoneNames.h), then libical's built-in zones by IANA or Windows name. A TZID that
// none of them knows is read as floating, and noted once.
class ZoneTable {
public:
    // Holds the pooled zones in use for the table's lifetime: ZonePoolTrim leaves them while any
    // table lives, so that tables may be used on several threads at once.
    ZoneTable();
    ZoneTable(const ZoneTable&) = delete;
    ZoneTable& operator=(const ZoneTable&) = delete;

    // Registers one VTIMEZONE block (its text). Identical texts share one parsed zone in a
    // process-wide pool, so a thousand calendars with the same zone parse it once.
    void Add(std::string_view vtimezoneText);
    // The calendar's own zone (X-WR-TIMEZONE, as Google and Apple write it): floating times are
    // read in it rather than in local time. An unknown name is noted and changes nothing.
    void SetCalendarZone(std::string_view name);
    // The zone of a DATE-TIME property: UTC for a "Z" value, its TZID's zone, else floating
    // (the calendar's zone when it has one).
    Zone ZoneOf(icalproperty* property, const icaltimetype& value);
    // The zone of a floating time: the calendar's zone, or Floating.
    const Zone& FloatingZone() const { return m_floating; }
    // Sentence fragments naming the zones that could not be read.
    const std::vector<std::string>& Notices() const { return m_notices; }

private:
    // A zone by name; null (and noted) when nothing knows it.
    icaltimezone* Resolve(const std::string& tzid);
    Zone Classify(icaltimezone* zone) const;

    std::map<std::string, icaltimezone*, std::less<>> m_byTzid; // also misses, as null
    std::map<std::string, icaltimezone*, std::less<>> m_byKey;  // VTIMEZONEs by tz::Key
    Zone m_floating;
    std::vector<std::string> m_notices;
    std::shared_lock<std::shared_mutex> m_inUse;
};

// Frees the pooled zones when more than `keep` distinct ones are held and no ZoneTable is in use
// (on any thread); otherwise does nothing, and a later call trims. Never call it while the
// calling thread holds a ZoneTable.
void ZonePoolTrim(size_t keep);

// Loads libical's list of built-in zones, so that worker threads that parse calendars find it
// loaded. Call on the main thread before starting them; later calls cost nothing.
void PreloadBuiltinZones();

} // namespace mail::ical
