// Time zone names as calendar programs write them in TZID and X-WR-TIMEZONE: IANA names, also
// behind a vendor's "/prefix/" or with stray characters, and Windows zone names (Outlook,
// Exchange), turned into libical's built-in zones.
#pragma once

#include <libical/ical.h>
#include <string>
#include <string_view>

namespace mail::tz {

// The name without blanks at either end, enclosing double quotes or trailing colons, and with
// runs of blanks inside made one blank: "Pacific Standard Time:" is "Pacific Standard Time".
std::string Normalised(std::string_view tzid);

// The same, in ASCII lower case: the key under which names match leniently.
std::string Key(std::string_view tzid);

// libical's built-in zone for a name: an IANA name as it stands or normalised, behind any
// number of leading "/segment/" prefixes ("/mozilla.org/20070129_1/Europe/Berlin"), or a
// Windows zone name in any case ("Pacific Standard Time"), mapped with CLDR's table as ICU
// carries it. Null when none of these names a zone. The zone lives as long as the process.
icaltimezone* BuiltinZone(std::string_view tzid);

// The IANA zone that ICU maps a Windows zone name to (its world-wide default, "001"), matching
// the name without regard to case or blanks; empty when it is no Windows zone name.
std::string IanaForWindowsName(std::string_view name);

} // namespace mail::tz
