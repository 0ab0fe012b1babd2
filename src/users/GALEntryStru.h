// One entry of the global address list as the user dialogs keep it.
#pragma once

#include "core/CString.h"

#include <memory>
#include <vector>

struct GALEntryStru {
    CString DisplayName; // PR_DISPLAY_NAME; becomes the user's DisplayName
    CString Address;     // PR_EMAIL_ADDRESS; becomes the user's MailboxName
    CString Server;      // PR_EMS_AB_HOME_MDB; becomes the user's Server (empty for a pager)
};

// The display name of every entry, in the order read.
using GALNameList = std::vector<CString>;
// Every entry, in the order read. The records stay where they are while the list lives, so that
// list controls may hold pointers to them.
using GALEntryList = std::vector<std::unique_ptr<GALEntryStru>>;
