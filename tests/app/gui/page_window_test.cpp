// The main window on the offscreen platform: its menu and prompts, the bars, Pause, the list
// view, and closing during a cycle.
#include "app/gui/Display.h"
#include "app/gui/MyStatusBar.h"
#include "app/gui/PageWindow.h"
#include "app/monitor/MonitorInstruments.h"
#include "core/StatusText.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStyle>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class PauseDuringScan : public IMonitorPasses {
public:
    std::function<void()> duringScan;
    int UpdateOOFFlags(CUserList&) override { return 0; }
    int UpdateReminders(CUserList&) override {
        if (duringScan)
            duringScan();
        return 0;
    }
    int ProcessReminders(CUserList&) override { return 0; }
};

// A window in a directory of the test's own, with fresh settings.
class PageWindowTest : public ::testing::Test {
protected:
    PageWindowTest() : m_cwd(m_dir.Path()) {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quorvik", "Orvane").clear();
    }
    TempDir m_dir;
    ScopedWorkingDirectory m_cwd;
};

// "&File" and so on, "-" for a separator, "> " before the entries of a submenu.
struct MenuLine {
    std::string text;
    std::string prompt;
};
std::vector<MenuLine> Describe(const QMenu* menu, const std::string& indent = "") {
    std::vector<MenuLine> lines;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            lines.push_back({indent + "-", ""});
        } else if (action->menu()) {
            lines.push_back({indent + action->text().toStdString(), ""});
            for (const MenuLine& line : Describe(action->menu(), indent + "> "))
                lines.push_back(line);
        } else {
            lines.push_back(
                {indent + action->text().toStdString(), action->statusTip().toStdString()});
        }
    }
    return lines;
}

std::vector<QTreeWidgetItem*> Rows(const display& view) {
    std::vector<QTreeWidgetItem*> rows;
    for (int i = 0; i < view.ListControl()->topLevelItemCount(); ++i)
        rows.push_back(view.ListControl()->topLevelItem(i));
    return rows;
}

} // namespace

TEST_F(PageWindowTest, TheMenuHasEveryEntryWithItsPrompt) {
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    std::vector<std::string> titles;
    std::vector<MenuLine> lines;
    for (QAction* action : window.menuBar()->actions()) {
        titles.push_back(action->text().toStdString());
        for (const MenuLine& line : Describe(action->menu()))
            lines.push_back(line);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&View", "&Configure", "&Help"}));
    const std::vector<MenuLine> expected = {
        {"&Print Setup...", "Configure the printer settings"},
        {"-", ""},
        {"E&xit", "Quit the application"},
        {"&Events", "Show the events the monitor wrote"},
        {"&Users...", "Configure the User List"},
        {"&Mail Profiles...", "Configure the mail profiles"},
        {"-", ""},
        {"P&references...", "Configure the program preferences"},
        {"&Contents", "Display help contents"},
        {"&Search for Help On...", "Search for a help topic"},
        {"&How to Use Help", "Display information on how to use the help system"},
        {"-", ""},
        {"Co&ntacting Quorvik Sales", "Display information on how to contact Quorvik Sales"},
        {"&Obtaining Technical Support", "Display information on the support available for Orvane"},
        {"-", ""},
        {"Quorvik on the &Web...", ""},
        {"> &Home Page", "Opens Quorvik's home page"},
        {"> Orvane &Info and Updates", "Open information and updates on Orvane"},
        {"-", ""},
        {"&About Orvane...", "Display the program's picture, version and maker"},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].text, expected[i].text) << i;
        EXPECT_EQ(lines[i].prompt, expected[i].prompt) << expected[i].text;
    }
}

