// Reading one calendar file: only the components that can matter are parsed with libical, and
// recurring events are expanded over the window with bounded walks.
#include "mailsystem/CalendarFile.h"

#include "mailsystem/IcalTime.h"
#include "mailsystem/IcsScanner.h"
#include "mailsystem/Recurrence.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <strings.h>
#include <unordered_map>
#include <unordered_set>

namespace mail::calendar {
namespace {

using ical::ComponentPtr;
using ical::Zone;

constexpr int64_t kDay = 86400;
// Beyond this reach the check for deviations after an occurrence gives up and assumes one.
constexpr int64_t kGuardCap = 800 * kDay;

int DateKey(const icaltimetype& t) {
    return t.year * 10000 + t.month * 100 + t.day;
}

// What an alarm's trigger says.
struct Trigger {
    enum Kind { None, Start, End, Absolute };
    Kind kind = None;
    int64_t value = 0; // Start, End: signed seconds from that edge; Absolute: the instant
};

struct Event {
    uint32_t order = 0;
    std::string uid, subject, location;
    bool hasSubject = false, hasLocation = false;
    bool cancelled = false;
    icaltimetype start{};
    Zone zone;
    int64_t startInstant = 0;
    int spanDays = 0;     // all-day events: days from start to end
    int64_t duration = 0; // other events: seconds from start to end
    Trigger trigger;
    std::vector<icalrecurrencetype> rules;
    bool badRule = false; // an RRULE that libical could not read
    std::vector<int64_t> excludedInstants;
    std::vector<int> excludedDates; // DateKey of DATE values
    struct Added {
        int64_t start, end;
    };
    std::vector<Added> added; // RDATE
    bool isOverride = false;
    bool recurrenceIdIsDate = false;
    int64_t recurrenceId = 0; // instant of the occurrence replaced
    int recurrenceIdDate = 0; // its DateKey when it is a DATE

    bool Recurring() const { return !rules.empty() || !added.empty() || badRule; }
    int64_t EndOf(const icaltimetype& occurrence, int64_t instant) const {
        if (start.is_date)
            return ical::LocalMidnight(occurrence.year, occurrence.month,
                                       occurrence.day + spanDays);
        return instant + duration;
    }
};

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

// Minutes before start, rounded so that the reminder is never later than the alarm.
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

bool UsableTime(const icaltimetype& t) {
    return !icaltime_is_null_time(t) && icaltime_is_valid_time(t);
}

const char* Text(const char* text) {
    return text ? text : "";
}

// Fills `e` from a parsed VEVENT; false when it has no usable start.
bool ReadEvent(icalcomponent* c, ical::ZoneTable& zones, Event& e) {
    bool hasStart = false, hasEnd = false, hasDuration = false;
    icaltimetype end{};
    Zone endZone;
    icaldurationtype duration{};
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_ANY_PROPERTY)) {
        switch (icalproperty_isa(p)) {
        case ICAL_DTSTART_PROPERTY:
            e.start = icalproperty_get_dtstart(p);
            if (!UsableTime(e.start))
                return false;
            e.zone = e.start.is_date ? Zone{} : zones.ZoneOf(p, e.start);
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
            e.hasLocation = true;
            break;
        case ICAL_STATUS_PROPERTY:
            e.cancelled = icalproperty_get_status(p) == ICAL_STATUS_CANCELLED;
            break;
        case ICAL_RRULE_PROPERTY: {
            icalrecurrencetype rule = icalproperty_get_rrule(p);
            if (rule.freq == ICAL_NO_RECURRENCE) {
                e.badRule = true;
            } else {
                // The calendar scale string belongs to the property; only "is it Gregorian" is
                // kept.
                if (rule.rscale && strcasecmp(rule.rscale, "GREGORIAN") != 0)
                    e.badRule = true;
                rule.rscale = nullptr;
                e.rules.push_back(rule);
            }
            break;
        }
        case ICAL_EXDATE_PROPERTY: {
            const icaltimetype t = icalproperty_get_exdate(p);
            if (!UsableTime(t))
                break;
            if (t.is_date)
                e.excludedDates.push_back(DateKey(t));
            else
                e.excludedInstants.push_back(ical::ToInstant(t, zones.ZoneOf(p, t)));
            break;
        }
        case ICAL_RECURRENCEID_PROPERTY: {
            const icaltimetype t = icalproperty_get_recurrenceid(p);
            if (!UsableTime(t))
                break;
            e.isOverride = true;
            e.recurrenceIdIsDate = t.is_date;
            e.recurrenceIdDate = DateKey(t);
            e.recurrenceId = ical::ToInstant(t, t.is_date ? Zone{} : zones.ZoneOf(p, t));
            break;
        }
        default:
            break;
        }
    }
    if (!hasStart)
        return false;
    e.startInstant = ical::ToInstant(e.start, e.zone);
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
            e.added.push_back({s, e.EndOf(rdate.time, s)});
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

class Builder {
public:
    Builder(FileContents& out, Window window) : m_out(out), m_window(window) {}

