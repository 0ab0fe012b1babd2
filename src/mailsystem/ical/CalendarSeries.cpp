// Expanding the events of one calendar file over the window: single appointments, and series
// walked with bounded walks, with their exceptions, exclusions and changes of the future.
#include "mailsystem/ical/CalendarSeries.h"

#include "core/CivilDays.h"
#include "mailsystem/ical/FutureChanges.h"
#include "mailsystem/ical/IcalTime.h"
#include "mailsystem/ical/PatternStep.h"
#include "mailsystem/ical/Recurrence.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <strings.h>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace mail::calendar::detail {
namespace {

using ical::ComponentPtr;
using ical::Zone;

constexpr int64_t kDay = 86400;
// Beyond this reach past the window the series is not walked to check where the scan's advance
// lands; an occurrence whose advance could land further reports type 4.
constexpr int64_t kLookAheadCap = 800 * kDay;

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

} // namespace

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

} // namespace mail::calendar::detail
