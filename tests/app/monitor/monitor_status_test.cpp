// The status view's texts, and the monitor's answers to the control socket's requests: edits
// while the Users dialog is open or an edit is pending, reloads of Users.dat, unknown requests.
#include "app/monitor/MonitorCycle.h"
#include "app/monitor/MonitorStatus.h"
#include "support/TestSupport.h"
#include "users/UserFile.h"

#include <QJsonArray>
#include <functional>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

CTime At(int hour, int minute) {
    return CTime(2026, 6, 3, hour, minute, 0);
}

UserlistStru* AddUser(CUserList& list, const char* name, int16_t code) {
    UserlistStru* u = list.CreateNoCodeUser();
    u->Code = code;
    u->DisplayName = name;
    u->PagerName = std::string(name) + " (Pager)";
    u->MailboxName = std::string("/o=Q/cn=") + name;
    return u;
}

} // namespace

TEST(MonitorStatus, RowsHaveTheListViewsTexts) {
    ScopedTimeZone zone("Europe/Berlin");
    CUserList list;
    const struct {
        int32_t pageOnlyOOF, oofFlag, scanStatus;
        int reminders;
        const char *office, *count, *nextDue;
    } rows[] = {
        {0, 1, 1, 2, "N/A", "2", "06/03/26 09:05"},
        {1, 1, 1, 0, "Out", "0", ""},
        {1, 0, -1, 0, "In", "", ""},
        {0, 0, 0, 1, "N/A", "ERROR", "06/03/26 09:05"},
        {0, 0, -1, 1, "N/A", "", "06/03/26 09:05"},
    };
    for (const auto& row : rows) {
        UserlistStru user;
        user.DisplayName = "Ann";
        user.PagerName = "Ann (Pager)";
        user.ScanInterval = 45;
        user.PageOnlyOOF = row.pageOnlyOOF;
        user.OOFFlag = row.oofFlag;
        user.ScanStatus = row.scanStatus;
        for (int i = 0; i < row.reminders; ++i) // page time 09:04: due (reminder time) at 09:05
            user.Reminders.AddReminder(At(9, 5) + CTimeSpan(i * 600), CTime(0), CTime(0),
                                       "Task " + std::to_string(i));
        const status::Row r = status::RowOf(user);
        EXPECT_EQ(r.displayName, "Ann");
        EXPECT_EQ(r.pagerName, "Ann (Pager)");
        EXPECT_EQ(r.scanTime, "45");
        EXPECT_EQ(r.officeFlag, row.office);
        EXPECT_EQ(r.reminders, row.count);
        EXPECT_EQ(r.nextDue, row.nextDue);
    }
}

TEST(MonitorStatus, TheSnapshotIsInDisplayNameOrderAndItsTextAlignsAndEscapes) {
    ScopedTimeZone zone("Europe/Berlin");
    CUserList list;
    AddUser(list, "bob", 1);
    UserlistStru* alice = AddUser(list, "Alice", 2);
    AddUser(list, "Carl\tTab", 3)->ScanStatus = 0;
    list.Users().back()->LastScanError = "The calendar file x.ics is damaged.";
    alice->LastPage = {true, At(9, 4), "09:10-09:40 Budget review", PageOutcome::Failed,
                       "The logon to the mail system has been lost."};
    const QJsonObject snapshot = status::Snapshot(list, "/srv/orvane/", At(9, 5), true, false);
    EXPECT_EQ(snapshot["state"].toString(), "PAUSED");
    EXPECT_EQ(snapshot["time"].toString(), "2026-06-03 09:05:00");
    std::vector<std::string> order;
    for (const QJsonValue& v : snapshot["users"].toArray())
        order.push_back(v.toObject()["display_name"].toString().toStdString());
    EXPECT_EQ(order, std::vector<std::string>({"Alice", "bob", "Carl\tTab"}));

    // Columns padded to their widest text; a tab inside a name is escaped, never printed.
    const std::string lastPage = "2026-06-03 09:04:00 failed: 09:10-09:40 Budget review (The "
                                 "logon to the mail system has been lost.)";
    const std::string gap(lastPage.size() - std::string("Last Page").size() + 2, ' ');
    EXPECT_EQ(
        status::Format(snapshot),
        "Display Name  Pager Name         Office Flag  Scan Time  Reminders  Next Due  "
        "Last Page" +
            gap +
            "Last Scan Error\n"
            "Alice         Alice (Pager)      In           60                              " +
            lastPage +
            "\n"
            "bob           bob (Pager)        In           60\n"
            "Carl\\tTab     Carl\\tTab (Pager)  In           60         ERROR                " +
            std::string(lastPage.size() + 2, ' ') + "The calendar file x.ics is damaged.\n");
}

namespace {

class DialogMonitor : public CMonitorCycle {
public:
    std::function<bool(CUserList&)> dialog = [](CUserList&) { return false; };
    DialogMonitor() { m_MonitorLockAttempts = 1; }

protected:
    unsigned StartTimer(unsigned, unsigned) override { return 1; }
    void StopTimer(unsigned) override {}
    void SetModeText(const CString&) override {}
    void PostCloseRequest() override {}
    bool RunUserListDialog(CUserList& copy) override { return dialog(copy); }
};

QJsonObject Edit(CMonitorCycle& monitor, QJsonArray args) {
    return monitor.HandleControlRequest({{"request", "users"}, {"args", args}});
}

std::vector<std::string> Names(const CUserList& list) {
    std::vector<std::string> names;
    for (const auto& u : list.Users())
        names.push_back(std::to_string(u->Code) + " " + u->DisplayName);
    return names;
}

} // namespace

