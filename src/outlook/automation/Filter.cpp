// Parsing and matching of restriction filters and sort keys.
#include "Filter.h"

#include "OleDate.h"
#include "core/LocalTime.h"

#include <algorithm>
#include <charconv>
#include <ctime>

namespace automation {

namespace {

enum class ValueType { Date, Text, Integer, Boolean };

struct PropertyInfo {
    const char* name;
    ItemProperty property;
    ValueType type;
    bool task; // tasks have it too (every property is an appointment's)
};

constexpr PropertyInfo kProperties[] = {
    {"Start", ItemProperty::Start, ValueType::Date, true},
    {"End", ItemProperty::End, ValueType::Date, false},
    {"ReminderTime", ItemProperty::ReminderTime, ValueType::Date, true},
    {"Subject", ItemProperty::Subject, ValueType::Text, true},
    {"Location", ItemProperty::Location, ValueType::Text, false},
    {"ReminderSet", ItemProperty::ReminderSet, ValueType::Boolean, true},
    {"ReminderMinutesBeforeStart", ItemProperty::ReminderMinutesBeforeStart, ValueType::Integer,
     false},
    {"IsRecurring", ItemProperty::IsRecurring, ValueType::Boolean, false},
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

int CompareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = Lower(a[i]), y = Lower(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

const PropertyInfo* FindProperty(std::string_view name, ItemClass itemClass) {
    for (const PropertyInfo& p : kProperties) {
        if (EqualNoCase(name, p.name))
            return itemClass == ItemClass::Appointment || p.task ? &p : nullptr;
    }
    return nullptr;
}

ValueType TypeOf(ItemProperty property) {
    for (const PropertyInfo& p : kProperties) {
        if (p.property == property)
            return p.type;
    }
    return ValueType::Integer;
}

// One property of one item: dates as instants, integers and Booleans as numbers, texts by pointer.
struct Value {
    int64_t number = 0;
    const CString* text = nullptr;
};

Value ValueOf(ItemProperty property, const mail::Appointment& a) {
    switch (property) {
    case ItemProperty::Start:
        return {a.start};
    case ItemProperty::End:
        return {a.end};
    case ItemProperty::ReminderTime:
        return {a.reminderSet ? a.start - int64_t(a.reminderMinutesBeforeStart) * 60
                              : kNoneInstant};
    case ItemProperty::Subject:
        return {0, &a.subject};
    case ItemProperty::Location:
        return {0, &a.location};
    case ItemProperty::ReminderSet:
        return {a.reminderSet};
    case ItemProperty::ReminderMinutesBeforeStart:
        return {a.reminderMinutesBeforeStart};
    case ItemProperty::IsRecurring:
        return {a.isRecurring};
    }
    return {};
}

// Only the properties FindProperty allows for tasks are ever asked for.
Value ValueOf(ItemProperty property, const mail::Task& t) {
    switch (property) {
    case ItemProperty::ReminderTime:
        return {t.reminderSet ? t.reminderTime : kNoneInstant};
    case ItemProperty::Subject:
        return {0, &t.subject};
    case ItemProperty::ReminderSet:
        return {t.reminderSet};
    default:
        return {kNoneInstant};
    }
}

int Compare(ValueType type, const Value& a, const Value& b) {
    if (type == ValueType::Text)
        return CompareNoCase(*a.text, *b.text);
    return (a.number > b.number) - (a.number < b.number);
}

// The local wall-clock time of an instant, as seconds since 1970 read as UTC.
int64_t WallSeconds(int64_t t) {
    struct tm tm;
    return local_time::Breakdown(t, tm) ? t + tm.tm_gmtoff : t;
}

bool ReadNumber(std::string_view& s, std::size_t minDigits, std::size_t maxDigits, int& out) {
    std::size_t n = 0;
    while (n < s.size() && n < maxDigits && s[n] >= '0' && s[n] <= '9')
        ++n;
    if (n < minDigits)
        return false;
    out = 0;
    for (std::size_t i = 0; i < n; ++i)
        out = out * 10 + (s[i] - '0');
    s.remove_prefix(n);
    return true;
}

bool Take(std::string_view& s, char c) {
    if (s.empty() || s.front() != c)
        return false;
    s.remove_prefix(1);
    return true;
}

} // namespace

MinuteSpan LocalMinuteSpan(const LocalMinute& m) {
    const int64_t wall =
        DaysFromCivil(m.year, m.month, m.day) * 86400 + m.hour * 3600 + m.minute * 60;
    // Every offset from UTC that the zone uses a day around the minute; a zone changes at most
    // once in that time.
    int64_t offsets[3];
    for (int i = 0; i < 3; ++i) {
        const int64_t probe = wall + (i - 1) * 86400;
        offsets[i] = WallSeconds(probe) - probe;
    }
    bool found = false;
    MinuteSpan span;
    for (int64_t offset : offsets) {
        const int64_t t = wall - offset;
        if (WallSeconds(t) != wall)
            continue;
        span.first = found ? std::min(span.first, t) : t;
        span.last = found ? std::max(span.last, t + 59) : t + 59;
        found = true;
    }
    if (found)
        return span;
    // A skipped minute: find the change, the first instant whose wall clock is past the minute.
    int64_t low = std::min(wall - offsets[0], wall - offsets[2]);
    int64_t high = std::max(wall - offsets[0], wall - offsets[2]);
    if (WallSeconds(high) <= wall)
        return MinuteSpan{wall - offsets[1], wall - offsets[1] + 59}; // no change found: UTC-like
    while (low < high) {
        const int64_t mid = low + (high - low) / 2;
        if (WallSeconds(mid) > wall)
            high = mid;
        else
            low = mid + 1;
    }
    return MinuteSpan{low, low - 1};
}

bool ParseDateLiteral(std::string_view text, LocalMinute& out) {
    std::string_view s = Trim(text);
    LocalMinute m;
    if (!ReadNumber(s, 1, 2, m.month) || !Take(s, '/') || !ReadNumber(s, 1, 2, m.day) ||
        !Take(s, '/'))
        return false;
    const std::size_t before = s.size();
    if (!ReadNumber(s, 2, 4, m.year))
        return false;
    const std::size_t yearDigits = before - s.size();
    if (yearDigits == 2)
        m.year += m.year < 69 ? 2000 : 1900;
    else if (yearDigits != 4)
        return false;
    if (m.year < 100 || m.month < 1 || m.month > 12 || m.day < 1 ||
        m.day > DaysInMonth(m.year, m.month))
        return false;
    if (!s.empty()) {
        const std::size_t spaced = s.size();
        s = Trim(s);
        if (s.size() == spaced)
            return false; // the time must be set apart from the date
        if (!ReadNumber(s, 1, 2, m.hour) || !Take(s, ':') || !ReadNumber(s, 2, 2, m.minute))
            return false;
        s = Trim(s);
        if (s.empty()) {
            if (m.hour > 23)
                return false;
        } else {
            if (s.size() != 2 || Lower(s[1]) != 'm' || (Lower(s[0]) != 'a' && Lower(s[0]) != 'p'))
                return false;
            if (m.hour < 1 || m.hour > 12)
                return false;
            // 12:xxAM is just after midnight, 12:xxPM just after noon.
            m.hour = m.hour % 12 + (Lower(s[0]) == 'p' ? 12 : 0);
        }
        if (m.minute > 59)
            return false;
    }
    out = m;
    return true;
}

class FilterParser {
public:
    FilterParser(std::string_view text, ItemClass itemClass, CString& error)
        : m_text(text), m_class(itemClass), m_error(error) {}

    bool Parse(std::vector<RestrictionFilter::Condition>& out) {
        SkipSpace();
        for (;;) {
            RestrictionFilter::Condition c;
            if (!ParseCondition(c))
                return false;
            out.push_back(std::move(c));
            SkipSpace();
            if (m_pos == m_text.size())
                return true;
            if (m_text.size() - m_pos < 4 || !EqualNoCase(m_text.substr(m_pos, 3), "and") ||
                (m_text[m_pos + 3] != ' ' && m_text[m_pos + 3] != '\t' && m_text[m_pos + 3] != '['))
                return Fail(m_pos);
            m_pos += 3;
            SkipSpace();
        }
    }

private:
    using Op = RestrictionFilter::Op;

    bool Fail(std::size_t at) {
        m_error = "Cannot parse condition. Error at \"" + CString(m_text.substr(at)) + "\".";
        return false;
    }

    void SkipSpace() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t'))
            ++m_pos;
    }

    bool ParseCondition(RestrictionFilter::Condition& c) {
        const std::size_t start = m_pos;
        if (m_pos >= m_text.size() || m_text[m_pos] != '[')
            return Fail(start);
        const std::size_t close = m_text.find(']', m_pos);
        if (close == std::string_view::npos)
            return Fail(start);
        const std::string_view name = Trim(m_text.substr(m_pos + 1, close - m_pos - 1));
        const PropertyInfo* property = FindProperty(name, m_class);
        if (!property) {
            m_error = "The property \"" + CString(name) + "\" in the condition is not valid.";
            return false;
        }
        c.property = property->property;
        m_pos = close + 1;
        SkipSpace();
        const std::size_t opAt = m_pos;
        if (!ParseOperator(c.op))
            return Fail(opAt);
        SkipSpace();
        const std::size_t valueAt = m_pos;
        bool quoted = false;
        CString value;
        if (!ParseValue(value, quoted))
            return Fail(valueAt);
        switch (property->type) {
        case ValueType::Date: {
            LocalMinute minute;
            if (!quoted)
                return Fail(valueAt);
            if (!ParseDateLiteral(value, minute)) {
                m_error = "The date \"" + value + "\" in the condition is not valid.";
                return false;
            }
            c.date = LocalMinuteSpan(minute);
            return true;
        }
        case ValueType::Text:
            if (!quoted)
                return Fail(valueAt);
            c.text = std::move(value);
            return true;
        case ValueType::Integer:
            if (!ParseInteger(value, c.number))
                return Fail(valueAt);
            return true;
        case ValueType::Boolean:
            if (c.op != Op::Equal && c.op != Op::NotEqual) {
                m_error =
                    "The operator in the condition cannot be used with \"" + CString(name) + "\".";
                return false;
            }
            if (!quoted && EqualNoCase(value, "true"))
                c.number = 1;
            else if (!quoted && EqualNoCase(value, "false"))
                c.number = 0;
            else if (ParseInteger(value, c.number))
                c.number = c.number != 0;
            else
                return Fail(valueAt);
            return true;
        }
        return Fail(valueAt);
    }

    bool ParseOperator(Op& op) {
        const std::string_view rest = m_text.substr(m_pos);
        struct Spelling {
            const char* text;
            Op op;
        };
        static constexpr Spelling kOps[] = {{">=", Op::GreaterEqual}, {"<=", Op::LessEqual},
                                            {"<>", Op::NotEqual},     {">", Op::Greater},
                                            {"<", Op::Less},          {"=", Op::Equal}};
        for (const Spelling& s : kOps) {
            if (rest.starts_with(s.text)) {
                op = s.op;
                m_pos += std::char_traits<char>::length(s.text);
                return true;
            }
        }
        return false;
    }

    // A quoted text ('...' or "...", the quote doubled inside) or a bare word up to a blank.
    bool ParseValue(CString& value, bool& quoted) {
        if (m_pos >= m_text.size())
            return false;
        const char quote = m_text[m_pos];
        if (quote == '\'' || quote == '"') {
            quoted = true;
            for (std::size_t i = m_pos + 1; i < m_text.size(); ++i) {
                if (m_text[i] != quote) {
                    value += m_text[i];
                } else if (i + 1 < m_text.size() && m_text[i + 1] == quote) {
                    value += quote;
                    ++i;
                } else {
                    m_pos = i + 1;
                    return true;
                }
            }
            return false;
        }
        std::size_t end = m_pos;
        while (end < m_text.size() && m_text[end] != ' ' && m_text[end] != '\t' &&
               m_text[end] != '[')
            ++end;
        if (end == m_pos)
            return false;
        value = CString(m_text.substr(m_pos, end - m_pos));
        m_pos = end;
        return true;
    }

    static bool ParseInteger(std::string_view text, int64_t& out) {
        text = Trim(text);
        int32_t value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size())
            return false;
        out = value;
        return true;
    }

