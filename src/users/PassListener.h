// What the per-user passes tell the monitor as they go: every scan and every page.
#pragma once

#include "paging/CRemList.h"

class IPassListener : public IPageListener {
public:
    // After each user's scan: ScanStatus, Reminders and LastScanError are those of this scan.
    virtual void OnScan(const UserlistStru& user) = 0;
};
