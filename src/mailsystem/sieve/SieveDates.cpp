// Time zones, date parts, date-times in keys, comparators and match types of Sieve tests.
#include "mailsystem/sieve/SieveDates.h"

#include "core/CivilDays.h"

#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>
#include <cstdio>

namespace mail::sieve {
namespace {

constexpr int64_t kDay = 86400;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

QTimeZone QtZone(const std::string& name) {
    if (name.empty())
        return QTimeZone::systemTimeZone();
    return QTimeZone(QByteArray::fromStdString(name));
}

// Reads exactly `n` digits at `pos`, moving past them.
bool Digits(std::string_view text, size_t& pos, int n, int& value) {
    if (pos + static_cast<size_t>(n) > text.size())
        return false;
    value = 0;
    for (int i = 0; i < n; ++i) {
        const char c = text[pos + static_cast<size_t>(i)];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    pos += static_cast<size_t>(n);
    return true;
}

// "+hhmm", "-hhmm", "+hh:mm", "-hh:mm" or "+hh" at `pos` up to the end of `text`.
bool Offset(std::string_view text, size_t pos, int& seconds) {
    if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-'))
        return false;
    const int sign = text[pos] == '-' ? -1 : 1;
    ++pos;
    int hours = 0, minutes = 0;
    if (!Digits(text, pos, 2, hours))
        return false;
    if (pos < text.size() && text[pos] == ':')
        ++pos;
    if (pos < text.size() && !Digits(text, pos, 2, minutes))
        return false;
    if (pos != text.size() || hours > 23 || minutes > 59)
        return false;
    seconds = sign * (hours * 3600 + minutes * 60);
    return true;
}

std::string TwoDigits(int64_t n) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%02lld", static_cast<long long>(n));
    return buffer;
}

std::string YearDigits(int64_t year) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%04lld", static_cast<long long>(year));
    return buffer;
}

std::string ZoneText(int offsetSeconds, bool colon) {
    const int sign = offsetSeconds < 0 ? -1 : 1;
    const int minutes = sign * offsetSeconds / 60;
    return std::string(sign < 0 ? "-" : "+") + TwoDigits(minutes / 60) + (colon ? ":" : "") +
           TwoDigits(minutes % 60);
}

// RFC 4790's i;ascii-numeric: the number at the start of the string; a string that does not
// start with a digit is larger than every number.
int CompareNumeric(std::string_view a, std::string_view b) {
    auto digits = [](std::string_view s) {
        size_t n = 0;
        while (n < s.size() && s[n] >= '0' && s[n] <= '9')
            ++n;
        return s.substr(0, n);
    };
    std::string_view x = digits(a), y = digits(b);
    if (x.empty() || y.empty())
        return (x.empty() ? 1 : 0) - (y.empty() ? 1 : 0);
    while (x.size() > 1 && x.front() == '0')
        x.remove_prefix(1);
    while (y.size() > 1 && y.front() == '0')
        y.remove_prefix(1);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    const int c = x.compare(y);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Sieve's wildcard match: "*" any run, "?" one character, "\" takes the next one literally.
// Iterative with one backtrack point, so a hostile pattern costs at most |text| * |pattern|.
bool Wildcard(std::string_view text, std::string_view pattern, bool casemap) {
    auto same = [casemap](char a, char b) { return casemap ? Lower(a) == Lower(b) : a == b; };
    size_t t = 0, p = 0;
    size_t starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            char want = pattern[p];
            size_t step = 1;
            if (want == '\\' && p + 1 < pattern.size()) {
                want = pattern[p + 1];
                step = 2;
            }
            if ((pattern[p] == '?' && step == 1) || same(text[t], want)) {
                p += step;
                ++t;
                continue;
            }
        }
        if (starP == std::string_view::npos)
            return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

Zone Zone::Fixed(int offsetSeconds) {
    Zone zone;
    zone.m_offset = offsetSeconds;
    return zone;
}

bool Zone::Named(const std::string& name, Zone& out) {
    if (!name.empty() && !QTimeZone::isTimeZoneIdAvailable(QByteArray::fromStdString(name)))
        return false;
    out = Zone{};
    out.m_named = true;
    out.m_name = name;
    return true;
}

bool Zone::FromArgument(std::string_view text, Zone& out) {
    int seconds = 0;
    if (Offset(text, 0, seconds)) {
        out = Fixed(seconds);
        return true;
    }
    if (EqualNoCase(text, "Z") || EqualNoCase(text, "UTC") || EqualNoCase(text, "GMT")) {
        out = Fixed(0);
        return true;
    }
    return !text.empty() && Named(std::string(text), out);
}

int Zone::OffsetAt(int64_t instant) const {
    if (!m_named)
        return m_offset;
    const QTimeZone zone = QtZone(m_name);
    if (!zone.isValid())
        return 0;
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(instant, QTimeZone::utc()));
}

int64_t Zone::FromWallClock(int64_t year, int month, int day, int hour, int minute,
                            int second) const {
    const int64_t wall =
        civil::DaysFromCivil(year, month, day) * kDay + hour * 3600 + minute * 60 + second;
    if (!m_named)
        return wall - m_offset;
    // The offsets just before and after the wall-clock time give every candidate instant.
    const int before = OffsetAt(wall - kDay);
    const int after = OffsetAt(wall + kDay);
    const int64_t early = wall - std::max(before, after);
    const int64_t late = wall - std::min(before, after);
    for (int64_t candidate : {early, late}) {
        if (candidate + OffsetAt(candidate) == wall)
            return candidate;
    }
    // Skipped by a change of the clocks: read with the offset before it.
    return wall - before;
}

bool IsDatePart(std::string_view part) {
    for (const char* known : {"year", "month", "day", "date", "julian", "hour", "minute",
                              "second", "time", "iso8601", "std11", "zone", "weekday"}) {
        if (EqualNoCase(part, known))
            return true;
    }
    return false;
}

std::string DatePart(std::string_view part, int64_t instant, int offsetSeconds) {
    const int64_t local = instant + offsetSeconds;
    const int64_t days = FloorDiv(local, kDay);
    const int64_t secondOfDay = local - days * kDay;
    const civil::Date date = civil::CivilFromDays(days);
    const std::string hh = TwoDigits(secondOfDay / 3600);
    const std::string mm = TwoDigits(secondOfDay / 60 % 60);
    const std::string ss = TwoDigits(secondOfDay % 60);
    const std::string ymd =
        YearDigits(date.year) + "-" + TwoDigits(date.month) + "-" + TwoDigits(date.day);
    if (EqualNoCase(part, "year"))
        return YearDigits(date.year);
    if (EqualNoCase(part, "month"))
        return TwoDigits(date.month);
    if (EqualNoCase(part, "day"))
        return TwoDigits(date.day);
    if (EqualNoCase(part, "date"))
        return ymd;
    if (EqualNoCase(part, "julian"))
        return std::to_string(days + 40587); // the Modified Julian Day of 1 January 1970
    if (EqualNoCase(part, "hour"))
        return hh;
    if (EqualNoCase(part, "minute"))
        return mm;
    if (EqualNoCase(part, "second"))
        return ss;
    if (EqualNoCase(part, "time"))
        return hh + ":" + mm + ":" + ss;
    if (EqualNoCase(part, "iso8601"))
        return ymd + "T" + hh + ":" + mm + ":" + ss + ZoneText(offsetSeconds, true);
    if (EqualNoCase(part, "zone"))
        return ZoneText(offsetSeconds, false);
    if (EqualNoCase(part, "weekday"))
        return std::to_string(civil::Weekday(days));
    // std11
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return std::string(kDays[civil::Weekday(days)]) + ", " + TwoDigits(date.day) + " " +
           kMonths[date.month - 1] + " " + YearDigits(date.year) + " " + hh + ":" + mm + ":" +
           ss + " " + ZoneText(offsetSeconds, false);
}

bool ReadDateTime(std::string_view key, const Zone& zone, int64_t& instant) {
    size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(key, pos, 4, year) || pos >= key.size() || key[pos++] != '-' ||
        !Digits(key, pos, 2, month) || pos >= key.size() || key[pos++] != '-' ||
        !Digits(key, pos, 2, day) || pos >= key.size() || (key[pos] != 'T' && key[pos] != 't'))
        return false;
    ++pos;
    if (!Digits(key, pos, 2, hour) || pos >= key.size() || key[pos++] != ':' ||
        !Digits(key, pos, 2, minute))
        return false;
    if (pos < key.size() && key[pos] == ':') {
        ++pos;
        if (!Digits(key, pos, 2, second))
            return false;
        if (pos < key.size() && (key[pos] == '.' || key[pos] == ',')) {
            ++pos;
            const size_t start = pos;
            while (pos < key.size() && key[pos] >= '0' && key[pos] <= '9')
                ++pos;
            if (pos == start)
                return false;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > civil::DaysInMonth(year, month) ||
        hour > 24 || minute > 59 || second > 60)
        return false;
    const int64_t wall = civil::DaysFromCivil(year, month, day) * kDay + hour * 3600 +
                         minute * 60 + std::min(second, 59);
    if (pos == key.size()) {
        const civil::Date date = civil::CivilFromDays(FloorDiv(wall, kDay));
        const int64_t s = wall - FloorDiv(wall, kDay) * kDay;
        instant = zone.FromWallClock(date.year, date.month, date.day, static_cast<int>(s / 3600),
                                     static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
        return true;
    }
    int offset = 0;
    if ((key[pos] == 'Z' || key[pos] == 'z') && pos + 1 == key.size())
        offset = 0;
    else if (!Offset(key, pos, offset))
        return false;
    instant = wall - offset;
    return true;
}

Matcher::Comparator ComparatorNamed(std::string_view name) {
    if (EqualNoCase(name, "i;ascii-casemap"))
        return Matcher::Comparator::AsciiCasemap;
    if (EqualNoCase(name, "i;octet"))
        return Matcher::Comparator::Octet;
    if (EqualNoCase(name, "i;ascii-numeric"))
        return Matcher::Comparator::AsciiNumeric;
    return Matcher::Comparator::Unknown;
}

bool IsRelation(std::string_view relation) {
    for (const char* known : {"gt", "ge", "lt", "le", "eq", "ne"}) {
        if (EqualNoCase(relation, known))
            return true;
    }
    return false;
}

int Compare(Matcher::Comparator comparator, std::string_view a, std::string_view b) {
    if (comparator == Matcher::Comparator::AsciiNumeric)
        return CompareNumeric(a, b);
    const bool casemap = comparator != Matcher::Comparator::Octet;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(casemap ? Lower(a[i]) : a[i]);
        const unsigned char y = static_cast<unsigned char>(casemap ? Lower(b[i]) : b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool Satisfies(std::string_view relation, int sign) {
    if (EqualNoCase(relation, "gt"))
        return sign > 0;
    if (EqualNoCase(relation, "ge"))
        return sign >= 0;
    if (EqualNoCase(relation, "lt"))
        return sign < 0;
    if (EqualNoCase(relation, "le"))
        return sign <= 0;
    if (EqualNoCase(relation, "eq"))
        return sign == 0;
    return sign != 0; // "ne"
}

bool Matches(const Matcher& matcher, std::string_view value, std::string_view key) {
    const bool casemap = matcher.comparator != Matcher::Comparator::Octet;
    switch (matcher.type) {
    case Matcher::Type::Is:
        return Compare(matcher.comparator, value, key) == 0;
    case Matcher::Type::Value:
        return Satisfies(matcher.relation, Compare(matcher.comparator, value, key));
    case Matcher::Type::Contains: {
        if (key.size() > value.size())
            return false;
        for (size_t i = 0; i + key.size() <= value.size(); ++i) {
            if (Compare(casemap ? Matcher::Comparator::AsciiCasemap : Matcher::Comparator::Octet,
                        value.substr(i, key.size()), key) == 0)
                return true;
        }
        return false;
    }
    case Matcher::Type::Matches:
        return Wildcard(value, key, casemap);
    case Matcher::Type::Regex:
    case Matcher::Type::Count:
        break;
    }
    return false;
}

} // namespace mail::sieve