TEST(MonitorRequests, EditsGoOnTopOfAPendingEditAndWaitWhileTheUsersDialogIsOpen) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Path());
    DialogMonitor monitor;
    ASSERT_TRUE(monitor.OnCreate());
    const QJsonArray addAnn = {"add",        "--display-name", "Ann", "--mailbox",
                               "ann",        "--server",       "s",   "--pager",
                               "Ann (Pager)"};
    QJsonObject answer = Edit(monitor, addAnn);
    EXPECT_EQ(answer["exit"].toInt(), 0);
    EXPECT_EQ(answer["out"].toString(), "1\n");
    answer = Edit(monitor, {"add", "--display-name", "Bob", "--mailbox", "bob", "--server", "s",
                            "--pager", "Bob (Pager)"});
    EXPECT_EQ(answer["out"].toString(), "2\n") << "the first edit is still pending";
    answer = Edit(monitor, {"set", "1", "--interval", "many"});
    EXPECT_EQ(answer["exit"].toInt(), 1);
    EXPECT_NE(answer["err"].toString().indexOf("whole number"), -1);
    answer = Edit(monitor, {"frobnicate"});
    EXPECT_EQ(answer["exit"].toInt(), 2);
    monitor.OnTimer();
    EXPECT_EQ(Names(monitor.LiveUsers()), std::vector<std::string>({"1 Ann", "2 Bob"}));

    // While the dialog is open, an edit handed over would be overwritten by its OK: refused.
    monitor.dialog = [&](CUserList& copy) {
        answer = Edit(monitor, {"remove", "1"});
        copy.DeleteUser(copy.Users().back().get());
        return true;
    };
    monitor.OnConfigureUsers();
    EXPECT_EQ(answer["exit"].toInt(), 1);
    EXPECT_NE(answer["err"].toString().indexOf("the Users dialog is open"), -1);
    monitor.OnTimer();
    EXPECT_EQ(Names(monitor.LiveUsers()), std::vector<std::string>({"1 Ann"}));

    EXPECT_EQ(monitor.HandleControlRequest({{"request", "reboot"}})["error"].toString(),
              "unknown request \"reboot\"");
    monitor.OnDestroy();
}

TEST(MonitorRequests, AReloadTakesUsersDatOnlyWhenItIsReadWhole) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Path());
    CapturedEvents events;
    DialogMonitor monitor;
    ASSERT_TRUE(monitor.OnCreate());
    bool ok = true;
    EXPECT_EQ(monitor.ReloadUsers(ok),
              "There is no " + dir.File("Users.dat") + "; the users monitored are kept.");
    EXPECT_FALSE(ok);

    CUserList list;
    AddUser(list, "Ann", 1);
    AddUser(list, "Bob", 2);
    const std::string bytes = UserFile::Encode(list);
    WriteFile(dir.File("Users.dat"), bytes);
    EXPECT_EQ(monitor.ReloadUsers(ok), "Read 2 users from " + dir.File("Users.dat") +
                                           "; monitoring starts afresh with them at the next "
                                           "cycle.");
    EXPECT_TRUE(ok);
    monitor.OnTimer();
    EXPECT_EQ(Names(monitor.LiveUsers()), std::vector<std::string>({"1 Ann", "2 Bob"}));

    WriteFile(dir.File("Users.dat"), bytes.substr(0, bytes.size() - 3)); // cut short
    EXPECT_NE(monitor.ReloadUsers(ok).find("is damaged at byte offset"), std::string::npos);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(monitor.HasPendingList());
    monitor.OnDestroy();
}

TEST(MonitorStatus, AMemberOfAClusterShowsItsRoleAboveTheUsers) {
    CUserList list;
    AddUser(list, "Alice", 1);
    QJsonObject snapshot = status::Snapshot(list, "/srv/orvane/", At(9, 5), false, false);
    const std::string alone = status::Format(snapshot);
    EXPECT_EQ(alone.rfind("Display Name", 0), 0u) << "no cluster line without a cluster";
    const struct {
        const char* role;
        const char* leader;
        std::string line;
    } rows[] = {
        {"ACTIVE", "pager1/812",
         "Cluster: ACTIVE (this instance pager1/812; the leader pager1/812)"},
        {"STANDBY", "pager1/812",
         "Cluster: STANDBY (this instance pager2/77; the leader pager1/812)"},
        {"NO CLUSTER", "", "Cluster: NO CLUSTER (this instance pager2/77; no leader known)"},
    };
    for (const auto& row : rows) {
        snapshot.insert("cluster", row.role);
        snapshot.insert("cluster_leader", row.leader);
        snapshot.insert("cluster_instance",
                        std::string(row.role) == "ACTIVE" ? "pager1/812" : "pager2/77");
        EXPECT_EQ(status::Format(snapshot), row.line + "\n" + alone);
    }
}