    std::string_view m_text;
    ItemClass m_class;
    CString& m_error;
    std::size_t m_pos = 0;
};

std::optional<RestrictionFilter> RestrictionFilter::Parse(std::string_view text,
                                                          ItemClass itemClass, CString& error) {
    RestrictionFilter filter;
    FilterParser parser(text, itemClass, error);
    if (!parser.Parse(filter.m_conditions))
        return std::nullopt;
    for (const Condition& c : filter.m_conditions) {
        if (c.property != ItemProperty::Start)
            continue;
        auto raiseFrom = [&](int64_t t) {
            filter.m_startFrom = std::max(filter.m_startFrom.value_or(t), t);
        };
        auto lowerTo = [&](int64_t t) {
            filter.m_startTo = std::min(filter.m_startTo.value_or(t), t);
        };
        switch (c.op) {
        case Op::GreaterEqual:
            raiseFrom(c.date.first);
            break;
        case Op::Greater:
            raiseFrom(c.date.last + 1);
            break;
        case Op::LessEqual:
            lowerTo(c.date.last);
            break;
        case Op::Less:
            lowerTo(c.date.first - 1);
            break;
        case Op::Equal:
            raiseFrom(c.date.first);
            lowerTo(c.date.last);
            break;
        case Op::NotEqual:
            break;
        }
    }
    return filter;
}

template <class Item> bool RestrictionFilter::MatchesItem(const Item& item) const {
    for (const Condition& c : m_conditions) {
        const ValueType type = TypeOf(c.property);
        const Value v = ValueOf(c.property, item);
        bool match;
        if (type == ValueType::Date) {
            const bool equal = v.number >= c.date.first && v.number <= c.date.last;
            switch (c.op) {
            case Op::GreaterEqual:
                match = v.number >= c.date.first;
                break;
            case Op::Greater:
                match = v.number > c.date.last;
                break;
            case Op::LessEqual:
                match = v.number <= c.date.last;
                break;
            case Op::Less:
                match = v.number < c.date.first;
                break;
            case Op::Equal:
                match = equal;
                break;
            default:
                match = !equal;
                break;
            }
        } else {
            const Value literal{c.number, &c.text};
            const int r = Compare(type, v, literal);
            switch (c.op) {
            case Op::GreaterEqual:
                match = r >= 0;
                break;
            case Op::Greater:
                match = r > 0;
                break;
            case Op::LessEqual:
                match = r <= 0;
                break;
            case Op::Less:
                match = r < 0;
                break;
            case Op::Equal:
                match = r == 0;
                break;
            default:
                match = r != 0;
                break;
            }
        }
        if (!match)
            return false;
    }
    return true;
}

bool RestrictionFilter::Matches(const mail::Appointment& item) const {
    return MatchesItem(item);
}
bool RestrictionFilter::Matches(const mail::Task& item) const {
    return MatchesItem(item);
}

bool ParseSortProperty(std::string_view text, ItemClass itemClass, ItemProperty& out,
                       CString& error) {
    const std::string_view key = Trim(text);
    const PropertyInfo* property = nullptr;
    if (key.size() >= 2 && key.front() == '[' && key.back() == ']')
        property = FindProperty(Trim(key.substr(1, key.size() - 2)), itemClass);
    if (!property) {
        error = "The property \"" + CString(key) + "\" cannot be used to sort these items.";
        return false;
    }
    out = property->property;
    return true;
}

bool PropertyLess(ItemProperty property, const mail::Appointment& a, const mail::Appointment& b) {
    return Compare(TypeOf(property), ValueOf(property, a), ValueOf(property, b)) < 0;
}

bool PropertyLess(ItemProperty property, const mail::Task& a, const mail::Task& b) {
    return Compare(TypeOf(property), ValueOf(property, a), ValueOf(property, b)) < 0;
}

} // namespace automation
