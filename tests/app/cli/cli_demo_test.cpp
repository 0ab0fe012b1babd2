// "orvane demo init": the demonstration mail system, user file and profile, and what the store
// then answers about the next minutes.
#include "app/cli/Cli.h"
#include "app/cli/CliRunner.h"
#include "core/Clock.h"
#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

using namespace testing_support;

namespace {

class CliDemoTest : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
    }
    TempDir dir;
};

} // namespace

TEST_P(CliDemoTest, CreatesUsersMailSystemAndProfileWithPagesDueWithinMinutes) {
    ScopedTimeZone tz(GetParam());
    const CTime created(2026, 3, 8, 0, 55, 20); // in New York, an hour before the clocks go forward
    Clock::Freeze(created);
    const std::string root = dir.File("demo");
    const CliResult r = RunCli({"demo", "init", root});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Profile \"Demo\" uses " + root +
                         "/mail with the outbox transport; it is the default"),
              std::string::npos)
        << r.out;

    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    ASSERT_NE(profiles.Find(""), nullptr);
    EXPECT_EQ(profiles.Find("")->name, "Demo");
    EXPECT_EQ(profiles.Find("")->mailSystem, root + "/mail");

    CUserList users;
    {
        ScopedWorkingDirectory cwd(root);
        EXPECT_EQ(users.LoadUsers().status, UserFileLoad::Loaded);
        const CliResult list = RunCli({"users", "list"});
        EXPECT_EQ(list.code, 0) << list.err;
        EXPECT_NE(list.out.find("Liam O'Brien"), std::string::npos);
    }
    ASSERT_EQ(users.GetCount(), 12);

    auto system = mail::MailSystem::Open(root + "/mail", error);
    ASSERT_TRUE(system) << error;
    const int64_t now = created.GetTime();
    int firstPage = INT32_MAX, outOfOffice = 0, missing = 0;
    std::set<int> types;
    int taskReminders = 0;
    for (const auto& user : users.Users()) {
        SCOPED_TRACE(user->DisplayName);
        std::vector<mail::AddressEntry> mailboxes, pagers;
        ASSERT_TRUE(system->FindByAddress(user->MailboxName, mailboxes, error)) << error;
        ASSERT_EQ(mailboxes.size(), 1u);
        EXPECT_EQ(mailboxes[0].homeStore, user->Server);
        ASSERT_TRUE(system->FindByDisplayName(user->PagerName, pagers, error)) << error;
        ASSERT_EQ(pagers.size(), 1u);
        EXPECT_NE(pagers[0].deliverTo.find("@pager."), std::string::npos);
        const mail::OutOfOffice oof = system->ReadOutOfOffice(mailboxes[0]);
        if (oof == mail::OutOfOffice::Out) {
            ++outOfOffice;
            EXPECT_EQ(user->PageOnlyOOF, 1);
        }
        missing += oof == mail::OutOfOffice::Missing;

        std::vector<mail::Appointment> week;
        ASSERT_TRUE(system->FindAppointments(mailboxes[0], now, now + 7 * 86400, week, error))
            << error;
        for (const auto& a : week) {
            if (a.isRecurring)
                types.insert(a.pattern.recurrenceType);
            const int64_t reminder = a.start - int64_t(a.reminderMinutesBeforeStart) * 60;
            if (a.reminderSet && reminder >= now)
                firstPage = std::min<int64_t>(firstPage, reminder - 60 - now);
        }
        std::vector<mail::Task> tasks;
        ASSERT_TRUE(system->FindTasks(mailboxes[0], tasks, error)) << error;
        for (const auto& t : tasks)
            taskReminders +=
                t.reminderSet && t.reminderTime >= now && t.reminderTime <= now + 15 * 60;
    }
    EXPECT_GE(outOfOffice, 2);
    EXPECT_EQ(missing, 1);
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_LE(firstPage, 60); // the first page falls due within the first minute
    EXPECT_EQ(taskReminders, 12);
}

INSTANTIATE_TEST_SUITE_P(Zones, CliDemoTest,
                         testing::Values("UTC", "America/New_York", "Europe/Berlin"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(CliDemoCommandTest, RefusesANonEmptyDirectoryUnlessForcedAndKeepsAnotherDefault) {
    std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
    TempDir dir;
    ASSERT_EQ(RunCli({"profile", "set", "Main", "--mail-system", dir.File("elsewhere")}).code, 0);
    WriteFile(dir.File("notes.txt"), "mine");
    CliResult r = RunCli({"demo", "init", dir.Path()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("is not an empty directory; give --force"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("Users.dat")));

    r = RunCli({"demo", "init", "--force", dir.Path()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFile(dir.File("notes.txt")), "mine");
    EXPECT_TRUE(std::filesystem::exists(dir.File("mail/mailboxes/aarcher/calendar.ics")));
    EXPECT_NE(r.out.find("The default profile is \"Main\""), std::string::npos) << r.out;
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.DefaultName(), "Main");
    EXPECT_NE(profiles.Find("Demo"), nullptr);

    EXPECT_EQ(RunCli({"demo"}).code, 2);
    EXPECT_EQ(RunCli({"demo", "init"}).code, 2);
    EXPECT_EQ(RunCli({"demo", "init", "a", "b"}).code, 2);
    WriteFile(dir.File("file"), "x");
    EXPECT_EQ(RunCli({"demo", "init", dir.File("file"), "--force"}).code, 1);
}
