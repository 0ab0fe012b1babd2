// The per-user update passes of each monitoring cycle: out-of-office flags, scans and paging.
#include "core/Bool.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "outlook/COutlook.h"
#include "paging/COOFCheck.h"
#include "paging/EventLog.h"
#include "paging/LatePages.h"
#include "users/CUserList.h"
#include "users/PassListener.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr CTimeSpan kOOFPeriod{60};           // between the starts of two out-of-office rounds
constexpr const char* kMailboxPrefix = "EX:"; // how the scan addresses a user's mailbox

// The interval until a user's next scan. A stored interval of zero or less (only a hand-edited
// Users.dat holds one) would rescan the user at every tick; it counts as the shortest interval
// the program stores instead.
CTimeSpan ScanIntervalOf(const UserlistStru& user) {
    const int minutes = user.ScanInterval > 0 ? user.ScanInterval : kMinScanInterval;
    return CTimeSpan(int64_t(minutes) * 60);
}

std::unique_ptr<COOFCheck> MakeChecker(const CString& server) {
    try {
        return std::make_unique<COOFCheck>(server);
    } catch (const std::bad_alloc&) {
        return nullptr; // the users of this store are passed over in this pass
    }
}

// A reminder that waits among the user's LateReminders belongs there: a rescan that finds it
// again (its reminder time is still to come) leaves it to the late rule, so that it is paged once
// and counted as late.
void LeaveLateRemindersLate(UserlistStru& user) {
    if (user.LateReminders.IsEmpty())
        return;
    std::vector<const ReminderStru*> twins;
    for (const auto& r : user.Reminders.GetRecords()) {
        if (user.LateReminders.IsReminderDuplicate(r.get()))
            twins.push_back(r.get());
    }
    for (const ReminderStru* r : twins)
        user.Reminders.DeleteReminder(r);
}

