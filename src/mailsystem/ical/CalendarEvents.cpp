// Reading parsed events and tasks: times, rules, exceptions and the first usable alarm.
#include "mailsystem/ical/CalendarEvents.h"

#include "mailsystem/ical/Recurrence.h"

#include <algorithm>
#include <climits>
#include <strings.h>

namespace mail::calendar {
namespace {

using ical::Zone;

constexpr int64_t kDay = 86400;

bool IsNoneAction(icalproperty* action) {
    const char* text = icalproperty_get_value_as_string(action);
    return text && strcasecmp(text, "NONE") == 0;
}

// The reminder: the first VALARM in file order with a readable trigger, skipping ACTION:NONE
// (a placeholder some programs write for "no alarm").
Trigger ChooseTrigger(icalcomponent* component, ical::ZoneTable& zones) {
    for (icalcomponent* alarm = icalcomponent_get_first_component(component, ICAL_VALARM_COMPONENT);
         alarm; alarm = icalcomponent_get_next_component(component, ICAL_VALARM_COMPONENT)) {
        icalproperty* action = icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
        if (action && IsNoneAction(action))
            continue;
        icalproperty* property = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
        if (!property)
            continue;
        const icaltriggertype trigger = icalproperty_get_trigger(property);
        if (!icaltime_is_null_time(trigger.time)) {
            if (!icaltime_is_valid_time(trigger.time))
                continue;
            return {Trigger::Absolute,
                    ical::ToInstant(trigger.time, zones.ZoneOf(property, trigger.time))};
        }
        if (icaldurationtype_is_bad_duration(trigger.duration))
            continue;
        icalparameter* related = icalproperty_get_first_parameter(property, ICAL_RELATED_PARAMETER);
        const bool fromEnd = related && icalparameter_get_related(related) == ICAL_RELATED_END;
        return {fromEnd ? Trigger::End : Trigger::Start, icaldurationtype_as_int(trigger.duration)};
    }
    return {};
}

bool UsableTime(const icaltimetype& t) {
    return !icaltime_is_null_time(t) && icaltime_is_valid_time(t);
}

// A DATE-TIME written without "Z" and without a TZID.
bool WrittenFloating(icalproperty* p, const icaltimetype& t) {
    if (t.is_date || icaltime_is_utc(t))
        return false;
    icalparameter* tzid = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
    const char* name = tzid ? icalparameter_get_tzid(tzid) : nullptr;
    return !name || !*name;
}

const char* Text(const char* text) {
    return text ? text : "";
}

} // namespace

int DateKey(const icaltimetype& t) {
    return t.year * 10000 + t.month * 100 + t.day;
}

int64_t Event::EndOf(const icaltimetype& occurrence, int64_t instant) const {
    if (start.is_date)
        return ical::LocalMidnight(occurrence.year, occurrence.month, occurrence.day + spanDays);
    return instant + duration;
}

int64_t Event::RecurrenceIdIn(const Zone& seriesZone) const {
    if (recurrenceIdIsDate)
        return ical::ToInstant(recurrenceId, Zone{});
    const Zone& zone =
        recurrenceIdFloating && seriesZone.kind != Zone::Floating ? seriesZone : recurrenceIdZone;
    return ical::ToInstant(recurrenceId, zone);
}

int32_t Lead(const Trigger& trigger, int64_t start, int64_t end, int64_t seriesStart) {
    int64_t before = 0;
    switch (trigger.kind) {
    case Trigger::None:
        return 0;
    case Trigger::Start:
        before = -trigger.value;
        break;
    case Trigger::End:
        before = start - (end + trigger.value);
        break;
    case Trigger::Absolute:
        before = seriesStart - trigger.value;
        break;
    }
    const int64_t minutes = before >= 0 ? (before + 59) / 60 : before / 60;
    return static_cast<int32_t>(std::clamp<int64_t>(minutes, INT32_MIN, INT32_MAX));
}

bool Rules::Unreadable() const {
    return std::any_of(faults.begin(), faults.end(),
                       [](const RuleFault& f) { return f.kind == RuleFault::Unreadable; });
}

Rules ReadRules(const std::vector<std::string>& values, bool exclusion) {
    Rules read;
    for (const std::string& text : values) {
        icalrecurrencetype rule;
        std::vector<std::string> repeated;
        if (!recurrence::ParseRule(text, rule, &repeated)) {
            read.faults.push_back({RuleFault::Unreadable, exclusion, text, {}});
            continue;
        }
        read.rules.push_back(rule);
        read.texts.push_back(text);
        if (!repeated.empty()) {
            std::string parts;
            for (size_t i = 0; i < repeated.size(); ++i)
                parts += (i == 0 ? "" : i + 1 == repeated.size() ? " and " : ", ") + repeated[i];
            read.faults.push_back({RuleFault::RepeatedParts, exclusion, text, parts});
        }
    }
    return read;
}

namespace {

// At most `limit` bytes of `text`, cut on a character boundary and marked when cut: a notice
// names a value, it does not copy a megabyte of it.
std::string Quoted(const std::string& text, size_t limit = 200) {
    if (text.size() <= limit)
        return "\"" + text + "\"";
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return "\"" + text.substr(0, cut) + "...\"";
}

} // namespace

std::string RuleNotice(const std::string& uid, const RuleFault& fault, bool othersRemain) {
    const std::string which = fault.exclusion ? "exclusion rule " : "rule ";
    std::string notice = "holds the event " + Quoted(uid) + " whose " + which + Quoted(fault.rule);
    if (fault.kind == RuleFault::RepeatedParts) {
        const bool several = fault.parts.find(' ') != std::string::npos;
        return notice + " gives " + fault.parts + " more than once; the first " +
               (several ? "of each is used" : "is used");
    }
    notice += fault.kind == RuleFault::Unreadable
                  ? " cannot be read; "
                  : std::string(" is not expanded, as its ") +
                        (fault.exclusion ? "dates" : "occurrences") +
                        " cannot be found within the reader's limits; ";
    if (fault.exclusion)
        return notice + "it is ignored, so the dates it would exclude are paged";
    return notice + (othersRemain ? "the event's other dates are paged without it"
                                  : "only the event's first occurrence is paged");
}

bool ReadEvent(icalcomponent* c, Rules rules, Rules exclusionRules, ical::ZoneTable& zones,
               Event& e) {
    bool hasStart = false, hasEnd = false, hasDuration = false, startFloating = false;
    icaltimetype end{};
    Zone endZone;
    icaldurationtype duration{};
    struct Excluded {
        icaltimetype time;
        Zone zone;
        bool floating;
    };
    std::vector<Excluded> excluded;
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_ANY_PROPERTY)) {
        switch (icalproperty_isa(p)) {
        case ICAL_DTSTART_PROPERTY:
            e.start = icalproperty_get_dtstart(p);
            if (!UsableTime(e.start))
                return false;
            e.zone = e.start.is_date ? Zone{} : zones.ZoneOf(p, e.start);
            startFloating = WrittenFloating(p, e.start);
            e.start.zone = nullptr;
            hasStart = true;
            break;
        case ICAL_DTEND_PROPERTY:
            end = icalproperty_get_dtend(p);
            hasEnd = UsableTime(end);
            if (hasEnd)
                endZone = end.is_date ? Zone{} : zones.ZoneOf(p, end);
            break;
        case ICAL_DURATION_PROPERTY:
            duration = icalproperty_get_duration(p);
            hasDuration = !icaldurationtype_is_bad_duration(duration);
            break;
        case ICAL_UID_PROPERTY:
            e.uid = Text(icalproperty_get_uid(p));
            break;
        case ICAL_SUMMARY_PROPERTY:
            e.subject = Text(icalproperty_get_summary(p));
            e.hasSubject = true;
            break;
        case ICAL_LOCATION_PROPERTY:
            e.location = Text(icalproperty_get_location(p));
            break;
        case ICAL_STATUS_PROPERTY:
            e.cancelled = icalproperty_get_status(p) == ICAL_STATUS_CANCELLED;
            break;
        case ICAL_EXDATE_PROPERTY: {
            const icaltimetype t = icalproperty_get_exdate(p);
            if (UsableTime(t))
                excluded.push_back(
                    {t, t.is_date ? Zone{} : zones.ZoneOf(p, t), WrittenFloating(p, t)});
            break;
        }
        case ICAL_RECURRENCEID_PROPERTY: {
            const icaltimetype t = icalproperty_get_recurrenceid(p);
            if (!UsableTime(t))
                break;
            e.isOverride = true;
            icalparameter* range = icalproperty_get_first_parameter(p, ICAL_RANGE_PARAMETER);
            e.thisAndFuture = range && icalparameter_get_range(range) == ICAL_RANGE_THISANDFUTURE;
            e.recurrenceIdIsDate = t.is_date;
            e.recurrenceId = t;
            e.recurrenceId.zone = nullptr;
            e.recurrenceIdZone = t.is_date ? Zone{} : zones.ZoneOf(p, t);
            e.recurrenceIdFloating = WrittenFloating(p, t);
            break;
        }
        default:
            break;
        }
    }
    if (!hasStart)
        return false;
    e.rules = std::move(rules);
    e.exclusionRules = std::move(exclusionRules);
    e.startInstant = ical::ToInstant(e.start, e.zone);
    // An exporter that writes an excluded date without the zone of the start means the start's
    // zone (and, for an all-day series, its date).
    for (const Excluded& x : excluded) {
        if (x.time.is_date || e.start.is_date) {
            e.excludedDates.push_back(DateKey(x.time));
        } else {
            const Zone& zone = x.floating && !startFloating ? e.zone : x.zone;
            e.excludedInstants.push_back(ical::ToInstant(x.time, zone));
        }
    }
    if (e.start.is_date) {
        e.spanDays = 1;
        if (hasEnd && end.is_date) {
            const int64_t days =
                (ical::LocalMidnight(end.year, end.month, end.day) -
                 ical::LocalMidnight(e.start.year, e.start.month, e.start.day) + kDay / 2) /
                kDay;
            e.spanDays = static_cast<int>(std::clamp<int64_t>(days, 0, 3660));
        } else if (hasDuration) {
            e.spanDays = static_cast<int>(
                std::clamp<int64_t>(icaldurationtype_as_int(duration) / kDay, 0, 3660));
        }
        e.duration = hasDuration && !(hasEnd && end.is_date)
                         ? std::clamp<int64_t>(icaldurationtype_as_int(duration), 0, 3660 * kDay)
                         : e.spanDays * kDay;
    } else if (hasEnd) {
        e.duration = std::max<int64_t>(0, ical::ToInstant(end, endZone) - e.startInstant);
    } else if (hasDuration) {
        e.duration = std::max<int64_t>(0, icaldurationtype_as_int(duration));
    }
    // RDATEs need the duration, so they are read after the loop above.
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        if (UsableTime(rdate.time)) {
            const int64_t s = ical::ToInstant(
                rdate.time, rdate.time.is_date ? Zone{} : zones.ZoneOf(p, rdate.time));
            // A timed date of an all-day series lasts as long as the series' events, from its
            // own start (not to a midnight, which may lie before it).
            const bool timedOfAllDay = e.start.is_date && !rdate.time.is_date;
            e.added.push_back({s, timedOfAllDay ? s + e.duration : e.EndOf(rdate.time, s)});
        } else if (UsableTime(rdate.period.start)) {
            const Zone zone = zones.ZoneOf(p, rdate.period.start);
            const int64_t s = ical::ToInstant(rdate.period.start, zone);
            int64_t finish = s + e.duration;
            if (UsableTime(rdate.period.end))
                finish = ical::ToInstant(rdate.period.end, zone);
            else if (!icaldurationtype_is_bad_duration(rdate.period.duration))
                finish = s + icaldurationtype_as_int(rdate.period.duration);
            e.added.push_back({s, std::max(s, finish)});
        }
    }
    e.trigger = ChooseTrigger(c, zones);
    return true;
}

