// Small checks on byte strings that several readers and command lines share.
#pragma once

#include <string>
#include <string_view>

// A C0 control character or DEL: never allowed inside a name, a header or a line of a list.
constexpr bool IsControlCharacter(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

inline bool HasControlCharacter(std::string_view text) {
    for (unsigned char c : text) {
        if (IsControlCharacter(c))
            return true;
    }
    return false;
}

// `text` without the blanks and tabs around it (and a carriage return at its end, as a line
// read from a file written on another system may have).
inline std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Text for one output field: backslash and control characters escaped, so that tabs and line
// ends inside a value never break a line apart.
std::string EscapeField(const std::string& value);
