// The program's own operations answer 1 (TRUE) for success and 0 (FALSE) for failure.
#pragma once

inline constexpr int TRUE = 1;
inline constexpr int FALSE = 0;
