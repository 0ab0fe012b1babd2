// The monitoring timer.
#include "app/SecondTimer.h"

#include "core/Clock.h"

#include <QTimerEvent>

namespace {

// How long after a second begins the tick comes: the clock must read the new second by then.
constexpr int kAfterSecondMs = 3;

} // namespace

CSecondTimer::CSecondTimer(std::function<void()> onTick, QObject* parent)
    : QObject(parent), m_onTick(std::move(onTick)) {}

void CSecondTimer::Start(unsigned periodMs) {
    m_periodMs = periodMs == 0 ? 1 : periodMs;
    Arm();
}

void CSecondTimer::Stop() {
    m_timer.stop();
}

void CSecondTimer::Arm() {
    const int delay = m_periodMs == 1000 ? Clock::MillisecondsToNextSecond() + kAfterSecondMs
                                         : static_cast<int>(m_periodMs);
    m_timer.start(delay, Qt::PreciseTimer, this);
}

void CSecondTimer::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timer.timerId())
        return;
    Arm();
    if (m_onTick)
        m_onTick();
}
