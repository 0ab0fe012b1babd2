// A profile's calendar server: which URL templates are taken, how a mailbox becomes a calendar
// home, and the profile file's three settings.
#include "mailsystem/Profiles.h"
#include "mailsystem/caldav/CalendarServer.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

TEST(CalendarServer, TakesHttpTemplatesWithTheMailboxInThePath) {
    const struct {
        std::string url, user, password;
        const char* problem; // empty: accepted
    } rows[] = {
        {"", "", "", ""},
        {"https://cloud.example/remote.php/dav/calendars/{mailbox}/", "orvane", "pw", ""},
        {"HTTP://127.0.0.1:5232/{mailbox}/", "", "", ""},
        {"http://[::1]:8080/dav/{mailbox}/calendars/", "u", "", ""},
        {"https://sogo.example/SOGo/dav/{mailbox}/Calendar/", "u", "p", ""},
        {"", "orvane", "", "but no calendar server URL"},
        {"ftp://x/{mailbox}/", "", "", "must begin with http:// or https://"},
        {"https://x/{mailbox}/ a", "", "", "may not hold blanks"},
        {"https://x/{mailbox}/#top", "", "", "may not hold a query (?) or fragment (#)"},
        {"https://u:p@x/{mailbox}/", "", "", "not inside the URL"},
        {"https://{mailbox}.cal.example/", "", "", "not in its host"},
        {"https://x/dav/calendars/", "", "", "must hold {mailbox} in its path"},
        {"https://x", "", "", "must hold {mailbox} in its path"},
        {"https:///{mailbox}/", "", "", "names no host"},
        {"https://x:/{mailbox}/", "", "", "from 1 to 65535"},
        {"https://x:65536/{mailbox}/", "", "", "from 1 to 65535"},
        {"https://[::1/{mailbox}/", "", "", "no closing \"]\""},
        {"https://x/{mailbox}/", "", "pw", "password is set but no calendar user"},
        {"https://x/{mailbox}/", "a\tb", "", "control characters"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        const std::string problem = mail::CheckCalendarServer({row.url, row.user, row.password});
        if (std::string(row.problem).empty())
            EXPECT_EQ(problem, "");
        else
            EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
    }
}

TEST(CalendarServer, PercentEncodesTheMailboxSoThatItStaysOneSegment) {
    const std::string t = "https://x/dav/{mailbox}/";
    const struct {
        std::string urlTemplate, mailbox, home;
    } rows[] = {
        {t, "aarcher", "https://x/dav/aarcher/"},
        {t, "Ann.Archer-2_x~", "https://x/dav/Ann.Archer-2_x~/"},
        {t, "ann@example.com", "https://x/dav/ann%40example.com/"},
        {t, "a b/../c", "https://x/dav/a%20b%2F..%2Fc/"},
        {t, "Ærø?#%", "https://x/dav/%C3%86r%C3%B8%3F%23%25/"},
        {"https://x/{mailbox}/cal/{mailbox}/", "a/b", "https://x/a%2Fb/cal/a%2Fb/"},
        {t, "", ""},
        {t, ".", ""},
        {t, "..", ""},
        {t, "...", "https://x/dav/.../"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mailbox);
        EXPECT_EQ(mail::CalendarHomeUrl(row.urlTemplate, row.mailbox), row.home);
    }
    EXPECT_EQ(mail::DescribeCalendarServer({}), "directory");
    EXPECT_EQ(mail::DescribeCalendarServer({t, "u", "secret"}), t);
}

class CalendarProfiles : public testing::Test {
protected:
    void SetUp() override {
        const std::string directory = std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik";
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
    }
};

TEST_F(CalendarProfiles, AreSavedAndReadBackWhole) {
    mail::Profiles profiles;
    mail::Profile dav;
    dav.name = "Dav";
    dav.mailSystem = "/srv/mail";
    dav.calendars = {"http://127.0.0.1:5232/{mailbox}/", "orvane", " pass \"word\"\n"};
    profiles.Set(dav);
    mail::Profile plain;
    plain.name = "Plain";
    plain.mailSystem = "/srv/plain";
    profiles.Set(plain);
    std::string error;
    ASSERT_TRUE(profiles.Save(error)) << error;
    const std::string text = ReadFile(mail::Profiles::FilePath());
    EXPECT_NE(text.find("calendars = http://127.0.0.1:5232/{mailbox}/\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("calendar-password = \" pass \\\"word\\\"\\n\"\n"), std::string::npos)
        << text;

    mail::Profiles again;
    ASSERT_TRUE(again.Load(error)) << error;
    EXPECT_EQ(again.Find("Dav")->calendars.urlTemplate, dav.calendars.urlTemplate);
    EXPECT_EQ(again.Find("Dav")->calendars.user, "orvane");
    EXPECT_EQ(again.Find("Dav")->calendars.password, dav.calendars.password);
    EXPECT_FALSE(again.Find("Plain")->calendars.Used());

    // A profile that cannot be used is not written.
    dav.calendars.urlTemplate = "http://127.0.0.1:5232/calendars/";
    profiles.Set(dav);
    EXPECT_FALSE(profiles.Save(error));
    EXPECT_NE(error.find("must hold {mailbox}"), std::string::npos) << error;
}

TEST_F(CalendarProfiles, AreRefusedWithTheLineWhenTheFileIsWrong) {
    const struct {
        const char* text;
        const char* error;
    } rows[] = {
        {"[A]\nmail-system = /m\ncalendars = https://x/\n", "line 1: in the profile \"A\": "
                                                            "The calendar server URL"},
        {"[A]\nmail-system = /m\ncalendar-user = u\n", "but no calendar server URL"},
        {"[A]\nmail-system = /m\ncalendars = https://x/{mailbox}/\ncalendars = "
         "https://y/{mailbox}/\n",
         "line 4: a second \"calendars\" line"},
        {"[A]\nmail-system = /m\ncalendar = https://x/{mailbox}/\n",
         "unknown setting \"calendar\" (the settings are mail-system, transport, "
         "transport-format, transport-token, transport-insecure, starttls, user, password, "
         "sender, directory, directory-user, directory-password, directory-filter, "
         "directory-map, directory-starttls, calendars, calendar-user, calendar-password, "
         "out-of-office, out-of-office-user, out-of-office-password, out-of-office-starttls, "
         "out-of-office-login and out-of-office-zone)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        WriteFile(mail::Profiles::FilePath(), row.text);
        mail::Profiles profiles;
        std::string error;
        EXPECT_FALSE(profiles.Load(error));
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
}

} // namespace
