// What a calendar server can do wrong, seen through the scan pass: each failure fails its own
// mailbox with one event that names the URL and the cause, the user's scan status shows it, and
// the other users are scanned as usual. Radicale serves; the faults a real server does not make
// come from the scripted server in front of it.
#include "core/Clock.h"
#include "core/Settings.h"
#include "mailsystem/ProfileMailSystem.h"
#include "mailsystem/caldav/CalDavStore.h"
#include "support/CalDavServers.h"
#include "support/MailFixture.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using namespace caldav_test;
using namespace testing_support;

const char* const kProfile = "Calendars";
const CTime kStart(2026, 6, 1, 9, 0, 0);

std::string Address(const std::string& mailbox) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + mailbox;
}

// One meeting tomorrow at 10:00 with a 15-minute reminder.
std::string Meeting(const std::string& subject) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\nBEGIN:VEVENT\r\n"
           "UID:meeting\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:" +
           subject +
           "\r\nDTSTART:20260602T100000Z\r\nDTEND:20260602T110000Z\r\nBEGIN:VALARM\r\n"
           "ACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

// Sets an environment variable for the scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_previous = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (m_previous)
            setenv(m_name, m_previous->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

class ServerFailures : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(radicale.Started());
        Clock::Freeze(kStart);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, kProfile);
    }
    void TearDown() override { users.DeleteAllUsers(); }

    // A user whose mailbox has a calendar home holding one meeting (unless `home` is false).
    UserlistStru* AddUser(const std::string& mailbox, bool home = true) {
        mail.Add({"User " + mailbox, Address(mailbox), "/o=Quorvik/cn=MAIL1", mailbox, ""});
        if (home) {
            EXPECT_TRUE(radicale.MakeHome(mailbox));
            EXPECT_TRUE(radicale.MakeCollection(mailbox, "calendar"));
            EXPECT_TRUE(
                radicale.PutCalendar(mailbox, "calendar", Meeting("Meeting of " + mailbox)));
        }
        UserlistStru* u = users.CreateUser();
        u->DisplayName = "User " + mailbox;
        u->MailboxName = Address(mailbox);
        u->PagerName = "User " + mailbox + " (Pager)";
        u->PageOnlyOOF = 0;
        return u;
    }

    void UseServer(const std::string& urlTemplate, const std::string& password = "") {
        const mail::dav::Account reader = radicale.Reader();
        mail::Profiles profiles;
        mail::Profile profile;
        profile.name = kProfile;
        profile.mailSystem = mail.Directory();
        profile.calendars = {urlTemplate, reader.user,
                             password.empty() ? reader.password : password};
        profiles.Set(profile);
        std::string error;
        ASSERT_TRUE(profiles.Save(error)) << error;
    }

    // The event of each failed user's scan, by the user's mailbox.
    static std::string EventFor(const CapturedEvents& events, const std::string& mailbox) {
        std::string found;
        for (const std::string& text : events.Texts()) {
            if (text.find("user EX:" + Address(mailbox) + ".") != std::string::npos)
                found += text;
        }
        return found;
    }

    DavServer radicale{Kind::Radicale};
    MailFixture mail;
    CUserList users;
};

} // namespace

TEST_F(ServerFailures, EachFailsItsOwnMailboxWithOneEventAndTheOthersAreScanned) {
    // Record what a server elsewhere receives when the calendar server redirects there.
    FaultServer elsewhere(0, {}, "record");
    ASSERT_TRUE(elsewhere.Started());
    FaultServer front(radicale.Port(),
                      {"bob=hang", "cy=cut", "di=malformed",
                       "fay=redirect:http://localhost:" + std::to_string(elsewhere.Port()) + "/"});
    ASSERT_TRUE(front.Started());
    ScopedVariable timeout("ORVANE_TEST_CALDAV_TIMEOUT_MS", "8000");
    const std::string base = "http://127.0.0.1:" + std::to_string(front.Port()) + "/";
    UseServer(base + "{mailbox}/");

    UserlistStru* ann = AddUser("ann");
    UserlistStru* bob = AddUser("bob");
    UserlistStru* cy = AddUser("cy");
    UserlistStru* di = AddUser("di");
    UserlistStru* eve = AddUser("eve", false);
    UserlistStru* fay = AddUser("fay");
    UserlistStru* gus = AddUser("gus");

    CapturedEvents events;
    EXPECT_EQ(users.UpdateReminders(), 1);
    EXPECT_EQ(ann->ScanStatus, 1);
    EXPECT_EQ(gus->ScanStatus, 1) << "a user after the failures is scanned as usual";
    ASSERT_EQ(ann->Reminders.GetCount(), 1);
    EXPECT_EQ(ann->Reminders.GetRecords().front()->Text, "10:00-11:00 Meeting of ann");
    EXPECT_EQ(gus->Reminders.GetCount(), 1);

    const struct {
        UserlistStru* user;
        std::string mailbox, cause;
    } rows[] = {
        {bob, "bob", "the server did not answer within 8 seconds"},
        {cy, "cy", "the server's answer was cut short"},
        {di, "di", "the server's answer is damaged: Premature end of document. (line 2)"},
        {eve, "eve", "the collection was not found on the server (HTTP 404 Not Found)"},
        {fay, "fay", "the server refused the user name and password (HTTP 401"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mailbox);
        EXPECT_EQ(row.user->ScanStatus, 0);
        EXPECT_EQ(row.user->Reminders.GetCount(), 0);
        const std::string event = EventFor(events, row.mailbox);
        EXPECT_EQ(event.rfind("Error reading Calendar folder for user EX:" + Address(row.mailbox) +
                                  ".  The calendar server could not be read at " + base +
                                  row.mailbox + "/: " + row.cause,
                              0),
                  0u)
            << event;
    }
    EXPECT_EQ(events.Texts().size(), 5u) << "one event for each failed mailbox, and no other";
    for (const std::string& text : events.Texts())
        EXPECT_EQ(text.find(radicale.Reader().password), std::string::npos) << text;

    // The redirect took the request elsewhere without the credentials, even when asked.
    const std::vector<std::string> received = elsewhere.Requests();
    ASSERT_FALSE(received.empty());
    for (const std::string& line : received)
        EXPECT_EQ(line, "PROPFIND /fay/ noauth");
}

