// The automation layer over a real mail system reached through a real profile: every pattern
// type, times across a daylight-saving change, minute edges, tasks, a damaged calendar and
// pathological rules (tests/data/outlook/mail).
#include "core/Clock.h"
#include "mailsystem/Profiles.h"
#include "outlook/automation/ComRuntime.h"
#include "outlook/automation/OleDate.h"
#include "outlook/automation/OutlookObjects.h"
#include "outlook/automation/OutlookServer.h"
#include "support/TestSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace outlook_id;
using testing_support::DataDir;
using testing_support::ReadFile;
using testing_support::ScopedTimeZone;
using testing_support::TempDir;

namespace {

constexpr const char* kWeek = "[Start] >= '03/06/26 08:00AM' AND [Start] <= '03/13/26 08:00AM'";

std::string Format(DATE date) {
    OleLocalTime t;
    if (!VariantTimeToLocalTime(date, t))
        return "unconvertible";
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

// One line per item: "START - END | SUBJECT | LOCATION | LEAD | PATTERN".
std::string Render(_AppointmentItem& item) {
    std::string line =
        Format(item.GetStart()) + " - " + Format(item.GetEnd()) + " | " + item.GetSubject() +
        " | " + item.GetLocation() + " | " +
        (item.GetReminderSet() ? std::to_string(item.GetReminderMinutesBeforeStart()) : "-") +
        " | ";
    if (!item.GetIsRecurring())
        return line + "single";
    RecurrencePattern p(item.GetRecurrencePattern());
    char pattern[96];
    std::snprintf(pattern, sizeof pattern, "type %d int %d inst %d mask %d day %d month %d",
                  p.GetRecurrenceType(), p.GetInterval(), p.GetInstance(), p.GetDayOfWeekMask(),
                  p.GetDayOfMonth(), p.GetMonthOfYear());
    return line + pattern;
}

class RealMailSystem : public ::testing::Test {
protected:
    void SetUp() override {
        live = automation::LiveObjects();
        invalid = automation::InvalidReleases();
        std::filesystem::copy(DataDir() + "/outlook/mail", mail,
                              std::filesystem::copy_options::recursive);
        mail::Profile profile;
        profile.name = "Integration";
        profile.mailSystem = mail;
        WriteProfiles({profile}, "Integration");
        Clock::Freeze(CTime(2026, 3, 6, 8, 0, 40));
        ASSERT_EQ(CoInitialize(), S_OK);
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(automation::LiveObjects(), live);
        EXPECT_EQ(automation::InvalidReleases(), invalid);
    }

    static void WriteProfiles(const std::vector<mail::Profile>& profiles,
                              const std::string& defaultName) {
        std::remove(mail::Profiles::FilePath().c_str());
        mail::Profiles set;
        for (const auto& p : profiles)
            set.Set(p);
        if (!defaultName.empty()) {
            EXPECT_TRUE(set.SetDefault(defaultName));
        }
        std::string error;
        ASSERT_TRUE(set.Save(error)) << error;
    }

    struct Session {
        _Application app;
        _NameSpace ns;
        explicit Session(const char* profile = "Integration") {
            EXPECT_EQ(app.CreateDispatch("Outlook.Application"), 1);
            ns.AttachDispatch(app.GetNamespace("MAPI"));
            ns.Logon(COleVariant(profile), COleVariant(""), COleVariant(true), COleVariant(true));
        }
        ~Session() { ns.Logoff(); }
        _Items Items(const char* mailbox, int32_t type) {
            Recipient recipient(
                ns.CreateRecipient((std::string("EX:/o=Test/cn=") + mailbox).c_str()));
            EXPECT_TRUE(recipient.Resolve());
            MAPIFolder folder(ns.GetSharedDefaultFolder(recipient.m_lpDispatch, type));
            _Items items(folder.GetItems());
            items.Sort("[Start]", COleVariant(false));
            items.SetIncludeRecurrences(true);
            return items;
        }
        std::string Week(const char* mailbox, const char* filter = kWeek) {
            _Items items = Items(mailbox, olFolderCalendar);
            std::string text;
            for (LPDISPATCH p = items.Find(filter); p; p = items.FindNext()) {
                _AppointmentItem item(p);
                text += Render(item) + "\n";
            }
            return text;
        }
    };

    ScopedTimeZone zone{"America/New_York"};
    TempDir dir;
    std::string mail = dir.File("mail");
    std::size_t live = 0, invalid = 0;
};

} // namespace

TEST_F(RealMailSystem, TheWeekOfEveryPatternTypeThroughTheLayer) {
    Session s;
    EXPECT_EQ(s.Week("alice"), ReadFile(DataDir() + "/outlook/alice-week.expected"));
}

TEST_F(RealMailSystem, DailyOccurrencesKeepTheirHourAcrossTheChange) {
    Session s;
    _Items items = s.Items("alice", olFolderCalendar);
    int day = 6;
    for (LPDISPATCH p = items.Find(
             "[Subject] = 'Daily standup' AND [Start] >= '03/06/26' AND [Start] < '03/11/26'");
         p; p = items.FindNext(), ++day) {
        _AppointmentItem item(p);
        WORD dosDate = 0, dosTime = 0;
        ASSERT_EQ(VariantTimeToDosDateTime(item.GetStart(), &dosDate, &dosTime), 1);
        const CTime start = DosDateTimeToCTime(dosDate, dosTime).value();
        EXPECT_EQ(start, CTime(2026, 3, day, 9, 0, 0));
        EXPECT_EQ(start.GetHour(), 9);
    }
    EXPECT_EQ(day, 11);
    // The 24 hours after Saturday's 09:00 EST end at 10:00 EDT on Sunday.
    EXPECT_EQ(CTime(2026, 3, 8, 9, 0, 0) - CTime(2026, 3, 7, 9, 0, 0), CTimeSpan(23 * 3600));
}

TEST_F(RealMailSystem, TasksAtTheMinuteEdge) {
    Session s;
    _Items tasks = s.Items("alice", olFolderTasks);
    std::string found;
    for (LPDISPATCH p = tasks.Find("[ReminderTime] >= '03/06/26 08:00'"); p; p = tasks.FindNext()) {
        _TaskItem task(p);
        found += task.GetSubject() + " | " +
                 (task.GetReminderSet() ? Format(task.GetReminderTime()) : "-") + "\n";
    }
    // A reminder 40 seconds before now is in the current minute; tasks without one (no alarm,
    // or done) read as the "None" date and match too.
    EXPECT_EQ(found, "Send the report | 2026-03-06 08:00:00\nNo alarm | -\nDone already | -\n");
}

TEST_F(RealMailSystem, ADamagedCalendarFailsThatMailboxOnly) {
    Session s;
    _Items bob = s.Items("bob", olFolderCalendar);
    try {
        bob.Find(kWeek);
        ADD_FAILURE() << "no exception";
    } catch (const COleDispatchException& e) {
        EXPECT_NE(e.m_strDescription.find(mail + "/mailboxes/bob/calendar.ics"), std::string::npos)
            << e.m_strDescription;
    }
    // Tasks are read from both files, so the damaged calendar fails the task search as well.
    _Items bobTasks = s.Items("bob", olFolderTasks);
    EXPECT_THROW(bobTasks.Find("[ReminderTime] >= '03/06/26 08:00'"), COleDispatchException);
    EXPECT_FALSE(s.Week("alice").empty());
    _Items aliceTasks = s.Items("alice", olFolderTasks);
    automation::Release(aliceTasks.Find("[ReminderTime] >= '03/06/26 08:00'"));
}

TEST_F(RealMailSystem, PathologicalRulesCostBoundedTimeAndLeaveTheOthersAlone) {
    Session s;
    // A rule that is not walked (every second, an interval of zero) leaves its event's first
    // occurrence, as a single appointment.
    EXPECT_EQ(s.Week("carol"),
              "2026-03-06 08:00:00 - 2026-03-06 08:00:01 | Every second |  | 1 | single\n"
              "2026-03-06 09:00:00 - 2026-03-06 10:00:00 | Interval zero |  | 5 | single\n"
              "2026-03-09 09:30:00 - 2026-03-09 10:00:00 | Still found |  | 15 | single\n");
    // Without [Start] bounds a Find reads at most a bounded year, from now on.
    EXPECT_EQ(s.Week("carol", "[Subject] <> ''"),
              "2026-03-06 09:00:00 - 2026-03-06 10:00:00 | Interval zero |  | 5 | single\n"
              "2026-03-09 09:30:00 - 2026-03-09 10:00:00 | Still found |  | 15 | single\n");
}

TEST_F(RealMailSystem, LogonThroughTheProfileFile) {
    { Session named("Integration"); }
    { Session byDefault(""); }
    _Application app;
    ASSERT_EQ(app.CreateDispatch("Outlook.Application"), 1);
    _NameSpace ns(app.GetNamespace("MAPI"));
    auto logonFails = [&](const char* profile) {
        try {
            ns.Logon(COleVariant(profile), COleVariant(""), COleVariant(true), COleVariant(true));
        } catch (const COleDispatchException& e) {
            return e.m_strDescription;
        }
        return std::string("no exception");
    };
    EXPECT_EQ(logonFails("Nope"), "The mail profile \"Nope\" does not exist.");

    // A profile file without a default, as a person may write it.
    std::ofstream(mail::Profiles::FilePath())
        << "[Missing]\nmail-system = " << dir.File("nowhere") << "\n";
    EXPECT_EQ(logonFails(""), "No default mail profile is set.");
    const std::string noDirectory = logonFails("Missing");
    EXPECT_NE(noDirectory.find(dir.File("nowhere")), std::string::npos) << noDirectory;

    std::ofstream(mail::Profiles::FilePath()) << "[Broken]\nfrobnicate = yes\n";
    const std::string broken = logonFails("Broken");
    EXPECT_NE(broken.find(mail::Profiles::FilePath()), std::string::npos) << broken;
    // A failed logon leaves the session closed.
    EXPECT_THROW(ns.CreateRecipient("EX:/o=Test/cn=alice"), COleDispatchException);
}

TEST_F(RealMailSystem, EachLogonSeesTheMailSystemAsItIsThen) {
    const auto resolves = [](const char* name) {
        Session s;
        return Recipient(s.ns.CreateRecipient(name)).Resolve();
    };
    EXPECT_TRUE(resolves("EX:/o=Test/cn=alice"));
    EXPECT_FALSE(resolves("EX:/o=Test/cn=dave"));
    std::ofstream(mail + "/address-list.txt", std::ios::app)
        << "\nDisplay-Name: Dave Doe\nAddress: /o=Test/cn=dave\nMailbox: dave\n";
    EXPECT_TRUE(resolves("EX:/o=Test/cn=dave")) << "the changed list, at the next logon";

    // A list that cannot be read fails the logon as opening the mail system does.
    const std::string list = mail + "/address-list.txt";
    std::filesystem::rename(list, list + ".away");
    _Application app;
    ASSERT_EQ(app.CreateDispatch("Outlook.Application"), 1);
    _NameSpace ns(app.GetNamespace("MAPI"));
    try {
        ns.Logon(COleVariant("Integration"), COleVariant(""), COleVariant(true), COleVariant(true));
        ADD_FAILURE() << "no exception";
    } catch (const COleDispatchException& e) {
        EXPECT_NE(e.m_strDescription.find("has no address list"), std::string::npos)
            << e.m_strDescription;
    }
    std::filesystem::rename(list + ".away", list);
    EXPECT_TRUE(resolves("EX:/o=Test/cn=dave"));
}

TEST_F(RealMailSystem, NamesAndFoldersFromTheAddressList) {
    Session s;
    EXPECT_TRUE(Recipient(s.ns.CreateRecipient("Alice Archer")).Resolve());
    EXPECT_TRUE(Recipient(s.ns.CreateRecipient("/o=Test/cn=carol")).Resolve());
    EXPECT_FALSE(Recipient(s.ns.CreateRecipient("EX:/o=Test/cn=dave")).Resolve());
    Recipient pager(s.ns.CreateRecipient("Alice Archer (Pager)"));
    EXPECT_TRUE(pager.Resolve());
    try {
        MAPIFolder(s.ns.GetSharedDefaultFolder(pager.m_lpDispatch, olFolderCalendar));
        ADD_FAILURE() << "no exception";
    } catch (const COleDispatchException& e) {
        EXPECT_EQ(e.m_strDescription, automation::kObjectNotFound);
    }
    // A change to the address list is seen at the next resolution.
    std::ofstream(mail + "/address-list.txt", std::ios::app)
        << "\nDisplay-Name: Dave Doe\nAddress: /o=Test/cn=dave\nMailbox: dave\n";
    EXPECT_TRUE(Recipient(s.ns.CreateRecipient("EX:/o=Test/cn=dave")).Resolve());
}
