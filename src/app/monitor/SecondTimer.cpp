// The monitoring timer.
#include "app/monitor/SecondTimer.h"

#include "core/Clock.h"

#include <QTimerEvent>

namespace {

// How long after a second begins the tick comes: the clock must read the new second by then.
constexpr int kAfterSecondMs = 3;

} // namespace

CSecondTimer::CSecondTimer(std::function<void()> onTick,
                           std::function<bool(int msToNextTick)> betweenTicks, QObject* parent)
    : QObject(parent), m_onTick(std::move(onTick)), m_betweenTicks(std::move(betweenTicks)) {}

void CSecondTimer::Start(unsigned periodMs) {
    m_periodMs = periodMs == 0 ? 1 : periodMs;
    Arm();
}

void CSecondTimer::Stop() {
    m_timer.stop();
    m_between.stop();
}

void CSecondTimer::Arm() {
    const int delay = m_periodMs == 1000 ? Clock::MillisecondsToNextSecond() + kAfterSecondMs
                                         : static_cast<int>(m_periodMs);
    m_nextTick = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
    m_timer.start(delay, Qt::PreciseTimer, this);
}

void CSecondTimer::OfferTheRest() {
    if (m_betweenTicks && m_timer.isActive())
        m_between.start(0, this);
}

void CSecondTimer::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_between.timerId()) {
        m_between.stop();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_nextTick - std::chrono::steady_clock::now());
        if (left.count() > 0 && m_betweenTicks(static_cast<int>(left.count())))
            OfferTheRest();
        return;
    }
    if (event->timerId() != m_timer.timerId())
        return;
    Arm();
    if (m_onTick)
        m_onTick();
    OfferTheRest();
}