TEST_F(ServerFailures, AWrongPasswordFailsEveryMailboxAndIsNeverWritten) {
    UseServer(radicale.Template(), "not the password");
    UserlistStru* ann = AddUser("ann");
    UserlistStru* bob = AddUser("bob");
    CapturedEvents events;
    users.UpdateReminders();
    EXPECT_EQ(ann->ScanStatus, 0);
    EXPECT_EQ(bob->ScanStatus, 0);
    ASSERT_EQ(events.Texts().size(), 2u);
    for (const char* mailbox : {"ann", "bob"})
        EXPECT_NE(EventFor(events, mailbox)
                      .find("could not be read at " + radicale.HomeOf(mailbox) +
                            ": the server refused the user name and password (HTTP 401"),
                  std::string::npos)
            << EventFor(events, mailbox);
    for (const std::string& text : events.Texts())
        EXPECT_EQ(text.find("not the password"), std::string::npos) << text;

    // Mended, the next pass reads them.
    UseServer(radicale.Template());
    ann->NextScan = bob->NextScan = CTime(0);
    users.UpdateReminders();
    EXPECT_EQ(ann->ScanStatus, 1);
    EXPECT_EQ(bob->ScanStatus, 1);
}

TEST_F(ServerFailures, AServerThatCannotBeReachedIsTriedOncePerPass) {
    RefusingPort closed;
    UseServer("http://127.0.0.1:" + std::to_string(closed.Port()) + "/{mailbox}/");
    UserlistStru* ann = AddUser("ann", false);
    UserlistStru* bob = AddUser("bob", false);
    CapturedEvents events;
    const uint64_t connections = mail::dav::GetStats().connections;
    users.UpdateReminders();
    EXPECT_EQ(ann->ScanStatus, 0);
    EXPECT_EQ(bob->ScanStatus, 0);
    EXPECT_NE(EventFor(events, "ann").find(": the server cannot be reached ("), std::string::npos)
        << EventFor(events, "ann");
    EXPECT_NE(
        EventFor(events, "bob")
            .find(": it was not reached for an earlier mailbox of this pass (the server cannot be "
                  "reached ("),
        std::string::npos)
        << EventFor(events, "bob");
    EXPECT_EQ(mail::dav::GetStats().connections, connections);

    // The next pass tries again.
    ann->NextScan = bob->NextScan = CTime(0);
    CapturedEvents again;
    users.UpdateReminders();
    EXPECT_NE(EventFor(again, "ann").find(": the server cannot be reached ("), std::string::npos);
}

