// Helpers for tests of the mail system: mail system directories, calendar texts and times.
#pragma once

#include "mailsystem/MailSystem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mail_test {

// A VCALENDAR around `components` (lines ending in "\n").
std::string Calendar(const std::string& components);
// The America/New_York VTIMEZONE that calendar programs export (rules since 2007).
std::string NewYorkTimeZone();

// Writes a mail system into `root` whose mailboxes are `folders` (display name "User " +
// folder, address "/o=Test/cn=" + folder), and opens it.
std::shared_ptr<mail::MailSystem> MakeMailSystem(const std::string& root,
                                                 const std::vector<std::string>& folders);
// The mailbox's calendar or tasks file path.
std::string CalendarPath(const std::string& root, const std::string& folder);
std::string TasksPath(const std::string& root, const std::string& folder);
// The address entry MakeMailSystem wrote for `folder`.
mail::AddressEntry Entry(const std::string& folder);

// "YYYY-MM-DD HH:MM" read as UTC or as local time (the process's TZ).
int64_t Utc(const std::string& text);
int64_t Local(const std::string& text);
std::string FormatUtc(int64_t instant);
std::string FormatLocal(int64_t instant);

// One line per appointment: "START - END | SUBJECT | LOCATION | LEAD | PATTERN", with times
// formatted by `format`, LEAD "-" when no reminder is set, and PATTERN "single" or
// "type T int I inst N mask M day D month O".
std::string Render(const std::vector<mail::Appointment>& appointments,
                   std::string (*format)(int64_t));

// The zones every calendar test runs under: no daylight saving, and two with it.
inline const char* const kZones[] = {"UTC", "America/New_York", "Europe/Berlin"};

} // namespace mail_test
