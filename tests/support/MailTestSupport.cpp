// Helpers for tests of the mail system.
#include "support/MailTestSupport.h"

#include "mailsystem/addressbook/AddressList.h"
#include "support/TestSupport.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace mail_test {

std::string Calendar(const std::string& components) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\n" + components +
           "END:VCALENDAR\r\n";
}

std::string NewYorkTimeZone() {
    return "BEGIN:VTIMEZONE\nTZID:America/"
           "New_York\nBEGIN:DAYLIGHT\nTZNAME:EDT\nTZOFFSETFROM:-0500\n"
           "TZOFFSETTO:-0400\nDTSTART:20070311T020000\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nEND:"
           "DAYLIGHT\n"
           "BEGIN:STANDARD\nTZNAME:EST\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\nDTSTART:"
           "20071104T020000\n"
           "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\nEND:STANDARD\nEND:VTIMEZONE\n";
}

mail::AddressEntry Entry(const std::string& folder) {
    return {"User " + folder, "/o=Test/cn=" + folder, "/o=Test/cn=Store1", folder, ""};
}

std::shared_ptr<mail::MailSystem> MakeMailSystem(const std::string& root,
                                                 const std::vector<std::string>& folders) {
    std::vector<mail::AddressEntry> entries;
    for (const std::string& folder : folders) {
        entries.push_back(Entry(folder));
        std::filesystem::create_directories(root + "/mailboxes/" + folder);
    }
    testing_support::WriteFile(root + "/" + mail::kAddressListFileName,
                               mail::FormatAddressList(entries, "test"));
    std::string error;
    auto system = mail::MailSystem::Open(root, error);
    EXPECT_TRUE(system) << error;
    return system;
}

std::string CalendarPath(const std::string& root, const std::string& folder) {
    return root + "/mailboxes/" + folder + "/" + mail::kCalendarFileName;
}
std::string TasksPath(const std::string& root, const std::string& folder) {
    return root + "/mailboxes/" + folder + "/" + mail::kTasksFileName;
}

namespace {

struct tm Parse(const std::string& text) {
    struct tm tm = {};
    EXPECT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M", &tm), nullptr) << text;
    tm.tm_isdst = -1;
    return tm;
}

std::string Format(const struct tm& tm) {
    char buffer[32];
    strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &tm);
    return buffer;
}

} // namespace

int64_t Utc(const std::string& text) {
    struct tm tm = Parse(text);
    return timegm(&tm);
}

int64_t Local(const std::string& text) {
    struct tm tm = Parse(text);
    return mktime(&tm);
}

std::string FormatUtc(int64_t instant) {
    const time_t t = instant;
    struct tm tm = {};
    gmtime_r(&t, &tm);
    return Format(tm);
}

std::string FormatLocal(int64_t instant) {
    const time_t t = instant;
    struct tm tm = {};
    localtime_r(&t, &tm);
    return Format(tm);
}

std::string Render(const std::vector<mail::Appointment>& appointments,
                   std::string (*format)(int64_t)) {
    std::string text;
    for (const mail::Appointment& a : appointments) {
        text += format(a.start) + " - " + format(a.end) + " | " + a.subject + " | " + a.location +
                " | " + (a.reminderSet ? std::to_string(a.reminderMinutesBeforeStart) : "-") +
                " | ";
        if (a.isRecurring) {
            const mail::RecurrencePattern& p = a.pattern;
            text += "type " + std::to_string(p.recurrenceType) + " int " +
                    std::to_string(p.interval) + " inst " + std::to_string(p.instance) + " mask " +
                    std::to_string(p.dayOfWeekMask) + " day " + std::to_string(p.dayOfMonth) +
                    " month " + std::to_string(p.monthOfYear);
        } else {
            text += "single";
        }
        text += "\n";
    }
    return text;
}

} // namespace mail_test
