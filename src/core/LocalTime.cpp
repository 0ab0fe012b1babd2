// Local-time conversions with the zone's offsets remembered in stretches of time without a change.
#include "LocalTime.h"

#include "CivilDays.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <utility>

namespace local_time {
namespace {

// In the time zone database every zone keeps its offset for more than four days between two
// changes (checked over 1901 to 2038), and UTC offsets lie between -12 and +14 hours. So a time
// whose offset, daylight-saving flag and zone name equal those of the times three days before and
// after it lies in a stretch of six days without a change; and a local time that maps to an
// instant more than 26 hours inside such a stretch maps to no other instant (a second one would
// differ from it by two offsets' difference, inside the stretch, where the offset is the same).
// A TZ rule of one's own that changes the offset more often than every four days is answered
// wrongly near its changes; no zone of the database does.
constexpr int64_t kReach = 3 * 86400;
constexpr int64_t kUniqueMargin = 27 * 3600;
constexpr int64_t kFarthest = int64_t(1) << 40; // far beyond any time the program converts
constexpr int kStretches = 8;

struct Stretch {
    int64_t from = 0, to = 0; // inclusive
    long offset = 0;          // tm_gmtoff
    int isdst = 0;
    const char* zone = nullptr; // tm_zone: the C library keeps its zone names for good
};

struct Memory {
    bool known = false;
    bool hadZone = false; // TZ was set
    std::string zone;     // its value
    // Where TZ was found, so that an unchanged environment is recognised without a search: the
    // environment array, TZ's slot in it and the entry there (or, without TZ, the number of
    // entries). setenv replaces a changed entry and grows the array for a new one.
    char** environment = nullptr;
    std::size_t slot = 0;
    const char* entry = nullptr;
    Stretch stretches[kStretches];
    int count = 0;
    int next = 0; // the stretch replaced next once all are in use
    // The last local day broken down: a scan converts many times of the same few days.
    // The last two instants broken down from a stretch (a scan breaks each item's start and
    // end down several times), valid while the stretches are: forgotten with them.
    struct Recent {
        bool valid = false;
        int64_t instant = 0;
        struct tm tm = {};
    } recent[2];
    int nextRecent = 0;
    int64_t lastDays = INT64_MIN;
    int64_t lastYear = 0;
    int lastMonth = 0, lastDay = 0, lastYearDay = 0;
    Stats stats;
};

thread_local Memory t_memory;

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

using civil::DaysFromCivil;

bool EnvironmentUnchanged(const Memory& m) {
    if (!m.known || !environ || environ != m.environment)
        return false;
    return m.hadZone ? environ[m.slot] == m.entry : environ[m.slot] == nullptr;
}

// The memory of the zone in force; forgotten (and the C library told) when TZ changes.
Memory& Current() {
    Memory& m = t_memory;
    if (EnvironmentUnchanged(m))
        return m;
    const char* zone = nullptr;
    std::size_t slot = 0;
    for (; environ && environ[slot]; ++slot) {
        if (std::strncmp(environ[slot], "TZ=", 3) == 0) {
            zone = environ[slot] + 3;
            break;
        }
    }
    if (!m.known || m.hadZone != (zone != nullptr) || (zone && m.zone != zone)) {
        tzset();
        m.hadZone = zone != nullptr;
        m.zone = zone ? zone : "";
        m.count = 0;
        m.next = 0;
        m.recent[0].valid = m.recent[1].valid = false;
    }
    m.known = true;
    m.environment = environ;
    m.slot = slot;
    m.entry = zone ? environ[slot] : nullptr;
    return m;
}

bool SameZone(const struct tm& a, const struct tm& b) {
    return a.tm_gmtoff == b.tm_gmtoff && a.tm_isdst == b.tm_isdst &&
           (a.tm_zone == b.tm_zone ||
            (a.tm_zone && b.tm_zone && std::strcmp(a.tm_zone, b.tm_zone) == 0));
}

void Fill(Memory& m, const Stretch& s, int64_t instant, struct tm& out);

bool SameFields(const struct tm& a, const struct tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec &&
           a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday;
}

// Remembers the stretch around `instant`, whose breakdown is `tm`, when it has no change and the
// arithmetic gives what the C library gives (not so in a zone that counts leap seconds).
void Learn(Memory& m, int64_t instant, const struct tm& tm) {
    if (instant < -kFarthest || instant > kFarthest)
        return;
    struct tm before, after;
    const time_t early = time_t(instant - kReach), late = time_t(instant + kReach);
    if (!localtime_r(&early, &before) || !localtime_r(&late, &after) || !SameZone(before, tm) ||
        !SameZone(after, tm))
        return;
    const Stretch found{instant - kReach, instant + kReach, tm.tm_gmtoff, tm.tm_isdst, tm.tm_zone};
    struct tm check;
    for (const auto& [at, expected] : {std::pair<int64_t, const struct tm*>{instant, &tm},
                                       {instant - kReach, &before},
                                       {instant + kReach, &after}}) {
        Fill(m, found, at, check);
        if (!SameFields(check, *expected))
            return;
    }
    if (m.count < kStretches) {
        m.stretches[m.count++] = found;
    } else {
        m.stretches[m.next] = found;
        m.next = (m.next + 1) % kStretches;
    }
}

void Fill(Memory& m, const Stretch& s, int64_t instant, struct tm& out) {
    const int64_t local = instant + s.offset;
    const int64_t days = FloorDiv(local, 86400);
    const int second = int(local - days * 86400);
    if (days != m.lastDays) {
        const civil::Date date = civil::CivilFromDays(days);
        m.lastYear = date.year;
        m.lastMonth = date.month;
        m.lastDay = date.day;
        m.lastYearDay = int(days - DaysFromCivil(m.lastYear, 1, 1));
        m.lastDays = days;
    }
    out = {};
    out.tm_year = int(m.lastYear - 1900);
    out.tm_mon = m.lastMonth - 1;
    out.tm_mday = m.lastDay;
    out.tm_hour = second / 3600;
    out.tm_min = second / 60 % 60;
    out.tm_sec = second % 60;
    out.tm_wday = int(((days % 7) + 7 + 4) % 7); // 1 January 1970 was a Thursday
    out.tm_yday = m.lastYearDay;
    out.tm_isdst = s.isdst;
    out.tm_gmtoff = s.offset;
    out.tm_zone = s.zone;
}

} // namespace

bool Breakdown(int64_t instant, struct tm& out) {
    Memory& m = Current();
    for (const Memory::Recent& r : m.recent) {
        if (r.valid && r.instant == instant) {
            ++m.stats.remembered;
            out = r.tm;
            return true;
        }
    }
    for (int i = 0; i < m.count; ++i) {
        const Stretch& s = m.stretches[i];
        if (s.from <= instant && instant <= s.to) {
            ++m.stats.remembered;
            Fill(m, s, instant, out);
            Memory::Recent& r = m.recent[m.nextRecent];
            m.nextRecent ^= 1;
            r = {true, instant, out};
            return true;
        }
    }
    ++m.stats.asked;
    const time_t t = time_t(instant);
    if (!localtime_r(&t, &out))
        return false;
    Learn(m, instant, out);
    return true;
}

int64_t Instant(int year, int month, int day, int hour, int minute, int second) {
    Memory& m = Current();
    const int64_t months = int64_t(month) - 1;
    const int64_t local = (DaysFromCivil(year + FloorDiv(months, 12),
                                         int(months - FloorDiv(months, 12) * 12 + 1), 1) +
                           int64_t(day) - 1) *
                              86400 +
                          int64_t(hour) * 3600 + int64_t(minute) * 60 + second;
    for (int i = 0; i < m.count; ++i) {
        const Stretch& s = m.stretches[i];
        const int64_t guess = local - s.offset;
        if (s.from + kUniqueMargin <= guess && guess <= s.to - kUniqueMargin) {
            ++m.stats.remembered;
            return guess;
        }
    }
    ++m.stats.asked;
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const time_t result = mktime(&tm);
    if (result != time_t(-1))
        Learn(m, int64_t(result), tm);
    return int64_t(result);
}

Stats GetStats() {
    return t_memory.stats;
}

} // namespace local_time
