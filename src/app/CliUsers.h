// "orvane users": list and edit Users.dat in the working directory.
#pragma once

#include "app/Cli.h"

class CUserList;

namespace cli {
extern const Command kUsersCommand;

// Applies "add ...", "set CODE ..." or "remove CODE" (the words after "users") to `list` with
// the rules of the user dialogs, and prints the new code of an added user on `out`. Returns 0
// when the list was changed, 1 when a value was refused (the list is then unchanged), 2 for
// bad usage; the reason goes to `err`. The running monitor applies the same edits to its pending
// list that the command applies to the file.
int ChangeUserList(CUserList& list, const Args& args, std::ostream& out, std::ostream& err);
} // namespace cli