Task ReadTask(icalcomponent* c, ical::ZoneTable& zones) {
    Task task;
    bool done = false;
    bool hasStart = false, hasDue = false;
    int64_t start = 0, due = 0;
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_ANY_PROPERTY)) {
        switch (icalproperty_isa(p)) {
        case ICAL_SUMMARY_PROPERTY:
            task.subject = Text(icalproperty_get_summary(p));
            break;
        case ICAL_STATUS_PROPERTY: {
            const icalproperty_status status = icalproperty_get_status(p);
            done = done || status == ICAL_STATUS_COMPLETED || status == ICAL_STATUS_CANCELLED;
            break;
        }
        case ICAL_COMPLETED_PROPERTY:
            done = true;
            break;
        case ICAL_PERCENTCOMPLETE_PROPERTY:
            done = done || icalproperty_get_percentcomplete(p) >= 100;
            break;
        case ICAL_DTSTART_PROPERTY: {
            const icaltimetype t = icalproperty_get_dtstart(p);
            if ((hasStart = UsableTime(t)))
                start = ical::ToInstant(t, t.is_date ? Zone{} : zones.ZoneOf(p, t));
            break;
        }
        case ICAL_DUE_PROPERTY: {
            const icaltimetype t = icalproperty_get_due(p);
            if ((hasDue = UsableTime(t)))
                due = ical::ToInstant(t, t.is_date ? Zone{} : zones.ZoneOf(p, t));
            break;
        }
        default:
            break;
        }
    }
    if (done)
        return task;
    const Trigger trigger = ChooseTrigger(c, zones);
    switch (trigger.kind) {
    case Trigger::None:
        return task;
    case Trigger::Absolute:
        task.reminderTime = trigger.value;
        break;
    case Trigger::Start:
    case Trigger::End: {
        // A task's "end" is its due time; either edge stands in for a missing other one.
        const bool fromDue = trigger.kind == Trigger::End ? hasDue : !hasStart;
        if (!hasStart && !hasDue)
            return task;
        task.reminderTime = (fromDue ? due : start) + trigger.value;
        break;
    }
    }
    task.reminderSet = true;
    return task;
}

} // namespace mail::calendar
