// Page delivery: the due reminders of one user's list sent as pages through Simple MAPI.
#include "core/Settings.h"
#include "paging/CMAPI.h"
#include "paging/CRemList.h"
#include "users/UserlistStru.h"

int CRemList::PageReminders(const CTime& now, const UserlistStru* user) {
    if (!user)
        return 0;
    // Opened at the first reminder to be sent, so that a call with nothing due loads nothing.
    CMAPI mapi;
    bool opened = false;
    int count = 0;

    auto it = m_records.begin();
    while (it != m_records.end()) {
        const ReminderStru& r = **it;
        // The list is in page-time order: nothing after a reminder that is not due is due either.
        if (now < r.PageTime)
            break;
        if (!(now > user->LastPageCheck))
            break;

        // Read for every reminder, so a change of the hours applies at once.
        if (!Settings::IsPagingHour(now.GetHour())) {
            m_records.erase(it); // due outside the paging hours: dropped without a page
            ++count;
            it = m_records.begin();
            continue;
        }

        if (!opened) {
            // Failures show up as SendMail's "not logged onto the mail system" event.
            mapi.OpenMailServer();
            mapi.OpenMailSession(Settings::ProfileName());
            opened = true;
        }
        if (mapi.SendMail(user->PagerName.c_str(), "", r.Text.c_str(), 1)) {
            m_records.erase(it);
            ++count;
            // From the head again: a reminder that failed before is tried once more.
            it = m_records.begin();
        } else {
            ++it; // kept for the next call
        }
    }

    if (opened)
        mapi.CloseMailServer();
    return count;
}
