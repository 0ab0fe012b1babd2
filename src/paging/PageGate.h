// Where an instance that shares its users with others asks before a page leaves: whether this
// page is its to send, and what became of it afterwards.
#pragma once

#include "paging/PageIdentity.h"

class CTime;
enum class PageOutcome;
struct ReminderStru;

// Set on the record of pages sent (CSentPages::SetGate) by a monitor that is one of several; the
// paging pass then asks it before every page it sends or drops. A monitor of its own has none,
// and pages as if every answer were Go.
class IPageGate {
public:
    enum class Verdict {
        Go,      // the page is this instance's: send it (or drop it outside the paging hours)
        Handled, // another instance sent or dropped it: remove it without a page
        Later,   // not now (another instance may be sending it): keep it, go on to the next
        Stop,    // this instance may page nothing now: keep it and stop the paging call
    };
    virtual ~IPageGate() = default;
    // Asked once per attempt, before anything is sent. `page.Identity` names the page.
    virtual Verdict Claim(const PageDescription& page, const CTime& now) = 0;
    // After a Go: the page of `reminder` was sent, or dropped (Sent or Dropped), and every
    // instance is to know, for as long as a copy of the reminder could still be paged (a copy
    // restored from a saved state is paged late until paging::LateUntil).
    virtual void Done(const PageDescription& page, const ReminderStru& reminder,
                      PageOutcome outcome, const CTime& now) = 0;
    // After a Go: the send failed; the page is to be tried again, by whichever instance pages.
    virtual void Failed(const PageDescription& page) = 0;
};
