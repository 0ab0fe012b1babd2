// Restriction filters of Items.Find and the sort keys of Items.Sort, over the store's items.
#pragma once

#include "core/CString.h"
#include "mailsystem/MailSystem.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace automation {

enum class ItemClass { Appointment, Task };

enum class ItemProperty {
    Start,        // date; a task has none
    End,          // date; appointments only
    ReminderTime, // date; an appointment's start minus its lead; none without a reminder
    Subject,      // text
    Location,     // text; appointments only
    ReminderSet,  // Boolean
    ReminderMinutesBeforeStart, // integer; appointments only
    IsRecurring,                // Boolean; appointments only
};

// The instant (seconds since 1970) a date property without a value compares as: Outlook's
// "None" date, 1 January 4501, later than every date the program writes.
inline constexpr int64_t kNoneInstant = 79870665600;

// A local date and minute as a filter literal names it.
struct LocalMinute {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

// The instants whose local time lies in that minute, first to last inclusive. A minute that the
// clock passes twice (the repeated hour when daylight-saving time ends) spans both passes, from
// the first second of the earlier to the last of the later. A minute that never occurs (skipped
// when daylight-saving time begins) has first at the change and last = first - 1: nothing lies
// in it, everything before it is earlier and everything from the change on is later.
struct MinuteSpan {
    int64_t first = 0;
    int64_t last = 0;
};
MinuteSpan LocalMinuteSpan(const LocalMinute& minute);

// Reads a date literal: "MM/DD/YY HH:MMAM" (the C locale's "%x %I:%M%p") or "MM/DD/YY HH:MM"
// ("%m/%d/%y %H:%M"). Also accepted: one-digit month, day and hour, a four-digit year, a space
// before AM or PM, lower case, and a date alone (midnight). Two-digit years 00 to 68 are
// 2000 to 2068, 69 to 99 are 1969 to 1999 (the POSIX rule). False for anything else, including
// a date that does not exist (02/30/01) and an hour 00 or above 12 with AM or PM.
bool ParseDateLiteral(std::string_view text, LocalMinute& out);

// A parsed filter: comparisons joined by AND, each "[Property] op value" with the operators
// >=, <=, >, <, =, <>. Dates compare at the minute: an item matches "= '03/14/01 09:05'"
// anywhere from 09:05:00 to 09:05:59. Texts compare without regard to ASCII case. A Boolean
// takes True, False or a number, and only = and <>.
class RestrictionFilter {
public:
    // Null, with a description in `error`, when the text is malformed or names a property that
    // the items do not have.
    static std::optional<RestrictionFilter> Parse(std::string_view text, ItemClass itemClass,
                                                  CString& error);

    bool Matches(const mail::Appointment& item) const;
    bool Matches(const mail::Task& item) const;

    // The range that a matching item's [Start] must lie in (inclusive), from the [Start]
    // comparisons; nothing on a side that they leave open.
    std::optional<int64_t> StartFrom() const { return m_startFrom; }
    std::optional<int64_t> StartTo() const { return m_startTo; }

private:
    enum class Op { Less, LessEqual, Equal, NotEqual, GreaterEqual, Greater };
    struct Condition {
        ItemProperty property;
        Op op;
        MinuteSpan date;    // date properties
        int64_t number = 0; // integers; Booleans as 0 or 1
        CString text;       // texts
    };
    friend class FilterParser;

    template <class Item> bool MatchesItem(const Item& item) const;

    std::vector<Condition> m_conditions;
    std::optional<int64_t> m_startFrom, m_startTo;
};

// Reads a sort key such as "[Start]"; false, with a description, for a property the items do not
// have.
bool ParseSortProperty(std::string_view text, ItemClass itemClass, ItemProperty& out,
                       CString& error);
// Strict order of two items by the property (dates and numbers ascending, texts without regard
// to ASCII case, false before true).
bool PropertyLess(ItemProperty property, const mail::Appointment& a, const mail::Appointment& b);
bool PropertyLess(ItemProperty property, const mail::Task& a, const mail::Task& b);

} // namespace automation
