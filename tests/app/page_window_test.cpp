// The main window on the offscreen platform: its bars, Pause, and closing during a cycle.
#include "app/PageWindow.h"
#include "core/StatusText.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QTest>
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

} // namespace

TEST(PageWindow, PauseTogglesTheModePaneAndTheButtonState) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Path());
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    window.show();
    EXPECT_EQ(window.windowTitle(), "Orvane");
    EXPECT_EQ(window.ModeText(), "MONITORING");
    EXPECT_EQ(window.MessageText(), "Ready");

    auto* pause = window.findChild<QAction*>("actionPause");
    ASSERT_NE(pause, nullptr);
    pause->trigger();
    EXPECT_TRUE(window.IsPaused());
    EXPECT_TRUE(pause->isChecked());
    EXPECT_EQ(window.ModeText(), "PAUSED");
    pause->trigger();
    EXPECT_FALSE(window.IsPaused());
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(window.ModeText(), "MONITORING");

    StatusText().SetMessageText("EX:ann");
    EXPECT_EQ(window.MessageText(), "EX:ann");
}

TEST(PageWindow, TheCloseBoxDuringACycleClosesTheWindowOnlyAfterTheCycle) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Path());
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
