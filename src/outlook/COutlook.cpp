// The Outlook session: start-up and logon, opening and closing a user's folders.
#include "outlook/COutlook.h"

#include "core/StatusText.h"
#include "outlook/automation/ComRuntime.h"
#include "paging/EventLog.h"

namespace {

// MFC's GetErrorMessage contract: a buffer of n bytes holds at most n - 1 characters.
CString ErrorText(const CException& e, unsigned bufferSize) {
    std::string buffer(bufferSize, '\0');
    if (!e.GetErrorMessage(buffer.data(), bufferSize))
        return CString();
    return CString(buffer.c_str());
}

} // namespace

CString WithDescription(const CString& message, const COleDispatchException& e) {
    return e.m_strDescription.empty() ? message : message + "  " + e.m_strDescription;
}

CString WithSystemText(const CString& message, const COleException& e) {
    const CString text = ErrorText(e, 1024);
    return text.empty() ? message : message + " " + text;
}

COutlook::COutlook(CString profileName)
    : m_Notices([](const std::string& notice) { ::LogEvent(EventLog::kEventId, notice.c_str()); }),
      m_Day(86400), m_Week(604800), m_Hour(3600) {
    const COleVariant profile(profileName);
    const COleVariant password("");
    const COleVariant yes(true); // both ShowDialog and NewSession

    CoInitialize(nullptr);
    m_ComInitialized = true;

    COleException createError(S_OK);
    if (!m_Application.CreateDispatch("Outlook.Application", &createError)) {
        const CString text = ErrorText(createError, 255);
        const CString message = "Unable to load Microsoft Outlook.";
        LogEvent(EventLog::kEventId, (text.empty() ? message : message + "  " + text).c_str());
        return;
    }

    try {
        try {
            m_Namespace.AttachDispatch(m_Application.GetNamespace("MAPI"));
        } catch (const COleDispatchException& e) {
            LogEvent(EventLog::kEventId,
                     WithDescription("Error opening Outlook namespace.", e).c_str());
            return;
        }
        try {
            m_Namespace.Logon(profile, password, yes, yes);
        } catch (const COleDispatchException& e) {
            // The namespace stays: the session does not remember whether the logon succeeded.
            LogEvent(EventLog::kEventId,
                     WithDescription("Unable to open a MAPI sesson.", e).c_str());
        }
    } catch (...) {
        // A call error leaves the constructor; give back what was obtained on the way out.
        ReleaseAll();
        CoUninitialize();
        m_ComInitialized = false;
        throw;
    }
}

COutlook::~COutlook() {
    m_TasksFolder.ReleaseDispatch();
    m_CalendarFolder.ReleaseDispatch();
    m_Recipient.ReleaseDispatch();
    if (m_Namespace.m_lpDispatch) {
        try {
            m_Namespace.Logoff();
        } catch (const COleDispatchException& e) {
            LogEvent(EventLog::kEventId,
                     WithDescription("Error logging off the Outlook session.", e).c_str());
        } catch (const COleException& e) {
            // A destructor cannot pass the failure on; the session ends all the same.
            LogEvent(EventLog::kEventId,
                     WithSystemText("Error logging off the Outlook session.", e).c_str());
        }
        m_Namespace.ReleaseDispatch();
    }
    m_Application.ReleaseDispatch(); // Outlook is not told to quit
    if (m_ComInitialized)
        CoUninitialize();
}

void COutlook::ReleaseAll() {
    m_TasksFolder.ReleaseDispatch();
    m_CalendarFolder.ReleaseDispatch();
    m_Recipient.ReleaseDispatch();
    m_Namespace.ReleaseDispatch();
    m_Application.ReleaseDispatch();
}

void COutlook::LogEvent(unsigned long eventId, const char* first, const char* second) {
    ::LogEvent(eventId, first, second);
}

CTime COutlook::GetLocalTime() {
    return CTime::GetCurrentTime();
}

int COutlook::OpenUser(CString mailboxName, int report) {
    StatusText().SetMessageText(mailboxName);
    if (!m_Namespace.m_lpDispatch)
        return FALSE;

    // What an earlier open that failed left attached.
    m_CalendarFolder.ReleaseDispatch();
    m_TasksFolder.ReleaseDispatch();
    m_Recipient.ReleaseDispatch();

    auto log = [&](const CString& text) {
        if (report)
            LogEvent(EventLog::kEventId, text.c_str());
    };

    try {
        m_Recipient.AttachDispatch(m_Namespace.CreateRecipient(mailboxName.c_str()));
    } catch (const COleDispatchException& e) {
        log(WithDescription("Error opening Outlook user " + mailboxName + ".", e));
        return FALSE;
    }

    const CString resolving = "Error resolving " + mailboxName + ".";
    bool resolved = false;
    try {
        resolved = m_Recipient.Resolve();
    } catch (const COleDispatchException& e) {
        log(WithDescription(resolving, e));
        return FALSE;
    } catch (const COleException& e) {
        log(WithSystemText(resolving, e));
        return FALSE;
    }
    if (!resolved) {
        log("Failed to resolve " + mailboxName + ".");
        return FALSE;
    }

    const CString calendar =
        "Error obtaining Outlook Calendar folder for user " + mailboxName + ".";
    try {
        m_CalendarFolder.AttachDispatch(m_Namespace.GetSharedDefaultFolder(
            m_Recipient.m_lpDispatch, outlook_id::olFolderCalendar));
    } catch (const COleDispatchException& e) {
        log(WithDescription(calendar, e));
        return FALSE;
    } catch (const COleException& e) {
        log(WithSystemText(calendar, e));
        return FALSE;
    }

    try {
        m_TasksFolder.AttachDispatch(m_Namespace.GetSharedDefaultFolder(m_Recipient.m_lpDispatch,
                                                                        outlook_id::olFolderTasks));
    } catch (const COleDispatchException& e) {
        log(WithDescription("Error obtaining Outlook Tasks folder for user " + mailboxName + ".",
                            e));
        return FALSE;
    }

    m_UserName = mailboxName;
    return TRUE;
}

void COutlook::CloseUser() {
    StatusText().SetMessageText("Ready");
    m_TasksFolder.ReleaseDispatch();
    m_CalendarFolder.ReleaseDispatch();
    m_Recipient.ReleaseDispatch();
}

void COutlook::GetUserReminders(CString mailboxName, CRemList& reminders, int* status) {
    if (OpenUser(mailboxName, TRUE)) {
        *status = ScanTables(reminders);
        CloseUser();
    } else {
        *status = FALSE;
    }
}
