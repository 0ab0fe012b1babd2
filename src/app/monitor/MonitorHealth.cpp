// The health check of a running monitor.
#include "app/monitor/MonitorHealth.h"

#include "core/Clock.h"

void CMonitorHealth::TickRan() {
    m_lastTickMs = Clock::SteadyMilliseconds();
}

metrics::Health CMonitorHealth::Check() const {
    if (m_stopping)
        return {false, "the monitor is stopping"};
    if (m_lastTickMs < 0)
        return {false, "the monitor has not ticked yet"};
    const int64_t age = Clock::SteadyMilliseconds() - m_lastTickMs;
    if (age < kTickDeadlineMs)
        return {true, ""};
    // Tenths in whole numbers: printf's decimal point follows the locale Qt sets.
    const std::string seconds = std::to_string(age / 1000) + "." + std::to_string(age % 1000 / 100);
    return {false, "no monitoring tick for " + seconds + " seconds (one is due every second)"};
}
