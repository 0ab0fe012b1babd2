// What the monitoring list shows.
#include "app/gui/DisplayRows.h"

#include <QString>
#include <algorithm>

DisplayRowStru MakeDisplayRow(const UserlistStru& user) {
    using namespace display_columns;
    DisplayRowStru row;
    row.Code = user.Code;
    row.Cells[kDisplayName] = user.DisplayName;
    row.Cells[kPagerName] = user.PagerName;
    if (user.PageOnlyOOF == 0)
        row.Cells[kOfficeFlag] = "N/A";
    else
        row.Cells[kOfficeFlag] = user.OOFFlag != 0 ? "Out" : "In";
    row.Cells[kScanTime] = std::to_string(user.ScanInterval);
    if (user.ScanStatus == 1) {
        row.Cells[kReminders] = std::to_string(user.Reminders.GetCount());
    } else if (user.ScanStatus == 0) {
        row.Cells[kReminders] = "ERROR";
        row.ScanFailed = true;
        row.ScanError = user.LastScanError;
    }
    // The page time lies a minute before the reminder time, which is what the user expects.
    if (const ReminderStru* first = user.Reminders.GetHead())
        row.Cells[kNextDue] = (first->PageTime + timespans::kMinute).Format("%m/%d/%y %H:%M");
    return row;
}

std::vector<DisplayRowStru> MakeDisplayRows(const CUserList& users) {
    std::vector<DisplayRowStru> rows;
    rows.reserve(users.Users().size());
    for (const auto& user : users.Users())
        rows.push_back(MakeDisplayRow(*user));
    std::stable_sort(
        rows.begin(), rows.end(), [](const DisplayRowStru& a, const DisplayRowStru& b) {
            const QString left = QString::fromStdString(a.Cells[display_columns::kDisplayName]);
            const QString right = QString::fromStdString(b.Cells[display_columns::kDisplayName]);
            return QString::compare(left, right, Qt::CaseInsensitive) < 0;
        });
    return rows;
}
