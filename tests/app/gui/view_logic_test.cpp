// What the monitoring list shows for each state of a user, its order, and where the main window
// goes at start-up; no display needed.
#include "app/gui/DisplayRows.h"
#include "app/gui/Placement.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct UserState {
    const char* name;
    int pageOnlyOOF;
    int oofFlag;
    int scanStatus;
    int reminders; // each an hour apart, the first at 09:30 on 14 March 2026
    // The six cells expected.
    const char* officeFlag;
    const char* remindersCell;
    const char* nextDue;
};

UserlistStru* AddUser(CUserList& list, const UserState& state, int16_t interval) {
    UserlistStru* user = list.CreateUser();
    user->DisplayName = state.name;
    user->PagerName = std::string(state.name) + " (Pager)";
    user->ScanInterval = interval;
    user->PageOnlyOOF = state.pageOnlyOOF;
    user->OOFFlag = state.oofFlag;
    user->ScanStatus = state.scanStatus;
    for (int i = state.reminders - 1; i >= 0; --i) // added out of order; SortList puts them right
        user->Reminders.AddReminder(CTime(2026, 3, 14, 9 + i, 30, 0),
                                    CTime(2026, 3, 14, 10 + i, 0, 0),
                                    CTime(2026, 3, 14, 11 + i, 0, 0), "Review");
    user->Reminders.SortList();
    return user;
}

} // namespace

TEST(DisplayRows, EveryStateOfAUserShowsItsCells) {
    ScopedTimeZone zone("UTC");
    const UserState states[] = {
        // name, PageOnlyOOF, OOFFlag, ScanStatus, reminders: Office Flag, Reminders, Next Due
        {"not scanned", 0, 0, -1, 0, "N/A", "", ""},
        {"scanned without reminders", 0, 0, 1, 0, "N/A", "0", ""},
        {"scanned with three", 0, 0, 1, 3, "N/A", "3", "03/14/26 09:30"},
        {"failed with an earlier reminder", 0, 0, 0, 1, "N/A", "ERROR", "03/14/26 09:30"},
        {"failed without reminders", 0, 0, 0, 0, "N/A", "ERROR", ""},
        {"paged anyway while out", 0, 1, 1, 0, "N/A", "0", ""},
        {"only when out, in", 1, 0, -1, 0, "In", "", ""},
        {"only when out, out", 1, 1, 1, 2, "Out", "2", "03/14/26 09:30"},
        {"only when out, flag 7", 1, 7, 1, 0, "Out", "0", ""},
    };
    for (const UserState& state : states) {
        SCOPED_TRACE(state.name);
        CUserList list;
        AddUser(list, state, 45);
        const DisplayRowStru row = MakeDisplayRow(*list.Users().front());
        EXPECT_EQ(row.Cells[display_columns::kDisplayName], state.name);
        EXPECT_EQ(row.Cells[display_columns::kPagerName], std::string(state.name) + " (Pager)");
        EXPECT_EQ(row.Cells[display_columns::kOfficeFlag], state.officeFlag);
        EXPECT_EQ(row.Cells[display_columns::kScanTime], "45");
        EXPECT_EQ(row.Cells[display_columns::kReminders], state.remindersCell);
        EXPECT_EQ(row.Cells[display_columns::kNextDue], state.nextDue);
        EXPECT_EQ(row.ScanFailed, std::string(state.remindersCell) == "ERROR");
    }
}

TEST(DisplayRows, NextDueIsTheReminderTimeInLocalTime) {
    ScopedTimeZone zone("America/New_York");
    CUserList list;
    UserlistStru* user = list.CreateUser();
    user->ScanStatus = 1;
    // Page time 23:59:00 local on 31 December 2025: the reminder itself is at midnight.
    user->Reminders.AddReminder(CTime(2026, 1, 1, 0, 0, 0), CTime(2026, 1, 1, 0, 15, 0),
                                CTime(2026, 1, 1, 1, 0, 0), "New year");
    EXPECT_EQ(MakeDisplayRow(*user).Cells[display_columns::kNextDue], "01/01/26 00:00");
    user->ScanInterval = -3; // a hand-edited file: shown as it is stored
    EXPECT_EQ(MakeDisplayRow(*user).Cells[display_columns::kScanTime], "-3");
}

