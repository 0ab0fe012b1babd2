// "orvane demo init": writes a realistic demonstration mail system, Users.dat and profile, with
// reminders placed relative to the moment of creation so that the first pages fall due within
// minutes.
#include "app/cli/CliDemo.h"

#include "app/cli/CliProfile.h"
#include "core/CTime.h"
#include "core/Clock.h"
#include "core/FileSystem.h"
#include "core/WorkingDirectory.h"
#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressList.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <ostream>
#include <sys/stat.h>

namespace cli {
namespace {

constexpr const char* kProfileName = "Demo";
constexpr const char* kMailDirectory = "mail";
constexpr const char* kOrganisation = "/o=Quorvik/ou=Demo";
constexpr int64_t kMinute = 60, kDay = 86400;

struct DemoUser {
    const char* displayName;
    const char* folder; // mailbox folder and last part of the address
    const char* pagerNumber;
    const char* oof; // out-of-office file contents; null: no file
    bool pageOnlyOOF;
};

// Out of office: Dana, Hiro and Kavya (paged because they are out); Emil pages only when out
// but is in; Liam's mailbox stores no state at all.
const DemoUser kUsers[] = {
    {"Alice Archer", "aarcher", "5550101", "in", false},
    {"Bruno Costa", "bcosta", "5550102", "in", false},
    {"Chen Wei", "cwei", "5550103", "in", false},
    {"Dana Okafor", "dokafor", "5550104", "out", true},
    {"Emil Novak", "enovak", "5550105", "in", true},
    {"Farah Haddad", "fhaddad", "5550106", "in", false},
    {"Greta Lindqvist", "glindqvist", "5550107", "in", false},
    {"Hiro Tanaka", "htanaka", "5550108", "out", true},
    {"Ines Moreau", "imoreau", "5550109", "in", false},
    {"Jonas Becker", "jbecker", "5550110", "in", false},
    {"Kavya Rao", "krao", "5550111", "out", true},
    {"Liam O'Brien", "lobrien", "5550112", nullptr, false},
};
constexpr int kUserCount = sizeof kUsers / sizeof kUsers[0];

std::string Store(int user) {
    return std::string(kOrganisation) +
           "/cn=Configuration/cn=Servers/cn=" + (user < 6 ? "MAIL1" : "MAIL2") +
           "/cn=Microsoft Private MDB";
}
std::string Address(const char* folder) {
    return std::string(kOrganisation) + "/cn=Recipients/cn=" + folder;
}
std::string PagerName(const DemoUser& u) {
    return std::string(u.displayName) + " (Pager)";
}

struct tm LocalParts(int64_t instant) {
    const time_t t = static_cast<time_t>(instant);
    struct tm tm = {};
    localtime_r(&t, &tm);
    return tm;
}

// A local wall-clock time, normalised like mktime (day 32 runs into the next month).
int64_t Local(int year, int month, int day, int hour, int minute) {
    return LocalTimeToInstant(year, month, day, hour, minute, 0);
}

std::string Format(const char* pattern, const struct tm& tm) {
    char buffer[64];
    strftime(buffer, sizeof buffer, pattern, &tm);
    return buffer;
}
std::string Floating(int64_t instant) {
    return Format("%Y%m%dT%H%M%S", LocalParts(instant));
}
std::string DateOf(int64_t instant) {
    return Format("%Y%m%d", LocalParts(instant));
}
std::string Utc(int64_t instant) {
    const time_t t = static_cast<time_t>(instant);
    struct tm tm = {};
    gmtime_r(&t, &tm);
    return Format("%Y%m%dT%H%M%SZ", tm);
}

int DaysInMonth(int year, int month) {
    return LocalParts(Local(year, month + 1, 0, 12, 0)).tm_mday;
}
const char* const kDayNames[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// The ordinal of a date's weekday within its month: 1 to 4, or -1 for a fifth (the last).
int Ordinal(int day) {
    return (day - 1) / 7 + 1 == 5 ? -1 : (day - 1) / 7 + 1;
}

// The day of the month of the nth (1 to 4, or -1 for the last) weekday `weekday` (0 Sunday).
int NthWeekday(int year, int month, int weekday, int n) {
    const int first = LocalParts(Local(year, month, 1, 12, 0)).tm_wday;
    const int firstDay = 1 + (weekday - first + 7) % 7;
    if (n > 0)
        return firstDay + 7 * (n - 1);
    int day = firstDay;
    while (day + 7 <= DaysInMonth(year, month))
        day += 7;
    return day;
}

class Calendar {
public:
    void Event(const std::string& uid, const std::string& start, const std::string& end,
               const std::string& summary, const std::string& location, const std::string& rule,
               const std::string& trigger, const std::string& extra = {}) {
        m_body += "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:" + m_stamp + "\r\n" + start +
                  "\r\n" + end + "\r\n";
        if (!rule.empty())
            m_body += "RRULE:" + rule + "\r\n";
        m_body += extra;
        m_body += "SUMMARY:" + summary + "\r\n";
        if (!location.empty())
            m_body += "LOCATION:" + location + "\r\n";
        if (!trigger.empty())
            m_body += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\n" + trigger +
                      "\r\nEND:VALARM\r\n";
        m_body += "END:VEVENT\r\n";
    }
    void Task(const std::string& uid, const std::string& summary, const std::string& due,
              const std::string& status, const std::string& trigger) {
        m_body += "BEGIN:VTODO\r\nUID:" + uid + "\r\nDTSTAMP:" + m_stamp +
                  "\r\nSUMMARY:" + summary + "\r\n";
        if (!due.empty())
            m_body += due + "\r\n";
        m_body += "STATUS:" + status + "\r\n";
        if (status == "COMPLETED")
            m_body += "COMPLETED:" + m_stamp + "\r\nPERCENT-COMPLETE:100\r\n";
        if (!trigger.empty())
            m_body += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Task reminder\r\n" + trigger +
                      "\r\nEND:VALARM\r\n";
        m_body += "END:VTODO\r\n";
    }
    std::string Text() const {
        return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Quorvik//Orvane "
               "demo//EN\r\nCALSCALE:GREGORIAN\r\n" +
               m_body + "END:VCALENDAR\r\n";
    }
    void SetStamp(const std::string& stamp) { m_stamp = stamp; }

private:
    std::string m_body, m_stamp;
};

// The calendar and task list of user `i`. Times are floating (the local time of whoever runs
// the demo) except where noted. `base` is the creation time rounded up to a whole minute.
void WriteCalendars(int i, int64_t base, Calendar& calendar, Calendar& tasks) {
    const std::string uid = std::string(kUsers[i].folder) + "-";
    const std::string domain = "@demo.orvane.example";
    const struct tm today = LocalParts(base);
    const int y = today.tm_year + 1900, m = today.tm_mon + 1, d = today.tm_mday;
    const DemoUser& colleague = kUsers[(i + 1) % kUserCount];

    // Pages fall due one minute before the reminder: this one at base + i minutes.
    const int64_t review = base + (6 + i) * kMinute;
    calendar.Event(uid + "budget" + domain, "DTSTART:" + Floating(review),
                   "DTEND:" + Floating(review + 30 * kMinute), "Budget review", "Room 2.14", "",
                   "TRIGGER:-PT5M");

    // Daily, begun three weeks ago; today's occurrence is a few minutes away.
    const struct tm standup = LocalParts(base + (14 + i) * kMinute);
    const int64_t standupStart = Local(standup.tm_year + 1900, standup.tm_mon + 1,
                                       standup.tm_mday - 21, standup.tm_hour, standup.tm_min);
    calendar.Event(uid + "standup" + domain, "DTSTART:" + Floating(standupStart),
                   "DTEND:" + Floating(standupStart + 15 * kMinute), "Daily stand-up",
                   "Team corner", "FREQ=DAILY", "TRIGGER:-PT10M");

    // Every weekday (a daily pattern with a day mask).
    int64_t weekday = Local(y, m, d - 60, 16, 30);
    for (struct tm w = LocalParts(weekday); w.tm_wday == 0 || w.tm_wday == 6;
         w = LocalParts(weekday))
        weekday = Local(w.tm_year + 1900, w.tm_mon + 1, w.tm_mday + 1, 16, 30);
    calendar.Event(uid + "checkin" + domain, "DTSTART:" + Floating(weekday),
                   "DTEND:" + Floating(weekday + 15 * kMinute), "Team check-in", "",
                   "FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR", "TRIGGER:-PT15M");

    // Every other week on Tuesday and Thursday, begun four weeks before this week's Tuesday (so
    // this week is one of its weeks).
    const int64_t tuesday = Local(y, m, d - today.tm_wday + 2 - 28, 11, 0);
    calendar.Event(uid + "oneonone" + domain, "DTSTART:" + Floating(tuesday),
                   "DTEND:" + Floating(tuesday + 30 * kMinute),
                   std::string("One-on-one with ") + colleague.displayName, "Small meeting room",
                   "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH;WKST=SU", "TRIGGER:-PT10M");

    // Monthly on the day of the month two days from now (at most the 28th, so every month has it).
    const struct tm inTwo = LocalParts(Local(y, m, d + 2, 9, 30));
    const int monthDay = inTwo.tm_mday > 28 ? 28 : inTwo.tm_mday;
    const int64_t expenses = Local(inTwo.tm_year + 1900, inTwo.tm_mon + 1 - 3, monthDay, 9, 30);
    calendar.Event(uid + "expenses" + domain, "DTSTART:" + Floating(expenses),
                   "DTEND:" + Floating(expenses + 30 * kMinute), "Expense reports due", "",
                   "FREQ=MONTHLY;BYMONTHDAY=" + std::to_string(monthDay), "TRIGGER:-PT30M");

    // Monthly on the nth weekday that falls three days from now.
    const struct tm inThree = LocalParts(Local(y, m, d + 3, 14, 0));
    const int n = Ordinal(inThree.tm_mday);
    const std::string nthDay = std::to_string(n) + kDayNames[inThree.tm_wday];
    const struct tm earlier =
        LocalParts(Local(inThree.tm_year + 1900, inThree.tm_mon + 1 - 2, 1, 14, 0));
    const int64_t security =
        Local(earlier.tm_year + 1900, earlier.tm_mon + 1,
              NthWeekday(earlier.tm_year + 1900, earlier.tm_mon + 1, inThree.tm_wday, n), 14, 0);
    calendar.Event(uid + "security" + domain, "DTSTART:" + Floating(security),
                   "DTEND:" + Floating(security + kMinute * 60), "Security review", "Room 1.02",
                   "FREQ=MONTHLY;BYDAY=" + nthDay, "TRIGGER:-PT15M");

    // Yearly on the date four days from now, begun two years ago (never on 29 February).
    struct tm inFour = LocalParts(Local(y, m, d + 4, 10, 0));
    if (inFour.tm_mon == 1 && inFour.tm_mday == 29)
        inFour = LocalParts(Local(y, m, d + 5, 10, 0));
    const int64_t renewal =
        Local(inFour.tm_year + 1900 - 2, inFour.tm_mon + 1, inFour.tm_mday, 10, 0);
    calendar.Event(uid + "renewal" + domain, "DTSTART:" + Floating(renewal),
                   "DTEND:" + Floating(renewal + 3600), "Contract renewal", "", "FREQ=YEARLY",
                   "TRIGGER:-P1D");

    // Yearly on the nth weekday of the month that falls five days from now.
    const struct tm inFive = LocalParts(Local(y, m, d + 5, 13, 0));
    const int n5 = Ordinal(inFive.tm_mday);
    const int lastYear = inFive.tm_year + 1900 - 1;
    const int64_t audit = Local(lastYear, inFive.tm_mon + 1,
                                NthWeekday(lastYear, inFive.tm_mon + 1, inFive.tm_wday, n5), 13, 0);
    calendar.Event(uid + "audit" + domain, "DTSTART:" + Floating(audit),
                   "DTEND:" + Floating(audit + 2 * 3600), "Annual audit kick-off", "Board room",
                   "FREQ=YEARLY;BYMONTH=" + std::to_string(inFive.tm_mon + 1) +
                       ";BYDAY=" + std::to_string(n5) + kDayNames[inFive.tm_wday],
                   "TRIGGER:-PT1H");

    // A rule that no pattern type expresses: twice a month, tomorrow's day of the month and the
    // day two weeks away from it.
    const struct tm tomorrow = LocalParts(Local(y, m, d + 1, 12, 0));
    const int first = tomorrow.tm_mday > 28 ? 28 : tomorrow.tm_mday;
    const int second = first + 14 <= 28 ? first + 14 : first - 14;
    const int64_t payroll = Local(tomorrow.tm_year + 1900, tomorrow.tm_mon + 1 - 2, first, 12, 0);
    calendar.Event(uid + "payroll" + domain, "DTSTART:" + Floating(payroll),
                   "DTEND:" + Floating(payroll + 1800), "Payroll cut-off", "",
                   "FREQ=MONTHLY;BYMONTHDAY=" + std::to_string(std::min(first, second)) + "," +
                       std::to_string(std::max(first, second)),
                   "TRIGGER:-PT1H");

    // Weekly on Fridays with next week's lunch cancelled.
    int64_t friday = Local(y, m, d - 56, 12, 0);
    for (struct tm t = LocalParts(friday); t.tm_wday != 5; t = LocalParts(friday))
        friday = Local(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday + 1, 12, 0);
    int64_t skipped = friday;
    for (struct tm t = LocalParts(skipped); skipped < base + 7 * kDay; t = LocalParts(skipped))
        skipped = Local(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday + 7, 12, 0);
    calendar.Event(uid + "lunch" + domain, "DTSTART:" + Floating(friday),
                   "DTEND:" + Floating(friday + 3600), "Lunch and learn", "Cafeteria",
                   "FREQ=WEEKLY;BYDAY=FR", "TRIGGER:-PT15M",
                   "EXDATE:" + Floating(skipped) + "\r\n");

    // All day tomorrow, reminded at 09:00 today (15 hours before midnight).
    calendar.Event(uid + "offsite" + domain,
                   "DTSTART;VALUE=DATE:" + DateOf(Local(y, m, d + 1, 12, 0)),
                   "DTEND;VALUE=DATE:" + DateOf(Local(y, m, d + 2, 12, 0)), "Offsite planning day",
                   "", "", "TRIGGER:-PT15H");

    // A fixed instant (UTC) in three days.
    const int64_t quarterly = (base / kDay + 3) * kDay + 15 * 3600;
    calendar.Event(uid + "quarterly" + domain, "DTSTART:" + Utc(quarterly),
                   "DTEND:" + Utc(quarterly + 3600), "Quarterly planning", "Board room", "",
                   "TRIGGER:-PT15M");

    tasks.Task(uid + "timesheet" + domain, "Submit timesheet",
               "DUE:" + Floating(Local(y, m, d, 17, 0)), "NEEDS-ACTION",
               "TRIGGER;VALUE=DATE-TIME:" + Utc(base + (2 + i) * kMinute));
    tasks.Task(uid + "parking" + domain, "Renew parking permit",
               "DUE:" + Floating(Local(y, m, d + 2, 9, 0)), "NEEDS-ACTION",
               "TRIGGER;RELATED=END:-PT1H");
    tasks.Task(uid + "toner" + domain, "Order printer toner", "", "COMPLETED",
               "TRIGGER;VALUE=DATE-TIME:" + Utc(base + 5 * kMinute));
    tasks.Task(uid + "report" + domain, "Read the quarterly report",
               "DUE:" + Floating(Local(y, m, d + 6, 12, 0)), "IN-PROCESS", "");
}

bool WriteFile(const std::string& path, const std::string& bytes, std::ostream& err) {
    const SaveResult saved = SaveFileAtomically(path, bytes);
    if (!saved.ok())
        err << "orvane: " << path << " cannot be written (" << saved.Describe() << ")\n";
    return saved.ok();
}

bool MakeDirectory(const std::string& path, std::ostream& err) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) {
        err << "orvane: the directory " << path << " cannot be created: " << ec.message() << "\n";
        return false;
    }
    return true;
}

bool IsEmptyDirectory(const std::string& path, bool& exists) {
    std::error_code ec;
    exists = std::filesystem::exists(path, ec);
    if (!exists)
        return true;
    return std::filesystem::is_directory(path, ec) && std::filesystem::is_empty(path, ec);
}

int Init(Args args, std::ostream& out, std::ostream& err) {
    bool force = false;
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--force") {
            force = true;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    if (args.size() != 2 || args[1].empty() || args[1].compare(0, 2, "--") == 0) {
        err << "orvane: demo init takes one directory (and optionally --force); see orvane "
               "--help\n";
        return 2;
    }
    std::error_code ec;
    const std::string directory =
        std::filesystem::absolute(args[1], ec).lexically_normal().string();
    std::string root = directory;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    bool exists = false;
    if (!IsEmptyDirectory(root, exists) && !force) {
        err << "orvane: " << root
            << " is not an empty directory; give --force to write the demo into it anyway\n";
        return 1;
    }
    if (exists && !std::filesystem::is_directory(root, ec)) {
        err << "orvane: " << root << " is not a directory\n";
        return 1;
    }

    // Held from the start, so that no other command changes the profiles while the demo is
    // written and none is half written when another one holds them.
    FileLock lock;
    if (!LockProfiles(lock, err))
        return 1;

    const int64_t now = Clock::Now().GetTime();
    const int64_t base = (now + kMinute - 1) / kMinute * kMinute;
    const std::string mailSystem = root + "/" + kMailDirectory;
    if (!MakeDirectory(mailSystem + "/" + mail::kOutboxDirectoryName, err))
        return 1;

    std::vector<mail::AddressEntry> entries;
    for (int i = 0; i < kUserCount; ++i) {
        const DemoUser& u = kUsers[i];
        entries.push_back({u.displayName, Address(u.folder), Store(i), u.folder, ""});
        entries.push_back({PagerName(u), Address(u.folder) + "-pager", "", "",
                           std::string(u.pagerNumber) + "@pager.demo.orvane.example"});
    }
    if (!WriteFile(
            mailSystem + "/" + mail::kAddressListFileName,
            mail::FormatAddressList(
                entries,
                "Global address list of the Orvane demo. Each entry is a block of\n"
                "\"Field: value\" lines; blank lines separate entries (docs/mailsystem.md)."),
            err))
        return 1;

    for (int i = 0; i < kUserCount; ++i) {
        const std::string folder =
            mailSystem + "/" + mail::kMailboxesDirectoryName + "/" + kUsers[i].folder;
        if (!MakeDirectory(folder, err))
            return 1;
        Calendar calendar, tasks;
        calendar.SetStamp(Utc(now));
        tasks.SetStamp(Utc(now));
        WriteCalendars(i, base, calendar, tasks);
        if (!WriteFile(folder + "/" + mail::kCalendarFileName, calendar.Text(), err) ||
            !WriteFile(folder + "/" + mail::kTasksFileName, tasks.Text(), err))
            return 1;
        const std::string state = folder + "/" + mail::kOutOfOfficeFileName;
        if (kUsers[i].oof) {
            if (!WriteFile(state, std::string(kUsers[i].oof) + "\n", err))
                return 1;
        } else {
            std::remove(state.c_str());
        }
    }

    CUserList users;
    for (int i = 0; i < kUserCount; ++i) {
        const DemoUser& u = kUsers[i];
        UserlistStru* user = users.CreateUser();
        user->DisplayName = u.displayName;
        user->MailboxName = Address(u.folder);
        user->Server = Store(i);
        user->PagerName = PagerName(u);
        user->ScanInterval = 15;
        user->PageOnlyOOF = u.pageOnlyOOF ? 1 : 0;
    }
    const CString previous = WorkingDirectory::Get();
    WorkingDirectory::Set(root);
    const UserFileSave saved = users.SaveUsers();
    if (previous.empty())
        WorkingDirectory::Set("");
    else
        WorkingDirectory::Set(previous.substr(0, previous.size() - 1));
    if (saved != UserFileSave::Saved) {
        err << "orvane: " << root << "/" << UserFile::kFileName << " was not written\n";
        return 1;
    }

    mail::Profiles profiles;
    std::string error;
    if (!profiles.Load(error)) {
        err << "orvane: " << error << "\norvane: the demo was written, but the profile \""
            << kProfileName << "\" was not; repair the profiles file, then run: orvane profile set "
            << kProfileName << " --mail-system " << mailSystem << " --transport outbox\n";
        return 1;
    }
    const bool replaced = profiles.Find(kProfileName) != nullptr;
    profiles.Set({kProfileName, mailSystem, mail::TransportConfig{}, {}});
    if (profiles.DefaultName().empty())
        profiles.SetDefault(kProfileName);
    if (!profiles.Save(error)) {
        err << "orvane: " << error << "\n";
        return 1;
    }

    out << "Created the Orvane demo in " << root << ":\n"
        << "  " << root << "/" << UserFile::kFileName << "  " << kUserCount << " monitored users\n"
        << "  " << mailSystem << "/  the mail system: address list, " << kUserCount
        << " mailboxes, outbox\n"
        << "Profile \"" << kProfileName << "\" " << (replaced ? "now uses " : "uses ") << mailSystem
        << " with the outbox transport";
    if (profiles.DefaultName() == kProfileName)
        out << "; it is the default profile.\n";
    else
        out << ".\nThe default profile is \"" << profiles.DefaultName()
            << "\": set the ProfileName preference to \"" << kProfileName
            << "\" or run: orvane profile set " << kProfileName << " --default\n";
    out << "The first pages fall due from " << CTime(static_cast<int32_t>(base)).Format("%H:%M")
        << " on. Start monitoring with:\n"
        << "  cd " << root << " && orvane --headless\n"
        << "Pages are written to " << mailSystem << "/" << mail::kOutboxDirectoryName << "/.\n";
    return 0;
}

int RunDemo(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] != "init") {
        err << "orvane: demo needs init DIR; see orvane --help\n";
        return 2;
    }
    return Init(args, out, err);
}

} // namespace

const Command kDemoCommand = {
    "demo",
    "  demo init DIR [--force]\n"
    "      Creates a demonstration in DIR: a mail system (DIR/mail) with a dozen users,\n"
    "      their pagers, calendars and task lists, some users out of office; a\n"
    "      Users.dat monitoring them; and the profile \"Demo\" (the default when there\n"
    "      is none). Reminders are placed so that pages fall due within minutes.\n"
    "      DIR must be empty or new unless --force is given.\n",
    RunDemo,
};

} // namespace cli
