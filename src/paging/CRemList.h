// A user's pending reminders: page texts, the duplicate rule and the order of paging.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

struct UserlistStru;
class CSentPages;

// One pending reminder.
struct ReminderStru {
    CTime PageTime;  // when the page falls due: the item's reminder time minus 60 seconds
    CString Text;    // the page text, sent as the page's body
    CString TimeKey; // start "%H%M" (four digits), or the page time's when there is no start
    CTime StartTime; // the item's start; PageTime when the item has no start
    CTime EndTime;   // the item's end; PageTime when the item has no start
};

// What became of a due reminder in a paging call.
enum class PageOutcome {
    Sent,        // sent as a page and removed
    Dropped,     // due outside the paging hours: removed without a page
    Failed,      // not sent (the event says why); kept for the next call
    AlreadySent, // sent before (a restart or a rescan collected it again): removed, not sent
    Expired,     // fell due while the monitor was stopped and is over by now (an appointment that
                 // has ended, a task an hour past its reminder): removed without a page
};
// "sent", "dropped", "failed", "already sent", "expired".
const char* PageOutcomeName(PageOutcome outcome);

// The latest page of a user, for the status view.
struct LastPageStru {
    bool Present = false; // false: nothing was paged since the monitor started
    CTime Time;           // when the paging call met the reminder
    CString Text;
    PageOutcome Outcome = PageOutcome::Sent;
    CString Event; // Failed: the text of the event that the attempt wrote
};

// What paging reads of a monitored user, whose record lives above the paging layer: the
// mailbox and pager that the record of pages sent is kept by, the pager name the pages are
// addressed to, and when the user's reminders were last processed. `user` is only handed on to
// the listener; null: the listener is not called. `DisplayName` names the user in each page's
// description (PageDescription); null: none.
struct PagingUser {
    const CString& MailboxName;
    const CString& PagerName;
    CTime LastPageCheck;
    const UserlistStru* user = nullptr;
    const CString* DisplayName = nullptr;
};

// Told of every due reminder a paging call handles, right after it was handled.
class IPageListener {
public:
    virtual ~IPageListener() = default;
    virtual void OnPage(const UserlistStru& user, const ReminderStru& reminder, const CTime& now,
                        PageOutcome outcome, const CString& event) = 0;
};

// Owns its records. Insertion order until SortList; after it, ascending PageTime, records with
// equal page times in the order they were added.
class CRemList {
public:
    using Records = std::list<std::unique_ptr<ReminderStru>>;

    CRemList() = default;
    CRemList(const CRemList&) = delete;
    CRemList& operator=(const CRemList&) = delete;
    virtual ~CRemList();

    // Builds the record for an item and appends it unless an equal one is present. A start of
    // time 0 marks an item without appointment times (a task).
    void AddReminder(const CTime& reminderTime, const CTime& start, const CTime& end,
                     const CString& subject);
    // Appends a copy of `record` as it stands (a reminder restored from the monitor's saved
    // state, whose text was built when it was first collected) unless an equal one is present.
    // The caller sorts the list afterwards.
    void AppendReminder(const ReminderStru& record);
    // 1 when a record equal in all five fields is in the list, else 0.
    int IsReminderDuplicate(const ReminderStru* candidate) const;
    // The same value for two lists that hold equal records, in whatever order; another value for
    // lists that differ (but for a chance of one in 2^64). Lets a rescan tell whether it changed
    // anything without keeping the old records.
    uint64_t Fingerprint() const;
    void SortList();
    // Removes and destroys `record` if this list holds it (by identity); otherwise does nothing.
    void DeleteReminder(const ReminderStru* record);
    void ClearList();

    // Page delivery for `user` at `now`: sends every due reminder inside the paging hours to
    // the user's PagerName through one mail session opened for this call (only if something is
    // to be sent), drops the due ones outside the paging hours, and keeps the ones whose sending
    // failed. Nothing is due when `now` is the second of the user's LastPageCheck (a clock set
    // back, `now` earlier, pages as usual). With `sent`, a reminder already recorded there is
    // removed without a page, and every page sent or dropped is recorded. `listener` hears of
    // every due reminder handled. Returns how many reminders left the list.
    int PageReminders(const CTime& now, const PagingUser& user, CSentPages* sent = nullptr,
                      IPageListener* listener = nullptr);

    int GetCount() const { return static_cast<int>(m_records.size()); }
    bool IsEmpty() const { return m_records.empty(); }
    // The first record, or null when the list is empty.
    const ReminderStru* GetHead() const {
        return m_records.empty() ? nullptr : m_records.front().get();
    }
    // The first record's page time, kept in the list itself so that the paging pass can pass
    // over a user with nothing due without reading the records; the latest time there is when
    // the list is empty.
    CTime HeadPageTime() const { return m_headPageTime; }
    const Records& GetRecords() const { return m_records; }

private:
    void NoteHead() {
        m_headPageTime = m_records.empty() ? CTime(INT32_MAX) : m_records.front()->PageTime;
    }
    // A hash of the five fields that decide equality.
    static size_t KeyOf(const ReminderStru& r);
    // Takes the record at `it` out of the list and out of m_keys; the next record.
    Records::iterator Erase(Records::iterator it);

    Records m_records;
    // The key of every record, in no order: a new record whose key is not here is no duplicate,
    // found without walking the list (a rescan adds every record of a user again).
    std::vector<size_t> m_keys;
    Records m_spare; // the records of a cleared list, filled again by the next additions
    CTime m_headPageTime{INT32_MAX};
};
