// The program's one clock.
#include "Clock.h"

#include <chrono>
#include <ctime>

namespace {

struct ClockState {
    bool frozen = false;
    int64_t frozenAtMs = 0;     // while frozen: the time in milliseconds since 1970
    int64_t offset = 0;         // added to the system time while running
    int64_t steadyOffsetMs = 0; // added to the steady clock while running
};

ClockState& State() {
    static ClockState state;
    return state;
}

// The precise system time (time() may lag it by a scheduler tick just after a second begins).
struct timespec SystemTime() {
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

int64_t SystemSeconds() {
    return static_cast<int64_t>(SystemTime().tv_sec);
}

int64_t SystemSteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

namespace Clock {

CTime Now() {
    const ClockState& s = State();
    return CTime::Saturate(s.frozen ? FloorDiv(s.frozenAtMs, 1000) : SystemSeconds() + s.offset);
}

int64_t NowMilliseconds() {
    const ClockState& s = State();
    if (s.frozen)
        return s.frozenAtMs;
    const struct timespec now = SystemTime();
    return (int64_t(now.tv_sec) + s.offset) * 1000 + now.tv_nsec / 1000000;
}

int64_t SteadyMilliseconds() {
    const ClockState& s = State();
    return s.frozen ? s.frozenAtMs : SystemSteadyMs() + s.steadyOffsetMs;
}

int MillisecondsToNextSecond() {
    if (State().frozen)
        return 1000;
    // The running clock is the system time shifted by whole seconds: its seconds begin with the
    // system's.
    return 1000 - static_cast<int>(SystemTime().tv_nsec / 1000000);
}

void StartAt(CTime when) {
    State() = ClockState{false, 0, int64_t(when.GetTime()) - SystemSeconds(), 0};
}

void Freeze(CTime when) {
    State() = ClockState{true, int64_t(when.GetTime()) * 1000, 0, 0};
}

void Advance(int64_t seconds) {
    ClockState& s = State();
    if (s.frozen) {
        s.frozenAtMs += seconds * 1000;
    } else {
        s.offset += seconds;
        s.steadyOffsetMs += seconds * 1000;
    }
}

void AdvanceMilliseconds(int64_t milliseconds) {
    ClockState& s = State();
    if (s.frozen)
        s.frozenAtMs += milliseconds;
    else
        s.steadyOffsetMs += milliseconds;
}

void Reset() {
    State() = ClockState{};
}

} // namespace Clock
