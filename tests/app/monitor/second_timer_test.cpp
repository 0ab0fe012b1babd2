// The monitoring timer on a running clock: one tick for each second of the clock at most, also
// when a handler holds the thread past several seconds (the ticks it missed come once).
#include "app/monitor/SecondTimer.h"
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

// The rest of each second is offered after its tick, again after each call that wants more, with
// the time left until the next tick; the ticks keep to the clock's seconds meanwhile.
TEST(SecondTimer, TheRestOfEachSecondIsOfferedBetweenTicks) {
    Clock::StartAt(CTime(1773493540));
    std::vector<int32_t> ticks;
    std::vector<std::pair<size_t, int>> offers; // (ticks so far, ms to the next tick)
    int wanted = 5;                             // calls in a row that want more
    CSecondTimer timer([&] { ticks.push_back(Clock::Now().GetTime()); },
                       [&](int msToNextTick) {
                           offers.emplace_back(ticks.size(), msToNextTick);
                           std::this_thread::sleep_for(std::chrono::milliseconds(20));
                           return --wanted > 0;
                       });
    timer.Start(1000);
    QElapsedTimer waited;
    waited.start();
    while (ticks.size() < 3 && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    timer.Stop();
    ASSERT_EQ(ticks.size(), 3u);
    // One tick a second (two only if the machine stalled): the offers held no tick up.
    EXPECT_GE(ticks[1] - ticks[0], 1);
    EXPECT_LE(ticks[1] - ticks[0], 2);
    EXPECT_GE(ticks[2] - ticks[1], 1);

    // After the first tick: five calls in a row, each with less time left; then one after each
    // further tick (wanting no more).
    ASSERT_GE(offers.size(), 6u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(offers[i].first, 1u) << i;
        EXPECT_GT(offers[i].second, 0) << i;
        EXPECT_LE(offers[i].second, 1003) << i;
        if (i > 0) {
            EXPECT_LE(offers[i].second, offers[i - 1].second - 20) << i;
        }
    }
    EXPECT_EQ(offers[5].first, 2u);

    // Stopped, nothing more is offered.
    const size_t offered = offers.size();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 1300)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(offers.size(), offered);
}
