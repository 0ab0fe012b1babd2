// Reminders that fell due while the monitor was stopped: when they are still worth a page, and
// the account that a start writes of them.
#include "paging/LatePages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 6, 3, hour, minute, second);
}

ReminderStru Built(CTime reminderTime, CTime start, CTime end) {
    CRemList list;
    list.AddReminder(reminderTime, start, end, "Item");
    return *list.GetHead();
}

} // namespace

TEST(LatePages, AnAppointmentIsWorthAPageUntilItEndsATaskForAnHourAfterItsReminder) {
    ScopedTimeZone zone("UTC");
    // An appointment 10:00-10:30 with its reminder at 09:45; a task whose reminder is at 09:45.
    const ReminderStru appointment = Built(At(9, 45), At(10, 0), At(10, 30));
    const ReminderStru task = Built(At(9, 45), CTime(0), CTime(0));
    // One whose reminder comes after its own end (a reminder set on a past appointment's end).
    const ReminderStru zeroLength = Built(At(10, 0), At(10, 0), At(10, 0));
    const struct {
        const ReminderStru& reminder;
        CTime now;
        bool worth;
    } rows[] = {
        {appointment, At(9, 50), true},    {appointment, At(10, 29, 59), true},
        {appointment, At(10, 30), false},  {appointment, At(12, 0), false},
        {task, At(10, 0), true},           {task, At(10, 44, 59), true},
        {task, At(10, 45), false},         {task, At(9, 44), true},
        {zeroLength, At(9, 59, 59), true}, {zeroLength, At(10, 0), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reminder.Text + " at " + row.now.Format("%H:%M:%S"));
        EXPECT_EQ(paging::StillWorthPaging(row.reminder, row.now), row.worth);
    }
}

TEST(LatePages, TheAccountCountsWhatWasSentDroppedAndStillWaitsWithTheLargestLateness) {
    const struct {
        paging::LatePagesTally tally;
        const char* text;
    } rows[] = {
        {{3, CTimeSpan(200), 2, 1, 0, CTime()},
         "While Orvane was stopped, 6 reminders fell due: 3 were paged late (by at most 3 "
         "minutes 20 seconds), 3 were dropped (2 over before Orvane was back, 1 outside the paging "
         "hours)."},
        {{1, CTimeSpan(1), 0, 0, 0, CTime()},
         "While Orvane was stopped, 1 reminder fell due: 1 was paged late (by at most 1 second), 0 "
         "were dropped (0 over before Orvane was back, 0 outside the paging hours)."},
        {{0, CTimeSpan(), 1, 0, 1, CTime()},
         "While Orvane was stopped, 2 reminders fell due: 0 were paged late, 1 was dropped (1 over "
         "before Orvane was back, 0 outside the paging hours), and 1 waits to be paged (its send "
         "failed, or its user is in the office) until its appointment ends."},
        {{2, CTimeSpan(7260), 0, 0, 4, CTime()},
         "While Orvane was stopped, 6 reminders fell due: 2 were paged late (by at most 2 hours 1 "
         "minute), 0 were dropped (0 over before Orvane was back, 0 outside the paging hours), "
         "and 4 wait to be paged (their sends failed, or their users are in the office) until "
         "their appointments end."},
        {{1, CTimeSpan(3600), 0, 0, 0, CTime()},
         "While Orvane was stopped, 1 reminder fell due: 1 was paged late (by at most 1 hour), 0 "
         "were dropped (0 over before Orvane was back, 0 outside the paging hours)."},
        {{1, CTimeSpan(120), 0, 0, 0, CTime()},
         "While Orvane was stopped, 1 reminder fell due: 1 was paged late (by at most 2 minutes), "
         "0 were dropped (0 over before Orvane was back, 0 outside the paging hours)."},
        {{0, CTimeSpan(), 0, 0, 0, CTime(2026, 6, 4, 9, 30, 12)},
         "While Orvane was stopped, 0 reminders fell due: 0 were paged late, 0 were dropped (0 "
         "over before Orvane was back, 0 outside the paging hours). Reminders due after 06/04/26 "
         "09:30 were not kept when Orvane stopped; any of them that fell due before it started "
         "again are not paged."},
    };
    ScopedTimeZone zone("UTC");
    for (const auto& row : rows)
        EXPECT_EQ(paging::LatePagesText(row.tally), row.text);
}
