// Reading one calendar file: only the components that can matter are parsed with libical, and
// recurring events are expanded over the window with bounded walks.
#include "mailsystem/ical/CalendarFile.h"

#include "core/CivilDays.h"
#include "mailsystem/ical/CalendarEvents.h"
#include "mailsystem/ical/FutureChanges.h"
#include "mailsystem/ical/IcalTime.h"
#include "mailsystem/ical/IcsScanner.h"
#include "mailsystem/ical/PatternStep.h"
#include "mailsystem/ical/Recurrence.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <strings.h>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace mail::calendar {
namespace {

using ical::ComponentPtr;
using ical::Zone;

constexpr int64_t kDay = 86400;
// Beyond this reach past the window the series is not walked to check where the scan's advance
// lands; an occurrence whose advance could land further reports type 4.
constexpr int64_t kLookAheadCap = 800 * kDay;
// Rules not read as written that one file's notices name one by one; the rest are counted.
constexpr size_t kNamedFaults = 10;

int64_t SaturatingAdd(int64_t a, int64_t b) {
    return a > INT64_MAX - b ? INT64_MAX : a + b;
}

// The start given to libical's iterator: its wall-clock time, without a zone (libical would step
// hours in it by elapsed time, and compare with the UNTIL below), except UTC, in which libical's
// steps are quicker and the wall clock is the instant.
icaltimetype StartForWalk(const Event& series) {
    icaltimetype start = series.start;
    start.zone =
        series.zone.kind == Zone::Utc && !start.is_date ? icaltimezone_get_utc_timezone() : nullptr;
    return start;
}

// The rule with its UNTIL in the wall-clock of the series' start, which is how libical compares
// it with occurrences (their zone is not given to the iterator): a UTC UNTIL (as Thunderbird,
// Google and Apple write it) becomes the start zone's time of that instant; a DATE UNTIL of a
// timed series ends with that day's last second; a floating one stands as written.
icalrecurrencetype InStartFrame(icalrecurrencetype rule, const Event& series) {
    if (icaltime_is_null_time(rule.until))
        return rule;
    icaltimetype until = rule.until;
    if (until.is_date) {
        if (!series.start.is_date) {
            until.is_date = 0;
            until.hour = 23;
            until.minute = 59;
            until.second = 59;
        }
    } else if (icaltime_is_utc(until)) {
        until = ical::FromInstant(static_cast<int64_t>(icaltime_as_timet(until)), series.zone,
                                  series.start.is_date);
    }
    until.zone = StartForWalk(series).zone;
    rule.until = until;
    return rule;
}

class Builder {
public:
    Builder(FileContents& out, Window window) : m_out(out), m_window(window) {}

    void AddSingle(const Event& e, bool recurring);
    void AddSeries(const Event& master, const std::vector<const Event*>& overrides);
    // Names the rules of `e` that were not read as written.
    void NameReadFaults(const Event& e);
    // Appends the notices for the faults named, in file order, at most kNamedFaults of them.
    void AddNotices();

private:
    struct Named {
        uint32_t order;
        std::string uid;
        RuleFault fault;
        bool othersRemain;
    };
    void NameRefused(const Event& e, const std::vector<bool>& refused,
                     const std::vector<bool>& exclusionRefused);
    // Whether `e` has other dates than DTSTART without the rules marked in `refused`.
    static bool OtherDates(const Event& e, const std::vector<bool>& refused) {
        return !e.added.empty() || std::count(refused.begin(), refused.end(), false) > 0;
    }

