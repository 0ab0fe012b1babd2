// The production passes: each one hands the cycle's call to the user list.
#include "app/monitor/UserListPasses.h"

int CUserListPasses::UpdateOOFFlags(CUserList& users) {
    return users.UpdateOOFFlags();
}

int CUserListPasses::UpdateReminders(CUserList& users) {
    return users.UpdateReminders();
}

int CUserListPasses::ProcessReminders(CUserList& users) {
    return users.ProcessReminders();
}
