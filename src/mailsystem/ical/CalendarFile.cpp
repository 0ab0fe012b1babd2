// Reading one calendar file: only the components that can matter are parsed with libical, and
// recurring events are expanded over the window with bounded walks (CalendarSeries.cpp).
#include "mailsystem/ical/CalendarFile.h"

#include "core/CivilDays.h"
#include "mailsystem/ical/CalendarEvents.h"
#include "mailsystem/ical/CalendarSeries.h"
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

using detail::Builder;
using ical::ComponentPtr;
using ical::Zone;

constexpr int64_t kDay = 86400;

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
    const auto end =
        std::upper_bound(it, contents.instances.end(), to,
                         [](int64_t value, const Instance& i) { return value < i.start; });
    // One growth for the range (still geometric, for callers that append item by item) rather
    // than several, each of which moves every string already appended.
    const size_t needed = out.size() + static_cast<size_t>(end - it);
    if (needed > out.capacity())
        out.reserve(std::max(needed, 2 * out.capacity()));
    for (; it != end; ++it) {
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
