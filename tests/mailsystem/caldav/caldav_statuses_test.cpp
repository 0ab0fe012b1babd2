// What a multistatus says inside itself, against one Xandikos started for the whole program: a
// calendar home it does not have (207 with a 404 inside) and an item it refuses (a 403 inside,
// from the scripted server in front of it) fail the mailbox's scan, never pass for an empty
// calendar; and what an item's text holds that is not read as written is told once.
#include "support/CalDavServers.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "mailsystem/caldav/CalDavStore.h"
#include "mailsystem/model/Notices.h"
#include "mailsystem/ProfileMailSystem.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"

#include <gtest/gtest.h>

namespace {

using namespace caldav_test;
using namespace testing_support;

const char* const kProfile = "Statuses";
const CTime kNow(2026, 6, 1, 9, 0, 0);

std::string Address(const std::string& mailbox) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + mailbox;
}

// A VCALENDAR of one event with a 15-minute alarm, and `lines` inside the event.
std::string Item(const std::string& uid, const std::string& start, const std::string& lines) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\nBEGIN:VEVENT\r\nUID:" +
           uid + "\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:" + start +
           "\r\nDURATION:PT30M\r\nSUMMARY:" + uid + "\r\n" + lines +
           "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
           "END:VCALENDAR\r\n";
}

class ServerStatuses : public testing::Test {
protected:
    static void SetUpTestSuite() { s_xandikos = new DavServer(Kind::Xandikos); }
    static void TearDownTestSuite() {
        delete s_xandikos;
        s_xandikos = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_xandikos->Started()) << s_xandikos->Log();
        Clock::Freeze(kNow);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, kProfile);
    }
    void TearDown() override {
        users.DeleteAllUsers();
        Clock::Reset();
    }

    // A mailbox in the address list whose home on Xandikos holds `items` in "calendar".
    void AddHome(const std::string& mailbox,
                 const std::vector<std::pair<std::string, std::string>>& items) {
        mail.Add({"User " + mailbox, Address(mailbox), "/o=Quorvik/cn=MAIL1", mailbox, ""});
        ASSERT_TRUE(s_xandikos->MakeHome(mailbox));
        ASSERT_TRUE(s_xandikos->MakeCollection(mailbox, "calendar"));
        for (const auto& [name, text] : items)
            ASSERT_TRUE(s_xandikos->PutItem(mailbox, "calendar", name, text));
    }

    UserlistStru* AddUser(const std::string& mailbox) {
        UserlistStru* u = users.CreateUser();
        u->DisplayName = "User " + mailbox;
        u->MailboxName = Address(mailbox);
        u->PagerName = "User " + mailbox + " (Pager)";
        u->PageOnlyOOF = 0;
        return u;
    }

    void UseTemplate(const std::string& urlTemplate) {
        mail::Profiles profiles;
        mail::Profile profile;
        profile.name = kProfile;
        profile.mailSystem = mail.Directory();
        profile.calendars = {urlTemplate, "", ""};
        profiles.Set(profile);
        std::string error;
        ASSERT_TRUE(profiles.Save(error)) << error;
    }

    // The subjects of the coming week of one scan pass through `urlTemplate`, or "failed: "
    // and the sentence.
    std::string Week(const std::string& urlTemplate, const std::string& mailbox) {
        std::string error;
        auto directory = mail::MailSystem::Open(mail.Directory(), error);
        if (!directory)
            return "failed: " + error;
        auto session = mail::WithCalendarServer(directory, {urlTemplate, "", ""}, {});
        std::vector<mail::Appointment> found;
        const mail::AddressEntry entry{"User " + mailbox, Address(mailbox), "", mailbox, ""};
        const int64_t now = kNow.GetTime();
        if (!session->FindAppointments(entry, now, now + 7 * 86400, found, error))
            return "failed: " + error;
        std::string subjects;
        for (const mail::Appointment& a : found)
            subjects += (subjects.empty() ? "" : ", ") + a.subject;
        return subjects;
    }

    static DavServer* s_xandikos;
    MailFixture mail;
    CUserList users;
};

DavServer* ServerStatuses::s_xandikos = nullptr;

} // namespace

