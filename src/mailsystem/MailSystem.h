// A mail system on disk: the global address list, one folder per mailbox, and the outbox.
#pragma once

#include "mailsystem/addressbook/AddressBook.h"
#include "mailsystem/model/Items.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

struct Profile;

// Names inside a mail system directory (docs/mailsystem.md), beside kAddressListFileName.
inline constexpr const char* kMailboxesDirectoryName = "mailboxes";
inline constexpr const char* kOutboxDirectoryName = "outbox";
inline constexpr const char* kCalendarFileName = "calendar.ics";
inline constexpr const char* kTasksFileName = "tasks.ics";
inline constexpr const char* kOutOfOfficeFileName = "out-of-office";

// A mail system directory (see docs/mailsystem.md) and its address book: the directory's
// address-list.txt, or the LDAP directory its profile names. Thread-compatible; every read goes
// to the files again unless the files are unchanged since the last read.
class MailSystem : public AddressBook {
public:
    // Opens `directory` with its address-list.txt; null, with a sentence in `error`, when it
    // holds no readable address list.
    static std::shared_ptr<MailSystem> Open(const std::string& directory, std::string& error);
    // Opens the profile's mail system directory with the address book the profile names, but
    // without its calendar server: calendars and tasks are the directory's files (the Simple and
    // Extended MAPI layers, which read no calendars). An LDAP directory is not contacted until
    // the first request, so that a server that is down fails the request that needed it (with
    // the server and the cause) rather than the logon. OpenWithCalendarServer
    // (ProfileMailSystem.h) adds the calendar server. A profile that names an out-of-office
    // server (a Sieve server) has the out-of-office states read from it instead of the files.
    static std::shared_ptr<MailSystem> OpenWithoutCalendarServer(const Profile& profile,
                                                                 std::string& error);

    virtual const std::string& Directory() const = 0;

    // The mailbox folder of an entry with a mailbox; empty when it has none.
    virtual std::string MailboxDirectory(const AddressEntry& entry) const = 0;
    // The mailbox's out-of-office state now, with `note` saying what decided or what failed:
    // the mailbox folder's out-of-office file, or the Sieve server the profile names.
    virtual OutOfOffice ReadOutOfOffice(const AddressEntry& entry, OutOfOfficeNote& note) = 0;
    OutOfOffice ReadOutOfOffice(const AddressEntry& entry) {
        OutOfOfficeNote note;
        return ReadOutOfOffice(entry, note);
    }

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

    // Reads and parses, now and on the calling thread, what FindAppointments for starts in
    // [from, to] and FindTasks will ask of the mailbox, into the process-wide caches, so that
    // those calls (from another MailSystem object of the same profile, on another thread) find
    // it ready. Nothing is told here: the notices and failures of the reading are told by the
    // calls that use it, as if they had read it themselves. By default it does nothing.
    virtual void ReadAhead(const AddressEntry& mailbox, int64_t from, int64_t to) {
        (void)mailbox, (void)from, (void)to;
    }

    // Where the local transport delivers: one message a file, renamed into place when whole.
    virtual std::string OutboxDirectory() const = 0;
};

} // namespace mail
