// Reading and writing the address list file.
#include "mailsystem/addressbook/AddressList.h"

#include "core/Text.h"

#include <algorithm>
#include <iterator>
#include <strings.h>

namespace mail {
namespace {

struct Field {
    const char* name;
    std::string AddressEntry::*member;
};
const Field kFields[] = {{kFieldDisplayName, &AddressEntry::displayName},
                         {kFieldAddress, &AddressEntry::address},
                         {kFieldHomeStore, &AddressEntry::homeStore},
                         {kFieldMailbox, &AddressEntry::mailbox},
                         {kFieldDeliverTo, &AddressEntry::deliverTo}};
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

} // namespace

bool ParseAddressList(std::string_view text, const std::string& fileName,
                      std::vector<AddressEntry>& entries, std::string& error) {
    entries.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    const auto fail = [&](size_t line, const std::string& what) {
        error = fileName + ", line " + std::to_string(line) + ": " + what;
        entries.clear();
        return false;
    };

    AddressEntry current;
    bool seen[kFieldCount] = {};
    size_t entryLine = 0; // 0: between entries
    const auto finish = [&]() -> bool {
        if (entryLine == 0)
            return true;
        for (size_t required : {size_t(0), size_t(1)}) {
            if (!seen[required]) {
                error = fileName + ", line " + std::to_string(entryLine) +
                        ": the entry beginning here has no " + kFields[required].name + " field";
                entries.clear();
                return false;
            }
        }
        entries.push_back(std::move(current));
        current = AddressEntry{};
        std::fill(std::begin(seen), std::end(seen), false);
        entryLine = 0;
        return true;
    };

    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t stop = text.find('\n', pos);
        if (stop == std::string_view::npos)
            stop = text.size();
        const std::string_view raw = text.substr(pos, stop - pos);
        pos = stop + 1;
        ++lineNumber;
        const std::string_view line = TrimBlanks(raw);
        if (line.empty()) {
            if (!finish())
                return false;
            continue;
        }
        if (line[0] == '#')
            continue;
        if (raw[0] == ' ' || raw[0] == '\t')
            return fail(lineNumber,
                        "a line may not begin with a blank (each value takes one line)");
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return fail(lineNumber, "expected \"Field: value\", found \"" +
                                        std::string(line.substr(0, 60)) + "\"");
        const std::string_view name = TrimBlanks(line.substr(0, colon));
        const std::string_view value = TrimBlanks(line.substr(colon + 1));
        size_t index = 0;
        while (index < kFieldCount &&
               strncasecmp(std::string(name).c_str(), kFields[index].name, 64) != 0)
            ++index;
        if (index == kFieldCount) {
            return fail(lineNumber, "unknown field \"" + std::string(name) +
                                        "\" (the fields are Display-Name, Address, Home-Store, "
                                        "Mailbox and Deliver-To)");
        }
        if (HasControlCharacter(value))
            return fail(lineNumber, "the value holds a control character");
        if (entryLine == 0)
            entryLine = lineNumber;
        if (seen[index])
            return fail(lineNumber,
                        std::string("the entry has a second ") + kFields[index].name + " field");
        if ((index == 0 || index == 1) && value.empty())
            return fail(lineNumber, std::string(kFields[index].name) + " may not be empty");
        if (kFields[index].member == &AddressEntry::mailbox && !value.empty() &&
            !IsValidFolderName(std::string(value))) {
            return fail(lineNumber,
                        "\"" + std::string(value) +
                            "\" cannot be a mailbox folder (a name of 1 to 255 bytes without "
                            "\"/\", \"\\\" or control characters, not beginning with \".\")");
        }
        seen[index] = true;
        current.*kFields[index].member = std::string(value);
    }
    return finish();
}

std::string FormatAddressList(const std::vector<AddressEntry>& entries, std::string_view comment) {
    std::string text;
    size_t pos = 0;
    while (pos < comment.size()) {
        size_t stop = comment.find('\n', pos);
        if (stop == std::string_view::npos)
            stop = comment.size();
        const std::string_view line = comment.substr(pos, stop - pos);
        text += line.empty() ? "#\n" : "# " + std::string(line) + "\n";
        pos = stop + 1;
    }
    for (const AddressEntry& e : entries) {
        if (!text.empty())
            text += "\n";
        for (const Field& field : kFields) {
            const std::string& value = e.*field.member;
            if (!value.empty() || field.member == &AddressEntry::displayName ||
                field.member == &AddressEntry::address)
                text += std::string(field.name) + ": " + value + "\n";
        }
    }
    return text;
}

} // namespace mail
