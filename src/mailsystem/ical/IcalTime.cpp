// Instants from libical times; the pool of parsed VTIMEZONEs.
#include "mailsystem/ical/IcalTime.h"

#include "core/CTime.h"
#include "mailsystem/ical/TimeZoneNames.h"

#include <ctime>
#include <mutex>
#include <unordered_map>

namespace mail::ical {
namespace {

struct ZonePool {
    std::shared_mutex inUse; // shared by every live ZoneTable; a trim takes it whole
    std::mutex mutex;
    std::unordered_map<std::string, icaltimezone*> zones; // owned: icaltimezone_free(zone, 1)
};

ZonePool& Pool() {
    static ZonePool* pool = new ZonePool; // never destroyed: zones may be borrowed at exit
    return *pool;
}

int64_t LocalInstant(int year, int month, int day, int hour, int minute, int second) {
    return LocalTimeToInstant(year, month, day, hour, minute, second);
}

} // namespace

int64_t LocalMidnight(int year, int month, int day) {
    return LocalInstant(year, month, day, 0, 0, 0);
}

int64_t ToInstant(const icaltimetype& t, const Zone& zone) {
    if (t.is_date)
        return LocalMidnight(t.year, t.month, t.day);
    switch (zone.kind) {
    case Zone::Utc:
        return static_cast<int64_t>(icaltime_as_timet(t));
    case Zone::Zoned:
        return static_cast<int64_t>(icaltime_as_timet_with_zone(t, zone.zone));
    case Zone::Floating:
        break;
    }
    return LocalInstant(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

icaltimetype FromInstant(int64_t instant, const Zone& zone, bool isDate) {
    icaltimetype t;
    if (zone.kind == Zone::Floating || isDate) {
        const time_t seconds = static_cast<time_t>(instant);
        struct tm tm = {};
        localtime_r(&seconds, &tm);
        t = icaltime_null_time();
        t.year = tm.tm_year + 1900;
        t.month = tm.tm_mon + 1;
        t.day = tm.tm_mday;
        t.hour = tm.tm_hour;
        t.minute = tm.tm_min;
        t.second = tm.tm_sec;
    } else {
        t = icaltime_from_timet_with_zone(static_cast<time_t>(instant), 0,
                                          zone.kind == Zone::Utc ? icaltimezone_get_utc_timezone()
                                                                 : zone.zone);
    }
    if (isDate) {
        t.is_date = 1;
        t.hour = t.minute = t.second = 0;
    }
    return t;
}

ZoneTable::ZoneTable() : m_inUse(Pool().inUse) {}

void ZoneTable::Add(std::string_view text) {
    icaltimezone* zone = nullptr;
    {
        ZonePool& pool = Pool();
        std::lock_guard<std::mutex> lock(pool.mutex);
        auto found = pool.zones.find(std::string(text));
        if (found != pool.zones.end()) {
            zone = found->second;
        } else {
            ComponentPtr component(icalparser_parse_string(std::string(text).c_str()));
            if (!component || icalcomponent_isa(component.get()) != ICAL_VTIMEZONE_COMPONENT)
                return;
            zone = icaltimezone_new();
            // On success the zone owns the component.
            if (!zone || !icaltimezone_set_component(zone, component.get())) {
                if (zone)
                    icaltimezone_free(zone, 1);
                return;
            }
            component.release();
            pool.zones.emplace(std::string(text), zone);
        }
    }
    if (const char* tzid = icaltimezone_get_tzid(zone)) {
        m_byTzid.emplace(tzid, zone);
        m_byKey.emplace(tz::Key(tzid), zone);
    }
}

icaltimezone* ZoneTable::Resolve(const std::string& tzid) {
    auto found = m_byTzid.find(tzid);
    if (found != m_byTzid.end())
        return found->second;
    // Remember misses too, so that an unknown TZID is looked up, and noted, once per file.
    icaltimezone* zone = nullptr;
    const auto own = m_byKey.find(tz::Key(tzid));
    if (own != m_byKey.end())
        zone = own->second;
    else
        zone = tz::BuiltinZone(tzid);
    if (!zone) {
        m_notices.push_back("names the time zone \"" + tzid +
                            "\", which is not known; its times are read as local time");
    }
    m_byTzid.emplace(tzid, zone);
    return zone;
}

Zone ZoneTable::Classify(icaltimezone* zone) const {
    if (!zone)
        return m_floating;
    if (zone == icaltimezone_get_utc_timezone())
        return {Zone::Utc, nullptr};
    return {Zone::Zoned, zone};
}

void ZoneTable::SetCalendarZone(std::string_view name) {
    if (tz::Normalised(name).empty())
        return;
    m_floating = Classify(Resolve(std::string(name)));
}

Zone ZoneTable::ZoneOf(icalproperty* property, const icaltimetype& value) {
    if (icaltime_is_utc(value))
        return {Zone::Utc, nullptr};
    icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
    const char* tzid = parameter ? icalparameter_get_tzid(parameter) : nullptr;
    if (!tzid || !*tzid)
        return m_floating;
    return Classify(Resolve(tzid));
}

void ZonePoolTrim(size_t keep) {
    ZonePool& pool = Pool();
    std::unique_lock<std::shared_mutex> unused(pool.inUse, std::try_to_lock);
    if (!unused.owns_lock())
        return; // a table on another thread borrows pooled zones
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (pool.zones.size() <= keep)
        return;
    for (auto& [text, zone] : pool.zones)
        icaltimezone_free(zone, 1);
    pool.zones.clear();
}

void PreloadBuiltinZones() {
    // The first call parses libical's zone table; the zones themselves load under its own lock.
    icaltimezone_get_builtin_timezones();
    icaltimezone_get_utc_timezone();
}

} // namespace mail::ical
