// Typed wrappers over Outlook's object model, one per interface, as MFC generates them from a
// type library. Every member is one call by dispatch identifier (outlook_id); failures throw
// COleDispatchException or COleException (DispatchDriver.h). A member returning LPDISPATCH hands
// the caller one reference, or null for "Nothing"; attach it to a wrapper to have it released.
#pragma once

#include "DispatchDriver.h"
#include "OutlookDispIds.h"

class _Application : public COleDispatchDriver {
public:
    using COleDispatchDriver::COleDispatchDriver;
    LPDISPATCH GetNamespace(LPCTSTR type); // "MAPI"
};

class _NameSpace : public COleDispatchDriver {
public:
    using COleDispatchDriver::COleDispatchDriver;
    // Profile name (empty: the default profile), password, ShowDialog, NewSession.
    void Logon(const COleVariant& profile, const COleVariant& password,
               const COleVariant& showDialog, const COleVariant& newSession);
    void Logoff();
    LPDISPATCH CreateRecipient(LPCTSTR recipientName);
    // `recipient` is not taken over; folderType outlook_id::olFolderCalendar or olFolderTasks.
    LPDISPATCH GetSharedDefaultFolder(LPDISPATCH recipient, int32_t folderType);
};

class Recipient : public COleDispatchDriver {
public:
    using COleDispatchDriver::COleDispatchDriver;
    bool Resolve();
};

class MAPIFolder : public COleDispatchDriver {
public:
    using COleDispatchDriver::COleDispatchDriver;
    LPDISPATCH GetItems();
};

// Sort, Find and FindNext come in two forms: with an identifier, one call under exactly that
// identifier; without, the call is made under the alternate identifier and, when that fails with
// either kind of error, once more under the standard one, whose failure is the one thrown.
class _Items : public COleDispatchDriver {
public:
    using COleDispatchDriver::COleDispatchDriver;
    void Sort(LPCTSTR property, const COleVariant& descending);
    void Sort(LPCTSTR property, const COleVariant& descending, DISPID id);
    bool GetIncludeRecurrences();
    void SetIncludeRecurrences(bool include);
    LPDISPATCH Find(LPCTSTR filter);
    LPDISPATCH Find(LPCTSTR filter, DISPID id);
    LPDISPATCH FindNext();
    LPDISPATCH FindNext(DISPID id);
};

class _AppointmentItem : public COleDispatchDriver {
public:
    using COleDispatchDriver::COleDispatchDriver;
    bool GetReminderSet();
    CString GetSubject();
    CString GetLocation();
    DATE GetStart();
    DATE GetEnd();
    int32_t GetReminderMinutesBeforeStart();
    bool GetIsRecurring();
    LPDISPATCH GetRecurrencePattern();
};

class _TaskItem : public COleDispatchDriver {
public:
    using COleDispatchDriver::COleDispatchDriver;
    bool GetReminderSet();
    CString GetSubject();
    DATE GetReminderTime(); // kOleDateNone when the task has no reminder
};

class RecurrencePattern : public COleDispatchDriver {
public:
    using COleDispatchDriver::COleDispatchDriver;
    int32_t GetRecurrenceType();
    int32_t GetInterval();
    int32_t GetInstance();
    int32_t GetDayOfWeekMask();
    int32_t GetDayOfMonth();
    int32_t GetMonthOfYear();
};
