// The program's working directory, captured once, and the data file names built on it.
#pragma once

#include "CString.h"

namespace WorkingDirectory {

// Reads the process's current directory and keeps it followed by one "/" (also when it already
// ends with one). False, and nothing kept, when it cannot be read or is 1024 bytes or longer.
bool Capture();
// The captured directory with its separator; empty before a successful Capture.
const CString& Get();
// Sets the directory directly (tests); a "/" is appended as Capture does.
void Set(const CString& directory);

} // namespace WorkingDirectory

// The working directory followed by `fileName`.
CString DATFileName(const CString& fileName);