// Ends the scan pass's Outlook session however the pass is left.
template <typename Close> class AtExit {
public:
    explicit AtExit(Close close) : m_close(close) {}
    ~AtExit() { m_close(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    Close m_close;
};

} // namespace

int CUserList::UpdateOOFFlags() {
    const CTime now = CTime::GetCurrentTime();
    if (!m_OOFRoundRunning) {
        if (now < NextOOFCheck)
            return 0;
        SortByServer();
        // One group per Server, in the sorted order. Users whose Server is empty get no checker:
        // their OOFFlag is never read.
        m_OOFRoundServers.clear();
        for (const auto& record : m_users) {
            const UserlistStru& user = *record;
            if (user.PageOnlyOOF && !user.Server.empty() &&
                (m_OOFRoundServers.empty() || m_OOFRoundServers.back() != user.Server))
                m_OOFRoundServers.push_back(user.Server);
        }
        m_OOFRoundNext = 0;
        m_OOFRoundTaken = 0;
        m_OOFRoundStart = now;
        m_OOFRoundRunning = true;
    }

    // Users one after the other until the pass has had its time, as the scan pass: a read once
    // begun is finished (its own time is bounded by the mail system's limits), and at least one
    // user is read a call.
    const int64_t started = Clock::SteadyMilliseconds();
    const int64_t limit = Settings::ScanMillisecondsPerTick();
    int read = 0;
    bool changed = false;
    bool timeUp = false;
    while (!timeUp && m_OOFRoundNext < m_OOFRoundServers.size()) {
        const CString server = m_OOFRoundServers[m_OOFRoundNext];
        size_t seen = 0;
        for (const auto& record : m_users) {
            UserlistStru& user = *record;
            if (!user.PageOnlyOOF || user.Server != server || seen++ < m_OOFRoundTaken)
                continue;
            if (read > 0 && Clock::SteadyMilliseconds() - started >= limit) {
                timeUp = true;
                break;
            }
            if (!m_OOFChecker) {
                // A checker that cannot be made passes this Server's users over in this round.
                m_OOFChecker = MakeChecker(server);
                if (!m_OOFChecker)
                    break;
                m_OOFChecker->OpenExchangeStore();
            }
            const bool wasOut = user.OOFFlag != 0;
            const int ok = m_OOFChecker->GetOOF(user.MailboxName, &user.OOFFlag);
            if (Listener)
                Listener->OnOutOfOfficeCheck(user, ok != 0);
            changed = changed || (user.OOFFlag != 0) != wasOut;
            m_stateChanges += (user.OOFFlag != 0) != wasOut ? 1 : 0;
            ++m_OOFRoundTaken;
            ++read;
        }
        if (timeUp)
            break;
        CloseOOFChecker(); // this Server's users are read
        ++m_OOFRoundNext;
        m_OOFRoundTaken = 0;
    }
    if (m_OOFRoundNext < m_OOFRoundServers.size())
        return changed ? 1 : 0;

    // The next round starts a minute after this one did, so each flag is read about once a
    // minute however many ticks a round takes.
    m_OOFRoundRunning = false;
    m_OOFRoundServers.clear();
    NextOOFCheck = m_OOFRoundStart + kOOFPeriod;
    return 1;
}

void CUserList::CloseOOFChecker() {
    if (!m_OOFChecker)
        return;
    m_OOFChecker->CloseExchangeStore();
    m_OOFChecker.reset();
}

int CUserList::UpdateReminders() {
    m_scansWaiting = false;
    // The pass's start: every NextScan set in this pass is counted from it.
    const CTime now = CTime::GetCurrentTime();
    const int64_t started = Clock::SteadyMilliseconds();

    // The due active users, those due longest first and in list order among equals: users that
    // an earlier pass did not reach keep the NextScan they had, so they come before anyone whose
    // scan is due again since.
    struct Due {
        CTime nextScan;
        size_t position;
        UserlistStru* user;
    };
    std::vector<Due> due;
    size_t position = 0;
    for (const auto& record : m_users) {
        UserlistStru& user = *record;
        if (!(now < user.NextScan) && IsActiveUser(user))
            due.push_back({user.NextScan, position, &user});
        ++position;
    }
    if (due.empty())
        return 0; // no session, nothing read
    std::sort(due.begin(), due.end(), [](const Due& a, const Due& b) {
        return a.nextScan != b.nextScan ? a.nextScan < b.nextScan : a.position < b.position;
    });
    const int64_t limit = Settings::ScanMillisecondsPerTick();
    // With worker threads, the calendars of the users next in this order are read and parsed
    // ahead; the scans below find them ready and tell what the reading met, as if they had read
    // them (the same reminders and events in the same order).
    std::vector<UserlistStru*> order;
    if (m_readAhead.BeginPass(Settings::ProfileName(), now)) {
        order.reserve(due.size());
        for (const Due& d : due)
            order.push_back(d.user);
    }

    int result = 0;
    AtExit closeSession([this] { CloseOutlookOLE(); });
    for (size_t next = 0; next < due.size(); ++next) {
        // A scan once begun is finished; no new one begins once the pass has had its time.
        if (result && Clock::SteadyMilliseconds() - started >= limit) {
            m_scansWaiting = true;
            break;
        }
        UserlistStru& user = *due[next].user;
        m_readAhead.Scanning(user);
        m_readAhead.TopUp(order, next + 1);
        if (!OpenOutlookOLE())
            return result; // this user and the ones after it are tried again at the next tick

        // What the monitor's saved state holds of the user, to tell whether this scan changed it.
        const uint64_t remindersBefore = user.Reminders.Fingerprint();
        const int32_t statusBefore = user.ScanStatus;
        const CString errorBefore = user.LastScanError;
        // A reminder found again after the paging pass handled it (a rescan in the minute between
        // its page time and its alarm) is not paged twice: the record of handled pages says so.
        user.Reminders.ClearList();
        const CString mailbox = kMailboxPrefix + user.MailboxName;
        // Call errors the session lets pass end this user's scan as a failed one. The session
        // that met one is ended, so the next user is scanned over a fresh one.
        const CString interrupted =
            "The scan of " + mailbox + " was interrupted by an Outlook failure.";
        EventLog::Collector scanEvents; // the first one is the status view's scan error
        if (Listener)
            Listener->OnScanStarting(user);
        try {
            OutlookOLE->GetUserReminders(mailbox, user.Reminders, &user.ScanStatus);
        } catch (const COleDispatchException& e) {
            LogEvent(EventLog::kEventId, WithDescription(interrupted, e).c_str());
            user.ScanStatus = FALSE;
            CloseOutlookOLE();
        } catch (const COleException& e) {
            LogEvent(EventLog::kEventId, WithSystemText(interrupted, e).c_str());
            user.ScanStatus = FALSE;
            CloseOutlookOLE();
        }
        LeaveLateRemindersLate(user);
        user.Reminders.SortList();
        // Whatever the outcome: a failed user is retried after its interval, not at the next tick.
        // Counted from this pass, so users reached in later ticks fall due later too.
        user.NextScan = now + ScanIntervalOf(user);
        user.LastScanError = user.ScanStatus == FALSE ? scanEvents.FirstText() : CString();
        if (user.ScanStatus == FALSE && user.LastScanError.empty())
            user.LastScanError = "The scan of " + mailbox + " failed.";
        if (user.Reminders.Fingerprint() != remindersBefore || user.ScanStatus != statusBefore ||
            user.LastScanError != errorBefore)
            ++m_stateChanges;
        if (Listener)
            Listener->OnScan(user);
        result = 1;
    }
    return result;
}

namespace {

// Keeps the user's latest page for the status view and passes every page on to the listener.
class LastPageKeeper : public IPageListener {
public:
    LastPageKeeper(UserlistStru& user, IPageListener* next) : m_user(user), m_next(next) {}
    void OnPage(const UserlistStru& user, const ReminderStru& reminder, const CTime& now,
                PageOutcome outcome, const CString& event) override {
        if (outcome != PageOutcome::AlreadySent)
            m_user.LastPage = {true, now, reminder.Text, outcome, event};
        if (m_next)
            m_next->OnPage(user, reminder, now, outcome, event);
    }

private:
    UserlistStru& m_user;
    IPageListener* m_next;
};

} // namespace

int CUserList::ProcessReminders() {
    int sum = 0;
    bool clockBackReported = false;
    for (const auto& record : m_users) {
        UserlistStru& user = *record;
        if (!IsActiveUser(user)) {
            // Their late reminders wait for them to be out, but not past the late rule.
            if (!user.LateReminders.IsEmpty()) {
                LastPageKeeper keeper(user, Listener);
                const int over =
                    paging::DropLateRemindersOver(user.LateReminders, CTime::GetCurrentTime(),
                                                  PagingFields(user), &keeper, m_latePages);
                sum += over;
                m_stateChanges += over ? 1 : 0;
            }
            continue;
        }
        const CTime t = CTime::GetCurrentTime(); // read anew for each user
        if (t < m_latestPagingTime && !clockBackReported) {
            const char* format = "%m/%d/%y %H:%M:%S";
            LogEvent(EventLog::kEventId,
                     ("The system clock went back from " + m_latestPagingTime.Format(format) +
                      " to " + t.Format(format) + "; reminders are paged as usual.")
                         .c_str());
            clockBackReported = true;
        }
        m_latestPagingTime = t;
        // Nothing is due before the first record's page time: the call would return at once.
        if (user.Reminders.HeadPageTime() <= t) {
            LastPageKeeper keeper(user, Listener);
            const int left =
                user.Reminders.PageReminders(t, PagingFields(user), SentPages, &keeper);
            sum += left;
            m_stateChanges += left ? 1 : 0;
        }
        user.LastPageCheck = t;
    }
    // After the pages due now, so that a burst of late ones after a long stop holds none up.
    return sum + PageLateReminders();
}

int CUserList::PageLateReminders() {
    const CTime now = CTime::GetCurrentTime();
    if (m_lateNext >= m_users.size()) {
        // A new turn at most once a second: a late page whose send failed is tried again once
        // a second, as the paging pass tries the others.
        if (!m_anyLate || now == m_lateTurnStart)
            return 0;
        m_lateNext = 0;
        m_lateTurnStart = now;
        m_lateSeen = false;
    }
    const int64_t started = Clock::SteadyMilliseconds();
    const int64_t limit = Settings::ScanMillisecondsPerTick();
    int sum = 0;
    bool paged = false;
    for (auto it = std::next(m_users.begin(), static_cast<long>(m_lateNext)); it != m_users.end();
         ++it, ++m_lateNext) {
        UserlistStru& user = **it;
        if (user.LateReminders.IsEmpty())
            continue;
        // A turn once begun pages at least one user; the rest wait for the next call.
        if (paged && Clock::SteadyMilliseconds() - started >= limit)
            return sum;
        if (IsActiveUser(user) && user.LateReminders.HeadPageTime() <= now) {
            LastPageKeeper keeper(user, Listener);
            // The turns keep to once a second themselves.
            const PagingUser fields{user.MailboxName, user.PagerName, CTime(), &user};
            const int left = paging::PageLateReminders(user.LateReminders, now, fields, SentPages,
                                                       &keeper, m_latePages);
            sum += left;
            m_stateChanges += left ? 1 : 0;
            paged = true;
        }
        m_lateSeen = m_lateSeen || !user.LateReminders.IsEmpty();
    }
    m_anyLate = m_lateSeen;
    // Every flag has been read once the first out-of-office round has ended: the users who are
    // out have been paged in this turn at the latest.
    if (m_latePagesAwaited && !m_OOFRoundRunning && NextOOFCheck != CTime(0))
        ReportLatePages();
    return sum;
}

void CUserList::AwaitLatePages(CTime keptUntil) {
    m_latePagesAwaited = true;
    m_latePages = {};
    m_latePages.unknownAfter = keptUntil;
    m_anyLate = true;
}

void CUserList::ReportLatePages() {
    m_latePagesAwaited = false;
    m_latePages.waiting = 0;
    for (const auto& user : m_users)
        m_latePages.waiting += user->LateReminders.GetCount();
    LogEvent(EventLog::kEventId, paging::LatePagesText(m_latePages).c_str());
}

int CUserList::OpenOutlookOLE() {
    if (OutlookOLE)
        return TRUE;
    const CString profile = Settings::ProfileName(); // read anew for every session
    const CString failure = "Unable to start the Outlook session for the scan.";
    try {
        OutlookOLE.reset(new (std::nothrow) COutlook(profile));
    } catch (const COleDispatchException& e) {
        LogEvent(EventLog::kEventId, WithDescription(failure, e).c_str());
    } catch (const COleException& e) {
        LogEvent(EventLog::kEventId, WithSystemText(failure, e).c_str());
    }
    return OutlookOLE ? TRUE : FALSE;
}

void CUserList::CloseOutlookOLE() {
    OutlookOLE.reset();
}
