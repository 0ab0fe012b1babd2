// Advancing a recurring appointment by its pattern, in local time.
#include "outlook/RecurrenceAdvance.h"

#include "mailsystem/PatternStep.h"

AdvanceOutcome AdvanceToNextOccurrence(const RecurrenceValues& values, const RecurrenceSpans& spans,
                                       CTime now, CTimeSpan lead, CTime& start,
                                       CTime& reminderTime) {
    mail::RecurrencePattern pattern;
    pattern.recurrenceType = values.RecurrenceType;
    pattern.interval = values.Interval;
    pattern.instance = values.Instance;
    pattern.dayOfWeekMask = values.DayOfWeekMask;
    pattern.dayOfMonth = values.DayOfMonth;
    pattern.monthOfYear = values.MonthOfYear;
    const mail::pattern::Spans steps{spans.day, spans.week, spans.hour};
    const CTime limit = now + spans.week;
    CTime previous(0);
    // Every round moves start forward by at least a day and never past the limit a week ahead,
    // so the loop ends; the count is a second, independent bound.
    for (int round = 0; round < 4000 && reminderTime < now && start <= limit && start > previous;
         ++round) {
        previous = start;
        if (!mail::pattern::StepOnce(pattern, steps, start))
            return AdvanceOutcome::UnknownType;
        reminderTime = start - lead;
    }
    return AdvanceOutcome::Stepped;
}
