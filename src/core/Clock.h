// The program's one clock. Production reads the system time; tests and "--at" set it.
#pragma once

#include "CTime.h"

namespace Clock {

// The current time: the system time, shifted or frozen as set below.
CTime Now();

// From now on the clock reads `when` and then runs on with the system time.
void StartAt(CTime when);
// From now on the clock reads `when` and stands still until set again or advanced.
void Freeze(CTime when);
// Moves the clock on (frozen or running) by `seconds`.
void Advance(int64_t seconds);
// Back to the plain system time.
void Reset();

} // namespace Clock
