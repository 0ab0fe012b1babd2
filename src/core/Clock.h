// The program's one clock. Production reads the system time; tests and "--at" set it.
#pragma once

#include "CTime.h"

#include <cstdint>

namespace Clock {

// The current time: the system time, shifted or frozen as set below.
CTime Now();

// The same time in milliseconds since 1970, for what must be told apart within a second (how
// late a page went out). Frozen, it moves with AdvanceMilliseconds; running, Now() is its second.
int64_t NowMilliseconds();

// Milliseconds on a clock that never goes back (only differences mean anything), for measuring
// how long work has taken. It stands still while the clock is frozen and moves with Advance and
// AdvanceMilliseconds, so that tests decide how long each piece of work takes.
int64_t SteadyMilliseconds();

// Milliseconds until the clock shows its next second (1 to 1000); 1000 while frozen. A timer
// armed for this long ticks as a second begins, when what is due in it has just fallen due.
int MillisecondsToNextSecond();

// From now on the clock reads `when` and then runs on with the system time.
void StartAt(CTime when);
// From now on the clock reads `when` and stands still until set again or advanced.
void Freeze(CTime when);
// Moves the clock on (frozen or running) by `seconds`.
void Advance(int64_t seconds);
// Moves the clock on by `milliseconds`: a frozen clock's time and steady reading together (its
// time shows whole seconds), a running clock's steady reading alone.
void AdvanceMilliseconds(int64_t milliseconds);
// Back to the plain system time.
void Reset();

} // namespace Clock
