// A profile's calendar server: the CalDAV server from which every mailbox's calendars and task
// lists are read instead of the mail system directory (docs/calendar-servers.md).
#pragma once

#include <string>

namespace mail {

// Stands in a URL template for the mailbox, as the address list's Mailbox field gives it.
inline constexpr const char* kMailboxPlaceholder = "{mailbox}";

struct CalendarServerConfig {
    // The calendar home of every mailbox, "{mailbox}" standing for its Mailbox field, such as
    // "https://cloud.example/remote.php/dav/calendars/{mailbox}/". Empty: the calendars and
    // task lists are the mail system directory's files.
    std::string urlTemplate;
    std::string user;     // empty: no authentication
    std::string password; // or "credential:NAME", read at each session (core/Credentials.h)

    bool Used() const { return !urlTemplate.empty(); }
};

// Empty when the configuration is complete and consistent: an http:// or https:// URL with a
// host, an optional port from 1 to 65535, "{mailbox}" in its path, no user, query or fragment
// in it; a user only with a URL; a password only with a user. Otherwise a sentence.
std::string CheckCalendarServer(const CalendarServerConfig& config);

// "directory", or the URL template. Never shows the password.
std::string DescribeCalendarServer(const CalendarServerConfig& config);

// The calendar home of `mailbox`: the template with every "{mailbox}" replaced by the mailbox
// percent-encoded (letters, digits and "-._~" stay as they are, so "/" cannot leave the path
// segment). Empty for an empty mailbox and for "." and "..", which would name another folder.
std::string CalendarHomeUrl(const std::string& urlTemplate, const std::string& mailbox);

} // namespace mail
