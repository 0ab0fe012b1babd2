// Reading inside one component that the scan found: the lines the calendar reader uses, the
// component's version, and quick dates.
#include "mailsystem/ical/IcsScanner.h"

#include "core/CivilDays.h"

#include "mailsystem/ical/IcsLines.h"

#include <algorithm>

namespace mail::ics {
namespace {

using namespace detail;

// The lines a reduced component keeps (besides BEGIN and END).
bool IsKeptName(std::string_view name) {
    static constexpr std::string_view kKept[] = {
        "DTSTART",       "DTEND",   "DURATION", "RDATE",     "EXDATE",
        "RECURRENCE-ID", "SUMMARY", "LOCATION", "UID",       "STATUS",
        "TRIGGER",       "ACTION",  "DUE",      "COMPLETED", "PERCENT-COMPLETE"};
    for (std::string_view kept : kKept) {
        if (EqualsNoCase(name, kept))
            return true;
    }
    return false;
}

int Digits(std::string_view s, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9')
            return -1;
        value = value * 10 + (s[i] - '0');
    }
    return value;
}

} // namespace

std::string ReducedComponent(std::string_view text, const RawComponent& component, bool all) {
    std::string out;
    out.reserve(512);
    size_t pos = component.begin;
    bool keeping = false;
    size_t kept = 0; // bytes of the current logical line kept so far
    // Appends a physical line of a kept logical line, cut where the logical line reaches
    // kMaxContentLine; the rest of that logical line is then dropped.
    const auto keep = [&](std::string_view physical) {
        std::string_view part = physical;
        if (kept + part.size() > kMaxContentLine) {
            part = part.substr(0, kMaxContentLine - kept);
            // Not inside a UTF-8 character, and not on an escaping backslash.
            for (int i = 0; i < 3 && !part.empty() && (part.back() & 0xC0) == 0x80; ++i)
                part.remove_suffix(1);
            if (!part.empty() && (static_cast<unsigned char>(part.back()) & 0xC0) == 0xC0)
                part.remove_suffix(1);
            size_t backslashes = 0;
            while (backslashes < part.size() && part[part.size() - 1 - backslashes] == '\\')
                ++backslashes;
            if (backslashes % 2)
                part.remove_suffix(1);
            keeping = false;
        }
        kept += part.size();
        out.append(part);
        out += '\n';
    };
    const auto listed = [](const std::vector<uint32_t>& lines, size_t offset) {
        return std::find(lines.begin(), lines.end(), offset) != lines.end();
    };
    while (pos < component.end) {
        const Line line = NextLine(text, pos);
        pos = line.next;
        const std::string_view physical = text.substr(line.start, line.stop - line.start);
        if (StartsWithBlank(physical)) {
            if (keeping)
                keep(physical);
            continue;
        }
        if (!component.joinedLines.empty() && listed(component.joinedLines, line.start)) {
            // A fold that lost its leading blank gets it back.
            if (keeping)
                keep(" " + std::string(physical));
            continue;
        }
        if (!component.skippedLines.empty() && listed(component.skippedLines, line.start)) {
            keeping = false;
            continue;
        }
        size_t n = 0;
        while (n < physical.size() && IsNameChar(static_cast<unsigned char>(physical[n])))
            ++n;
        const std::string_view name = physical.substr(0, n);
        keeping = n > 0 && (all || EqualsNoCase(name, "BEGIN") || EqualsNoCase(name, "END") ||
                            IsKeptName(name));
        kept = 0;
        if (keeping)
            keep(physical);
    }
    return out;
}

Version VersionOf(std::string_view text, const RawComponent& component) {
    Version version;
    size_t pos = component.begin;
    int depth = 0;
    while (pos < component.end) {
        const Line line = NextLine(text, pos);
        pos = line.next;
        const std::string_view physical = text.substr(line.start, line.stop - line.start);
        size_t n = 0;
        while (n < physical.size() && IsNameChar(static_cast<unsigned char>(physical[n])))
            ++n;
        const std::string_view name = physical.substr(0, n);
        if (EqualsNoCase(name, "BEGIN"))
            ++depth;
        else if (EqualsNoCase(name, "END"))
            --depth;
        if (depth != 1)
            continue; // only the component's own lines (not those of its alarms)
        const std::string_view value = TrimRight(ValueOf(physical));
        if (EqualsNoCase(name, "SEQUENCE")) {
            int64_t sequence = 0;
            bool digits = !value.empty() && value.size() < 10;
            for (char c : value) {
                digits = digits && c >= '0' && c <= '9';
                if (!digits)
                    break; // a long or non-numeric value is no sequence (and would overflow)
                sequence = sequence * 10 + (c - '0');
            }
            if (digits)
                version.sequence = sequence;
        } else if (EqualsNoCase(name, "LAST-MODIFIED")) {
            version.lastModified = QuickTime(value);
        } else if (EqualsNoCase(name, "DTSTAMP")) {
            version.stamp = QuickTime(value);
        }
    }
    return version;
}

int64_t QuickTime(std::string_view value) {
    if (value.size() != 8 && value.size() != 15 && value.size() != 16)
        return kUnknownTime;
    const int year = Digits(value, 0, 4), month = Digits(value, 4, 2), day = Digits(value, 6, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31)
        return kUnknownTime;
    int64_t seconds =
        civil::DaysFromCivil(year, month, day) * 86400;
    if (value.size() == 8)
        return seconds;
    if (Upper(value[8]) != 'T' || (value.size() == 16 && Upper(value[15]) != 'Z'))
        return kUnknownTime;
    const int hour = Digits(value, 9, 2), minute = Digits(value, 11, 2),
              second = Digits(value, 13, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return kUnknownTime;
    return seconds + hour * 3600 + minute * 60 + second;
}

} // namespace mail::ics
