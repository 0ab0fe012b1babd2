// What `orvane status` shows: the list view's columns for every user, with the user's latest
// page and last scan error, as one JSON object that the monitor answers with and saves.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"

#include <QJsonObject>

class CUserList;
struct UserlistStru;

namespace status {

// Beside Users.dat: the state the monitor saved last (at least once a minute while something
// changes, and when it stops).
inline constexpr const char* kFileName = "Status.json";

// The six texts of the user's row in the list view: "Display Name", "Pager Name", "Office Flag"
// ("N/A", "In", "Out"), "Scan Time", "Reminders" (a count, "ERROR" or empty) and "Next Due"
// ("%m/%d/%y %H:%M" or empty).
struct Row {
    CString displayName, pagerName, officeFlag, scanTime, reminders, nextDue;
};
Row RowOf(const UserlistStru& user);

// The snapshot of `users` at `now`:
//   {"directory": ..., "time": "YYYY-MM-DD HH:MM:SS", "state": "MONITORING"|"PAUSED",
//    "pending_edit": bool, "users": [ {"code", "display_name", "mailbox", "pager_name",
//    "office_flag", "scan_time", "reminders", "next_due", "reminder_count", "scan_status",
//    "last_page": null | {"time", "text", "outcome", "event"}, "last_scan_error"} ... ]}
// Users are in the list view's order: by display name without regard to case.
QJsonObject Snapshot(const CUserList& users, const CString& directory, CTime now, bool paused,
                     bool pendingEdit);

// The users of a list that no monitor has worked on (only their configuration is known).
QJsonObject ConfigurationOnly(const CUserList& users, const CString& directory);

// Reads a saved snapshot; false when there is none (`problem` empty) or it cannot be read
// (`problem` says why).
bool Read(const CString& path, QJsonObject& snapshot, CString& problem);

// Gives every user of `users` the latest page that `snapshot` holds for the user of the same
// code and mailbox, so that the status view keeps it across a restart or an edit of the users.
void RestoreLastPages(CUserList& users, const QJsonObject& snapshot);

// The terminal text of a snapshot: a line with the cluster role when the monitor is one of a
// cluster ("cluster", "cluster_instance" and "cluster_leader", which StatusSnapshot adds), a
// header line of column titles and one line per user, the columns aligned; control characters
// in texts are escaped.
CString Format(const QJsonObject& snapshot);

} // namespace status
