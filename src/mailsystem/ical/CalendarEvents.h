// Parsed VEVENTs and VTODOs read into what the calendar reader needs: times as instants in their
// zones, the rules, added and excluded dates, the exception an event is, and its reminder.
#pragma once

#include "mailsystem/ical/IcalTime.h"
#include "mailsystem/model/Items.h"

#include <cstdint>
#include <libical/ical.h>
#include <string>
#include <vector>

namespace mail::calendar {

// A date as YYYYMMDD, to compare DATE values without a time of day.
int DateKey(const icaltimetype& t);

// What an alarm's trigger says.
struct Trigger {
    enum Kind { None, Start, End, Absolute };
    Kind kind = None;
    int64_t value = 0; // Start, End: signed seconds from that edge; Absolute: the instant
};

struct Event {
    uint32_t order = 0; // the component's position in the file
    std::string uid, subject, location;
    bool hasSubject = false;
    bool cancelled = false;
    icaltimetype start{}; // DTSTART as written (wall-clock, no zone of libical's)
    ical::Zone zone;      // its zone; Floating for dates
    int64_t startInstant = 0;
    int spanDays = 0;     // all-day events: days from start to end
    int64_t duration = 0; // other events: seconds from start to end
    Trigger trigger;
    std::vector<icalrecurrencetype> rules; // as ParseRule read them
    bool badRule = false;                  // an RRULE that cannot be read
    // EXDATEs: instants, and dates (DATE values, and any EXDATE of an all-day series).
    std::vector<int64_t> excludedInstants;
    std::vector<int> excludedDates;
    struct Added {
        int64_t start, end;
    };
    std::vector<Added> added; // RDATE
    // An exception (RECURRENCE-ID): the occurrence it replaces, as written; a floating one lies
    // in the series' zone (RecurrenceIdIn).
    bool isOverride = false;
    bool recurrenceIdIsDate = false;
    icaltimetype recurrenceId{};
    ical::Zone recurrenceIdZone;
    bool recurrenceIdFloating = false;

    bool Recurring() const { return !rules.empty() || !added.empty() || badRule; }
    // The end of an occurrence that starts at `occurrence` (wall-clock) or `instant`.
    int64_t EndOf(const icaltimetype& occurrence, int64_t instant) const;
    // The instant of the occurrence this exception replaces, in a series in `seriesZone`.
    int64_t RecurrenceIdIn(const ical::Zone& seriesZone) const;
};

// An event's RRULEs, read from their values (recurrence::ParseRule).
struct Rules {
    std::vector<icalrecurrencetype> rules;
    bool bad = false; // one of them cannot be read
};
Rules ReadRules(const std::vector<std::string>& values);

// Fills `e` from a parsed VEVENT and its rules (read apart from the component); false when it
// has no usable start. Values written without a zone (EXDATE, RECURRENCE-ID) in an event whose
// start has one are read in the start's zone, as the exporter meant them.
bool ReadEvent(icalcomponent* c, Rules rules, ical::ZoneTable& zones, Event& e);

Task ReadTask(icalcomponent* c, ical::ZoneTable& zones);

// Minutes before start, rounded so that the reminder is never later than the alarm.
int32_t Lead(const Trigger& trigger, int64_t start, int64_t end, int64_t seriesStart);

} // namespace mail::calendar
