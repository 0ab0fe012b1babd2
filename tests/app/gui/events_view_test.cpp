// The Events view over the demo on the offscreen platform: an event the monitoring cycle wrote
// for a user whose scan failed is listed, newest first, the ERROR cell tells the scan's error,
// double-clicking it shows that user's events only, and the filters narrow the list.
#include "app/cli/Cli.h"
#include "app/gui/Display.h"
#include "app/gui/DisplayRows.h"
#include "app/gui/EventsView.h"
#include "app/gui/PageWindow.h"
#include "app/monitor/UserListPasses.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QHeaderView>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace testing_support;

namespace {

// The rows the view lists: time, type and text of each.
std::vector<std::array<std::string, 3>> Listed(const CEventsView& view) {
    std::vector<std::array<std::string, 3>> rows;
    for (int i = 0; i < view.List()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = view.List()->topLevelItem(i);
        rows.push_back({item->text(CEventsView::kTime).toStdString(),
                        item->text(CEventsView::kType).toStdString(),
                        item->text(CEventsView::kText).toStdString()});
    }
    return rows;
}

} // namespace

TEST(EventsView, ListsWhatTheCycleWroteAndFiltersByUser) {
    ScopedTimeZone zone("Europe/Berlin");
    TempDir dir;
    std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Demo");
    Clock::Freeze(CTime(2026, 6, 3, 9, 0, 30));
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"demo", "init", dir.Path()}, out, err), 0) << err.str();
    ScopedWorkingDirectory cwd(dir.Path());
    // Two users whose mailboxes the mail system does not have: their scans fail.
    {
        CUserList users;
        users.LoadUsers();
        int broken = 0;
        for (const auto& user : users.Users()) {
            if (broken < 2) {
                user->MailboxName =
                    "/o=Quorvik/ou=Demo/cn=Recipients/cn=gone" + std::to_string(broken++);
                user->PageOnlyOOF = 0;
            }
        }
        ASSERT_EQ(users.SaveUsers(), UserFileSave::Saved);
    }
    QueuedMessageBoxes boxes;
    CUserListPasses passes;
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    window.SetPasses(&passes);
    auto* view = new display(window.LiveUsers(), &window);
    window.SetDisplay(view);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // Ticks until every user was scanned once (bounded: a scan pass goes on between ticks).
    for (int tick = 0; tick < 100; ++tick) {
        window.OnTimer();
        bool all = true;
        for (const auto& user : window.LiveUsers().Users())
            all = all && user->ScanStatus != -1;
        if (all)
            break;
        Clock::Advance(1);
    }
    const UserlistStru* failed = nullptr;
    const UserlistStru* otherFailed = nullptr;
    for (const auto& user : window.LiveUsers().Users()) {
        if (user->ScanStatus == 0)
            (failed ? otherFailed : failed) = user.get();
    }
    ASSERT_NE(failed, nullptr);
    ASSERT_NE(otherFailed, nullptr);
    ASSERT_FALSE(failed->LastScanError.empty());

    // The ERROR cell tells the scan's own error; a double-click shows that user's events.
    QTreeWidgetItem* errorCell = nullptr;
    for (int i = 0; i < view->ListControl()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = view->ListControl()->topLevelItem(i);
        if (item->text(0).toStdString() == failed->DisplayName)
            errorCell = item;
    }
    ASSERT_NE(errorCell, nullptr);
    EXPECT_EQ(errorCell->text(display_columns::kReminders), "ERROR");
    EXPECT_EQ(errorCell->toolTip(display_columns::kReminders)
                  .toStdString()
                  .rfind(failed->LastScanError, 0),
              0u);
    QTreeWidget* list = view->ListControl();
    list->scrollToItem(errorCell);
    const QRect cell = list->visualItemRect(errorCell);
    ASSERT_FALSE(cell.isEmpty());
    const QPoint at(list->header()->sectionViewportPosition(display_columns::kReminders) + 4,
                    cell.center().y());
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    CEventsView* events = window.EventsView();
    ASSERT_NE(events, nullptr);
    EXPECT_TRUE(events->isVisible());
    EXPECT_EQ(events->windowTitle(), "Events");
    EXPECT_EQ(events->UserFilter()->currentText().toStdString(), failed->DisplayName);

    const auto own = Listed(*events);
    ASSERT_FALSE(own.empty());
    bool hasScanError = false;
    for (const auto& row : own) {
        EXPECT_EQ(row[1], "error");
        EXPECT_NE(row[2].find(failed->MailboxName), std::string::npos) << row[2];
        EXPECT_EQ(row[2].find(otherFailed->MailboxName), std::string::npos) << row[2];
        hasScanError = hasScanError || row[2] == failed->LastScanError;
    }
    EXPECT_TRUE(hasScanError) << failed->LastScanError;

    // Every user: both failures, newest first.
    events->UserFilter()->setCurrentIndex(0);
    const auto all = Listed(*events);
    EXPECT_GT(all.size(), own.size());
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_GE(all[i - 1][0], all[i][0]) << i;
    // No information events were written: that type lists nothing.
    events->TypeFilter()->setCurrentIndex(events->TypeFilter()->findData("information"));
    EXPECT_TRUE(Listed(*events).empty());

    // Its place is remembered when it closes, and taken again by the next one.
    events->move(QPoint(50, 60));
    events->resize(640, 380);
    const QRect place = events->frameGeometry();
    events->close();
    CEventsView again(window.LiveUsers(), nullptr);
    again.ShowFiltered(0);
    EXPECT_EQ(again.frameGeometry(), place);
    again.close();
}
