// The monitor's run-time state of every user (reminder lists, scan times, flags) as bytes that a
// restart, or another instance taking over, reads back to page from its first tick before any scan.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"
#include "paging/CRemList.h"

#include <cstdint>
#include <string_view>
#include <vector>

class CSentPages;
class CUserList;

namespace monitorstate {

// Beside Users.dat.
inline constexpr const char* kFileName = "MonitorState.dat";
// The format written; Decode reads this version only.
inline constexpr uint32_t kVersion = 1;
// How far ahead of the save the reminder lists are kept. A restart needs the reminders that fall
// due while the monitor is stopped and until its first round of scans has read every user again
// (seconds to minutes); a day covers a stop overnight, at an eighth of the lists' size (they
// reach a week ahead), which keeps a save cheap enough to make every half minute.
inline constexpr CTimeSpan kHorizon{86400};

// One user's part. The first four fields say whose it is: a user whose record differs in any of
// them (another mailbox, pager, interval or option) gets none of it.
struct UserState {
    CString MailboxName;
    CString PagerName;
    int16_t ScanInterval = 0;
    bool PageOnlyOOF = false;
    CTime NextScan;          // 0 = due at once
    int32_t ScanStatus = -1; // as UserlistStru::ScanStatus
    int32_t OOFFlag = 0;
    CString LastScanError;
    std::vector<ReminderStru> Reminders;     // in page-time order
    std::vector<ReminderStru> LateReminders; // in page-time order
};

struct State {
    CTime SavedAt;   // the program's clock when the state was taken
    CTime KeptUntil; // reminders due after it were left out (SavedAt + kHorizon when written)
    std::vector<UserState> Users;
};

// The bytes:
//   "ORVSTATE", version (u32), payload length (u32), payload, CRC-32 of everything before it (u32)
//   payload: saved-at, kept-until (i64 each), user count (u32), then per user: mailbox, pager
//   (strings), interval (i16), option (u8), next scan (i64), scan status (i32), out-of-office flag
//   (i32), last scan error (string), reminder count (u32) and reminders, late count (u32) and late
//   reminders; a reminder: page time, start, end (i64 each), time key, text (strings).
// Integers are little-endian, times seconds since 1970, strings a u32 length and their bytes.
// The users are those of `users` in list order, whatever their codes; of their Reminders, those
// due within kHorizon of `savedAt`; their LateReminders all.
CString Encode(const CUserList& users, CTime savedAt);

// Reads bytes that Encode made. False when they are not such bytes, are of another version, or
// are damaged (cut short, a count or length beyond what is left, a time beyond the clock's range,
// a checksum that does not match); `problem` then says which, as the end of a sentence ("it was
// written by a newer Orvane (format 2)"). Allocates no more than the bytes justify.
bool Decode(std::string_view bytes, State& state, CString& problem);

struct RestoreCounts {
    int users = 0;         // users that took their saved part
    int reminders = 0;     // reminders restored into Reminders
    int late = 0;          // reminders restored into LateReminders
    int sentMeanwhile = 0; // left out: the record of pages sent holds them
    CTime keptUntil;       // the state's KeptUntil
};

// Gives each user of `users` whose record matches a user of `state` (the first four fields of
// UserState; users with equal records are matched in order, each part used once) that user's
// state at `now`:
//   - NextScan as saved, but no later than `now`: every user is rescanned in the first round,
//     those whose scans were due longest first;
//   - ScanStatus, LastScanError and OOFFlag as saved;
//   - the reminders: those whose page times passed between the save and `now` (they fell due
//     while no monitor ran), and the saved late ones, go to LateReminders; the others to
//     Reminders. A due one that `sent` records as sent or dropped is left out: it was handled
//     after the save.
// Calls AwaitLatePages when any went to LateReminders, or when `now` is past the state's
// KeptUntil (reminders that fell due between then and now are not known, and the event says so).
// `sent` must have been loaded with a time
// no later than state.SavedAt, so that it still holds what was handled since (null: none).
RestoreCounts Restore(CUserList& users, const State& state, CTime now, CSentPages* sent);

} // namespace monitorstate
