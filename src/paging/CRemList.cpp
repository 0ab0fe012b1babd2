// The reminder list.
#include "paging/CRemList.h"

#include "paging/EventLog.h"

#include <algorithm>

namespace {

// A page goes to a pager, whose messages hold a few hundred characters. A longer text (a
// subject of megabytes that someone's calendar holds) is cut here, with an event, so that it
// travels no further than the scan.
constexpr size_t kMaxPageText = 1000;

// The first `room` bytes of `text`, not ending inside a UTF-8 character.
CString Cut(const CString& text, size_t room) {
    size_t n = room;
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80 &&
           room - n < 3)
        --n;
    return text.substr(0, n);
}

} // namespace

CRemList::~CRemList() {
    ClearList();
}

void CRemList::AddReminder(const CTime& reminderTime, const CTime& start, const CTime& end,
                           const CString& subject) {
    auto record = std::make_unique<ReminderStru>();
    record->PageTime = reminderTime - timespans::kMinute;
    const CString times = start != CTime(0) ? start.Format("%I:%M-") + end.Format("%I:%M ") : "";
    if (times.size() + subject.size() > kMaxPageText) {
        const CString event =
            "The text of the reminder due at " + record->PageTime.Format("%m/%d/%y %H:%M") +
            " is " + std::to_string(times.size() + subject.size()) +
            " bytes long; its page carries the first " + std::to_string(kMaxPageText) + " bytes.";
        LogEvent(EventLog::kEventId, event.c_str());
    }
    const CString text = times.size() + subject.size() > kMaxPageText
                             ? times + Cut(subject, kMaxPageText - times.size())
                             : times + subject;
    if (start != CTime(0)) {
        record->StartTime = start;
        record->EndTime = end;
        record->Text = text;
        record->TimeKey = start.Format("%H%M");
    } else {
        record->StartTime = record->PageTime;
        record->EndTime = record->PageTime;
        record->Text = text;
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
