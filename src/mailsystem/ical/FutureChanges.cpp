// Exceptions that change an occurrence and every later one.
#include "mailsystem/ical/FutureChanges.h"

#include <algorithm>

namespace mail::calendar {

std::vector<FutureChange> FutureChanges(const std::vector<const Event*>& overrides,
                                        const ical::Zone& seriesZone) {
    std::vector<FutureChange> changes;
    for (const Event* e : overrides) {
        if (!e->thisAndFuture)
            continue;
        const int64_t from = e->RecurrenceIdIn(seriesZone);
        changes.push_back({e, from, e->startInstant - from,
                           e->EndOf(e->start, e->startInstant) - e->startInstant});
    }
    // Of two changes naming one occurrence, the later in the file counts.
    std::stable_sort(changes.begin(), changes.end(),
                     [](const FutureChange& a, const FutureChange& b) { return a.from < b.from; });
    return changes;
}

ShiftReach ReachOf(const std::vector<FutureChange>& changes) {
    ShiftReach reach;
    for (const FutureChange& c : changes) {
        reach.before = std::max(reach.before, std::min(c.shift, kMaxFollowedShift));
        reach.after = std::max(reach.after, std::min(-c.shift, kMaxFollowedShift));
    }
    return reach;
}

void ApplyFutureChanges(const std::vector<FutureChange>& changes,
                        std::vector<Occurrence>& occurrences) {
    if (changes.empty())
        return;
    std::vector<Occurrence> changed;
    changed.reserve(occurrences.size());
    for (Occurrence o : occurrences) {
        // The last change that names an occurrence before this one.
        const auto after =
            std::lower_bound(changes.begin(), changes.end(), o.start,
                             [](const FutureChange& c, int64_t start) { return c.from < start; });
        if (after != changes.begin()) {
            const auto index = after - changes.begin() - 1;
            const FutureChange& c = changes[static_cast<size_t>(index)];
            if (c.exception->cancelled)
                continue;
            o.start += c.shift;
            o.end = o.start + c.length;
            o.change = static_cast<int32_t>(index);
        }
        changed.push_back(o);
    }
    std::stable_sort(changed.begin(), changed.end(),
                     [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
    occurrences = std::move(changed);
}

} // namespace mail::calendar