TEST_F(PageWindowTest, AHighlightedEntrysPromptShowsInTheMessagePaneUntilTheMenuCloses) {
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (QAction* top : window.menuBar()->actions()) {
        QMenu* menu = top->menu();
        menu->popup(window.mapToGlobal(QPoint(10, 10)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        for (QAction* action : menu->actions()) {
            if (action->isSeparator() || action->menu())
                continue;
            menu->setActiveAction(action);
            EXPECT_EQ(window.MessageText(), action->statusTip()) << action->text().toStdString();
        }
        menu->hide();
        EXPECT_EQ(window.MessageText(), "Ready") << top->text().toStdString();
    }

    // The tool bar's buttons give their prompts while the pointer is on them.
    auto* toolBar = window.findChild<QToolBar*>("toolBar");
    ASSERT_NE(toolBar, nullptr);
    QWidget* pauseButton = window.findChild<QWidget*>("pauseButton");
    ASSERT_NE(pauseButton, nullptr);
    QTest::mouseMove(pauseButton);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.MessageText() == "Pause processing of page reminders."; }, 2000));
    QTest::mouseMove(window.Display() ? static_cast<QWidget*>(window.Display())
                                      : window.statusBar());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.MessageText() == "Ready"; }, 2000));
}

TEST_F(PageWindowTest, PauseTogglesTheModePaneAndTheButtonState) {
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    window.show();
    EXPECT_EQ(window.windowTitle(), "Orvane");
    EXPECT_EQ(window.ModeText(), "MONITORING");
    EXPECT_EQ(window.MessageText(), "Ready");
    auto* modePane = window.StatusBar()->findChild<QWidget*>("modePane");
    ASSERT_NE(modePane, nullptr);
    const int fittedWidth = modePane->width();

    auto* pause = window.findChild<QAction*>("actionPause");
    ASSERT_NE(pause, nullptr);
    auto* pauseButton = window.findChild<QToolButton*>("pauseButton");
    ASSERT_NE(pauseButton, nullptr);
    QTest::mouseClick(pauseButton, Qt::LeftButton);
    EXPECT_TRUE(window.IsPaused());
    EXPECT_TRUE(pauseButton->isChecked());
    EXPECT_EQ(window.ModeText(), "PAUSED");
    EXPECT_EQ(modePane->width(), fittedWidth) << "the pane stays fitted to MONITORING";
    // While paused a tick runs no cycle.
    int scans = 0;
    PauseDuringScan passes;
    passes.duringScan = [&] { ++scans; };
    window.SetPasses(&passes);
    window.OnTimer();
    EXPECT_EQ(scans, 0);
    QTest::mouseClick(pauseButton, Qt::LeftButton);
    EXPECT_FALSE(window.IsPaused());
    EXPECT_FALSE(pauseButton->isChecked());
    EXPECT_EQ(window.ModeText(), "MONITORING");
    window.OnTimer();
    EXPECT_EQ(scans, 1);

    StatusText().SetMessageText("EX:ann");
    EXPECT_EQ(window.MessageText(), "EX:ann");
}

TEST_F(PageWindowTest, PauseHasNoToolTipAndHelpSaysHelp) {
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* pauseButton = window.findChild<QToolButton*>("pauseButton");
    auto* helpButton = window.findChild<QToolButton*>("helpButton");
    ASSERT_NE(pauseButton, nullptr);
    ASSERT_NE(helpButton, nullptr);
    EXPECT_FALSE(pauseButton->icon().isNull());
    EXPECT_FALSE(helpButton->icon().isNull());

    QHelpEvent onPause(QEvent::ToolTip, QPoint(2, 2), pauseButton->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(pauseButton, &onPause);
    EXPECT_FALSE(QToolTip::isVisible());
    QHelpEvent onHelp(QEvent::ToolTip, QPoint(2, 2), helpButton->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(helpButton, &onHelp);
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 2000));
    EXPECT_EQ(QToolTip::text(), "Help");
    QToolTip::hideText();
}

