// What the monitoring list shows for each user: the six cells, in display-name order.
#pragma once

#include "core/CString.h"
#include "users/CUserList.h"

#include <array>
#include <cstdint>
#include <vector>

struct DisplayRowStru {
    static constexpr int kColumns = 6;
    // "Display Name", "Pager Name", "Office Flag", "Scan Time", "Reminders", "Next Due".
    std::array<CString, kColumns> Cells;
    int16_t Code = 0;        // the user's code: finds the row again after a rebuild
    bool ScanFailed = false; // "Reminders" reads "ERROR"
    CString ScanError;       // why the last scan failed (the ERROR cell's tool tip); may be empty
};

namespace display_columns {
inline constexpr int kDisplayName = 0;
inline constexpr int kPagerName = 1;
inline constexpr int kOfficeFlag = 2;
inline constexpr int kScanTime = 3;
inline constexpr int kReminders = 4;
inline constexpr int kNextDue = 5;

// Column titles, and the settings that keep their widths with the default in pixels.
inline constexpr const char* kTitles[DisplayRowStru::kColumns] = {
    "Display Name", "Pager Name", "Office Flag", "Scan Time", "Reminders", "Next Due"};
inline constexpr const char* kWidthSettings[DisplayRowStru::kColumns] = {
    "Column1Width", "Column2Width", "Column3Width", "Column4Width", "Column5Width", "Column6Width"};
inline constexpr int kDefaultWidths[DisplayRowStru::kColumns] = {149, 141, 64, 64, 64, 95};
} // namespace display_columns

// The row of one user.
DisplayRowStru MakeDisplayRow(const UserlistStru& user);

// One row per user of `users`, ordered by display name without regard to case (ties keep the
// list's order).
std::vector<DisplayRowStru> MakeDisplayRows(const CUserList& users);
