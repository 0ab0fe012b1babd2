// Byte strings as the program stores and compares them: exact, byte by byte.
#pragma once

#include <string>

// Text in the system's 8-bit code page. Comparisons are ordinal and case-sensitive (std::string's).
using CString = std::string;