    void AddSingle(const Event& e, bool recurring);
    void AddSeries(const Event& master, const std::vector<const Event*>& overrides);

private:
    uint32_t NewItem(const Event& e, bool recurring, const RecurrencePattern& pattern,
                     const Event* inherit) {
        Item item;
        item.uid = e.uid;
        item.subject = (!e.hasSubject && inherit) ? inherit->subject : e.subject;
        item.location = (!e.hasLocation && inherit) ? inherit->location : e.location;
        item.reminderSet = e.trigger.kind != Trigger::None && !e.cancelled;
        item.recurring = recurring;
        item.pattern = pattern;
        m_out.items.push_back(std::move(item));
        return static_cast<uint32_t>(m_out.items.size() - 1);
    }
    bool InWindow(int64_t instant) const {
        return instant >= m_window.from && instant <= m_window.to;
    }

    FileContents& m_out;
    Window m_window;
};

void Builder::AddSingle(const Event& e, bool recurring) {
    if (!InWindow(e.startInstant))
        return;
    const int64_t end = e.EndOf(e.start, e.startInstant);
    Instance instance;
    instance.start = e.startInstant;
    instance.end = end;
    instance.lead = Lead(e.trigger, e.startInstant, end, e.startInstant);
    instance.item = NewItem(e, recurring, RecurrencePattern{}, nullptr);
    instance.order = e.order;
    instance.irregular = recurring;
    m_out.instances.push_back(instance);
}

void Builder::AddSeries(const Event& master, const std::vector<const Event*>& overrides) {
    if (master.badRule)
        return; // an unreadable rule: the series gives nothing, its exceptions neither
    const Zone zone = master.zone;
    const bool isDate = master.start.is_date;
    auto toInstant = [&](const icaltimetype& t) { return ical::ToInstant(t, zone); };
    auto fromInstant = [&](int64_t instant) { return ical::FromInstant(instant, zone, isDate); };

    // The lead of the rule's occurrences: their length is the series' own.
    const int64_t masterEnd = master.EndOf(master.start, master.startInstant);
    const int32_t ruleLead =
        Lead(master.trigger, master.startInstant, masterEnd, master.startInstant);
    bool hasEnd = false;
    int64_t step = 0;
    for (const icalrecurrencetype& rule : master.rules) {
        hasEnd = hasEnd || rule.count > 0 || !icaltime_is_null_time(rule.until);
        step = std::max(step, recurrence::StepBound(rule));
    }
    const int64_t reach =
        std::min<int64_t>(8 * kDay + std::max<int64_t>(ruleLead, 0) * 60 + step, kGuardCap);
    // A rule that ends is walked far enough past the window to see whether its end is near; an
    // UNTIL beyond that reach needs no look.
    bool endNear = false;
    for (const icalrecurrencetype& rule : master.rules) {
        if (rule.count > 0)
            endNear = true;
        else if (!icaltime_is_null_time(rule.until))
            endNear = endNear ||
                      (icaltime_is_utc(rule.until) ? int64_t(icaltime_as_timet(rule.until))
                                                   : toInstant(rule.until)) <= m_window.to + reach;
    }
    const int64_t walkTo = endNear ? m_window.to + reach : m_window.to;

    struct Occurrence {
        icaltimetype wall;
        int64_t start, end;
        bool fromRule;
    };
    std::vector<Occurrence> occurrences;
    bool ended = false;
    int64_t lastOfRule = INT64_MIN;
    for (const icalrecurrencetype& rule : master.rules) {
        const recurrence::Walk walk = recurrence::WalkRule(
            rule, master.start, master.startInstant, m_window.from, walkTo, toInstant, fromInstant);
        if (walk.outcome == recurrence::Walk::Refused)
            return; // bounded out: no occurrence for this item
        if (walk.outcome == recurrence::Walk::Ended) {
            ended = true;
            lastOfRule = std::max(lastOfRule, walk.last);
        }
        for (const auto& [wall, instant] : walk.occurrences) {
            if (instant <= m_window.to)
                occurrences.push_back({wall, instant, master.EndOf(wall, instant), true});
        }
    }
    for (const Event::Added& added : master.added) {
        if (InWindow(added.start)) {
            const icaltimetype wall = ical::FromInstant(added.start, zone, isDate);
            occurrences.push_back({wall, added.start, added.end, false});
        }
    }
    std::stable_sort(occurrences.begin(), occurrences.end(),
                     [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
    occurrences.erase(
        std::unique(occurrences.begin(), occurrences.end(),
                    [](const Occurrence& a, const Occurrence& b) { return a.start == b.start; }),
        occurrences.end());

    // Where the series departs from its rule.
    std::vector<int64_t> deviations = master.excludedInstants;
    for (int key : master.excludedDates) {
        const int64_t midnight = ical::LocalMidnight(key / 10000, key / 100 % 100, key % 100);
        deviations.push_back(midnight);
        deviations.push_back(midnight + kDay - 1);
    }
    for (const Event::Added& added : master.added)
        deviations.push_back(added.start);
    for (const Event* o : overrides)
        deviations.push_back(o->recurrenceId);
    std::sort(deviations.begin(), deviations.end());

    const RecurrencePattern pattern = master.rules.size() == 1
                                          ? recurrence::MapRule(master.rules[0], master.start)
                                          : RecurrencePattern{};
    uint32_t item = UINT32_MAX;
    for (const Occurrence& o : occurrences) {
        const auto excluded = [&] {
            if (std::find(master.excludedInstants.begin(), master.excludedInstants.end(),
                          o.start) != master.excludedInstants.end())
                return true;
            if (std::find(master.excludedDates.begin(), master.excludedDates.end(),
                          DateKey(o.wall)) != master.excludedDates.end())
                return true;
            for (const Event* r : overrides) {
                if (r->recurrenceIdIsDate ? r->recurrenceIdDate == DateKey(o.wall)
                                          : r->recurrenceId == o.start)
                    return true;
            }
            return false;
        };
        if (excluded())
            continue;
        if (item == UINT32_MAX)
            item = NewItem(master, true, pattern, nullptr);
        Instance instance;
        instance.start = o.start;
        instance.end = o.end;
        instance.lead = Lead(master.trigger, o.start, o.end, master.startInstant);
        instance.item = item;
        instance.order = master.order;
        if (!o.fromRule || pattern.recurrenceType == 4) {
            instance.irregular = true;
        } else {
            const int64_t guard = 8 * kDay + std::max<int64_t>(instance.lead, 0) * 60 + step;
            if (guard > kGuardCap) {
                instance.irregular = hasEnd || !deviations.empty();
            } else {
                const auto next = std::upper_bound(deviations.begin(), deviations.end(), o.start);
                instance.irregular = (next != deviations.end() && *next <= o.start + guard) ||
                                     (ended && lastOfRule < o.start + guard);
            }
        }
        m_out.instances.push_back(instance);
    }

    for (const Event* r : overrides) {
        if (r->cancelled || !InWindow(r->startInstant))
            continue;
        const int64_t end = r->EndOf(r->start, r->startInstant);
        Instance instance;
        instance.start = r->startInstant;
        instance.end = end;
        instance.lead = Lead(r->trigger, r->startInstant, end, r->startInstant);
        RecurrencePattern moved = pattern;
        moved.recurrenceType = 4;
        instance.item = NewItem(*r, true, moved, &master);
        instance.order = r->order;
        instance.irregular = true;
        m_out.instances.push_back(instance);
    }
}

// A plain monthly or yearly rule whose dates miss the window entirely is not even parsed. The
// quick DTSTART holds its wall-clock date; wall-clock dates of instants in [from, to] lie within
// a day of their UTC dates.
bool RuleMayOccur(const ics::RawComponent& raw, int64_t from, int64_t to) {
    // libical allocates the calendar scale of such a rule for its caller: leave it to the parse.
    if (strcasestr(raw.rrule.c_str(), "RSCALE"))
        return true;
    const icalrecurrencetype rule = icalrecurrencetype_from_string(raw.rrule.c_str());
    if (rule.freq == ICAL_NO_RECURRENCE)
        return true; // parsed later and reported as an unreadable rule
    const auto dayOf = [](int64_t t) { return t >= 0 ? t / kDay : (t - kDay + 1) / kDay; };
    const int64_t startDay = dayOf(raw.approxStart);
    const int64_t firstDay = dayOf(from) - 1;
    const int64_t lastDay = dayOf(to) + 1;
    const recurrence::CivilDate start = recurrence::CivilFromDays(startDay);
    return recurrence::MayOccur(rule, start.year, start.month, start.day, firstDay, lastDay);
}

ComponentPtr ParseReduced(std::string_view text, const ics::RawComponent& raw) {
    const std::string reduced = ics::ReducedComponent(text, raw);
    return ComponentPtr(icalparser_parse_string(reduced.c_str()));
}

} // namespace

bool Build(std::string_view text, Window window, FileContents& out, std::string& damage) {
    out = FileContents{};
    out.window = window;
    ics::ScanResult scan = ics::Scan(text);
    if (!scan.damage.empty()) {
        damage = std::move(scan.damage);
        return false;
    }

    ical::ZoneTable zones;
    std::unordered_set<std::string> overriddenUids;
    for (const ics::RawComponent& raw : scan.components) {
        if (raw.kind == ics::Kind::TimeZone)
            zones.Add(text.substr(raw.begin, raw.end - raw.begin));
        else if (raw.kind == ics::Kind::Event && raw.hasRecurrenceId)
            overriddenUids.insert(raw.uid);
    }

    // An event is parsed only when it can have an occurrence in the window. Quick times are
    // read as UTC, so a day's margin covers every zone.
    const int64_t from = window.from - kDay, to = window.to + kDay;
    std::vector<Event> events;
    for (size_t i = 0; i < scan.components.size(); ++i) {
        const ics::RawComponent& raw = scan.components[i];
        if (raw.kind == ics::Kind::Todo) {
            ComponentPtr c = ParseReduced(text, raw);
            ++out.parsedComponents;
            if (c && icalcomponent_isa(c.get()) == ICAL_VTODO_COMPONENT)
                out.tasks.push_back(ReadTask(c.get(), zones));
            continue;
        }
        if (raw.kind != ics::Kind::Event)
            continue;
        const bool startKnown = raw.approxStart != ics::kUnknownTime;
        bool need;
        if (raw.hasRecurrenceId) {
            need = true;
        } else if (raw.hasRRule || raw.hasRDate) {
            const bool endedBefore =
                raw.approxUntil != ics::kUnknownTime && raw.approxUntil < from && !raw.hasRDate;
            const bool startsAfter = startKnown && raw.approxStart > to;
            need = overriddenUids.count(raw.uid) || !(endedBefore || startsAfter);
            if (need && !raw.hasRDate && startKnown && !overriddenUids.count(raw.uid) &&
                !raw.rrule.empty())
                need = RuleMayOccur(raw, from, to);
        } else {
            need = !startKnown || (raw.approxStart >= from && raw.approxStart <= to);
        }
        if (!need || window.to < window.from)
            continue;
        ComponentPtr c = ParseReduced(text, raw);
        ++out.parsedComponents;
        if (!c || icalcomponent_isa(c.get()) != ICAL_VEVENT_COMPONENT)
            continue;
        Event e;
        e.order = static_cast<uint32_t>(i);
        if (ReadEvent(c.get(), zones, e)) {
            // The scan saw an RRULE that libical dropped as unreadable.
            if (raw.hasRRule && e.rules.empty())
                e.badRule = true;
            events.push_back(std::move(e));
        }
    }

    std::unordered_map<std::string, std::vector<const Event*>> overridesOf;
    for (const Event& e : events) {
        if (e.isOverride)
            overridesOf[e.uid].push_back(&e);
    }
    Builder builder(out, window);
    std::unordered_set<const Event*> placed;
    for (const Event& e : events) {
        if (e.isOverride)
            continue;
        if (!e.Recurring()) {
            builder.AddSingle(e, false);
            continue;
        }
        static const std::vector<const Event*> kNone;
        auto found = overridesOf.find(e.uid);
        const std::vector<const Event*>& overrides =
            found != overridesOf.end() ? found->second : kNone;
        placed.insert(overrides.begin(), overrides.end());
        builder.AddSeries(e, overrides);
    }
    // Exceptions whose series is not in the file stand on their own.
    for (const Event& e : events) {
        if (e.isOverride && !placed.count(&e) && !e.cancelled)
            builder.AddSingle(e, false);
    }
    std::sort(out.instances.begin(), out.instances.end(), [](const Instance& a, const Instance& b) {
        return a.start != b.start ? a.start < b.start : a.order < b.order;
    });
    return true;
}

void AppendAppointments(const FileContents& contents, int64_t from, int64_t to,
                        std::vector<Appointment>& out) {
    auto it = std::lower_bound(contents.instances.begin(), contents.instances.end(), from,
                               [](const Instance& i, int64_t value) { return i.start < value; });
    for (; it != contents.instances.end() && it->start <= to; ++it) {
        const Item& item = contents.items[it->item];
        Appointment a;
        a.subject = item.subject;
        a.location = item.location;
        a.uid = item.uid;
        a.start = it->start;
        a.end = it->end;
        a.reminderSet = item.reminderSet;
        a.reminderMinutesBeforeStart = it->lead;
        a.isRecurring = item.recurring;
        a.pattern = item.pattern;
        if (it->irregular)
            a.pattern.recurrenceType = 4;
        out.push_back(std::move(a));
    }
}

} // namespace mail::calendar
