// The passes that monitoring runs in production: the live user list's own update passes.
#pragma once

#include "app/monitor/MonitorCycle.h"

class CUserListPasses : public IMonitorPasses {
public:
    int UpdateOOFFlags(CUserList& users) override;
    int UpdateReminders(CUserList& users) override;
    int ProcessReminders(CUserList& users) override;
};
