// A mail system on disk: the global address list, one folder per mailbox, and the outbox.
#pragma once

#include "mailsystem/AddressBook.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

struct Profile;

// Names inside a mail system directory (docs/mailsystem.md).
inline constexpr const char* kAddressListFileName = "address-list.txt";
inline constexpr const char* kMailboxesDirectoryName = "mailboxes";
inline constexpr const char* kOutboxDirectoryName = "outbox";
inline constexpr const char* kCalendarFileName = "calendar.ics";
inline constexpr const char* kTasksFileName = "tasks.ics";
inline constexpr const char* kOutOfOfficeFileName = "out-of-office";

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

// Reads an out-of-office file: one word, "out" or "in" (also yes/no, true/false, on/off, 1/0, in
// any case); blank lines and "#" comments are ignored. Nothing but comments: Missing.
OutOfOffice ParseOutOfOffice(std::string_view text);

// A mail system directory (see docs/mailsystem.md) and its address book: the directory's
// address-list.txt, or the LDAP directory its profile names. Thread-compatible; every read goes
// to the files again unless the files are unchanged since the last read.
class MailSystem : public AddressBook {
public:
    // Opens `directory` with its address-list.txt; null, with a sentence in `error`, when it
    // holds no readable address list.
    static std::shared_ptr<MailSystem> Open(const std::string& directory, std::string& error);
    // Opens the profile's mail system with the address book the profile names. A directory is
    // not contacted until the first request, so that a server that is down fails the request
    // that needed it (with the server and the cause) rather than the logon.
    static std::shared_ptr<MailSystem> Open(const Profile& profile, std::string& error);

    virtual const std::string& Directory() const = 0;

    // The mailbox folder of an entry with a mailbox; empty when it has none.
    virtual std::string MailboxDirectory(const AddressEntry& entry) const = 0;
    virtual OutOfOffice ReadOutOfOffice(const AddressEntry& entry) = 0;

    // The appointments of the mailbox's calendar whose start s lies in from <= s <= to: single
    // appointments and every occurrence of recurring ones (exceptions and excluded dates
    // applied), ordered by start, equal starts in file order. Every recurrence walk is bounded:
    // a rule that cannot reach the range in bounded time yields no occurrence. False, with a
    // sentence in `error`, when the calendar cannot be read (a damaged file names itself).
    virtual bool FindAppointments(const AddressEntry& mailbox, int64_t from, int64_t to,
                                  std::vector<Appointment>& out, std::string& error) = 0;
    // Every task of the mailbox's task list, in file order.
    virtual bool FindTasks(const AddressEntry& mailbox, std::vector<Task>& out,
                           std::string& error) = 0;

    // Where the local transport delivers: one message a file, renamed into place when whole.
    virtual std::string OutboxDirectory() const = 0;
};

} // namespace mail
