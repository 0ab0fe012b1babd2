// The program's one clock.
#include "Clock.h"

#include <ctime>

namespace {

struct ClockState {
    bool frozen = false;
    int64_t frozenAt = 0;
    int64_t offset = 0; // added to the system time while running
};

ClockState& State() {
    static ClockState state;
    return state;
}

int64_t SystemSeconds() {
    return static_cast<int64_t>(time(nullptr));
}

} // namespace

namespace Clock {

CTime Now() {
    const ClockState& s = State();
    return CTime::Saturate(s.frozen ? s.frozenAt : SystemSeconds() + s.offset);
}

void StartAt(CTime when) {
    State() = ClockState{false, 0, int64_t(when.GetTime()) - SystemSeconds()};
}

void Freeze(CTime when) {
    State() = ClockState{true, when.GetTime(), 0};
}

void Advance(int64_t seconds) {
    ClockState& s = State();
    if (s.frozen)
        s.frozenAt += seconds;
    else
        s.offset += seconds;
}

void Reset() {
    State() = ClockState{};
}

} // namespace Clock
