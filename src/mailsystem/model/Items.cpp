// The items' own rules: which mailbox folder names are valid, and how an out-of-office file reads.
#include "mailsystem/model/Items.h"

#include "core/Text.h"

namespace mail {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return out;
}

} // namespace

bool IsValidFolderName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name[0] == '.')
        return false;
    for (unsigned char c : name) {
        if (c == '/' || c == '\\' || IsControlCharacter(c))
            return false;
    }
    return true;
}

OutOfOffice ParseOutOfOffice(std::string_view text) {
    std::string word;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t stop = text.find('\n', pos);
        if (stop == std::string_view::npos)
            stop = text.size();
        std::string_view line = text.substr(pos, stop - pos);
        pos = stop + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.empty() || line[0] == '#')
            continue;
        if (!word.empty())
            return OutOfOffice::Unreadable;
        word = Lower(line);
    }
    if (word.empty())
        return OutOfOffice::Missing;
    for (const char* out : {"out", "yes", "true", "on", "1"}) {
        if (word == out)
            return OutOfOffice::Out;
    }
    for (const char* in : {"in", "no", "false", "off", "0"}) {
        if (word == in)
            return OutOfOffice::In;
    }
    return OutOfOffice::Unreadable;
}

} // namespace mail
