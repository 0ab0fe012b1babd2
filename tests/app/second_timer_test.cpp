// The monitoring timer on a running clock: one tick for each second of the clock at most, also
// when a handler holds the thread past several seconds (the ticks it missed come once).
#include "app/SecondTimer.h"
#include "core/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

TEST(SecondTimer, TicksOnceASecondOfTheClockAndMergesTheTicksAHandlerMissed) {
    Clock::StartAt(CTime(1773493540));
    std::vector<int32_t> seconds;
    bool slow = true;
    CSecondTimer timer([&] {
        seconds.push_back(Clock::Now().GetTime());
        if (slow) { // the first tick holds the thread for two and a half seconds
            slow = false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        }
    });
    timer.Start(1000);
    ASSERT_TRUE(timer.IsActive());
    QElapsedTimer waited;
    waited.start();
    while (seconds.size() < 4 && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    timer.Stop();
    ASSERT_EQ(seconds.size(), 4u);
    // Each tick in a later second than the one before: none queued behind the slow handler.
    for (size_t i = 1; i < seconds.size(); ++i)
        EXPECT_GT(seconds[i], seconds[i - 1]) << i;
    EXPECT_GE(seconds[1] - seconds[0], 2) << "the missed ticks came as one";

    // Stopped, it ticks no more.
    const size_t ticks = seconds.size();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 1300)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(seconds.size(), ticks);
}

TEST(SecondTimer, TheClockTellsHowLongUntilItsNextSecond) {
    Clock::Freeze(CTime(1000));
    EXPECT_EQ(Clock::MillisecondsToNextSecond(), 1000) << "a frozen clock has no next second";
    Clock::StartAt(CTime(5000));
    for (int i = 0; i < 20; ++i) {
        const int ms = Clock::MillisecondsToNextSecond();
        EXPECT_GE(ms, 1);
        EXPECT_LE(ms, 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(37));
    }
}
