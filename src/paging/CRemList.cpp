// The reminder list.
#include "paging/CRemList.h"

#include "paging/EventLog.h"

#include <algorithm>
#include <functional>

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

CRemList::~CRemList() = default;

void CRemList::AddReminder(const CTime& reminderTime, const CTime& start, const CTime& end,
                           const CString& subject) {
    // A record of the cleared list is filled again, keeping its allocations: a rescan adds
    // every record of a user again.
    if (m_spare.empty())
        m_spare.push_back(std::make_unique<ReminderStru>());
    ReminderStru* record = m_spare.front().get();
    record->PageTime = reminderTime - timespans::kMinute;
    const CString times = start != CTime(0) ? start.Format("%I:%M-") + end.Format("%I:%M ") : "";
    if (times.size() + subject.size() > kMaxPageText) {
        const CString event =
            "The text of the reminder due at " + record->PageTime.Format("%m/%d/%y %H:%M") +
            " is " + std::to_string(times.size() + subject.size()) +
            " bytes long; its page carries the first " + std::to_string(kMaxPageText) + " bytes.";
        LogEvent(EventLog::kEventId, event.c_str());
    }
    record->Text = times.size() + subject.size() > kMaxPageText
                       ? times + Cut(subject, kMaxPageText - times.size())
                       : times + subject;
    if (start != CTime(0)) {
        record->StartTime = start;
        record->EndTime = end;
        record->TimeKey = start.Format("%H%M");
    } else {
        record->StartTime = record->PageTime;
        record->EndTime = record->PageTime;
        record->TimeKey = record->PageTime.Format("%H%M");
    }
    if (!IsReminderDuplicate(record)) {
        m_keys.push_back(KeyOf(*record));
        m_records.splice(m_records.end(), m_spare, m_spare.begin());
    }
    NoteHead();
}

void CRemList::AppendReminder(const ReminderStru& record) {
    if (IsReminderDuplicate(&record))
        return;
    m_keys.push_back(KeyOf(record));
    m_records.push_back(std::make_unique<ReminderStru>(record));
    NoteHead();
}

uint64_t CRemList::Fingerprint() const {
    // A sum does not depend on the order; the count keeps a list apart from one that holds a
    // record whose key is the sum of two others.
    uint64_t sum = 0;
    for (const size_t key : m_keys)
        sum += key;
    return sum ^ (uint64_t(m_keys.size()) * 0x9e3779b97f4a7c15ull);
}

size_t CRemList::KeyOf(const ReminderStru& r) {
    size_t key = std::hash<CString>()(r.Text);
    for (const size_t part : {std::hash<CString>()(r.TimeKey), size_t(r.PageTime.GetTime()),
                              size_t(r.StartTime.GetTime()), size_t(r.EndTime.GetTime())})
        key = (key ^ part) * 0x100000001b3ull;
    return key;
}

CRemList::Records::iterator CRemList::Erase(Records::iterator it) {
    const auto key = std::find(m_keys.begin(), m_keys.end(), KeyOf(**it));
    if (key != m_keys.end()) {
        *key = m_keys.back();
        m_keys.pop_back();
    }
    return m_records.erase(it);
}

int CRemList::IsReminderDuplicate(const ReminderStru* candidate) const {
    if (std::find(m_keys.begin(), m_keys.end(), KeyOf(*candidate)) == m_keys.end())
        return 0;
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
        Erase(it);
    NoteHead();
}

void CRemList::ClearList() {
    // Kept for the next additions; destroyed with the list.
    m_spare.splice(m_spare.end(), m_records);
    m_keys.clear();
    NoteHead();
}
