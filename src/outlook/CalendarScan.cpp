// The calendar and task scan: finds a user's coming reminders and hands them to the list.
#include "outlook/COutlook.h"
#include "outlook/RecurrenceAdvance.h"
#include "outlook/automation/OleDate.h"
#include "paging/EventLog.h"

int COutlook::ScanTables(CRemList& reminders) {
    const CTime now = GetLocalTime();
    if (!m_CalendarFolder.m_lpDispatch)
        return FALSE;
    bool complete = true;

    {
        _Items items(m_CalendarFolder.GetItems());
        items.Sort("[Start]", COleVariant(false));
        items.SetIncludeRecurrences(true);
        // The seven days are a fixed number of seconds; the C locale gives "%x" as mm/dd/yy.
        const CString filter = now.Format("[Start] >= '%x %I:%M%p' AND ") +
                               (now + m_Week).Format("[Start] <= '%x %I:%M%p'");
        const CString failure = "Error reading Calendar folder for user " + m_UserName + ".";
        LPDISPATCH item = nullptr;
        try {
            item = items.Find(filter.c_str());
        } catch (const COleDispatchException& e) {
            LogEvent(EventLog::kEventId, WithDescription(failure, e).c_str());
            return FALSE;
        } catch (const COleException& e) {
            LogEvent(EventLog::kEventId, WithSystemText(failure, e).c_str());
            return FALSE;
        }
        while (item) {
            {
                _AppointmentItem appointment(item); // released at the end of this block
                ProcessAppointment(reminders, item);
            }
            item = FindNextOrEnd(items, "Calendar", complete);
        }
    }

    {
        _Items items(m_TasksFolder.GetItems());
        items.Sort("[Start]", COleVariant(false));
        items.SetIncludeRecurrences(true);
        const CString filter = GetLocalTime().Format("[ReminderTime] >= '%m/%d/%y %H:%M'");
        LPDISPATCH item = nullptr;
        try {
            item = items.Find(filter.c_str());
        } catch (const COleDispatchException& e) {
            LogEvent(EventLog::kEventId,
                     WithDescription("Error reading Tasks folder for user " + m_UserName + ".", e)
                         .c_str());
            return FALSE;
        }
        while (item) {
            {
                _TaskItem task(item);
                ProcessTask(reminders, item);
            }
            item = FindNextOrEnd(items, "Tasks", complete);
        }
    }
    return complete ? TRUE : FALSE;
}

LPDISPATCH COutlook::FindNextOrEnd(_Items& items, const char* folder, bool& complete) {
    // Without a next item the search cannot go on from the one already processed.
    const auto failure = [&] {
        return CString("Error reading the next item of the ") + folder + " folder for user " +
               m_UserName + ".";
    };
    try {
        return items.FindNext();
    } catch (const COleDispatchException& e) {
        LogEvent(EventLog::kEventId, WithDescription(failure(), e).c_str());
    } catch (const COleException& e) {
        LogEvent(EventLog::kEventId, WithSystemText(failure(), e).c_str());
    }
    complete = false;
    return nullptr;
}

bool COutlook::DateToTime(DATE date, const CString& subject, CTime& out) {
    WORD dosDate = 0, dosTime = 0;
    if (VariantTimeToDosDateTime(date, &dosDate, &dosTime)) {
        if (const auto converted = DosDateTimeToCTime(dosDate, dosTime)) {
            out = *converted;
            return true;
        }
    }
    LogEvent(EventLog::kEventId, ("The item " + subject + " of user " + m_UserName +
                                  " has a date that cannot be handled; it gives no reminder.")
                                     .c_str());
    return false;
}

void COutlook::ProcessAppointment(CRemList& reminders, LPDISPATCH item) {
    _AppointmentItem appointment(item, false); // the caller holds the reference
    const CTime now = GetLocalTime();

    try {
        if (!appointment.GetReminderSet())
            return;
    } catch (const CException&) {
        return; // an item whose reminder cannot be read gives none
    }

    const CString subject = appointment.GetSubject();
    const CString location = appointment.GetLocation();
    CString text;
    text.reserve(subject.size() + location.size() + 3);
    text += subject;
    if (!location.empty())
        text.append(" (").append(location).append(")");
    const DATE startDate = appointment.GetStart();
    const DATE endDate = appointment.GetEnd();
    const int32_t leadMinutes = appointment.GetReminderMinutesBeforeStart();
    CTime start, end;
    if (!DateToTime(startDate, subject, start) || !DateToTime(endDate, subject, end))
        return;
    const CTimeSpan lead(int64_t(leadMinutes) * 60);
    CTime reminderTime = start - lead;

    try {
        if (appointment.GetIsRecurring() && reminderTime < now) {
            mail::RecurrencePattern values;
            {
                RecurrencePattern pattern(appointment.GetRecurrencePattern());
                values.recurrenceType = pattern.GetRecurrenceType();
                values.interval = pattern.GetInterval();
                values.instance = pattern.GetInstance();
                values.dayOfWeekMask = pattern.GetDayOfWeekMask();
                values.dayOfMonth = pattern.GetDayOfMonth();
                values.monthOfYear = pattern.GetMonthOfYear();
            }
            const CTime readStart = start;
            if (AdvanceToNextOccurrence(values, mail::pattern::Spans{m_Day, m_Week, m_Hour}, now,
                                        lead, start, reminderTime) == AdvanceOutcome::UnknownType)
                return;
            // The occurrence it landed on lasts as long as the one that was read.
            end += start - readStart;
        }
    } catch (const CException&) {
        return; // the recurrence cannot be read: no reminder for this item
    }

    if (reminderTime >= now)
        reminders.AddReminder(reminderTime, start, end, text);
}

void COutlook::ProcessTask(CRemList& reminders, LPDISPATCH item) {
    _TaskItem task(item, false);
    try {
        if (!task.GetReminderSet())
            return;
    } catch (const CException&) {
        return;
    }
    const CString text = task.GetSubject();
    const DATE reminderDate = task.GetReminderTime();
    CTime reminderTime;
    if (!DateToTime(reminderDate, text, reminderTime))
        return;
    // The search filter has already compared the reminder time with now, to the minute.
    reminders.AddReminder(reminderTime, CTime(0), CTime(0), text);
}
