// The health check of a running monitor: whether its ticks keep coming.
#pragma once

#include "app/metrics/MetricsServer.h"

#include <cstdint>
#include <string>


// The monitor is healthy while its last tick ran less than kTickDeadlineMs ago on the program's
// steady clock (Clock::SteadyMilliseconds, so tests hold and advance it) and it is not stopping.
// A paused monitor still ticks (its ticks only do nothing), so pausing leaves it healthy; a cycle
// stuck in a call, or a timer that stopped, does not.
class CMonitorHealth {
public:
    static constexpr int64_t kTickDeadlineMs = 5000;

    // Every tick, also one that a pause or a running cycle turns away.
    void TickRan();
    // From the moment a quit is asked for.
    void SetStopping(bool stopping) { m_stopping = stopping; }
    metrics::Health Check() const;

private:
    int64_t m_lastTickMs = -1; // steady milliseconds; -1 = no tick yet
    bool m_stopping = false;
};
