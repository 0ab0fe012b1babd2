// Reminders that fell due while the monitor was stopped.
#include "paging/LatePages.h"

#include <algorithm>
#include <vector>

namespace paging {
namespace {

// Counts what PageReminders did with the late reminders and passes every call on.
class Counting : public IPageListener {
public:
    Counting(LatePagesTally& tally, IPageListener* next) : m_tally(tally), m_next(next) {}
    void OnPage(const UserlistStru& user, const ReminderStru& reminder, const CTime& now,
                PageOutcome outcome, const CString& event) override {
        if (outcome == PageOutcome::Sent) {
            ++m_tally.sent;
            m_tally.latest = std::max(m_tally.latest, now - reminder.PageTime);
        } else if (outcome == PageOutcome::Dropped) {
            ++m_tally.outsideHours;
        }
        if (m_next)
            m_next->OnPage(user, reminder, now, outcome, event);
    }

private:
    LatePagesTally& m_tally;
    IPageListener* m_next;
};

CString Count(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "45 seconds", "3 minutes 20 seconds", "2 hours 5 minutes": two units at most.
CString Span(CTimeSpan span) {
    const int64_t s = std::max<int64_t>(0, span.GetTotalSeconds());
    const int hours = static_cast<int>(s / 3600), minutes = static_cast<int>(s / 60 % 60),
              seconds = static_cast<int>(s % 60);
    if (hours)
        return Count(hours, "hour", "hours") +
               (minutes ? " " + Count(minutes, "minute", "minutes") : CString());
    if (minutes)
        return Count(minutes, "minute", "minutes") +
               (seconds ? " " + Count(seconds, "second", "seconds") : CString());
    return Count(seconds, "second", "seconds");
}

} // namespace

CTime LateUntil(const ReminderStru& reminder) {
    const bool withoutTimes =
        reminder.StartTime == reminder.PageTime && reminder.EndTime == reminder.PageTime;
    if (withoutTimes)
        return reminder.PageTime + timespans::kMinute + kLateTaskGrace;
    return reminder.EndTime;
}

bool StillWorthPaging(const ReminderStru& reminder, CTime now) {
    return now < LateUntil(reminder);
}

int DropLateRemindersOver(CRemList& late, const CTime& now, const PagingUser& user,
                          IPageListener* listener, LatePagesTally& tally) {
    std::vector<const ReminderStru*> over;
    for (const auto& r : late.GetRecords()) {
        if (now < r->PageTime)
            break; // in page-time order: nothing after it is due
        if (!StillWorthPaging(*r, now))
            over.push_back(r.get());
    }
    for (const ReminderStru* r : over) {
        if (listener && user.user)
            listener->OnPage(*user.user, *r, now, PageOutcome::Expired, CString());
        ++tally.expired;
        late.DeleteReminder(r);
    }
    return static_cast<int>(over.size());
}

int PageLateReminders(CRemList& late, const CTime& now, const PagingUser& user, CSentPages* sent,
                      IPageListener* listener, LatePagesTally& tally) {
    const int over = DropLateRemindersOver(late, now, user, listener, tally);
    Counting counting(tally, listener);
    return over + late.PageReminders(now, user, sent, &counting);
}

CString LatePagesText(const LatePagesTally& tally) {
    const int dropped = tally.expired + tally.outsideHours;
    const int all = tally.sent + dropped + tally.waiting;
    CString text = "While Orvane was stopped, " + Count(all, "reminder", "reminders") +
                   " fell due: " + std::to_string(tally.sent) + " " +
                   (tally.sent == 1 ? "was" : "were") + " paged late";
    if (tally.sent)
        text += " (by at most " + Span(tally.latest) + ")";
    text += ", " + std::to_string(dropped) + " " + (dropped == 1 ? "was" : "were") + " dropped (" +
            std::to_string(tally.expired) + " over before Orvane was back, " +
            std::to_string(tally.outsideHours) + " outside the paging hours)";
    if (tally.waiting)
        text += ", and " + std::to_string(tally.waiting) +
                (tally.waiting == 1
                     ? " waits to be paged (its send failed, or its user is in the office) until "
                       "its appointment ends"
                     : " wait to be paged (their sends failed, or their users are in the office) "
                       "until their appointments end");
    text += ".";
    if (tally.unknownAfter != CTime())
        text += " Reminders due after " + tally.unknownAfter.Format("%m/%d/%y %H:%M") +
                " were not kept when Orvane stopped; any of them that fell due before it started "
                "again are not paged.";
    return text;
}

} // namespace paging
