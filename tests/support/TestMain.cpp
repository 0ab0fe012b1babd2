// The main of every test binary: an isolated configuration, no system log, a clean clock.
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdlib.h>

#ifdef ORVANE_GUI_TEST
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include "core/Clock.h"
#include "paging/EventLog.h"

namespace {

// Undoes what one test may have left behind in the process-wide seams.
class ResetSeams : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override { Clock::Reset(); }
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Settings, mail profiles and anything else under the user's configuration directory go to
    // a directory of this run's own.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const QByteArray config = (home.path() + "/config").toUtf8();
    QDir().mkpath(home.path() + "/config");
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    setenv("HOME", home.path().toUtf8().constData(), 1);
    unsetenv("ORVANE_EVENT_LOG");
    EventLog::SetSystemLogEnabled(false);

#ifdef ORVANE_GUI_TEST
    // Windows are created on the offscreen platform, also when the tests are only listed.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
#endif
    TestApplication app(argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ResetSeams);
    return RUN_ALL_TESTS();
}