TEST(DisplayRows, RowsAreOrderedByDisplayNameWithoutRegardToCase) {
    CUserList list;
    for (const char* name : {"bob", "Alice", "carol", "Bea", "alice", "", "Émile", "Zed"}) {
        UserlistStru* user = list.CreateUser();
        user->DisplayName = name;
    }
    list.SortByServer(); // the out-of-office pass reorders the live list; the view must not care
    std::vector<std::string> names;
    std::vector<int> codes;
    for (const DisplayRowStru& row : MakeDisplayRows(list)) {
        names.push_back(row.Cells[display_columns::kDisplayName]);
        codes.push_back(row.Code);
    }
    // "Alice" and "alice" compare equal: they keep the list's order.
    EXPECT_EQ(names, (std::vector<std::string>{"", "Alice", "alice", "Bea", "bob", "carol", "Zed",
                                               "Émile"}));
    EXPECT_EQ(codes.size(), 8u);
    EXPECT_TRUE(MakeDisplayRows(CUserList()).empty());
}

TEST(Placement, TheDefaultRectangleIsCentredWithIntegerDivisions) {
    struct Row {
        QRect screen;
        QSize size;
        QPoint expected;
    } rows[] = {
        {QRect(0, 0, 1280, 800), QSize(630, 420), QPoint(325, 190)},
        {QRect(0, 0, 1280, 800), QSize(631, 421), QPoint(324, 189)}, // (W + 1) / 2 rounds up
        {QRect(0, 0, 1025, 769), QSize(100, 100), QPoint(462, 334)},
        {QRect(1920, -200, 1024, 768), QSize(200, 100), QPoint(1920 + 412, -200 + 334)},
        {QRect(0, 0, 800, 600), QSize(1000, 700), QPoint(-100, -50)}, // larger than the screen
    };
    for (const Row& row : rows) {
        const QRect placed = placement::Centred(row.size, row.screen);
        EXPECT_EQ(placed.topLeft(), row.expected) << row.size.width();
        EXPECT_EQ(placed.size(), row.size);
    }
}

TEST(Placement, ASavedRectangleOnNoScreenIsCentredAndAnyOtherIsKept) {
    const QRect primary(0, 0, 1280, 800), available(0, 0, 1280, 760);
    const QRect second(1280, 0, 1920, 1080);
    const QList<QRect> screens{primary, second};
    const QSize defaultSize(630, 420);
    struct Row {
        const char* what;
        QRect saved;
        QRect expected;
    } rows[] = {
        {"on the primary screen", QRect(10, 20, 600, 400), QRect(10, 20, 600, 400)},
        {"on the second screen", QRect(2000, 100, 700, 500), QRect(2000, 100, 700, 500)},
        {"partly off the left edge", QRect(-500, 100, 600, 400), QRect(-500, 100, 600, 400)},
        {"across both screens", QRect(1000, 100, 600, 400), QRect(1000, 100, 600, 400)},
        {"on a monitor unplugged since", QRect(3300, 100, 700, 500), QRect(290, 150, 700, 500)},
        {"far above", QRect(100, -5000, 600, 400), QRect(340, 200, 600, 400)},
        {"larger than the screen, elsewhere", QRect(5000, 0, 3000, 2000), QRect(0, 20, 1280, 760)},
        {"without area", QRect(QPoint(400, 300), QSize(-50, 200)), QRect(325, 190, 630, 420)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(placement::Mend(row.saved, screens, primary, available, defaultSize),
                  row.expected);
    }
}
