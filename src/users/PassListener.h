// What the per-user passes tell the monitor as they go: every scan, every page and every
// out-of-office flag read.
#pragma once

#include "paging/CRemList.h"

class IPassListener : public IPageListener {
public:
    // Just before a user's scan begins (after the pass chose the user), so that a listener can
    // time it; OnScan follows unless something the pass does not catch ends the scan first.
    virtual void OnScanStarting(const UserlistStru& user) { (void)user; }
    // After each user's scan: ScanStatus, Reminders and LastScanError are those of this scan.
    virtual void OnScan(const UserlistStru& user) = 0;
    // After each attempt of the out-of-office pass to read a user's flag: `read` false when it
    // could not be read (an event says why) and the user's OOFFlag was kept.
    virtual void OnOutOfOfficeCheck(const UserlistStru& user, bool read) {
        (void)user;
        (void)read;
    }
};
