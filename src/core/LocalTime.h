// Local-time conversions that remember the zone's offsets. The C library's localtime_r and mktime
// cost about a thousand instructions each, and a scan converts every item's times several times;
// these give the same results from memory for times near ones converted before.
#pragma once

#include <cstdint>
#include <ctime>

namespace local_time {

// As localtime_r. False when the C library cannot break the time down.
bool Breakdown(int64_t instant, struct tm& out);

// As mktime with tm_isdst -1 on these fields, which may lie outside their ranges (mktime
// normalises them: a day 31 of a 30-day month runs into the next month). -1 with errno set as
// mktime gives it when the C library cannot represent the result.
int64_t Instant(int year, int month, int day, int hour, int minute, int second);

// How many conversions were answered from memory and how many asked the C library (tests).
struct Stats {
    uint64_t remembered = 0;
    uint64_t asked = 0;
};
Stats GetStats();

} // namespace local_time
