// The automation layer's filter strings and sort keys: the same answer twice, a date literal
// that reads back as it is written, and no item matching a filter outside the [Start] range
// that the store expands recurrences over (Find relies on that range holding every match).
#include "FuzzCheck.h"
#include "outlook/automation/Filter.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

using namespace automation;

constexpr int64_t kNow = 1773493540; // 14 March 2026, 09:05:40 in New York

mail::Appointment AppointmentAt(int64_t start, const char* subject) {
    mail::Appointment a;
    a.subject = subject;
    a.location = "Room 1";
    a.start = start;
    a.end = start + 3600;
    a.reminderSet = true;
    a.reminderMinutesBeforeStart = 15;
    return a;
}

void CheckDateLiteral(std::string_view text) {
    LocalMinute m;
    if (!ParseDateLiteral(text, m))
        return;
    FUZZ_CHECK(m.month >= 1 && m.month <= 12 && m.day >= 1 && m.day <= 31 && m.hour >= 0 &&
                   m.hour <= 23 && m.minute >= 0 && m.minute <= 59,
               "a date literal read outside the calendar");
    char written[64];
    if (m.year >= 1969 && m.year <= 2068) {
        const int hour12 = m.hour % 12 == 0 ? 12 : m.hour % 12;
        std::snprintf(written, sizeof written, "%02d/%02d/%02d %02d:%02d%s", m.month, m.day,
                      m.year % 100, hour12, m.minute, m.hour < 12 ? "AM" : "PM");
    } else {
        std::snprintf(written, sizeof written, "%02d/%02d/%04d %02d:%02d", m.month, m.day, m.year,
                      m.hour, m.minute);
    }
    LocalMinute back;
    FUZZ_CHECK(ParseDateLiteral(written, back) && back.year == m.year && back.month == m.month &&
                   back.day == m.day && back.hour == m.hour && back.minute == m.minute,
               std::string("a date literal does not read back as written: ") + written);
    const MinuteSpan span = LocalMinuteSpan(m);
    FUZZ_CHECK(span.last >= span.first - 1 && span.last - span.first < 2 * 3600 + 60,
               "a minute spans an impossible stretch of time");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const ItemClass itemClass = input.Byte() & 1 ? ItemClass::Task : ItemClass::Appointment;
    const std::string_view text = input.Rest();

    CheckDateLiteral(text);

    ItemProperty sortKey, sortKeyAgain;
    CString error, errorAgain;
    const bool sortable = ParseSortProperty(text, itemClass, sortKey, error);
    FUZZ_CHECK(ParseSortProperty(text, itemClass, sortKeyAgain, errorAgain) == sortable &&
                   error == errorAgain && (!sortable || sortKey == sortKeyAgain),
               "a sort key read twice differs");

    error.clear();
    errorAgain.clear();
    const std::optional<RestrictionFilter> filter =
        RestrictionFilter::Parse(text, itemClass, error);
    const std::optional<RestrictionFilter> again =
        RestrictionFilter::Parse(text, itemClass, errorAgain);
    FUZZ_CHECK(filter.has_value() == again.has_value() && error == errorAgain,
               "a filter read twice differs");
    if (!filter) {
        FUZZ_CHECK(!error.empty(), "a refused filter without a reason");
        return 0;
    }
    FUZZ_CHECK(filter->StartFrom() == again->StartFrom() && filter->StartTo() == again->StartTo(),
               "a filter read twice gives other ranges");

    if (itemClass == ItemClass::Task) {
        mail::Task task;
        task.subject = "Call back";
        task.reminderSet = true;
        task.reminderTime = kNow;
        FUZZ_CHECK(filter->Matches(task) == again->Matches(task), "a task matched differently");
        return 0;
    }
    // Items at the edges of the range and around the moment of the scan.
    std::vector<int64_t> starts = {kNow, kNow + 604800, 0, 79870665600};
    for (const std::optional<int64_t>& edge : {filter->StartFrom(), filter->StartTo()}) {
        if (edge) {
            for (int64_t d : {-61, -1, 0, 1, 59, 60})
                starts.push_back(*edge + d);
        }
    }
    for (int64_t start : starts) {
        const mail::Appointment a = AppointmentAt(start, "Budget review");
        const bool matches = filter->Matches(a);
        FUZZ_CHECK(again->Matches(a) == matches, "an item matched differently");
        if (matches) {
            FUZZ_CHECK(!filter->StartFrom() || start >= *filter->StartFrom(),
                       "an item before the [Start] range matches");
            FUZZ_CHECK(!filter->StartTo() || start <= *filter->StartTo(),
                       "an item after the [Start] range matches");
        }
    }
    return 0;
}