TEST_F(PageWindowTest, TheListShowsEveryStateInDisplayNameOrderAndKeepsTheSelection) {
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    auto* view = new display(window.LiveUsers(), &window);
    window.SetDisplay(view);
    window.show();
    view->DoDataExchange();
    EXPECT_EQ(view->ListControl()->topLevelItemCount(), 0);

    ScopedTimeZone zone("UTC");
    struct Row {
        const char* name;
        int pageOnlyOOF, oofFlag, scanStatus;
        bool withReminder;
    } rows[] = {
        {"dora (scanned, none)", 0, 0, 1, false},
        {"Carl (not scanned)", 0, 0, -1, false},
        {"erin (in)", 1, 0, -1, false},
        {"Bea (error)", 0, 0, 0, true},
        {"Finn (out)", 1, 1, 1, true},
        {"alma (two)", 0, 1, 1, true},
    };
    for (const Row& row : rows) {
        UserlistStru* user = window.LiveUsers().CreateUser();
        user->DisplayName = row.name;
        user->PagerName = "pager";
        user->PageOnlyOOF = row.pageOnlyOOF;
        user->OOFFlag = row.oofFlag;
        user->ScanStatus = row.scanStatus;
        if (row.withReminder)
            user->Reminders.AddReminder(CTime(2026, 3, 14, 9, 30, 0), CTime(2026, 3, 14, 10, 0, 0),
                                        CTime(2026, 3, 14, 11, 0, 0), "Review");
    }
    view->DoDataExchange();

    const std::vector<std::vector<std::string>> expected = {
        {"alma (two)", "pager", "N/A", "60", "1", "03/14/26 09:30"},
        {"Bea (error)", "pager", "N/A", "60", "ERROR", "03/14/26 09:30"},
        {"Carl (not scanned)", "pager", "N/A", "60", "", ""},
        {"dora (scanned, none)", "pager", "N/A", "60", "0", ""},
        {"erin (in)", "pager", "In", "60", "", ""},
        {"Finn (out)", "pager", "Out", "60", "1", "03/14/26 09:30"},
    };
    std::vector<QTreeWidgetItem*> items = Rows(*view);
    ASSERT_EQ(items.size(), expected.size());
    for (size_t r = 0; r < expected.size(); ++r)
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(items[r]->text(c).toStdString(), expected[r][c]) << r << "," << c;
    // ERROR stands out: bold, in another colour than the other cells.
    EXPECT_TRUE(items[1]->font(4).bold());
    EXPECT_NE(items[1]->foreground(4).color(),
              view->ListControl()->palette().color(QPalette::Text));
    EXPECT_FALSE(items[0]->font(4).bold());

    QStringList titles;
    for (int c = 0; c < 6; ++c)
        titles << view->ListControl()->headerItem()->text(c);
    EXPECT_EQ(titles, QStringList({"Display Name", "Pager Name", "Office Flag", "Scan Time",
                                   "Reminders", "Next Due"}));
    // No width stored: every title fits its initial width at the default font (text plus the
    // style's margin on both sides); a seed width that fits already is kept.
    const QHeaderView* header = view->ListControl()->header();
    const QFontMetrics metrics(header->font());
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int seeds[] = {149, 141, 64, 64, 64, 95};
    for (int c = 0; c < 6; ++c) {
        const int needed = metrics.horizontalAdvance(titles[c]) + 2 * margin;
        EXPECT_LE(needed, view->ColumnWidth(c)) << titles[c].toStdString();
        EXPECT_GE(view->ColumnWidth(c), seeds[c]) << c;
        if (needed <= seeds[c] && c < 5) {
            EXPECT_EQ(view->ColumnWidth(c), seeds[c]) << c;
        }
    }

    // Whole rows are selected, from the keyboard too, and a refresh keeps them selected.
    QTreeWidget* list = view->ListControl();
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    list->setFocus();
    list->setCurrentItem(items[0]);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
    ASSERT_EQ(list->selectedItems().size(), 2);
    view->DoDataExchange();
    QStringList selected;
    for (QTreeWidgetItem* item : list->selectedItems())
        selected << item->text(0);
    selected.sort();
    EXPECT_EQ(selected, QStringList({"Bea (error)", "Carl (not scanned)"}));
    EXPECT_EQ(list->currentItem()->text(0), "Carl (not scanned)");
}

