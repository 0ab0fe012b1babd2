// A calendar file as any program may write it, through the byte pre-scan and the calendar reader
// at a fixed moment: the same answer twice, occurrences inside the range asked for and in order,
// patterns that the scan can step by, and a narrower range answered from a wider reading exactly
// as from its own (the calendar cache relies on that).
#include "FuzzCheck.h"
#include "mailsystem/ical/CalendarFile.h"
#include "mailsystem/ical/IcalTime.h"
#include "mailsystem/ical/IcsScanner.h"

#include <cstdlib>
#include <ctime>

namespace {

// Saturday 14 March 2026, 09:05:40 in New York: a week that holds no change of clocks, and one
// (8 March) just before it that a walk from two days back may meet.
constexpr int64_t kNow = 1773493540;
constexpr int64_t kDay = 86400;

bool SameAppointment(const mail::Appointment& a, const mail::Appointment& b) {
    const auto& p = a.pattern;
    const auto& q = b.pattern;
    return a.subject == b.subject && a.location == b.location && a.start == b.start &&
           a.end == b.end && a.reminderSet == b.reminderSet &&
           a.reminderMinutesBeforeStart == b.reminderMinutesBeforeStart &&
           a.isRecurring == b.isRecurring && a.uid == b.uid &&
           p.recurrenceType == q.recurrenceType && p.interval == q.interval &&
           p.instance == q.instance && p.dayOfWeekMask == q.dayOfWeekMask &&
           p.dayOfMonth == q.dayOfMonth && p.monthOfYear == q.monthOfYear;
}

bool SameList(const std::vector<mail::Appointment>& a, const std::vector<mail::Appointment>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameAppointment(a[i], b[i]))
            return false;
    }
    return true;
}

bool SameTasks(const std::vector<mail::Task>& a, const std::vector<mail::Task>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].subject != b[i].subject || a[i].reminderSet != b[i].reminderSet ||
            (a[i].reminderSet && a[i].reminderTime != b[i].reminderTime))
            return false;
    }
    return true;
}

// A pattern the scan's stepping can use: the types it knows, with the values each one reads.
void CheckPattern(const mail::RecurrencePattern& p) {
    switch (p.recurrenceType) {
    case 0:
        FUZZ_CHECK(p.interval > 0 || (p.dayOfWeekMask > 0 && p.dayOfWeekMask < 128),
                   "a daily pattern with neither interval nor days");
        break;
    case 1:
        FUZZ_CHECK(p.dayOfWeekMask > 0 && p.dayOfWeekMask < 128 && p.interval > 0,
                   "a weekly pattern without days or interval");
        break;
    case 2:
        FUZZ_CHECK(p.dayOfMonth >= 1 && p.dayOfMonth <= 31 && p.interval > 0,
                   "a monthly pattern without a day of the month");
        break;
    case 3:
    case 6:
        FUZZ_CHECK(p.dayOfWeekMask > 0 && p.dayOfWeekMask < 128 && p.instance >= 1 &&
                       p.instance <= 5,
                   "an Nth-weekday pattern without days or instance");
        break;
    case 4:
        break;
    case 5:
        FUZZ_CHECK(p.dayOfMonth >= 1 && p.dayOfMonth <= 31 && p.monthOfYear >= 1 &&
                       p.monthOfYear <= 12,
                   "a yearly pattern without a date");
        break;
    default:
        FUZZ_CHECK(false,
                   "a pattern type the scan does not know: " + std::to_string(p.recurrenceType));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mail;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const ics::ScanResult scan = ics::Scan(text);
    uint32_t previousEnd = 0;
    for (const ics::RawComponent& c : scan.components) {
        FUZZ_CHECK(c.begin < c.end && c.end <= size && c.begin >= previousEnd,
                   "components out of order or outside the text");
        previousEnd = c.end;
    }

    // The range a scan at kNow asks for: seven days, and the day the cache adds.
    const calendar::Window wide{kNow - 60, kNow + 8 * kDay};
    calendar::FileContents first, second;
    std::string damage, damageAgain;
    const bool ok = calendar::Build(text, wide, first, damage);
    const bool okAgain = calendar::Build(text, wide, second, damageAgain);
    ical::ZonePoolTrim(8);
    FUZZ_CHECK(ok == okAgain && damage == damageAgain, "the same file read twice differs");
    FUZZ_CHECK(ok == scan.damage.empty(), "the reader and the pre-scan disagree about damage");
    if (!ok) {
        FUZZ_CHECK(!damage.empty(), "a refused file without a reason");
        return 0;
    }

    std::vector<Appointment> all, allAgain;
    calendar::AppendAppointments(first, wide.from, wide.to, all);
    calendar::AppendAppointments(second, wide.from, wide.to, allAgain);
    FUZZ_CHECK(SameList(all, allAgain), "the same file read twice gave other occurrences");
    FUZZ_CHECK(SameTasks(first.tasks, second.tasks), "the same file read twice gave other tasks");
    FUZZ_CHECK(all.size() == first.instances.size(), "occurrences outside the range were kept");
    for (size_t i = 0; i < all.size(); ++i) {
        FUZZ_CHECK(all[i].start >= wide.from && all[i].start <= wide.to,
                   "an occurrence outside the range");
        FUZZ_CHECK(i == 0 || all[i - 1].start <= all[i].start, "occurrences out of order");
        FUZZ_CHECK(all[i].end >= all[i].start, "an occurrence that ends before it starts");
        FUZZ_CHECK(first.instances[i].item < first.items.size(), "an occurrence of no item");
        if (all[i].isRecurring)
            CheckPattern(all[i].pattern);
    }

    // A later, narrower range read on its own gives what the wide reading holds for it.
    const calendar::Window narrow{kNow + kDay, kNow + 3 * kDay};
    calendar::FileContents third;
    std::string damageNarrow;
    FUZZ_CHECK(calendar::Build(text, narrow, third, damageNarrow),
               "a narrower range made the file damaged");
    ical::ZonePoolTrim(8);
    std::vector<Appointment> fromWide, fromNarrow;
    calendar::AppendAppointments(first, narrow.from, narrow.to, fromWide);
    calendar::AppendAppointments(third, narrow.from, narrow.to, fromNarrow);
    FUZZ_CHECK(SameList(fromWide, fromNarrow),
               "a range answered from a wider reading differs from its own reading (" +
                   std::to_string(fromWide.size()) + " against " +
                   std::to_string(fromNarrow.size()) + " occurrences)");
    return 0;
}
