// The LDAP result mapping: an attribute map as a profile writes it and one directory entry's
// attributes as a server returns them. The same answer twice; attribute names compared without
// regard to case; a listed entry keeps the address list's rules; and every value put into a
// search filter is escaped so that it reads back as itself and cannot end or widen the filter.
#include "FuzzCheck.h"
#include "core/Text.h"
#include "mailsystem/ldap/LdapSettings.h"

namespace {

bool Same(const mail::AddressEntry& a, const mail::AddressEntry& b) {
    return a.displayName == b.displayName && a.address == b.address && a.homeStore == b.homeStore &&
           a.mailbox == b.mailbox && a.deliverTo == b.deliverTo;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

void CheckEscape(std::string_view value) {
    const std::string escaped = mail::EscapeFilterValue(value);
    std::string back;
    for (size_t i = 0; i < escaped.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(escaped[i]);
        FUZZ_CHECK(c != 0 && c != '*' && c != '(' && c != ')',
                   "an escaped filter value keeps a byte that can end or widen the filter");
        if (c == '\\') {
            FUZZ_CHECK(i + 2 < escaped.size(), "an escape cut short");
            back += static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            back += static_cast<char>(c);
        }
    }
    FUZZ_CHECK(back == value, "an escaped filter value does not read back as itself");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const std::string mapText(input.Piece(200));
    mail::LdapMap map, again;
    std::string error, errorAgain;
    const bool mapped = mail::ParseLdapMap(mapText, map, error);
    FUZZ_CHECK(mail::ParseLdapMap(mapText, again, errorAgain) == mapped && error == errorAgain,
               "the same map read twice differs");
    if (!mapped) {
        FUZZ_CHECK(!error.empty(), "a refused map without a reason");
        map = mail::LdapMap{};
        mail::ParseLdapMap("", map, error);
    }
    FUZZ_CHECK(!map.displayName.empty() && !map.address.empty(),
               "a map without attributes for the required fields");

    // The entry: up to 8 attributes (a name, then up to 3 values), as a server returns them.
    mail::LdapAttributes attributes, shouted;
    const int count = input.Byte() % 9;
    for (int a = 0; a < count; ++a) {
        // Names of the map's own attributes as well as any other.
        const std::vector<std::string> names = map.Attributes();
        const uint8_t pick = input.Byte();
        std::string name = pick < 128 && !names.empty() ? names[pick % names.size()]
                                                        : std::string(input.Piece(16));
        std::vector<std::string>& values = attributes[Lower(name)];
        const int n = input.Byte() % 4;
        for (int v = 0; v < n; ++v)
            values.emplace_back(input.Piece(120));
        shouted[Lower(name)] = values;
    }
    mail::AddressEntry entry, entryAgain;
    const bool listed = mail::MapLdapEntry(map, attributes, entry);
    FUZZ_CHECK(mail::MapLdapEntry(map, attributes, entryAgain) == listed &&
                   (!listed || Same(entry, entryAgain)),
               "the same entry mapped twice differs");
    // The map's attribute names in another case select the same attributes.
    mail::LdapMap upper = map;
    for (auto* field :
         {&upper.displayName, &upper.address, &upper.homeStore, &upper.mailbox, &upper.deliverTo}) {
        for (std::string& name : *field)
            name = Upper(name);
    }
    mail::AddressEntry entryUpper;
    FUZZ_CHECK(mail::MapLdapEntry(upper, shouted, entryUpper) == listed &&
                   (!listed || Same(entry, entryUpper)),
               "the case of an attribute name changed the mapping");
    if (listed) {
        FUZZ_CHECK(!entry.displayName.empty() && !entry.address.empty(),
                   "an entry listed without name or address");
        for (const std::string* value : {&entry.displayName, &entry.address, &entry.homeStore,
                                         &entry.mailbox, &entry.deliverTo})
            FUZZ_CHECK(!HasControlCharacter(*value), "a listed value with a control character");
        FUZZ_CHECK(entry.mailbox.empty() || mail::IsValidFolderName(entry.mailbox),
                   "a listed mailbox that is no folder inside mailboxes/");
    }

    CheckEscape(input.Rest());
    const std::string filter = mail::NormalizeFilter(input.Rest());
    FUZZ_CHECK(mail::NormalizeFilter(filter) == filter, "a normalised filter changes again");
    return 0;
}
