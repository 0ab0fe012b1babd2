// The monitoring timer: one tick a second, each just after a second of the program's clock begins.
#pragma once

#include <QBasicTimer>
#include <QObject>
#include <chrono>
#include <functional>

// A page falls due at a whole second; a tick that comes just after the second begins sends it
// within milliseconds, where a timer of arbitrary phase would leave it up to a second late. Each
// tick arms the next before it calls the handler, so a tick that falls due while the handler
// runs (a long cycle, or a nested event loop inside it) comes once, as soon as it can: ticks are
// merged, never queued.
//
// Between ticks, the optional `betweenTicks` handler is offered the rest of the second: it is
// called as soon as the event loop is free after each tick, with the milliseconds left until the
// next one, and again after each call that returns true (more work waits). Events queued
// meanwhile are handled between two calls.
class CSecondTimer : public QObject {
public:
    explicit CSecondTimer(std::function<void()> onTick,
                          std::function<bool(int msToNextTick)> betweenTicks = {},
                          QObject* parent = nullptr);

    // Starts ticking every `periodMs` (a period of 1000 ms keeps to the clock's seconds).
    void Start(unsigned periodMs);
    void Stop();
    bool IsActive() const { return m_timer.isActive(); }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void Arm();
    void OfferTheRest();

    QBasicTimer m_timer;
    QBasicTimer m_between; // zero-delay: runs once the events waiting are handled
    std::function<void()> m_onTick;
    std::function<bool(int)> m_betweenTicks;
    unsigned m_periodMs = 1000;
    std::chrono::steady_clock::time_point m_nextTick;
};
