// The gauges that a scrape works out from the live user list: users by state, pending reminders,
// the next page time, and the first round of scans, which completes once and stays complete.
#include "app/monitor/MonitorMetrics.h"
#include "users/CUserList.h"

#include <gtest/gtest.h>

namespace {

UserlistStru& AddUser(CUserList& list, bool pageOnlyOOF, bool out, int scanStatus) {
    UserlistStru& user = *list.CreateUser();
    user.PageOnlyOOF = pageOnlyOOF;
    user.OOFFlag = out;
    user.ScanStatus = scanStatus;
    return user;
}

} // namespace

TEST(MonitorMetrics, GaugesOfTheLiveList) {
    CMonitorMetrics metrics("test", false);
    CUserList list;
    const CTime t0(1780000000);
    UserlistStru& scanned = AddUser(list, false, false, 1);
    scanned.Reminders.AddReminder(t0 + CTimeSpan(600), CTime(0), CTime(0), "later");
    scanned.Reminders.AddReminder(t0 + CTimeSpan(300), CTime(0), CTime(0), "sooner");
    scanned.Reminders.SortList();
    AddUser(list, true, true, 0); // out of office, so active; its last scan failed
    UserlistStru& in = AddUser(list, true, false, -1); // in the office: not active, not due
    in.Reminders.AddReminder(t0 + CTimeSpan(60), CTime(0), CTime(0), "not paged while in");
    UserlistStru& waiting = AddUser(list, false, false, -1); // not scanned yet

    const struct {
        std::function<void()> change;
        double active, inactive, error, pending, next, firstRound;
    } steps[] = {
        {[] {}, 2, 1, 1, 2, 1780000240, 0},
        {[&] { waiting.ScanStatus = 1; }, 2, 1, 1, 2, 1780000240, 1},
        // An edit of the users makes everyone due again: the first round stays complete.
        {[&] { waiting.ScanStatus = -1; }, 2, 1, 1, 2, 1780000240, 1},
        {[&] { in.OOFFlag = 1; }, 3, 0, 1, 3, 1780000000, 1},
        {[&] { list.DeleteAllUsers(); }, 0, 0, 0, 0, 0, 1},
    };
    int step = 0;
    for (const auto& s : steps) {
        s.change();
        metrics.SetFromUsers(list);
        EXPECT_EQ(metrics.usersActive.Value(), s.active) << "step " << step;
        EXPECT_EQ(metrics.usersInactive.Value(), s.inactive) << "step " << step;
        EXPECT_EQ(metrics.usersError.Value(), s.error) << "step " << step;
        EXPECT_EQ(metrics.remindersPending.Value(), s.pending) << "step " << step;
        EXPECT_EQ(metrics.nextPageTimestamp.Value(), s.next) << "step " << step;
        EXPECT_EQ(metrics.firstRoundComplete.Value(), s.firstRound) << "step " << step;
        ++step;
    }
}
