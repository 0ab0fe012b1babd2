// The reminder list.
#include "paging/CRemList.h"

#include <algorithm>

CRemList::~CRemList() {
    ClearList();
}

void CRemList::AddReminder(const CTime& reminderTime, const CTime& start, const CTime& end,
                           const CString& subject) {
    auto record = std::make_unique<ReminderStru>();
    record->PageTime = reminderTime - timespans::kMinute;
    if (start != CTime(0)) {
        record->StartTime = start;
        record->EndTime = end;
        record->Text = start.Format("%I:%M-") + end.Format("%I:%M ") + subject;
        record->TimeKey = start.Format("%H%M");
    } else {
        record->StartTime = record->PageTime;
        record->EndTime = record->PageTime;
        record->Text = subject;
        record->TimeKey = record->PageTime.Format("%H%M");
    }
    if (!IsReminderDuplicate(record.get()))
        m_records.push_back(std::move(record));
    NoteHead();
}

int CRemList::IsReminderDuplicate(const ReminderStru* candidate) const {
    for (const auto& r : m_records) {
        if (r->PageTime == candidate->PageTime && r->StartTime == candidate->StartTime &&
            r->EndTime == candidate->EndTime && r->Text == candidate->Text &&
            r->TimeKey == candidate->TimeKey)
            return 1;
    }
    return 0;
}

void CRemList::SortList() {
    // std::list::sort is stable: equal page times keep the order in which they were added.
    m_records.sort([](const auto& a, const auto& b) { return a->PageTime < b->PageTime; });
    NoteHead();
}

void CRemList::DeleteReminder(const ReminderStru* record) {
    auto it = std::find_if(m_records.begin(), m_records.end(),
                           [record](const auto& r) { return r.get() == record; });
    if (it != m_records.end())
        m_records.erase(it);
    NoteHead();
}

void CRemList::ClearList() {
    while (!m_records.empty())
        m_records.pop_front();
    NoteHead();
}
