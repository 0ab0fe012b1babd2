// The typed Outlook wrappers: each member is one InvokeHelper call.
#include "OutlookObjects.h"

using namespace outlook_id;

LPDISPATCH _Application::GetNamespace(LPCTSTR type) {
    return ToDispatch(InvokeHelper(kGetNamespace, DISPATCH_METHOD, {COleVariant(type)}));
}

void _NameSpace::Logon(const COleVariant& profile, const COleVariant& password,
                       const COleVariant& showDialog, const COleVariant& newSession) {
    InvokeHelper(kLogon, DISPATCH_METHOD, {profile, password, showDialog, newSession});
}

void _NameSpace::Logoff() {
    InvokeHelper(kLogoff, DISPATCH_METHOD);
}

LPDISPATCH _NameSpace::CreateRecipient(LPCTSTR recipientName) {
    return ToDispatch(
        InvokeHelper(kCreateRecipient, DISPATCH_METHOD, {COleVariant(recipientName)}));
}

LPDISPATCH _NameSpace::GetSharedDefaultFolder(LPDISPATCH recipient, int32_t folderType) {
    return ToDispatch(InvokeHelper(kGetSharedDefaultFolder, DISPATCH_METHOD,
                                   {COleVariant(recipient), COleVariant(folderType)}));
}

bool Recipient::Resolve() {
    return ToBool(InvokeHelper(kResolve, DISPATCH_METHOD));
}

LPDISPATCH MAPIFolder::GetItems() {
    return ToDispatch(GetProperty(kItems));
}

namespace {

// The alternate identifier first; any failure of it is forgotten and the standard one tried.
template <class Call> auto AlternateThenStandard(DISPID alternate, DISPID standard, Call call) {
    try {
        return call(alternate);
    } catch (const COleDispatchException&) {
    } catch (const COleException&) {
    }
    return call(standard);
}

} // namespace

void _Items::Sort(LPCTSTR property, const COleVariant& descending) {
    AlternateThenStandard(kSortAlternate, kSortStandard,
                          [&](DISPID id) { Sort(property, descending, id); });
}

void _Items::Sort(LPCTSTR property, const COleVariant& descending, DISPID id) {
    InvokeHelper(id, DISPATCH_METHOD, {COleVariant(property), descending});
}

bool _Items::GetIncludeRecurrences() {
    return ToBool(GetProperty(kIncludeRecurrences));
}

void _Items::SetIncludeRecurrences(bool include) {
    SetProperty(kIncludeRecurrences, COleVariant(include));
}

LPDISPATCH _Items::Find(LPCTSTR filter) {
    return AlternateThenStandard(kFindAlternate, kFindStandard,
                                 [&](DISPID id) { return Find(filter, id); });
}

LPDISPATCH _Items::Find(LPCTSTR filter, DISPID id) {
    return ToDispatch(InvokeHelper(id, DISPATCH_METHOD, {COleVariant(filter)}));
}

LPDISPATCH _Items::FindNext() {
    return AlternateThenStandard(kFindNextAlternate, kFindNextStandard,
                                 [&](DISPID id) { return FindNext(id); });
}

LPDISPATCH _Items::FindNext(DISPID id) {
    return ToDispatch(InvokeHelper(id, DISPATCH_METHOD));
}

bool _AppointmentItem::GetReminderSet() {
    return ToBool(GetProperty(kReminderSet));
}
CString _AppointmentItem::GetSubject() {
    return ToString(GetProperty(kSubject));
}
CString _AppointmentItem::GetLocation() {
    return ToString(GetProperty(kLocation));
}
DATE _AppointmentItem::GetStart() {
    return ToDate(GetProperty(kStart));
}
DATE _AppointmentItem::GetEnd() {
    return ToDate(GetProperty(kEnd));
}
int32_t _AppointmentItem::GetReminderMinutesBeforeStart() {
    return ToLong(GetProperty(kReminderMinutesBeforeStart));
}
bool _AppointmentItem::GetIsRecurring() {
    return ToBool(GetProperty(kIsRecurring));
}
LPDISPATCH _AppointmentItem::GetRecurrencePattern() {
    return ToDispatch(InvokeHelper(kGetRecurrencePattern, DISPATCH_METHOD));
}

bool _TaskItem::GetReminderSet() {
    return ToBool(GetProperty(kReminderSet));
}
CString _TaskItem::GetSubject() {
    return ToString(GetProperty(kSubject));
}
DATE _TaskItem::GetReminderTime() {
    return ToDate(GetProperty(kReminderTime));
}

int32_t RecurrencePattern::GetRecurrenceType() {
    return ToLong(GetProperty(kRecurrenceType));
}
int32_t RecurrencePattern::GetInterval() {
    return ToLong(GetProperty(kInterval));
}
int32_t RecurrencePattern::GetInstance() {
    return ToLong(GetProperty(kInstance));
}
int32_t RecurrencePattern::GetDayOfWeekMask() {
    return ToLong(GetProperty(kDayOfWeekMask));
}
int32_t RecurrencePattern::GetDayOfMonth() {
    return ToLong(GetProperty(kDayOfMonth));
}
int32_t RecurrencePattern::GetMonthOfYear() {
    return ToLong(GetProperty(kMonthOfYear));
}
