// Reminders whose page time passed while the monitor was stopped: which still deserve a page,
// paging them, and the one account of them that a start writes.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"
#include "paging/CRemList.h"

class CSentPages;

namespace paging {

// How long after its reminder time an item without appointment times (a task) is still paged
// late; an appointment is paged late until it ends.
inline constexpr CTimeSpan kLateTaskGrace{3600};

// Whether a reminder that fell due while the monitor was stopped still deserves a page at `now`:
// an appointment that has not ended, a task within kLateTaskGrace of its reminder time (a minute
// after its page time). An item without appointment times is one whose start and end are its
// page time, as CRemList::AddReminder builds it.
bool StillWorthPaging(const ReminderStru& reminder, CTime now);
// The moment from which StillWorthPaging is false: the end of an appointment, kLateTaskGrace
// after an item without appointment times.
CTime LateUntil(const ReminderStru& reminder);

// What became of the reminders that fell due while the monitor was stopped.
struct LatePagesTally {
    int sent = 0;         // paged late
    CTimeSpan latest;     // the largest lateness of those sent: from page time to paging call
    int expired = 0;      // over before they could be paged: dropped
    int outsideHours = 0; // due outside the paging hours when met: dropped
    int waiting = 0;      // still waiting when the account was written (failed sends, users in
                          // the office); set by whoever writes it
    CTime unknownAfter;   // not 0: reminders due after it while stopped were not kept
};

// Removes the due reminders of `late` that no longer deserve a page at `now`, without one
// (listener: Expired), and counts them in `tally`. Nothing is recorded in the record of pages
// sent: their reminder times have passed, so no scan collects them again. Returns how many it
// removed.
int DropLateRemindersOver(CRemList& late, const CTime& now, const PagingUser& user,
                          IPageListener* listener, LatePagesTally& tally);

// Handles the due reminders of `late`, a list of reminders that fell due while the monitor was
// stopped, for `user` at `now`: those no longer worth a page are removed (DropLateRemindersOver),
// and the rest are paged as CRemList::PageReminders pages (the paging hours apply, the record of
// pages sent is kept, a failed send stays for the next call). Counts into `tally` what it sent and
// dropped; the counting goes through the listener calls, so `user.user` must be set. Returns how
// many reminders left the list.
int PageLateReminders(CRemList& late, const CTime& now, const PagingUser& user, CSentPages* sent,
                      IPageListener* listener, LatePagesTally& tally);

// The event a start writes once the reminders that fell due while the monitor was stopped have
// been met: how many were paged late and by how much at most, how many were dropped, and how many
// still wait.
CString LatePagesText(const LatePagesTally& tally);

} // namespace paging
