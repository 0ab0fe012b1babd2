// One Outlook automation session: logs on with a profile and reads users' Calendar and Tasks.
#pragma once

#include "core/Bool.h"
#include "core/CString.h"
#include "core/CTime.h"
#include "mailsystem/model/Notices.h"
#include "outlook/automation/OutlookObjects.h"
#include "paging/CRemList.h"

// Users are handled one at a time: GetUserReminders opens the user's shared folders, scans them
// into the user's reminder list and lets them go. Failures are written to the event log.
//
// The call errors that the session does not catch (at GetNamespace, Logon, CreateRecipient, the
// Tasks folder, and inside the scan where noted) leave the operation as a COleException (or, for
// the few dispatch errors the scan lets pass, a COleDispatchException); the caller recovers. A
// constructor left that way has released what it obtained and uninitialised automation first.
class COutlook {
public:
    explicit COutlook(CString profileName);
    ~COutlook();
    COutlook(const COutlook&) = delete;
    COutlook& operator=(const COutlook&) = delete;

    // `mailboxName` is "EX:" followed by the user's mailbox. Adds the user's coming reminders to
    // `reminders` (which the caller has cleared) and writes 1 to *status when both folders were
    // read to the end, 0 when the user could not be opened or a search failed.
    void GetUserReminders(CString mailboxName, CRemList& reminders, int* status);

    // Whether construction got as far as a namespace (every OpenUser fails without one).
    bool HasNamespace() const { return m_Namespace.m_lpDispatch != nullptr; }

private:
    int OpenUser(CString mailboxName, int report);
    void CloseUser();
    int ScanTables(CRemList& reminders);
    void ProcessAppointment(CRemList& reminders, LPDISPATCH item);
    void ProcessTask(CRemList& reminders, LPDISPATCH item);
    // Reads the next item of a folder's search; on a failure under both identifiers it writes an
    // event and gives null, which ends that folder's iteration.
    LPDISPATCH FindNextOrEnd(_Items& items, const char* folder, bool& complete);
    // An automation date as calendar time; nothing, with an event naming the user and the item,
    // when it lies outside the DOS date range or beyond the 32-bit time (after January 2038).
    bool DateToTime(DATE date, const CString& subject, CTime& out);
    void LogEvent(unsigned long eventId, const char* first, const char* second = nullptr);
    CTime GetLocalTime();
    void ReleaseAll();

    // While the session lives, what the mail system repaired or guessed in a calendar it read
    // (a damaged line, an unknown time zone) is written to the event log.
    mail::ScopedNoticeSink m_Notices;
    _Application m_Application;
    _NameSpace m_Namespace;
    MAPIFolder m_CalendarFolder;
    MAPIFolder m_TasksFolder;
    Recipient m_Recipient;
    CString m_UserName; // the mailbox last opened successfully
    CTimeSpan m_Day;
    CTimeSpan m_Week;
    CTimeSpan m_Hour;
    bool m_ComInitialized = false;
};

// The texts that failures append to their message: a dispatch error's description after two
// spaces (nothing when empty); a call error's system text after one space, cut to 1023
// characters (nothing when the system has none).
CString WithDescription(const CString& message, const COleDispatchException& e);
CString WithSystemText(const CString& message, const COleException& e);
