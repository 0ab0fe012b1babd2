// The scan over a profile whose address list is an OpenLDAP directory on loopback: "EX:" and the
// address find the mailbox by a search; a directory that fails fails the user's scan with an
// event naming the server and the cause.
#include "core/Clock.h"
#include "mailsystem/Profiles.h"
#include "outlook/COutlook.h"
#include "paging/CRemList.h"
#include "support/SlapdTestServer.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char* kCalendar = R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//Orvane tests//EN
BEGIN:VEVENT
UID:d1
SUMMARY:Budget review
DTSTART:20260601T140000Z
DTEND:20260601T150000Z
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT15M
END:VALARM
END:VEVENT
END:VCALENDAR
)";

class DirectoryScan : public testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    TempDir dir;
    CapturedEvents events;

    void SetUp() override {
        std::filesystem::create_directories(dir.File("mailboxes/htanaka"));
        WriteFile(dir.File("mailboxes/htanaka/calendar.ics"), kCalendar);
        Clock::Freeze(CTime(2026, 6, 1, 9, 0, 0));
    }

    void UseDirectory(const SlapdTestServer& server) {
        mail::Profile profile{"Directory", dir.Path(), {}, {}};
        profile.ldap.url = server.Url();
        profile.ldap.user = SlapdTestServer::kReaderDn;
        profile.ldap.password = SlapdTestServer::kReaderPassword;
        profile.ldap.startTls = false;
        mail::Profiles profiles;
        profiles.Set(profile);
        std::string error;
        ASSERT_TRUE(profiles.Save(error)) << error;
    }

    std::vector<std::string> Scan(const std::string& user, int& status) {
        CRemList list;
        COutlook outlook("Directory");
        outlook.GetUserReminders(user, list, &status);
        std::vector<std::string> texts;
        for (const auto& r : list.GetRecords())
            texts.push_back(r->Text);
        return texts;
    }
};

} // namespace

TEST_F(DirectoryScan, TheMailboxIsFoundInTheDirectory) {
    SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    UseDirectory(server);
    int status = -1;
    EXPECT_EQ(Scan("EX:htanaka@quorvik.example", status),
              std::vector<std::string>{"02:00-03:00 Budget review"});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(events.Texts().empty());
}

TEST_F(DirectoryScan, ADirectoryThatIsDownFailsTheScanWithTheServerAndTheCause) {
    SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    UseDirectory(server);
    server.Stop();
    int status = -1;
    EXPECT_TRUE(Scan("EX:htanaka@quorvik.example", status).empty());
    EXPECT_EQ(status, 0);
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_NE(events.Texts()[0].find("The directory " + server.Url() +
                                     " cannot be reached: Connection refused."),
              std::string::npos)
        << events.Texts()[0];

    // The next scan, with the directory back, finds the reminder.
    ASSERT_TRUE(server.Restart());
    EXPECT_EQ(Scan("EX:htanaka@quorvik.example", status).size(), 1u);
    EXPECT_EQ(status, 1);
}
