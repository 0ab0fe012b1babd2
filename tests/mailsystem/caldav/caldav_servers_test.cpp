// Calendars on real servers on loopback (Radicale; Xandikos, alone and behind lighttpd asking for
// Digest), read through the whole scan: the same reminders as from the directory, changes seen
// at the next scan, and what a rescan costs.
#include "app/cli/Cli.h"
#include "core/Clock.h"
#include "mailsystem/ProfileMailSystem.h"
#include "mailsystem/caldav/CalDavStore.h"
#include "support/CalDavServers.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace caldav_test;
using namespace testing_support;

std::string ReadIfPresent(const fs::path& path) {
    return fs::exists(path) ? ReadFile(path.string()) : std::string();
}

std::string Address(const std::string& mailbox) {
    return "/o=Quorvik/ou=Test/cn=Recipients/cn=" + mailbox;
}

struct Scanned {
    int code;
    std::string out, err;
};

class ServerTest : public testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        server = std::make_unique<DavServer>(GetParam());
        ASSERT_TRUE(server->Started());
    }

    // The profiles "Directory" and "Dav" on `directory` (the fixture's mail system by default),
    // "Dav" reading the calendars from the server.
    void UseProfiles(const std::string& directory = {}) {
        const std::string system = directory.empty() ? mail.Directory() : directory;
        mail::Profiles profiles;
        std::string error;
        ASSERT_TRUE(profiles.Load(error)) << error;
        const mail::dav::Account reader = server->Reader();
        mail::Profile profile;
        profile.name = "Directory";
        profile.mailSystem = system;
        profiles.Set(profile);
        profile.name = "Dav";
        profile.calendars = {server->Template(), reader.user, reader.password};
        profiles.Set(profile);
        ASSERT_TRUE(profiles.Save(error)) << error;
    }

    // An address-list entry for `mailbox`, its files in the directory, and the same files as the
    // collections "calendar" and "tasks" of its calendar home on the server.
    void AddMailbox(const std::string& mailbox, const std::string& calendar,
                    const std::string& tasks, const char* calendarComponents = "",
                    const char* taskComponents = "") {
        mail.Add({"User " + mailbox, Address(mailbox), "/o=Quorvik/cn=MAIL1", mailbox, ""});
        if (!calendar.empty())
            WriteFile(mail.MailboxDirectory(mailbox) + "/calendar.ics", calendar);
        if (!tasks.empty())
            WriteFile(mail.MailboxDirectory(mailbox) + "/tasks.ics", tasks);
        Upload(mailbox, calendar, tasks, calendarComponents, taskComponents);
    }

    void Upload(const std::string& mailbox, const std::string& calendar, const std::string& tasks,
                const char* calendarComponents = "", const char* taskComponents = "") {
        ASSERT_TRUE(server->MakeHome(mailbox));
        ASSERT_TRUE(server->MakeCollection(mailbox, "calendar", calendarComponents));
        ASSERT_TRUE(server->MakeCollection(mailbox, "tasks", taskComponents));
        ASSERT_TRUE(server->PutCalendar(mailbox, "calendar", calendar));
        ASSERT_TRUE(server->PutCalendar(mailbox, "tasks", tasks));
    }

    static Scanned Scan(const std::string& address, const char* profile, const std::string& at) {
        std::ostringstream out, err;
        const int code = cli::Run({"scan", address, "--profile", profile, "--at", at}, out, err);
        return {code, out.str(), err.str()};
    }

    // One session (scan pass) over the fixture's mail system with the server's calendars.
    std::shared_ptr<mail::MailSystem> Session(const mail::dav::Limits& limits = {}) {
        std::string error;
        auto directory = mail::MailSystem::Open(mail.Directory(), error);
        EXPECT_TRUE(directory) << error;
        const mail::dav::Account reader = server->Reader();
        return mail::WithCalendarServer(directory,
                                        {server->Template(), reader.user, reader.password}, limits);
    }

    std::unique_ptr<DavServer> server;
    MailFixture mail;
};

// The subjects of the appointments of the coming week and of the tasks, as one line each.
std::string Week(mail::MailSystem& session, const std::string& mailbox, int64_t now) {
    mail::AddressEntry entry;
    entry.displayName = "User " + mailbox;
    entry.mailbox = mailbox;
    std::vector<mail::Appointment> appointments;
    std::vector<mail::Task> tasks;
    std::string error;
    if (!session.FindAppointments(entry, now, now + 7 * 86400, appointments, error))
        return "failed: " + error;
    if (!session.FindTasks(entry, tasks, error))
        return "failed: " + error;
    std::string text;
    for (const mail::Appointment& a : appointments)
        text += (text.empty() ? "" : ", ") + a.subject;
    text += " |";
    for (const mail::Task& t : tasks)
        text += " " + t.subject;
    return text;
}

