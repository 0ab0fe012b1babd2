// Reading RRULE values as exporters write them, repairing what libical alone refuses or misreads.
#include "mailsystem/ical/Recurrence.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <strings.h>
#include <utility>
#include <vector>

namespace mail::recurrence {
namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool IsPositiveNumber(std::string_view s) {
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return std::atoi(std::string(s).c_str()) > 0;
}

// A list value without blanks around its items and without empty items ("MO,TU," is "MO,TU").
std::string CleanList(std::string_view value) {
    std::string out;
    size_t pos = 0;
    while (pos <= value.size()) {
        size_t comma = value.find(',', pos);
        if (comma == std::string_view::npos)
            comma = value.size();
        const std::string_view item = TrimBlanks(value.substr(pos, comma - pos));
        if (!item.empty()) {
            if (!out.empty())
                out += ',';
            out.append(item);
        }
        pos = comma + 1;
    }
    return out;
}

// Whether libical reads `value` as it stands: parts of NAME=VALUE without blanks, empty parts,
// empty list items, extension parts, a COUNT that is no positive number, COUNT with UNTIL, or a
// part given twice (which libical refuses).
bool IsPlainRule(std::string_view value) {
    bool count = false, until = false;
    std::vector<std::string_view> names;
    size_t pos = 0;
    while (pos <= value.size()) {
        size_t semicolon = value.find(';', pos);
        if (semicolon == std::string_view::npos)
            semicolon = value.size();
        const std::string_view part = value.substr(pos, semicolon - pos);
        pos = semicolon + 1;
        const size_t equals = part.find('=');
        if (equals == 0 || equals == std::string_view::npos || equals + 1 == part.size() ||
            part.find_first_of(" \t") != std::string_view::npos ||
            part.find(",,") != std::string_view::npos || part.back() == ',' ||
            part[equals + 1] == ',' ||
            (part.size() > 1 && (part[0] == 'X' || part[0] == 'x') && part[1] == '-'))
            return false;
        const std::string_view name = part.substr(0, equals);
        for (std::string_view seen : names) {
            if (seen.size() == name.size() &&
                strncasecmp(seen.data(), name.data(), name.size()) == 0)
                return false;
        }
        names.push_back(name);
        if (name.size() == 5 && strncasecmp(name.data(), "COUNT", 5) == 0) {
            if (!IsPositiveNumber(part.substr(equals + 1)))
                return false;
            count = true;
        } else if (name.size() == 5 && strncasecmp(name.data(), "UNTIL", 5) == 0) {
            until = true;
        }
    }
    return !(count && until);
}

} // namespace

bool ParseRule(std::string_view value, icalrecurrencetype& out,
               std::vector<std::string>* repeated) {
    if (value.size() < 512 && IsPlainRule(value)) {
        char text[512];
        value.copy(text, value.size());
        text[value.size()] = '\0';
        out = icalrecurrencetype_from_string(text);
        const bool gregorian = !out.rscale || strcasecmp(out.rscale, "GREGORIAN") == 0;
        free(out.rscale);
        out.rscale = nullptr;
        return out.freq != ICAL_NO_RECURRENCE && gregorian;
    }
    std::vector<std::pair<std::string, std::string>> parts;
    std::string until;
    bool hasCount = false;
    size_t pos = 0;
    while (pos <= value.size()) {
        size_t semicolon = value.find(';', pos);
        if (semicolon == std::string_view::npos)
            semicolon = value.size();
        const std::string_view part = value.substr(pos, semicolon - pos);
        pos = semicolon + 1;
        const size_t equals = part.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string name(TrimBlanks(part.substr(0, equals)));
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string cleaned = CleanList(part.substr(equals + 1));
        if (name.empty() || cleaned.empty() || name.rfind("X-", 0) == 0)
            continue;
        if (std::any_of(parts.begin(), parts.end(),
                        [&](const auto& part) { return part.first == name; })) {
            // libical refuses a part given twice; the first is the one that counts.
            if (repeated && std::find(repeated->begin(), repeated->end(), name) == repeated->end())
                repeated->push_back(name);
            continue;
        }
        if (name == "COUNT") {
            if (!IsPositiveNumber(cleaned))
                continue;
            hasCount = true;
        }
        if (name == "UNTIL")
            until = cleaned;
        parts.emplace_back(std::move(name), cleaned);
    }
    std::string text;
    for (const auto& [name, part] : parts) {
        // libical refuses COUNT beside UNTIL; its iterator honours both, so UNTIL is set below.
        if (hasCount && name == "UNTIL")
            continue;
        if (!text.empty())
            text += ';';
        text += name + "=" + part;
    }
    out = icalrecurrencetype_from_string(text.c_str());
    // The parser allocates the calendar scale for its caller; only "is it Gregorian" is kept.
    const bool gregorian = !out.rscale || strcasecmp(out.rscale, "GREGORIAN") == 0;
    free(out.rscale);
    out.rscale = nullptr;
    if (out.freq == ICAL_NO_RECURRENCE || !gregorian)
        return false;
    if (hasCount && !until.empty()) {
        const icaltimetype end = icaltime_from_string(until.c_str());
        if (!icaltime_is_null_time(end) && icaltime_is_valid_time(end))
            out.until = end;
    }
    return true;
}

} // namespace mail::recurrence
