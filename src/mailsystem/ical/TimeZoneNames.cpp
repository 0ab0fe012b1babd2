// Lenient zone names and the Windows-to-IANA mapping (CLDR's windowsZones, through ICU).
#include "mailsystem/ical/TimeZoneNames.h"

#include <memory>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>
#include <unordered_map>

namespace mail::tz {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Every Windows zone name ICU knows, by Key, with the IANA zone it stands for. Built once: the
// CLDR table has no lookup without regard to case, so it is read through the IANA zones.
const std::unordered_map<std::string, std::string>& WindowsNames() {
    static const std::unordered_map<std::string, std::string> names = [] {
        std::unordered_map<std::string, std::string> map;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::StringEnumeration> zones(icu::TimeZone::createEnumeration(status));
        if (U_FAILURE(status) || !zones)
            return map;
        while (const icu::UnicodeString* iana = zones->snext(status)) {
            if (U_FAILURE(status))
                break;
            icu::UnicodeString windows;
            UErrorCode lookup = U_ZERO_ERROR;
            icu::TimeZone::getWindowsID(*iana, windows, lookup);
            if (U_FAILURE(lookup) || windows.isEmpty())
                continue;
            const std::string key = Key(Utf8(windows));
            if (map.count(key))
                continue;
            icu::UnicodeString canonical;
            icu::TimeZone::getIDForWindowsID(windows, nullptr, canonical, lookup);
            if (U_SUCCESS(lookup) && !canonical.isEmpty())
                map.emplace(key, Utf8(canonical));
        }
        return map;
    }();
    return names;
}

icaltimezone* BuiltinByName(const std::string& name) {
    if (name.empty())
        return nullptr;
    if (name == "UTC" || name == "Etc/UTC" || name == "Etc/GMT" || name == "GMT" || name == "Z")
        return icaltimezone_get_utc_timezone();
    return icaltimezone_get_builtin_timezone(name.c_str());
}

// An IANA zone that libical may know under another of its names (ICU follows newer releases of
// the zone database: "Europe/Kyiv" was "Europe/Kiev").
icaltimezone* BuiltinOrEquivalent(const std::string& iana) {
    if (icaltimezone* zone = BuiltinByName(iana))
        return zone;
    const icu::UnicodeString id = icu::UnicodeString::fromUTF8(iana);
    const int32_t count = icu::TimeZone::countEquivalentIDs(id);
    for (int32_t i = 0; i < count; ++i) {
        if (icaltimezone* zone = BuiltinByName(Utf8(icu::TimeZone::getEquivalentID(id, i))))
            return zone;
    }
    return nullptr;
}

} // namespace

std::string Normalised(std::string_view tzid) {
    while (!tzid.empty() && (IsBlank(tzid.front()) || tzid.front() == '"'))
        tzid.remove_prefix(1);
    while (!tzid.empty() && (IsBlank(tzid.back()) || tzid.back() == '"' || tzid.back() == ':'))
        tzid.remove_suffix(1);
    std::string out;
    out.reserve(tzid.size());
    for (char c : tzid) {
        if (IsBlank(c)) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string Key(std::string_view tzid) {
    std::string key = Normalised(tzid);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

std::string IanaForWindowsName(std::string_view name) {
    const auto& names = WindowsNames();
    const auto found = names.find(Key(name));
    return found == names.end() ? std::string() : found->second;
}

icaltimezone* BuiltinZone(std::string_view tzid) {
    const std::string name = Normalised(tzid);
    if (icaltimezone* zone = BuiltinByName(std::string(tzid)))
        return zone;
    if (icaltimezone* zone = BuiltinByName(name))
        return zone;
    // A vendor's prefix: try what follows each of its slashes ("/a/b/Europe/Berlin" gives
    // "a/b/Europe/Berlin", "b/Europe/Berlin", "Europe/Berlin").
    if (!name.empty() && name[0] == '/') {
        for (size_t slash = 0; slash != std::string::npos; slash = name.find('/', slash + 1)) {
            if (icaltimezone* zone = BuiltinByName(name.substr(slash + 1)))
                return zone;
        }
    }
    const std::string iana = IanaForWindowsName(name);
    return iana.empty() ? nullptr : BuiltinOrEquivalent(iana);
}

} // namespace mail::tz