uint64_t Requests() {
    return mail::dav::GetStats().requests;
}

} // namespace

TEST_P(ServerTest, ScanCasesGiveTheDirectorysReminders) {
    std::vector<std::string> cases;
    for (const auto& entry : fs::directory_iterator(DataDir() + "/scan"))
        cases.push_back(entry.path().filename().string());
    std::sort(cases.begin(), cases.end());
    // Some cases hold what a server refuses to store (an empty RRULE, a broken fold, two
    // versions of one UID, RSCALE, an exception with a rule, a rule it cannot read): those can
    // never come from a server, the others must give exactly what the directory gives. A broken
    // fold or a damaged component is not iCalendar at all: Radicale refuses it, Xandikos keeps it
    // mended its own way (dropping the lost line), so it is not compared; lines that end with a
    // carriage return alone are not what a server sends. Radicale stores the timed RDATE of an
    // all-day event as a date; Xandikos rewrites rules it cannot read (FREQ=FORTNIGHTLY becomes
    // "None", of two COUNTs it keeps the last).
    std::vector<std::string> compared, refused;
    for (const std::string& name : cases) {
        if (name == "lost-fold" || name == "damaged-component" || name == "lone-cr" ||
            name == "unwalked-rules" ||
            (GetParam() == Kind::Radicale && name.rfind("allday-timed-rdate", 0) == 0))
            continue;
        const fs::path dir = fs::path(DataDir()) / "scan" / name;
        const std::string calendar = ReadIfPresent(dir / "calendar.ics");
        const std::string tasks = ReadIfPresent(dir / "tasks.ics");
        mail.Add({"User " + name, Address(name), "/o=Quorvik/cn=MAIL1", name, ""});
        if (!calendar.empty())
            WriteFile(mail.MailboxDirectory(name) + "/calendar.ics", calendar);
        if (!tasks.empty())
            WriteFile(mail.MailboxDirectory(name) + "/tasks.ics", tasks);
        ASSERT_TRUE(server->MakeHome(name));
        ASSERT_TRUE(server->MakeCollection(name, "calendar"));
        ASSERT_TRUE(server->MakeCollection(name, "tasks"));
        bool invalid = false;
        if (server->PutCalendar(name, "calendar", calendar, &invalid) &&
            server->PutCalendar(name, "tasks", tasks, &invalid) && !invalid)
            compared.push_back(name);
        else
            refused.push_back(name);
    }
    std::cout << KindName(GetParam()) << " refused the cases:";
    for (const std::string& name : refused)
        std::cout << " " << name;
    std::cout << "\n";
    EXPECT_GE(compared.size(), 30u);
    EXPECT_LE(refused.size(), 5u);
    UseProfiles();
    for (const std::string& name : compared) {
        SCOPED_TRACE(name);
        const fs::path dir = fs::path(DataDir()) / "scan" / name;
        std::string zone, at;
        std::istringstream in(ReadFile((dir / "case.txt").string()));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("tz ", 0) == 0)
                zone = line.substr(3);
            else if (line.rfind("at ", 0) == 0)
                at = line.substr(3);
        }
        ScopedTimeZone tz(zone.c_str());
        const Scanned directory = Scan(Address(name), "Directory", at);
        const Scanned dav = Scan(Address(name), "Dav", at);
        EXPECT_EQ(directory.out, ReadFile((dir / "expected.txt").string())) << directory.err;
        EXPECT_EQ(dav.out, directory.out) << dav.err;
        EXPECT_EQ(dav.code, directory.code);
        // Standard error says which collections were read, and what the items of a case whose
        // file gives events hold (each item of a UID of its own, so their count may differ).
        for (const char* collection : {"calendar", "tasks"})
            EXPECT_NE(dav.err.find("orvane: read " + server->CollectionOf(name, collection) + " ("),
                      std::string::npos)
                << dav.err;
        const bool events = fs::exists(dir / "expected-err.txt");
        const std::string itemNotice = "orvane: The calendar item " + server->HomeOf(name);
        bool noticed = false;
        std::istringstream lines(dav.err);
        for (std::string line; std::getline(lines, line);) {
            const bool notice = line.rfind(itemNotice, 0) == 0;
            noticed = noticed || notice;
            EXPECT_TRUE(line.rfind("orvane: read ", 0) == 0 || (events && notice)) << line;
        }
        EXPECT_EQ(noticed, events) << dav.err;
    }
}