TEST_F(ServerFailures, CertificatesAreVerifiedAndAnswersAreBounded) {
    TempDir certificates;
    const TestCertificate certificate = MakeCertificate(certificates);
    ASSERT_TRUE(certificate.ok) << "openssl is needed";
    DavServer secure(Kind::Radicale, {certificate.certFile, certificate.keyFile});
    ASSERT_TRUE(secure.Started());
    ASSERT_TRUE(secure.MakeHome("ann"));
    ASSERT_TRUE(secure.MakeCollection("ann", "calendar"));
    ASSERT_TRUE(secure.PutCalendar("ann", "calendar", Meeting("Secure meeting")));
    mail.Add({"User ann", Address("ann"), "", "ann", ""});
    mail::AddressEntry ann{"User ann", Address("ann"), "", "ann", ""};

    std::string error;
    auto directory = mail::MailSystem::Open(mail.Directory(), error);
    ASSERT_TRUE(directory) << error;
    const mail::dav::Account reader = secure.Reader();
    const mail::CalendarServerConfig config{secure.Template(), reader.user, reader.password};
    const int64_t now = kStart.GetTime();
    std::vector<mail::Appointment> found;

    mail::dav::Limits limits;
    auto session = mail::WithCalendarServer(directory, config, limits);
    EXPECT_FALSE(session->FindAppointments(ann, now, now + 86400 * 7, found, error));
    EXPECT_NE(error.find("could not be read at " + secure.HomeOf("ann") +
                         ": the server's certificate is not trusted ("),
              std::string::npos)
        << error;

    limits.caFile = certificate.certFile;
    session = mail::WithCalendarServer(directory, config, limits);
    ASSERT_TRUE(session->FindAppointments(ann, now, now + 86400 * 7, found, error)) << error;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].subject, "Secure meeting");

    // An answer over the bound is refused; a later reading within it is taken.
    ASSERT_TRUE(secure.PutItem("ann", "calendar", "big.ics",
                               Meeting("Long " + std::string(20000, 'x'))
                                   .replace(Meeting("").find("UID:meeting"), 11, "UID:big")));
    limits.maxResponseBytes = 16384;
    session = mail::WithCalendarServer(directory, config, limits);
    EXPECT_FALSE(session->FindAppointments(ann, now, now + 86400 * 7, found, error));
    EXPECT_NE(error.find(": the server's answer is larger than 16384 bytes."), std::string::npos)
        << error;
    limits.maxResponseBytes = size_t(1) << 20;
    session = mail::WithCalendarServer(directory, config, limits);
    ASSERT_TRUE(session->FindAppointments(ann, now, now + 86400 * 7, found, error)) << error;
    EXPECT_EQ(found.size(), 2u);
}

TEST_F(ServerFailures, ServersWithoutSyncReportsOrCtagsAreReadToo) {
    FaultServer front(radicale.Port(), {"old=nosync", "plain=noctag"});
    ASSERT_TRUE(front.Started());
    const std::string base = "http://127.0.0.1:" + std::to_string(front.Port()) + "/";
    const mail::dav::Account reader = radicale.Reader();
    std::string error;
    for (const char* mailbox : {"old", "plain"}) {
        AddUser(mailbox);
        ASSERT_TRUE(radicale.MakeCollection(mailbox, "more"));
    }
    auto directory = mail::MailSystem::Open(mail.Directory(), error);
    ASSERT_TRUE(directory) << error;
    const int64_t now = kStart.GetTime();
    // One session (scan pass) and the subjects of the week it finds, with the requests it made.
    auto week = [&](const char* mailbox, uint64_t& requests) {
        const uint64_t before = mail::dav::GetStats().requests;
        auto session = mail::WithCalendarServer(
            directory, {base + "{mailbox}/", reader.user, reader.password}, {});
        std::vector<mail::Appointment> found;
        std::string subjects;
        mail::AddressEntry entry{"User", Address(mailbox), "", mailbox, ""};
        if (!session->FindAppointments(entry, now, now + 7 * 86400, found, error))
            return "failed: " + error;
        for (const mail::Appointment& a : found)
            subjects += (subjects.empty() ? "" : ", ") + a.subject;
        requests = mail::dav::GetStats().requests - before;
        return subjects;
    };
    uint64_t requests = 0;

    // Without sync-collection: read with calendar-query, changes found by comparing etags.
    EXPECT_EQ(week("old", requests), "Meeting of old");
    EXPECT_EQ(week("old", requests), "Meeting of old");
    EXPECT_EQ(requests, 1u);
    ASSERT_TRUE(radicale.PutItem("old", "more", "x.ics", Meeting("Added")));
    EXPECT_EQ(week("old", requests), "Meeting of old, Added");
    EXPECT_EQ(requests, 4u) << "the home, the events' and tasks' etags, and the added item";
    EXPECT_EQ(week("old", requests), "Meeting of old, Added");
    EXPECT_EQ(requests, 1u);

    // Without getctag: the sync-tokens tell the changes from the second reading on.
    EXPECT_EQ(week("plain", requests), "Meeting of plain");
    EXPECT_EQ(week("plain", requests), "Meeting of plain");
    EXPECT_EQ(requests, 3u) << "the home with its sync-tokens, and a report for each calendar";
    EXPECT_EQ(week("plain", requests), "Meeting of plain");
    EXPECT_EQ(requests, 1u);
    ASSERT_TRUE(radicale.PutItem("plain", "more", "x.ics", Meeting("Added")));
    EXPECT_EQ(week("plain", requests), "Meeting of plain, Added");
    EXPECT_EQ(requests, 2u);
}
