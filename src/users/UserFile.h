// The byte layout of Users.dat, apart from where the file lives and how it is locked.
#pragma once

#include "core/CString.h"

#include <cstdint>

class CUserList;

namespace UserFile {

inline constexpr const char* kFileName = "Users.dat";
// Beside Users.dat and never renamed: holds the advisory locks that stand for sharing modes
// (readers share it, a writer takes it alone).
inline constexpr const char* kLockFileName = "Users.dat.lock";
// Held by a running monitor for as long as it runs, so that the command line does not change
// the file under it (the monitor would overwrite the change with its next save).
inline constexpr const char* kMonitorLockFileName = "Orvane.lock";
// The longest stored string, the zero byte included.
inline constexpr int kMaxStoredLength = 1000;

// The file's bytes for the records of `list` whose Code is above 0. The caller has made sure
// that every string fits (CheckUserStrings).
CString Encode(const CUserList& list);

struct DecodeResult {
    int users = 0;
    bool damaged = false;
    uint64_t offset = 0; // damaged: where the fault was found
    CString reason;      // damaged: what was wrong there
};
// Appends the records held in `bytes` to `list` (codes as stored); stops at the first fault and
// keeps the records before it. Never allocates more than one string's bound per field.
DecodeResult Decode(const CString& bytes, CUserList& list);

// Whether `bytes` are a whole, undamaged user file (no records are built).
bool IsIntact(const CString& bytes);

} // namespace UserFile