    // An exception keeps its own location (none when it has none), as it replaces the
    // occurrence whole; only a missing subject is taken from the series, so that its page
    // still says what it is.
    uint32_t NewItem(const Event& e, bool recurring, const RecurrencePattern& pattern,
                     const Event* series) {
        Item item;
        item.uid = e.uid;
        item.subject = (!e.hasSubject && series) ? series->subject : e.subject;
        item.location = e.location;
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
    std::vector<Named> m_faults;
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
    const Zone zone = master.zone;
    const bool isDate = master.start.is_date;
    auto toInstant = [&](const icaltimetype& t) { return ical::ToInstant(t, zone); };
    auto fromInstant = [&](int64_t instant) { return ical::FromInstant(instant, zone, isDate); };

    const int64_t masterEnd = master.EndOf(master.start, master.startInstant);
    // Excluded dates, and the occurrences that exceptions replace, are not the series' own.
    struct Replaced {
        bool byDate;
        int date;
        int64_t instant;
    };
    std::vector<Replaced> replaced;
    for (const Event* r : overrides)
        replaced.push_back(
            {r->recurrenceIdIsDate || isDate, DateKey(r->recurrenceId), r->RecurrenceIdIn(zone)});
    std::vector<int64_t> excludedByRules; // sorted
    const auto excluded = [&](const icaltimetype& wall, int64_t start) {
        if (std::find(master.excludedInstants.begin(), master.excludedInstants.end(), start) !=
            master.excludedInstants.end())
            return true;
        if (std::find(master.excludedDates.begin(), master.excludedDates.end(), DateKey(wall)) !=
            master.excludedDates.end())
            return true;
        if (std::binary_search(excludedByRules.begin(), excludedByRules.end(), start))
            return true;
        for (const Replaced& r : replaced) {
            if (r.byDate ? r.date == DateKey(wall) : r.instant == start)
                return true;
        }
        return false;
    };
    const std::vector<FutureChange> changes = FutureChanges(overrides, zone);
    const ShiftReach reach = ReachOf(changes);

    // Rules (and EXRULEs) that a walk refused are left out from then on, and named.
    const std::vector<icalrecurrencetype>& rules = master.rules.rules;
    const std::vector<icalrecurrencetype>& exclusions = master.exclusionRules.rules;
    std::vector<bool> refused(rules.size(), false), exclusionRefused(exclusions.size(), false);
    const auto walk = [&](const icalrecurrencetype& rule, int64_t from, int64_t to,
                          bool startCounts) {
        return recurrence::WalkRule(InStartFrame(rule, master), StartForWalk(master),
                                    master.startInstant, from, to, toInstant, fromInstant,
                                    startCounts);
    };

    // The series' occurrences from the window's start to `to`, and (to check where the scan's
    // advance lands) the first of each rule after it: all of them up to `knownTo`.
    std::vector<Occurrence> occurrences;
    int64_t knownTo = INT64_MAX;
    const auto collect = [&](int64_t to) {
        occurrences.clear();
        knownTo = INT64_MAX;
        const int64_t walkFrom = m_window.from - reach.before;
        const int64_t walkTo = SaturatingAdd(to, reach.after);
        for (size_t i = 0; i < rules.size(); ++i) {
            if (refused[i])
                continue;
            const recurrence::Walk w = walk(rules[i], walkFrom, walkTo, true);
            if (w.outcome == recurrence::Walk::Refused) {
                refused[i] = true;
                continue;
            }
            for (const auto& [wall, instant] : w.occurrences)
                occurrences.push_back({wall, instant, master.EndOf(wall, instant)});
            if (w.outcome == recurrence::Walk::Reached) {
                const auto& [wall, instant] = w.beyond;
                occurrences.push_back({wall, instant, master.EndOf(wall, instant)});
                knownTo = std::min(knownTo, instant - reach.after);
            }
        }
        // DTSTART is the first instance of the recurrence set, whether or not a rule gives it.
        if (master.startInstant >= walkFrom)
            occurrences.push_back({master.start, master.startInstant, masterEnd});
        for (const Event::Added& added : master.added) {
            if (added.start >= walkFrom)
                occurrences.push_back({fromInstant(added.start), added.start, added.end});
        }
        std::stable_sort(
            occurrences.begin(), occurrences.end(),
            [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
        occurrences.erase(std::unique(occurrences.begin(), occurrences.end(),
                                      [](const Occurrence& a, const Occurrence& b) {
                                          return a.start == b.start;
                                      }),
                          occurrences.end());
        excludedByRules.clear();
        if (!occurrences.empty()) {
            for (size_t i = 0; i < exclusions.size(); ++i) {
                if (exclusionRefused[i])
                    continue;
                const recurrence::Walk w =
                    walk(exclusions[i], walkFrom, occurrences.back().start, false);
                exclusionRefused[i] = w.outcome == recurrence::Walk::Refused;
                for (const auto& [wall, instant] : w.occurrences)
                    excludedByRules.push_back(instant);
            }
            std::sort(excludedByRules.begin(), excludedByRules.end());
        }
        occurrences.erase(
            std::remove_if(occurrences.begin(), occurrences.end(),
                           [&](const Occurrence& o) { return excluded(o.wall, o.start); }),
            occurrences.end());
        ApplyFutureChanges(changes, occurrences);
        occurrences.erase(
            std::remove_if(occurrences.begin(), occurrences.end(),
                           [&](const Occurrence& o) { return o.start < m_window.from; }),
            occurrences.end());
    };
    collect(m_window.to);
    // Without the rules it gives, an event of one date is a single appointment.
    const size_t walked = static_cast<size_t>(std::count(refused.begin(), refused.end(), false));
    if (walked == 0 && master.added.empty() && overrides.empty()) {
        NameRefused(master, refused, exclusionRefused);
        AddSingle(master, false);
        return;
    }
    RecurrencePattern pattern;
    if (walked == 1) {
        const size_t only =
            static_cast<size_t>(std::find(refused.begin(), refused.end(), false) - refused.begin());
        pattern = recurrence::MapRule(rules[only], master.start);
    }

    // Where the scan's advance may land, it pages the occurrence there with the length of the
    // one it came from: the series must have that occurrence, as long.
    bool beyondKnown = false;
    const auto hasOccurrence = [&](int64_t start, int64_t length) {
        if (start > knownTo) {
            beyondKnown = true;
            return false;
        }
        const auto at =
            std::lower_bound(occurrences.begin(), occurrences.end(), start,
                             [](const Occurrence& o, int64_t value) { return o.start < value; });
        return at != occurrences.end() && at->start == start && at->end - at->start == length;
    };
    std::vector<Instance> instances;
    std::vector<int32_t> changeOf; // per instance: the change it follows, -1 none
    const auto place = [&] {
        instances.clear();
        changeOf.clear();
        for (const Occurrence& o : occurrences) {
            if (o.start > m_window.to)
                break;
            const Event& source = o.change < 0 ? master : *changes[size_t(o.change)].exception;
            Instance instance;
            instance.start = o.start;
            instance.end = o.end;
            instance.lead = Lead(source.trigger, o.start, o.end, source.startInstant);
            instance.order = source.order;
            const int64_t length = o.end - o.start;
            instance.irregular = pattern.recurrenceType == 4 ||
                                 !pattern::AdvanceLandsOnOccurrences(
                                     pattern, o.start, instance.lead, [&](int64_t landing) {
                                         return hasOccurrence(landing, length);
                                     });
            instances.push_back(instance);
            changeOf.push_back(o.change);
        }
    };
    place();
    if (beyondKnown) {
        // A reminder long before its occurrence: know the series as far as its advance reaches.
        int32_t lead = Lead(master.trigger, master.startInstant, masterEnd, master.startInstant);
        for (const Instance& i : instances)
            lead = std::max(lead, i.lead);
        const int64_t further = std::min(pattern::AdvanceReach(pattern, lead), kLookAheadCap);
        const std::vector<bool> refusedBefore = refused, exclusionRefusedBefore = exclusionRefused;
        collect(SaturatingAdd(m_window.to, further));
        if (refused != refusedBefore || exclusionRefused != exclusionRefusedBefore) {
            // Too far to walk: the window alone, where an advance beyond it reports type 4.
            refused = refusedBefore;
            exclusionRefused = exclusionRefusedBefore;
            collect(m_window.to);
        }
        place();
    }
    NameRefused(master, refused, exclusionRefused);
    // One item for the series' own occurrences, one for those that follow each change.
    std::vector<int64_t> itemOf(changes.size() + 1, -1);
    for (size_t k = 0; k < instances.size(); ++k) {
        const int32_t change = changeOf[k];
        int64_t& item = itemOf[size_t(change + 1)];
        if (item < 0)
            item = change < 0 ? NewItem(master, true, pattern, nullptr)
                              : NewItem(*changes[size_t(change)].exception, true, pattern, &master);
        instances[k].item = static_cast<uint32_t>(item);
        m_out.instances.push_back(instances[k]);
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

void Builder::NameRefused(const Event& e, const std::vector<bool>& refused,
                          const std::vector<bool>& exclusionRefused) {
    for (size_t i = 0; i < refused.size(); ++i) {
        if (refused[i])
            m_faults.push_back({e.order,
                                e.uid,
                                {RuleFault::Unbounded, false, e.rules.texts[i], {}},
                                OtherDates(e, refused)});
    }
    for (size_t i = 0; i < exclusionRefused.size(); ++i) {
        if (exclusionRefused[i])
            m_faults.push_back({e.order,
                                e.uid,
                                {RuleFault::Unbounded, true, e.exclusionRules.texts[i], {}},
                                true});
    }
}

void Builder::NameReadFaults(const Event& e) {
    const std::vector<bool> none(e.rules.rules.size(), false);
    for (const Rules* rules : {&e.rules, &e.exclusionRules}) {
        for (const RuleFault& fault : rules->faults)
            m_faults.push_back({e.order, e.uid, fault, OtherDates(e, none)});
    }
}

void Builder::AddNotices() {
    std::stable_sort(m_faults.begin(), m_faults.end(),
                     [](const Named& a, const Named& b) { return a.order < b.order; });
    for (size_t i = 0; i < m_faults.size() && i < kNamedFaults; ++i)
        m_out.notices.push_back(
            RuleNotice(m_faults[i].uid, m_faults[i].fault, m_faults[i].othersRemain));
    if (m_faults.size() > kNamedFaults)
        m_out.notices.push_back("holds " + std::to_string(m_faults.size() - kNamedFaults) +
                                " more rules that are not read as written, like those named");
}

// A plain monthly or yearly rule whose dates miss the window entirely is not even parsed. The
// quick DTSTART holds its wall-clock date; wall-clock dates of instants in [from, to] lie within
// a day of their UTC dates.
bool RuleMayOccur(const ics::RawComponent& raw, const Rules& rules, int64_t from, int64_t to) {
    if (rules.Unreadable())
        return true; // parsed: its DTSTART is paged, and the rule named
    const auto dayOf = [](int64_t t) { return t >= 0 ? t / kDay : (t - kDay + 1) / kDay; };
    const int64_t startDay = dayOf(raw.approxStart);
    const int64_t firstDay = dayOf(from) - 1;
    const int64_t lastDay = dayOf(to) + 1;
    const civil::Date start = civil::CivilFromDays(startDay);
    for (const icalrecurrencetype& rule : rules.rules) {
        if (rule.skip != ICAL_SKIP_OMIT ||
            recurrence::MayOccur(rule, start.year, start.month, start.day, firstDay, lastDay))
            return true;
    }
    return false;
}

// Several components with one UID (and one RECURRENCE-ID, or none) are versions of one item, as
// feeds keep an edited event beside its old version: only the latest counts (the highest
// SEQUENCE, then LAST-MODIFIED, then DTSTAMP, then the last in the file). Marks the others.
std::vector<bool> Superseded(std::string_view text, const std::vector<ics::RawComponent>& raws) {
    std::vector<bool> superseded(raws.size(), false);
    // Components in the order of their item (kind, UID, RECURRENCE-ID): versions lie together.
    std::vector<uint32_t> order;
    order.reserve(raws.size());
    for (uint32_t i = 0; i < raws.size(); ++i) {
        if (raws[i].kind != ics::Kind::TimeZone && !raws[i].uid.empty())
            order.push_back(i);
    }
    const auto item = [&](uint32_t i) {
        const ics::RawComponent& raw = raws[i];
        return std::make_tuple(raw.kind, std::string_view(raw.uid), raw.hasRecurrenceId,
                               std::string_view(raw.recurrenceId));
    };
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return std::pair(item(a), a) < std::pair(item(b), b);
    });
    for (size_t first = 0; first < order.size();) {
        size_t last = first + 1;
        while (last < order.size() && item(order[last]) == item(order[first]))
            ++last;
        if (last - first > 1) {
            // Equal versions: the later in the file wins.
            std::pair<ics::Version, uint32_t> best{ics::VersionOf(text, raws[order[first]]),
                                                   order[first]};
            for (size_t k = first + 1; k < last; ++k) {
                std::pair<ics::Version, uint32_t> version{ics::VersionOf(text, raws[order[k]]),
                                                          order[k]};
                superseded[std::min(best, version).second] = true;
                best = std::max(best, version);
            }
        }
        first = last;
    }
    return superseded;
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
    const std::vector<bool> superseded = Superseded(text, scan.components);

    ical::ZoneTable zones;
    std::unordered_set<std::string> overriddenUids;
    for (size_t i = 0; i < scan.components.size(); ++i) {
        const ics::RawComponent& raw = scan.components[i];
        if (raw.kind == ics::Kind::TimeZone) {
            if (raw.joinedLines.empty() && raw.skippedLines.empty() && !scan.bareCarriageReturns)
                zones.Add(text.substr(raw.begin, raw.end - raw.begin));
            else
                zones.Add(ics::ReducedComponent(text, raw, true));
        } else if (raw.kind == ics::Kind::Event && raw.hasRecurrenceId && !superseded[i] &&
                   !raw.uid.empty()) {
            overriddenUids.insert(raw.uid);
        }
    }
    zones.SetCalendarZone(scan.calendarZone);

    // An event is parsed only when it can have an occurrence in the window. Quick times are
    // read as UTC, so a day's margin covers every zone.
    const int64_t from = window.from - kDay, to = window.to + kDay;
    Builder builder(out, window);
    std::vector<Event> events;
    for (size_t i = 0; i < scan.components.size(); ++i) {
        const ics::RawComponent& raw = scan.components[i];
        if (superseded[i])
            continue;
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
        Rules rules;
        bool rulesRead = false;
        const auto readRules = [&]() -> const Rules& {
            if (!rulesRead)
                rules = ReadRules(raw.rrules);
            rulesRead = true;
            return rules;
        };
        bool need;
        if (raw.hasRecurrenceId) {
            need = true;
        } else if (raw.hasRRule || raw.hasRDate) {
            // DTSTART is an occurrence even after the rules' end.
            const bool endedBefore = raw.approxUntil != ics::kUnknownTime &&
                                     raw.approxUntil < from && !raw.hasRDate && startKnown &&
                                     raw.approxStart < from;
            const bool startsAfter = startKnown && raw.approxStart > to;
            need = overriddenUids.count(raw.uid) || !(endedBefore || startsAfter);
            if (need && !raw.hasRDate && startKnown && !overriddenUids.count(raw.uid) &&
                raw.hasRRule)
                need = RuleMayOccur(raw, readRules(), from, to);
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
        readRules();
        if (ReadEvent(c.get(), std::move(rules), ReadRules(raw.exrules, true), zones, e)) {
            builder.NameReadFaults(e);
            events.push_back(std::move(e));
        }
    }

    // Components without a UID belong to no other: each stands on its own.
    std::unordered_map<std::string, std::vector<const Event*>> overridesOf;
    for (const Event& e : events) {
        if (e.isOverride && !e.uid.empty())
            overridesOf[e.uid].push_back(&e);
    }
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
    // Exceptions whose series is not in the file stand on their own. Some exporters write a
    // RECURRENCE-ID into every event: one with a rule or dates of its own is a series, and when
    // it is the only such one of its UID, the others are its exceptions.
    std::unordered_map<std::string, std::vector<const Event*>> orphansOf;
    for (const Event& e : events) {
        if (e.isOverride && !placed.count(&e))
            orphansOf[e.uid].push_back(&e);
    }
    for (const Event& e : events) {
        if (!e.isOverride || placed.count(&e))
            continue;
        const std::vector<const Event*>& orphans =
            e.uid.empty() ? std::vector<const Event*>{&e} : orphansOf[e.uid];
        const auto series = std::count_if(orphans.begin(), orphans.end(),
                                          [](const Event* o) { return o->Recurring(); });
        if (e.Recurring()) {
            std::vector<const Event*> overrides;
            if (series == 1) {
                std::copy_if(orphans.begin(), orphans.end(), std::back_inserter(overrides),
                             [&](const Event* o) { return o != &e; });
                placed.insert(overrides.begin(), overrides.end());
            }
            builder.AddSeries(e, overrides);
        } else if (!e.Recurring() && !e.cancelled && series != 1) {
            builder.AddSingle(e, false);
        }
    }
    std::stable_sort(out.instances.begin(), out.instances.end(),
                     [](const Instance& a, const Instance& b) {
                         return a.start != b.start ? a.start < b.start : a.order < b.order;
                     });
    out.notices = std::move(scan.notices);
    out.notices.insert(out.notices.end(), zones.Notices().begin(), zones.Notices().end());
    builder.AddNotices();
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
