// One change of a mail profile as an administrator asks for it (every option of "orvane profile
// set"), applied under the profiles' lock, and removing or choosing the default profile.
#pragma once

#include "app/admin/ProfileRules.h"
#include "core/FileSystem.h"

#include <string>
#include <vector>

namespace admin {

struct ProfileChange {
    OptionValue mailSystem, transport, startTls, user, password, passwordFile, passwordTyped,
        sender;
    DirectoryOptions directory;
    CalendarOptions calendars;
    WebTransportOptions web;
    OutOfOfficeOptions outOfOffice;
    bool makeDefault = false;
    // After saving a change of the directory, search it once to warn when it cannot be; that
    // waits on the server (up to its time limit), so the window leaves it to its Test instead.
    bool tryDirectory = true;
};

// What came of a change: `code` 0 when it was saved, else the command line's exit code (2 for
// a malformed value, 1 for a refusal or a failure) with `error`, one or more sentences, one a
// line. Warnings are for a saved profile that does not work yet (a mail system directory that
// does not open, a directory server that cannot be searched).
struct ChangeResult {
    int code = 0;
    std::string error;
    std::vector<std::string> warnings;
    bool nowDefault = false; // the changed profile is the default, newly or as the only one
};

// Empty when `change` may be applied to the profile `name` at all (the name, the values'
// characters, one password source); otherwise the refusal.
std::string CheckChange(const std::string& name, const ProfileChange& change);

// The profile `name` as `change` makes it out of `existing` (null: a new profile) into
// `profile`, without saving anything; 0, or the refusal's code with the sentence in `error`.
// What a trial of an edited profile runs against before it is saved.
int ApplyProfileChange(const std::string& name, const mail::Profile* existing,
                       const ProfileChange& change, mail::Profile& profile, std::string& error);

// Adds or changes the profile `name` by `change`, exactly as "orvane profile set" does: checks
// it, takes the profiles' lock, reads them, applies and saves. Nothing is saved on a refusal.
ChangeResult SetProfile(const std::string& name, const ProfileChange& change);

// Removes the profile `name`; `code` as above. `nowDefault` is unused; `warnings` says when the
// default was removed and others are left.
ChangeResult RemoveProfile(const std::string& name);

// Makes `name` the default profile.
ChangeResult SetDefaultProfile(const std::string& name);

// Takes the lock that lets one change at a time write the profiles file; false, with the reason
// in `error`, when another holds it or it cannot be taken.
bool LockProfiles(FileLock& lock, std::string& error);

} // namespace admin