TEST_P(ServerTest, DemoAndGeneratedMailboxesGiveTheDirectorysReminders) {
    // The demo: every pattern type, exceptions, excluded dates, tasks of every kind, placed
    // around the moment it is made.
    ScopedTimeZone tz("America/New_York");
    const CTime made(2026, 10, 5, 8, 0, 0);
    Clock::Freeze(made);
    TempDir demo;
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"demo", "init", demo.File("d")}, out, err), 0) << err.str();
    const std::string system = demo.File("d/mail");
    std::vector<mail::AddressEntry> entries;
    {
        std::string error;
        auto opened = mail::MailSystem::Open(system, error);
        ASSERT_TRUE(opened) << error;
        ASSERT_TRUE(opened->AddressList(entries, error)) << error;
    }
    std::vector<std::string> mailboxes;
    for (const mail::AddressEntry& e : entries) {
        if (e.mailbox.empty())
            continue;
        const std::string folder = system + "/mailboxes/" + e.mailbox;
        Upload(e.mailbox, ReadIfPresent(folder + "/calendar.ics"),
               ReadIfPresent(folder + "/tasks.ics"));
        mailboxes.push_back(e.address);
    }
    ASSERT_GE(mailboxes.size(), 10u);
    UseProfiles(system);
    size_t reminders = 0;
    // Half a minute past the moment, and a day and a half later (the copies are kept).
    for (const char* at : {"2026-10-05 08:00:30", "2026-10-06 20:00:30"}) {
        for (const std::string& address : mailboxes) {
            SCOPED_TRACE(address + " at " + at);
            const Scanned directory = Scan(address, "Directory", at);
            const Scanned dav = Scan(address, "Dav", at);
            EXPECT_EQ(directory.code, 0) << directory.err;
            EXPECT_EQ(dav.out, directory.out) << dav.err;
            reminders += static_cast<size_t>(std::count(dav.out.begin(), dav.out.end(), '\n')) - 1;
        }
    }
    EXPECT_GE(reminders, 20u) << "the demo pages within its first minutes and days";

    // Generated mailboxes: hundreds of events over two years in three zones, a calendar that
    // holds events and a task list that holds tasks.
    const std::string generated = DataDir() + "/caldav/generated";
    for (const char* mailbox : {"mbox00000", "mbox00001"}) {
        mail.Add(
            {std::string("User ") + mailbox, Address(mailbox), "/o=Quorvik/cn=MAIL1", mailbox, ""});
        fs::copy(generated + "/" + mailbox, mail.MailboxDirectory(mailbox),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        Upload(mailbox, ReadFile(generated + "/" + mailbox + "/calendar.ics"),
               ReadFile(generated + "/" + mailbox + "/tasks.ics"), "VEVENT", "VTODO");
    }
    UseProfiles();
    reminders = 0;
    for (const char* at : {"2026-03-14 09:05:40", "2026-03-16 17:45:30", "2026-04-02 07:00:30"}) {
        for (const char* mailbox : {"mbox00000", "mbox00001"}) {
            SCOPED_TRACE(std::string(mailbox) + " at " + at);
            const Scanned directory = Scan(Address(mailbox), "Directory", at);
            const Scanned dav = Scan(Address(mailbox), "Dav", at);
            EXPECT_EQ(directory.code, 0) << directory.err;
            EXPECT_EQ(dav.out, directory.out) << dav.err;
            reminders += static_cast<size_t>(std::count(dav.out.begin(), dav.out.end(), '\n')) - 1;
        }
    }
    EXPECT_GE(reminders, 50u);
}