TEST_F(ServerStatuses, AHomeTheServerDoesNotHaveFailsTheScanInsteadOfReadingEmpty) {
    AddHome("ann", {{"meeting.ics", Item("Meeting", "20260602T100000Z", "")}});
    const std::string right = s_xandikos->Template();
    ASSERT_EQ(Week(right, "ann"), "Meeting");

    // Xandikos answers a PROPFIND of a path it does not have with 207 and a 404 inside it, for
    // a wrong template as for a mailbox without a home.
    const std::string wrong = s_xandikos->Base() + "/{mailbox}/calendar/";
    mail.Add({"User bob", Address("bob"), "/o=Quorvik/cn=MAIL1", "bob", ""});
    const struct {
        std::string urlTemplate, mailbox, home;
    } rows[] = {
        {wrong, "ann", s_xandikos->Base() + "/ann/calendar/"},
        {right, "bob", s_xandikos->HomeOf("bob")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.urlTemplate + " " + row.mailbox);
        EXPECT_EQ(Week(row.urlTemplate, row.mailbox),
                  "failed: The calendar server could not be read at " + row.home +
                      ": the collection was not found on the server (HTTP 404 Not Found).");
    }

    // Through the scan pass: the user shows the failure, with one event, and another user of the
    // same pass is read as usual.
    UseTemplate(right);
    UserlistStru* ann = AddUser("ann");
    UserlistStru* bob = AddUser("bob");
    CapturedEvents events;
    users.UpdateReminders();
    EXPECT_EQ(ann->ScanStatus, 1);
    EXPECT_EQ(ann->Reminders.GetCount(), 1);
    EXPECT_EQ(bob->ScanStatus, 0);
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_EQ(events.Texts()[0],
              "Error reading Calendar folder for user EX:" + Address("bob") +
                  ".  The calendar server could not be read at " + s_xandikos->HomeOf("bob") +
                  ": the collection was not found on the server (HTTP 404 Not Found).");
}

TEST_F(ServerStatuses, AnItemTheServerRefusesInsideItsAnswerFailsTheScan) {
    AddHome("cy", {{"meeting.ics", Item("Meeting", "20260602T100000Z", "")},
                   {"review.ics", Item("Review", "20260603T100000Z", "")}});
    FaultServer front(s_xandikos->Port(), {"cy=forbidden"});
    ASSERT_TRUE(front.Started());
    const std::string base = "http://127.0.0.1:" + std::to_string(front.Port());
    const std::string failed = Week(base + "/{mailbox}/calendars/", "cy");
    EXPECT_EQ(failed.rfind("failed: The calendar server could not be read at " + base +
                               "/cy/calendars/calendar/",
                           0),
              0u)
        << failed;
    EXPECT_NE(failed.find(".ics: the server refused access (HTTP 403 Forbidden)."),
              std::string::npos)
        << failed;
    // Straight from the server, the same home gives both meetings.
    mail::caldav::Clear();
    EXPECT_EQ(Week(s_xandikos->Template(), "cy"), "Meeting, Review");
}

TEST_F(ServerStatuses, WhatAnItemHoldsThatIsNotReadAsWrittenIsToldOncePerChange) {
    std::vector<std::string> notices;
    mail::ScopedNoticeSink sink([&](const std::string& n) { notices.push_back(n); });
    const std::string seconds =
        Item("Heartbeat", "20260602T100000Z", "RRULE:FREQ=SECONDLY;INTERVAL=30\r\n");
    AddHome("di", {{"beat.ics", seconds}});
    const std::string url = s_xandikos->CollectionOf("di", "calendar") + "beat.ics";
    const std::string notice =
        "The calendar item " + url +
        " holds the event \"Heartbeat\" whose rule \"FREQ=SECONDLY;INTERVAL=30\" is not "
        "expanded, as its occurrences cannot be found within the reader's limits; only the "
        "event's first occurrence is paged.";
    EXPECT_EQ(Week(s_xandikos->Template(), "di"), "Heartbeat");
    EXPECT_EQ(Week(s_xandikos->Template(), "di"), "Heartbeat");
    EXPECT_EQ(notices, std::vector<std::string>{notice}) << "told once, not at every scan";

    // The item changed, the rule with it stays: nothing new to tell.
    ASSERT_TRUE(s_xandikos->PutItem(
        "di", "calendar", "beat.ics",
        Item("Heartbeat", "20260602T110000Z", "RRULE:FREQ=SECONDLY;INTERVAL=30\r\n")));
    EXPECT_EQ(Week(s_xandikos->Template(), "di"), "Heartbeat");
    EXPECT_EQ(notices.size(), 1u);
    // Mended, then written again: told again.
    ASSERT_TRUE(s_xandikos->PutItem("di", "calendar", "beat.ics",
                                    Item("Heartbeat", "20260602T100000Z", "")));
    EXPECT_EQ(Week(s_xandikos->Template(), "di"), "Heartbeat");
    ASSERT_TRUE(s_xandikos->PutItem("di", "calendar", "beat.ics", seconds));
    EXPECT_EQ(Week(s_xandikos->Template(), "di"), "Heartbeat");
    EXPECT_EQ(notices, (std::vector<std::string>{notice, notice}));
}
