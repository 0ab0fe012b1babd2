// The ordered list of monitored users, owner of its records.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"
#include "paging/LatePages.h"
#include "users/ScanReadAhead.h"
#include "users/UserlistStru.h"

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

class COOFCheck;
class COutlook;
class CSentPages;
class IPassListener;

// How a load of Users.dat went. The monitor ignores it (a missing or unreadable file just leaves
// the list empty); the command line reports it.
struct UserFileLoad {
    enum Status {
        Loaded,     // read to its end
        Missing,    // no file: nothing to read
        Busy,       // another process is writing it
        Unreadable, // it exists but cannot be opened or read (errno in `error`)
        Damaged,    // the users before `offset` were loaded; the rest was not
    };
    Status status = Loaded;
    int users = 0;       // records appended to the list
    uint64_t offset = 0; // Damaged: where the damage was found
    int error = 0;       // Unreadable: errno
    CString message;     // a sentence for the administrator; empty when Loaded or Missing
};

// How a save of Users.dat went.
enum class UserFileSave {
    Saved,
    Cancelled, // the user answered Cancel to a write question; the old file is untouched
    Refused,   // a record cannot be stored (a string over 999 characters); nothing written
};

class CUserList {
public:
    using Records = std::list<std::unique_ptr<UserlistStru>>;

    CUserList();
    CUserList(const CUserList&) = delete;
    // Deep copy of the configuration; keeps OutlookOLE and NextOOFCheck, NextCode becomes 1.
    CUserList& operator=(const CUserList& source);
    // Deletes every user, then closes the Outlook client if one is still open.
    virtual ~CUserList();

    // A new record with a fresh code, appended; null when no code is free (see `whyNot`).
    UserlistStru* CreateUser();
    UserlistStru* CreateUser(CString& whyNot);
    // A new record without a code (the caller sets Code), appended.
    UserlistStru* CreateNoCodeUser();
    // A copy of `source`'s configuration with fresh run-time state, appended; null for null.
    UserlistStru* CreateUser(const UserlistStru* source);
    // Removes `user` if present, applies code reuse, and frees it (also when not in the list).
    void DeleteUser(UserlistStru* user);
    void DeleteAllUsers();
    // Reorders the records by Server with the classic Shell sort (not stable; its order shows).
    void SortByServer();

    // Appends the users of Users.dat in the working directory; NextCode becomes 1.
    UserFileLoad LoadUsers();
    // Rewrites Users.dat from the records whose Code is above 0, asking Retry or Cancel on failure.
    UserFileSave SaveUsers();

    // The passes of each monitoring cycle, in this order (UserPasses.cpp). Each is bounded in
    // what one tick may cost, so that the paging pass runs at every tick.
    // About once a minute, reads the out-of-office flag of every user who pages only when out
    // of office, one checker per Server: a round that begins by sorting the list by Server and
    // reads the users one after the other while the pass is within "ScanMillisecondsPerTick"
    // (at least one user a call); the rest at the next calls, each Server's users over the one
    // checker kept between them. Users not reached yet keep their flags. 1 when this call
    // changed a user's flag or ended a round (what the list view shows changed), else 0.
    int UpdateOOFFlags();
    // Whether an out-of-office round is in progress with users still to read: another call may
    // go on with it before the next tick.
    bool OOFRoundWaiting() const { return m_OOFRoundRunning; }
    // Rescans the active users whose NextScan has come, those waiting longest first, over one
    // Outlook session for the pass, until the pass has run for "ScanMillisecondsPerTick": the
    // users not reached keep their NextScan and come first at the next passes. A scan once
    // begun is finished. 1 when at least one user was scanned.
    int UpdateReminders();
    // Whether the last scan pass stopped at its time with due users not reached: another pass
    // may take them before the next tick.
    bool ScansWaiting() const { return m_scansWaiting; }
    // Pages the due reminders of every active user; the number that left the lists. When the
    // clock reads earlier than at the previous paging of a user, one event says so and paging
    // goes on. Then a turn of PageLateReminders; the LateReminders of users not active are
    // dropped once over.
    int ProcessReminders();
    // Pages the users' LateReminders by the late rule, in turns over the list: a turn begins at
    // most once a second (at the paging pass) and goes on from user to user while within
    // "ScanMillisecondsPerTick", the rest of it at the next calls. The number that left the lists.
    int PageLateReminders();
    // Whether a turn of PageLateReminders is under way: another call may go on with it before
    // the next tick.
    bool LatePagesWaiting() const { return m_lateNext < m_users.size(); }