TEST_P(ServerTest, SeesChangesAtTheNextScanAndAnUnchangedRescanCostsOneRequest) {
    ScopedTimeZone tz("UTC");
    const int64_t now = CTime(2026, 6, 1, 9, 0, 0).GetTime();
    Clock::Freeze(CTime(static_cast<int32_t>(now)));
    auto event = [](const std::string& uid, const std::string& subject, const std::string& start,
                    const std::string& rule = "") {
        return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\nBEGIN:VEVENT\r\n"
               "UID:" +
               uid + "\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:" + subject + "\r\nDTSTART:" + start +
               "\r\nDURATION:PT30M\r\n" + rule +
               "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
               "END:VCALENDAR\r\n";
    };
    const std::string task = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\n"
                             "BEGIN:VTODO\r\nUID:far\r\nDTSTAMP:20260101T000000Z\r\n"
                             "SUMMARY:Due in two months\r\nDUE:20260801T090000Z\r\nBEGIN:VALARM\r\n"
                             "ACTION:DISPLAY\r\nTRIGGER;VALUE=DATE-TIME:20260602T080000Z\r\n"
                             "END:VALARM\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
    for (const char* mailbox : {"ann", "bob", "cy"}) {
        mail.Add({std::string("User ") + mailbox, Address(mailbox), "", mailbox, ""});
        ASSERT_TRUE(server->MakeHome(mailbox));
        ASSERT_TRUE(server->MakeCollection(mailbox, "work"));
        ASSERT_TRUE(
            server->PutItem(mailbox, "work", "a.ics", event("a", "Alpha", "20260602T100000Z")));
        ASSERT_TRUE(
            server->PutItem(mailbox, "work", "b.ics", event("b", "Beta", "20260603T100000Z")));
        // A series begun two years ago, and a meeting long over.
        ASSERT_TRUE(server->PutItem(
            mailbox, "work", "old.ics",
            event("old", "Old series", "20240603T080000Z", "RRULE:FREQ=WEEKLY;BYDAY=MO\r\n")));
        ASSERT_TRUE(server->PutItem(mailbox, "work", "past.ics",
                                    event("past", "Past", "20260501T100000Z")));
        ASSERT_TRUE(server->MakeCollection(mailbox, "todo"));
        ASSERT_TRUE(server->PutItem(mailbox, "todo", "far.ics", task));
    }
    std::vector<std::string> notices;
    mail::caldav::NoticeObserver previous = mail::caldav::SetNoticeObserver(
        [&notices](const std::string& line) { notices.push_back(line); });

    const uint64_t cold = Requests();
    const std::string first = "Alpha, Beta, Old series | Due in two months";
    for (const char* mailbox : {"ann", "bob", "cy"})
        EXPECT_EQ(Week(*Session(), mailbox, now), first);
    const uint64_t coldRequests = Requests() - cold;
    EXPECT_NE(std::find(notices.begin(), notices.end(),
                        "read " + server->CollectionOf("ann", "work") +
                            " (appointments and tasks): 4 items, 4 fetched in " +
                            (GetParam() == Kind::Radicale ? "1 request" : "2 requests")),
              notices.end())
        << "Radicale sends the data with its sync-collection report, Xandikos does not";

    // Nothing changed: one request a mailbox, whatever the number of collections.
    notices.clear();
    const uint64_t before = Requests();
    {
        auto session = Session();
        for (const char* mailbox : {"ann", "bob", "cy"})
            EXPECT_EQ(Week(*session, mailbox, now + 60), first);
    }
    EXPECT_EQ(Requests() - before, 3u);
    EXPECT_LT(Requests() - before, coldRequests);
    EXPECT_NE(std::find(notices.begin(), notices.end(),
                        "read " + server->CollectionOf("bob", "todo") +
                            " (appointments and tasks): 1 item, unchanged"),
              notices.end());

    // A changed, an added and a deleted event; a calendar added, then one removed.
    ASSERT_TRUE(
        server->PutItem("ann", "work", "a.ics", event("a", "Alpha moved", "20260604T100000Z")));
    ASSERT_TRUE(server->PutItem("ann", "work", "c.ics", event("c", "Gamma", "20260605T100000Z")));
    ASSERT_TRUE(server->Delete(server->CollectionOf("ann", "work") + "b.ics"));
    uint64_t changed = Requests();
    EXPECT_EQ(Week(*Session(), "ann", now), "Alpha moved, Gamma, Old series | Due in two months");
    // The home, and for the changed collection what changed (the data with the report, or
    // fetched after it); the unchanged task list costs nothing.
    EXPECT_LE(Requests() - changed, 3u);
    EXPECT_EQ(Week(*Session(), "bob", now), first) << "another mailbox is not affected";

    ASSERT_TRUE(server->MakeCollection("ann", "team"));
    ASSERT_TRUE(server->PutItem("ann", "team", "d.ics", event("d", "Delta", "20260602T090000Z")));
    EXPECT_EQ(Week(*Session(), "ann", now),
              "Delta, Alpha moved, Gamma, Old series | Due in two months");
    ASSERT_TRUE(server->Delete(server->CollectionOf("ann", "work")));
    changed = Requests();
    EXPECT_EQ(Week(*Session(), "ann", now), "Delta | Due in two months");
    EXPECT_EQ(Requests() - changed, 1u);

    // A week later, the window has moved on: still one request.
    changed = Requests();
    EXPECT_EQ(Week(*Session(), "bob", now + 7 * 86400), "Old series | Due in two months");
    EXPECT_EQ(Requests() - changed, 1u);
    mail::caldav::SetNoticeObserver(previous);
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerTest,
                         testing::Values(Kind::Radicale, Kind::Xandikos, Kind::XandikosDigest),
                         [](const testing::TestParamInfo<Kind>& info) {
                             return std::string(KindName(info.param));
                         });
