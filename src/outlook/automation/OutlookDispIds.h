// The dispatch identifiers and constants of Outlook's object model that the program uses.
#pragma once

#include "OleTypes.h"

namespace outlook_id {

inline constexpr DISPID kGetNamespace = 0x110;            // Application
inline constexpr DISPID kLogon = 0x2105;                  // NameSpace
inline constexpr DISPID kLogoff = 0x2106;                 // NameSpace
inline constexpr DISPID kCreateRecipient = 0x210A;        // NameSpace
inline constexpr DISPID kGetSharedDefaultFolder = 0x210C; // NameSpace
inline constexpr DISPID kResolve = 0x71;                  // Recipient
inline constexpr DISPID kItems = 0x3100;                  // MAPIFolder, read

// Items: two identifier sets; the alternate one is tried first, the standard one second.
inline constexpr DISPID kSortAlternate = 0xCD;
inline constexpr DISPID kSortStandard = 0x61;
inline constexpr DISPID kIncludeRecurrences = 0xCE; // read and write
inline constexpr DISPID kFindAlternate = 0xCB;
inline constexpr DISPID kFindStandard = 0x62;
inline constexpr DISPID kFindNextAlternate = 0xCC;
inline constexpr DISPID kFindNextStandard = 0x63;

// Items of both kinds.
inline constexpr DISPID kReminderSet = 0x8503;
inline constexpr DISPID kSubject = 0x37;
// AppointmentItem.
inline constexpr DISPID kLocation = 0x8208;
inline constexpr DISPID kStart = 0x820D;
inline constexpr DISPID kEnd = 0x820E;
inline constexpr DISPID kReminderMinutesBeforeStart = 0x8501;
inline constexpr DISPID kIsRecurring = 0x8223;
inline constexpr DISPID kGetRecurrencePattern = 0xF0A4;
// TaskItem.
inline constexpr DISPID kReminderTime = 0x8502;

// RecurrencePattern.
inline constexpr DISPID kRecurrenceType = 0x1007;
inline constexpr DISPID kInterval = 0x1004;
inline constexpr DISPID kInstance = 0x1003;
inline constexpr DISPID kDayOfWeekMask = 0x1001;
inline constexpr DISPID kDayOfMonth = 0x1000;
inline constexpr DISPID kMonthOfYear = 0x1006;

// OlDefaultFolders.
inline constexpr int32_t olFolderCalendar = 9;
inline constexpr int32_t olFolderTasks = 13;

// OlRecurrenceType.
inline constexpr int32_t olRecursDaily = 0;
inline constexpr int32_t olRecursWeekly = 1;
inline constexpr int32_t olRecursMonthly = 2;
inline constexpr int32_t olRecursMonthNth = 3;
inline constexpr int32_t olRecursYearly = 5;
inline constexpr int32_t olRecursYearNth = 6;

} // namespace outlook_id
