// What a page is of, beyond its text: the user, the reminder time, and an identity derived from
// the reminder that stays the same for every attempt, restart and machine.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"

struct ReminderStru;

// A page's description, handed with it to the Simple MAPI library (CMAPI::SendMail), where a
// web service receives it and an e-mail's Message-ID is made from the identity.
struct PageDescription {
    CString UserName;   // the paged user's display name; empty: none
    CTime PageTime;     // when the page fell due (the reminder's PageTime); 0: none
    CTime ReminderTime; // the item's reminder time (the page time plus 60 s); 0: none
    CString Identity;   // PageIdentity(); empty: none
};

// 32 lower-case hexadecimal digits: the first 128 bits of SHA-256 over the mailbox, the pager
// name and the reminder's page time, time key and text (each field length-prefixed, so no two
// different reminders run together into the same bytes). Two attempts to send the same reminder's
// page to the same pager, from this process, a restarted one or another machine, give the same
// identity; a reminder that moves or changes its text gives another.
CString PageIdentity(const CString& mailbox, const CString& pager, const ReminderStru& reminder);

// The description of `reminder`'s page for the user `userName`.
PageDescription DescribePage(const CString& userName, const CString& mailbox, const CString& pager,
                             const ReminderStru& reminder);