TEST_F(PageWindowTest, TheCloseBoxDuringACycleClosesTheWindowOnlyAfterTheCycle) {
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    window.show();
    PauseDuringScan passes;
    bool visibleAfterClose = false;
    passes.duringScan = [&] {
        window.close(); // the title bar's close box
        QCoreApplication::processEvents();
        visibleAfterClose = window.isVisible();
    };
    window.SetPasses(&passes);
    window.OnTimer();
    EXPECT_TRUE(visibleAfterClose) << "the window stays while the cycle runs";
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "EMail Notice");
    EXPECT_EQ(window.TimerId(), 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 2000));
}

// With the metrics endpoint on, the window serves it, and its Pause button and close box reach
// the metrics and the health check as the headless monitor's pause and stop do.
TEST_F(PageWindowTest, ThePauseButtonAndTheCloseBoxReachTheMetrics) {
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    CPageWindow window;
    window.SetMetricsAddress("127.0.0.1:" + std::to_string(FreePort()));
    ASSERT_TRUE(window.Create());
    CMonitorInstruments* instruments = window.Instruments();
    ASSERT_NE(instruments, nullptr);
    EXPECT_TRUE(instruments->Server().IsListening());
    window.show();
    window.OnTimer();
    EXPECT_TRUE(instruments->Health().Check().ok) << instruments->Health().Check().reason;

    auto* pauseButton = window.findChild<QToolButton*>("pauseButton");
    ASSERT_NE(pauseButton, nullptr);
    for (const double paused : {1.0, 0.0}) {
        QTest::mouseClick(pauseButton, Qt::LeftButton);
        EXPECT_EQ(instruments->Metrics().paused.Value(), paused);
        window.OnTimer();
        EXPECT_TRUE(instruments->Health().Check().ok) << "a paused window still ticks";
    }

    PauseDuringScan passes;
    passes.duringScan = [&] {
        window.close(); // the title bar's close box, answered OK
        QCoreApplication::processEvents();
    };
    window.SetPasses(&passes);
    window.OnTimer();
    EXPECT_EQ(instruments->Health().Check().reason, "the monitor is stopping");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 2000));
    EXPECT_EQ(window.Instruments(), nullptr) << "the endpoint closes with the window";
}

TEST_F(PageWindowTest, TheClusterPaneShowsTheRoleOnlyForAMemberOfACluster) {
    CapturedEvents events;
    {
        CPageWindow alone;
        ASSERT_TRUE(alone.Create());
        alone.show();
        auto* pane = alone.StatusBar()->findChild<QLabel*>("clusterPane");
        ASSERT_NE(pane, nullptr);
        alone.OnTimer();
        EXPECT_FALSE(pane->isVisible());
    }
    // A member whose etcd refuses every connection: it pages nothing and says so.
    CPageWindow member;
    member.SetClusterOptions({std::string("etcd://127.0.0.1:1/site"), {}, {}});
    ASSERT_TRUE(member.Create());
    member.show();
    auto* pane = member.StatusBar()->findChild<QLabel*>("clusterPane");
    ASSERT_NE(pane, nullptr);
    member.OnTimer();
    EXPECT_TRUE(pane->isVisible());
    EXPECT_EQ(pane->text(), "NO CLUSTER");
    EXPECT_NE(pane->toolTip().indexOf("this instance pages nothing"), -1)
        << pane->toolTip().toStdString();
    EXPECT_FALSE(member.MayPage());
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_NE(events.Texts()[0].find("Orvane lost its connection to the cluster "
                                     "etcd://127.0.0.1:1/site and pages nothing"),
              std::string::npos)
        << events.Texts()[0];
    member.OnTimer();
    EXPECT_EQ(events.Texts().size(), 1u) << "one event while it stays out of reach";
}
