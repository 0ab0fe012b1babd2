// Page delivery: the due reminders of one user's list sent as pages through Simple MAPI.
#include "core/Settings.h"
#include "paging/CMAPI.h"
#include "paging/CRemList.h"
#include "paging/EventLog.h"
#include "paging/PageGate.h"
#include "paging/SentPages.h"

const char* PageOutcomeName(PageOutcome outcome) {
    switch (outcome) {
    case PageOutcome::Sent:
        return "sent";
    case PageOutcome::Dropped:
        return "dropped";
    case PageOutcome::Failed:
        return "failed";
    case PageOutcome::AlreadySent:
        return "already sent";
    case PageOutcome::Expired:
        return "expired";
    }
    return "";
}

int CRemList::PageReminders(const CTime& now, const PagingUser& user, CSentPages* sent,
                            IPageListener* listener) {
    // Opened at the first reminder to be sent, so that a call with nothing due loads nothing.
    CMAPI mapi;
    bool opened = false;
    int count = 0;
    auto tell = [&](const ReminderStru& r, PageOutcome outcome, const CString& event) {
        if (listener && user.user)
            listener->OnPage(*user.user, r, now, outcome, event);
    };
    // Removes a reminder that has been handled; the walk starts again from the head, so that a
    // reminder that failed before is tried once more.
    auto remove = [&](Records::iterator it) {
        Erase(it);
        ++count;
        return m_records.begin();
    };

    auto it = m_records.begin();
    while (it != m_records.end()) {
        const ReminderStru& r = **it;
        // The list is in page-time order: nothing after a reminder that is not due is due either.
        if (now < r.PageTime)
            break;
        // Once per second. A clock set back (now before LastPageCheck) does not stop paging.
        if (now == user.LastPageCheck)
            break;

        if (sent && sent->WasSent(user.MailboxName, user.PagerName, r, now)) {
            tell(r, PageOutcome::AlreadySent, CString());
            it = remove(it);
            continue;
        }

        const PageDescription page = DescribePage(user.DisplayName ? *user.DisplayName : CString(),
                                                  user.MailboxName, user.PagerName, r);
        IPageGate* gate = sent ? sent->Gate() : nullptr;
        if (gate) {
            const IPageGate::Verdict verdict = gate->Claim(page, now);
            if (verdict == IPageGate::Verdict::Stop)
                break;
            if (verdict == IPageGate::Verdict::Later) {
                ++it;
                continue;
            }
            if (verdict == IPageGate::Verdict::Handled) {
                // Remembered here too, so that a rescan does not ask again.
                sent->Record(user.MailboxName, user.PagerName, r, now);
                tell(r, PageOutcome::AlreadySent, CString());
                it = remove(it);
                continue;
            }
        }

        // Read for every reminder, so a change of the hours applies at once.
        if (!Settings::IsPagingHour(now.GetHour())) {
            // Remembered as handled, so that a rescan finding it again once the hours have
            // begun does not page it after all.
            if (sent)
                sent->Record(user.MailboxName, user.PagerName, r, now);
            if (gate)
                gate->Done(page, r, PageOutcome::Dropped, now);
            tell(r, PageOutcome::Dropped, CString());
            it = remove(it);
            continue;
        }

        EventLog::Collector events;
        if (!opened) {
            // Failures show up as SendMail's "not logged onto the mail system" event.
            mapi.OpenMailServer();
            mapi.OpenMailSession(Settings::ProfileName());
            opened = true;
        }
        if (mapi.SendMail(user.PagerName.c_str(), "", r.Text.c_str(), 1, page)) {
            // Recorded before anything else, so that only a crash in this very moment can
            // send it again.
            if (sent)
                sent->Record(user.MailboxName, user.PagerName, r, now);
            if (gate)
                gate->Done(page, r, PageOutcome::Sent, now);
            tell(r, PageOutcome::Sent, CString());
            it = remove(it);
        } else {
            if (gate)
                gate->Failed(page);
            tell(r, PageOutcome::Failed, events.FirstText());
            ++it; // kept for the next call
        }
    }

    NoteHead();
    if (opened)
        mapi.CloseMailServer();
    return count;
}
