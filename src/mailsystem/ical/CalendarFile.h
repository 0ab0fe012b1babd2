// What one iCalendar file holds for the queries: the occurrences of its events within a window
// of time, and all its tasks.
#pragma once

#include "mailsystem/model/Items.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mail::calendar {

// The instants [from, to] for which a FileContents knows every occurrence.
struct Window {
    int64_t from = 0;
    int64_t to = -1; // to < from: no occurrence is known
    bool Covers(int64_t f, int64_t t) const { return from <= f && t <= to; }
};

// What occurrences of one event share.
struct Item {
    std::string uid, subject, location;
    bool reminderSet = false;
    bool recurring = false;
    RecurrencePattern pattern;
};

struct Instance {
    int64_t start = 0, end = 0;
    int32_t lead = 0;   // ReminderMinutesBeforeStart
    uint32_t item = 0;  // index into FileContents::items
    uint32_t order = 0; // the component's position in the file
    // Where the scan's advance by the pattern from this occurrence can land, the series has no
    // such occurrence (an excluded or moved one, one past its end, a date its rule skips, an
    // hour that a change of daylight-saving time moves): the occurrence reports pattern type 4.
    bool irregular = false;
};

struct FileContents {
    Window window;
    std::vector<Item> items;
    std::vector<Instance> instances; // ordered by start, then file order
    std::vector<Task> tasks;         // every VTODO, in file order
    size_t parsedComponents = 0;     // how many components libical parsed (statistics)
    // What was read with a repair or a guess (sentence fragments that follow the file's name,
    // such as "names the time zone ..."); empty for a file read exactly.
    std::vector<std::string> notices;
};

// Reads `text` (a whole file) for `window`: events that cannot have an occurrence in it are not
// parsed, and of several versions of one item only the latest counts. False, with a sentence
// fragment in `damage`, when the file's structure is broken.
bool Build(std::string_view text, Window window, FileContents& out, std::string& damage);

// Appends the occurrences with from <= start <= to (within the built window).
void AppendAppointments(const FileContents& contents, int64_t from, int64_t to,
                        std::vector<Appointment>& out);

} // namespace mail::calendar
