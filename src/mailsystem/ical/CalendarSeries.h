// Turning the events of one calendar file into the items and occurrences of its contents:
// single appointments, and series expanded over the window with their exceptions, with the
// rules that were not read as written named in notices.
#pragma once

#include "mailsystem/ical/CalendarEvents.h"
#include "mailsystem/ical/CalendarFile.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace mail::calendar::detail {

// Rules not read as written that one file's notices name one by one; the rest are counted.
constexpr size_t kNamedFaults = 10;

class Builder {
public:
    Builder(FileContents& out, Window window) : m_out(out), m_window(window) {}

    void AddSingle(const Event& e, bool recurring);
    void AddSeries(const Event& master, const std::vector<const Event*>& overrides);
    // Names the rules of `e` that were not read as written.
    void NameReadFaults(const Event& e);
    // Appends the notices for the faults named, in file order, at most kNamedFaults of them.
    void AddNotices();

private:
    struct Named {
        uint32_t order;
        std::string uid;
        RuleFault fault;
        bool othersRemain;
    };
    void NameRefused(const Event& e, const std::vector<bool>& refused,
                     const std::vector<bool>& exclusionRefused);
    // Whether `e` has other dates than DTSTART without the rules marked in `refused`.
    static bool OtherDates(const Event& e, const std::vector<bool>& refused) {
        return !e.added.empty() || std::count(refused.begin(), refused.end(), false) > 0;
    }

    // An exception keeps its own location (none when it has none), as it replaces the
    // occurrence whole; only a missing subject is taken from the series, so that its page
    // still says what it is.
    uint32_t NewItem(const Event& e, bool recurring, const RecurrencePattern& pattern,
                     const Event* series) {
        Item item;
        item.uid = e.uid;
        item.subject = (!e.hasSubject && series) ? series->subject : e.subject;
        item.location = e.location;
        item.reminderSet = e.trigger.kind != Trigger::None && !e.cancelled;
        item.recurring = recurring;
        item.pattern = pattern;
        m_out.items.push_back(std::move(item));
        return static_cast<uint32_t>(m_out.items.size() - 1);
    }
    bool InWindow(int64_t instant) const {
        return instant >= m_window.from && instant <= m_window.to;
    }

    FileContents& m_out;
    Window m_window;
    std::vector<Named> m_faults;
};

} // namespace mail::calendar::detail
