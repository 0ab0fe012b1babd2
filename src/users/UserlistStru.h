// One monitored user: configuration kept in Users.dat plus run-time monitoring state.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"
#include "paging/CRemList.h"

#include <cstdint>

// The longest string a user field may hold: the user file's reader takes at most 1000 bytes per
// string, the zero byte included.
inline constexpr size_t kMaxUserStringLength = 999;
// The largest scan interval in minutes that the 16-bit field holds.
inline constexpr int kMaxScanInterval = 32767;
// Intervals below this many minutes are raised to it by every input path.
inline constexpr int kMinScanInterval = 15;

struct UserlistStru {
    // Configuration (stored in Users.dat, copied by the copying CreateUser).
    int16_t Code = 0;          // unique in its list; 0 or negative is never written to the file
    int16_t ScanInterval = 60; // minutes between two scans
    int32_t PageOnlyOOF = 1;   // "Page only when out of office": nonzero = true
    CString MailboxName;       // the address-list entry's e-mail address
    CString Server;            // distinguished name of the home message store
    CString PagerName;         // address-book name that pages are sent to
    // Run-time state (never stored, never copied).
    CTime NextScan;      // next scan due; 0 = at once
    CRemList Reminders;  // pending reminders
    int32_t OOFFlag = 0; // out-of-office state read at the last check; nonzero = out
    // Configuration again (the record keeps the classic field order).
    CString DisplayName;
    // Run-time state.
    CTime LastPageCheck;     // when the reminders were last processed for paging; 0 = never
    int32_t ScanStatus = -1; // -1 not scanned yet, 0 last scan failed, 1 last scan succeeded
    // Run-time state for the status view.
    LastPageStru LastPage; // the latest reminder sent, dropped or failed
    CString LastScanError; // why the last scan failed; empty when it succeeded or never ran
    // Run-time state after a restart: restored reminders whose page times passed while the
    // monitor was stopped, in page-time order. The paging pass pages or drops them by the late
    // rule (paging::PageLateReminders); a scan never clears them.
    CRemList LateReminders;
};

// A user is active (scanned and paged) unless it pages only when out of office and is in.
inline bool IsActiveUser(const UserlistStru& user) {
    return user.PageOnlyOOF == 0 || user.OOFFlag != 0;
}

// The fields paging reads of `user` (CRemList::PageReminders), with the user for the listener.
inline PagingUser PagingFields(const UserlistStru& user) {
    return {user.MailboxName, user.PagerName, user.LastPageCheck, &user, &user.DisplayName};
}

// Copies the configuration (what Users.dat stores) and nothing of the run-time state.
void CopyUserConfiguration(UserlistStru& to, const UserlistStru& from);

// Empty when every string field fits the user file; otherwise a sentence naming the first field
// that is too long, for the person who typed it.
CString CheckUserStrings(const UserlistStru& user);
