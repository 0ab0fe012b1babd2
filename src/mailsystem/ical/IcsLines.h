// Line primitives of iCalendar text, shared by the structure scan and the readers of one
// component (internal to IcsScanner.cpp and IcsComponent.cpp).
#pragma once

#include <cstring>
#include <string_view>

namespace mail::ics::detail {

inline char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

inline bool IsNameChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// `a` equals `upper` (given in upper case) without regard to ASCII case.
inline bool EqualsNoCase(std::string_view a, std::string_view upper) {
    if (a.size() != upper.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != upper[i])
            return false;
    }
    return true;
}

inline std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The value of a content line: what follows the first colon outside double quotes.
inline std::string_view ValueOf(std::string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return line.substr(i + 1);
    }
    return {};
}

// One physical line: [start, stop) without its line end; `next` is where the following starts.
struct Line {
    size_t start, stop, next;
};

// Lines end with LF, CRLF, or a CR that no LF follows (as old Mac programs write them).
inline Line NextLine(std::string_view text, size_t pos) {
    const void* nl = std::memchr(text.data() + pos, '\n', text.size() - pos);
    size_t stop = nl ? static_cast<const char*>(nl) - text.data() : text.size();
    if (const void* cr = std::memchr(text.data() + pos, '\r', stop - pos)) {
        const size_t at = static_cast<const char*>(cr) - text.data();
        if (at + 1 < stop)
            return {pos, at, at + 1};
    }
    const size_t next = nl ? stop + 1 : text.size();
    if (stop > pos && text[stop - 1] == '\r')
        --stop;
    return {pos, stop, next};
}

inline bool StartsWithBlank(std::string_view s) {
    return !s.empty() && (s[0] == ' ' || s[0] == '\t');
}

} // namespace mail::ics::detail
