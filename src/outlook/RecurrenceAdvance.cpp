// Advancing a recurring appointment by its pattern, in local time.
#include "outlook/RecurrenceAdvance.h"

AdvanceOutcome AdvanceToNextOccurrence(const mail::RecurrencePattern& pattern,
                                       const mail::pattern::Spans& spans, CTime now, CTimeSpan lead,
                                       CTime& start, CTime& reminderTime) {
    const CTime limit = now + spans.week;
    CTime previous(0);
    // Every round moves start forward by at least a day and never past the limit a week ahead,
    // so the loop ends; the count is a second, independent bound.
    for (int round = 0; round < 4000 && reminderTime < now && start <= limit && start > previous;
         ++round) {
        previous = start;
        if (!mail::pattern::StepOnce(pattern, spans, start))
            return AdvanceOutcome::UnknownType;
        reminderTime = start - lead;
    }
    return AdvanceOutcome::Stepped;
}
