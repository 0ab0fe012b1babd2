// The settings store: string values by section and name, read again at every use.
#pragma once

#include "CString.h"

// Stored through QSettings (organisation "Quorvik", application "Orvane"), which on Linux is the
// file $XDG_CONFIG_HOME/Quorvik/Orvane.conf. Nothing is cached: every read goes to the store, so
// a value edited by hand or by another process applies at its next use.
namespace Settings {

inline constexpr const char* kPreferences = "Preferences";
inline constexpr const char* kDisplay = "Display";

inline constexpr const char* kProfileName = "ProfileName"; // default ""
inline constexpr const char* kStartHour = "StartHour";     // default "0"
inline constexpr const char* kEndHour = "EndHour";         // default "24"
// How long the scan pass may take new users in one tick, in milliseconds; the rest wait for the
// next ticks, so that paging runs at every tick however many users are due.
inline constexpr const char* kScanMillisecondsPerTick = "ScanMillisecondsPerTick";
inline constexpr const char* kScanMillisecondsPerTickDefault = "100";
// How many worker threads read and parse calendars ahead of the scan pass; absent: one per
// processor; 1: the scan pass reads every calendar itself.
inline constexpr const char* kReadThreads = "ReadThreads";
// How many requests may be in flight at once to one calendar server; absent: 4.
inline constexpr const char* kCalendarServerConnections = "CalendarServerConnections";
inline constexpr int kCalendarServerConnectionsDefault = 4;

// The value, or `defaultValue` when it is absent or the store cannot be read.
CString GetProfileString(const char* section, const char* entry, const char* defaultValue);
// Writes the value; a failure to write is ignored, as the callers expect.
void WriteProfileString(const char* section, const char* entry, const CString& value);
// The file behind the store, for sentences that tell an administrator where a value lives.
CString FilePath();

// The standard text-to-integer conversion: leading blanks and a sign, then digits up to the first
// non-digit; text without digits gives 0. Values beyond the int range saturate.
int TextToInt(const CString& text);

// The paging-hours rule for start s, end e and local hour h (0 to 23): inside when s <= e and
// s <= h < e, or when s > e (a window across midnight) and (h >= s or h < e).
bool HourInPagingWindow(int startHour, int endHour, int hour);
// Reads "StartHour" and "EndHour" now and applies the rule to `hour`.
bool IsPagingHour(int hour);

// Convenience for the profile name that Outlook and mail sessions log on with.
CString ProfileName();

// "ScanMillisecondsPerTick" read now; 0 (one user a tick) for a value below 0.
int ScanMillisecondsPerTick();

// "ReadThreads" read now, from 1 to 64; absent, 0 or unreadable: the number of processors.
int ReadThreads();
// "CalendarServerConnections" read now, from 1 to 16; absent, 0 or unreadable: 4.
int CalendarServerConnections();

} // namespace Settings
