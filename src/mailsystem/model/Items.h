// The items a mail system holds: address-list entries, appointments with their recurrence
// patterns, tasks and out-of-office states.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mail {

// True when `name` can be a mailbox folder: 1 to 255 bytes, no "/", "\\" or control
// characters, not starting with "." (so neither "." nor ".." nor a hidden folder).
bool IsValidFolderName(const std::string& name);

// One entry of the global address list.
struct AddressEntry {
    std::string displayName; // PR_DISPLAY_NAME
    std::string address;     // PR_EMAIL_ADDRESS; for a mailbox, the name users store as MailboxName
    std::string homeStore;   // PR_EMS_AB_HOME_MDB: distinguished name of the home message store
    std::string mailbox;     // the entry's folder under mailboxes/; empty when it has no mailbox
    std::string deliverTo;   // where mail for the entry is delivered (a pager gateway's address);
                             // empty: to `address`
};

// How a recurring appointment repeats, in the terms of Outlook's RecurrencePattern.
struct RecurrencePattern {
    // 0 daily, 1 weekly, 2 monthly on a day, 3 monthly on the Nth weekday, 5 yearly on a day,
    // 6 yearly on the Nth weekday; 4 for a rule that none of these expresses.
    int32_t recurrenceType = 4;
    int32_t interval = 0;      // days, weeks or months between occurrences
    int32_t instance = 0;      // the N of an Nth-weekday pattern; 5 = the last
    int32_t dayOfWeekMask = 0; // bit 0 Sunday ... bit 6 Saturday
    int32_t dayOfMonth = 0;
    int32_t monthOfYear = 0; // 1 to 12
};

// A single appointment, or one occurrence of a recurring one. Times are seconds since 1970 (UTC
// instants); floating times have been read as local time.
struct Appointment {
    std::string subject;
    std::string location;
    int64_t start = 0;
    int64_t end = 0;
    bool reminderSet = false;
    int32_t reminderMinutesBeforeStart = 0;
    bool isRecurring = false;  // an occurrence of a recurring series
    RecurrencePattern pattern; // meaningful when isRecurring
    std::string uid;           // the item's iCalendar UID (shared by a series' occurrences)
};

struct Task {
    std::string subject;
    bool reminderSet = false;
    int64_t reminderTime = 0; // seconds since 1970; meaningful when reminderSet
};

// The out-of-office state of a mailbox as stored.
enum class OutOfOffice { In, Out, Missing /* no state stored */, Unreadable };

// What a reading of an out-of-office state found out besides the state, for the administrator.
struct OutOfOfficeNote {
    // Why a state could not be read (Unreadable), as the MAPI layer tells it apart.
    enum class Failure {
        None,
        Damaged,     // the stored state (a file, a Sieve script) cannot be understood
        Unreachable, // the server holding it cannot be reached, or stopped answering
        Refused,     // the server refused the account the mail system reads it with
        NoMailbox,   // the server does not know the mailbox
    };
    // One sentence: what decided (In, Out), why nothing is stored (Missing), or what failed,
    // naming the file or server and the cause (Unreadable). Never holds a password.
    std::string why;
    Failure failure = Failure::None; // Unreadable only
};

// Reads an out-of-office file: one word, "out" or "in" (also yes/no, true/false, on/off, 1/0, in
// any case); blank lines and "#" comments are ignored. Nothing but comments: Missing.
OutOfOffice ParseOutOfOffice(std::string_view text);

} // namespace mail
