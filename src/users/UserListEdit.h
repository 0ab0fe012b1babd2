// Editing a user list by the words of "orvane users add|set|remove", with the rules of the user
// dialogs: the command line edits Users.dat with it, and a running monitor its pending list.
#pragma once

#include "core/CommandOptions.h"

#include <iosfwd>

class CUserList;

// 0 when `args` ("add ...", "set CODE ...", "remove CODE") are a well-formed change, 2 (bad
// usage, the reason on err) when not. Values are not checked.
int CheckUserListChange(const options::Args& args, std::ostream& err);

// Applies "add ...", "set CODE ..." or "remove CODE" to `list` with the rules of the user dialogs,
// and prints the new code of an added user on `out`. Returns 0 when the list was changed, 1 when
// a value was refused (the list is then unchanged), 2 for bad usage; the reason goes to `err`.
// The running monitor applies the same edits to its pending list that the command applies to
// the file.
int ChangeUserList(CUserList& list, const options::Args& args, std::ostream& out,
                   std::ostream& err);