    // Called by a restore that put reminders into LateReminders: once the first out-of-office
    // round since has ended (so that every user who pages only when out has its flag read and
    // has been paged if out), ProcessReminders writes one event that tells what became of them.
    // `keptUntil` not 0: reminders due after it while the monitor was stopped are not known, and
    // the event says so.
    void AwaitLatePages(CTime keptUntil = CTime());
    // Moves on whenever what the monitor's saved state holds has changed: a user's reminders
    // (a scan that found others, a page sent or dropped), its scan status or its out-of-office
    // flag. Scans that find what the user had before do not move it.
    uint64_t StateChanges() const { return m_stateChanges; }

    Records& Users() { return m_users; }
    const Records& Users() const { return m_users; }
    int GetCount() const { return static_cast<int>(m_users.size()); }
    bool IsEmpty() const { return m_users.empty(); }

    int32_t NextCode = 1; // where the next code search starts
    CTime NextOOFCheck;   // when the next out-of-office round is due; 0 = at the first tick
    // The Outlook client of a running scan pass; none between passes.
    std::unique_ptr<COutlook> OutlookOLE;
    // The pages already sent or dropped (not owned); null remembers none, so that a reminder
    // collected again is paged again.
    CSentPages* SentPages = nullptr;
    // Told of every scan and page (not owned); null tells nobody.
    IPassListener* Listener = nullptr;
    // The threads that read calendars ahead of the scan pass ("ReadThreads").
    ScanReadAhead& ReadAhead() { return m_readAhead; }

private:
    // TRUE when the list holds an Outlook client afterwards (created with the "ProfileName"
    // setting read now). A client whose construction failed with a call error counts as one
    // that could not be created; the error is written as an event.
    int OpenOutlookOLE();
    void CloseOutlookOLE();

    // The code search; 0 (and `whyNot` set) when it cannot hand out a code.
    int FindUniqueCode(CString& whyNot);

    // The event about the late reminders, once the first out-of-office round has ended.
    void ReportLatePages();

    Records m_users;
    CTime m_latestPagingTime; // the time the paging pass last read; 0 before the first
    uint64_t m_stateChanges = 0;
    bool m_latePagesAwaited = false; // AwaitLatePages was called and its event is not written
    paging::LatePagesTally m_latePages;
    // The turn of PageLateReminders: the position of the next user (the list's size: no turn
    // under way), the second it began, whether it has met a late reminder that is still there,
    // and whether the last turn did (false: no turn begins).
    size_t m_lateNext = SIZE_MAX;
    CTime m_lateTurnStart;
    bool m_lateSeen = false;
    bool m_anyLate = false;
    bool m_scansWaiting = false;
    ScanReadAhead m_readAhead;
    // The out-of-office round in progress: the Servers still to read, in order, from
    // m_OOFRoundNext on, how many users of that Server (in list order) were read, and when the
    // round began. Users are found by Server when their turn comes, so a list replaced meanwhile
    // is read as it is then.
    bool m_OOFRoundRunning = false;
    CTime m_OOFRoundStart;
    std::vector<CString> m_OOFRoundServers;
    size_t m_OOFRoundNext = 0;
    size_t m_OOFRoundTaken = 0;
    // The checker of m_OOFRoundServers[m_OOFRoundNext] while its users are read; none between
    // Servers and between rounds.
    std::unique_ptr<COOFCheck> m_OOFChecker;
    // Ends the current Server's checker (its store closed), if there is one.
    void CloseOOFChecker();
};
