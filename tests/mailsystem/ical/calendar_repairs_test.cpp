// What the calendar reader repairs or guesses, and says once: zone names as exporters write
// them, lines that lost their fold, and the notices that reach the event log's sink.
#include "mailsystem/ical/CalendarCache.h"
#include "mailsystem/ical/TimeZoneNames.h"
#include "mailsystem/model/Notices.h"
#include "support/MailTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace mail_test;
using testing_support::ScopedTimeZone;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(TimeZoneNamesTest, NamesAsExportersWriteThemFindTheirZone) {
    const struct {
        const char* tzid;
        const char* zone; // the zone's location in libical; null: none
    } rows[] = {
        {"Europe/Berlin", "Europe/Berlin"},
        {" Europe/Berlin ", "Europe/Berlin"},
        {"\"Europe/Berlin\"", "Europe/Berlin"},
        {"Europe/Berlin:", "Europe/Berlin"},
        {"/freeassociation.sourceforge.net/Tzfile/Europe/Berlin", "Europe/Berlin"},
        {"/mozilla.org/20070129_1/Europe/Berlin", "Europe/Berlin"},
        {"/softwarestudio.org/Olson_20011030_5/America/New_York", "America/New_York"},
        {"Pacific Standard Time", "America/Los_Angeles"},
        {"pacific  standard   time", "America/Los_Angeles"},
        {"W. Europe Standard Time", "Europe/Berlin"},
        {"Tokyo Standard Time", "Asia/Tokyo"},
        {"AUS Eastern Standard Time", "Australia/Sydney"},
        {"Mars/Olympus_Mons", nullptr},
        {"Standard Time", nullptr},
        {"", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tzid);
        icaltimezone* zone = mail::tz::BuiltinZone(row.tzid);
        if (!row.zone) {
            EXPECT_EQ(zone, nullptr);
            continue;
        }
        ASSERT_NE(zone, nullptr);
        EXPECT_EQ(std::string(icaltimezone_get_location(zone)), row.zone);
    }
    // UTC by any of its names is libical's UTC zone, whose times are exact.
    for (const char* utc : {"UTC", "Etc/UTC", "GMT"})
        EXPECT_EQ(mail::tz::BuiltinZone(utc), icaltimezone_get_utc_timezone()) << utc;
    EXPECT_EQ(mail::tz::Key("  \"Pacific Standard Time:\" "), "pacific standard time");
}

class CalendarRepairsTest : public testing::Test {
protected:
    void SetUp() override {
        m_system = MakeMailSystem(m_dir.Path(), {"box"});
        m_previous =
            mail::SetNoticeSink([this](const std::string& notice) { m_notices.push_back(notice); });
    }
    void TearDown() override { mail::SetNoticeSink(std::move(m_previous)); }

    void Write(const std::string& text) {
        WriteFile(CalendarPath(m_dir.Path(), "box"), text);
        mail::cache::Clear(); // the stamp alone may not tell writes within a second apart
    }
    std::vector<mail::Appointment> Find(const std::string& from, const std::string& to) {
        std::vector<mail::Appointment> found;
        std::string error;
        EXPECT_TRUE(m_system->FindAppointments(Entry("box"), Utc(from), Utc(to), found, error))
            << error;
        return found;
    }
    std::string Path() const { return CalendarPath(m_dir.Path(), "box"); }

    TempDir m_dir;
    std::shared_ptr<mail::MailSystem> m_system;
    std::vector<std::string> m_notices;
    mail::NoticeSink m_previous;
};

TEST_F(CalendarRepairsTest, ALineThatIsNoContentLineJoinsTheLineBeforeOrIsSkipped) {
    const struct {
        const char* lines; // inside a VEVENT after its UID and DTSTART
        const char* subject;
        const char* notice;
    } rows[] = {
        // A fold that lost its blank, in a property nobody reads (the ORGANIZER).
        {"ORGANIZER;CN=Chief:mailto:chief.organi\nser@example.org\nSUMMARY:Review\n", "Review",
         "(line 7); it was read as the continuation of line 6"},
        // In the subject: joined exactly, nothing lost or added.
        {"SUMMARY:Quarterly revi\new\n", "Quarterly review",
         "(line 7); it was read as the continuation of line 6"},
        // A line of words without a colon, twice.
        {"SUMMARY:Review\nsee the agenda\nand the minutes\n", "Reviewsee the agendaand the minutes",
         "line 6, as a folded line that lost its leading blank (1 more such line was treated "
         "alike)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        m_notices.clear();
        Write("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:a\nDTSTART:20260310T100000Z\n" +
              std::string(row.lines) + "END:VEVENT\nEND:VCALENDAR\n");
        const auto found = Find("2026-03-10 00:00", "2026-03-11 00:00");
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].subject, row.subject);
        ASSERT_EQ(m_notices.size(), 1u);
        EXPECT_EQ(m_notices[0].rfind("The calendar file " + Path() +
                                         " holds a line that is not an iCalendar content line ",
                                     0),
                  0u)
            << m_notices[0];
        EXPECT_NE(m_notices[0].find(row.notice), std::string::npos) << m_notices[0];
    }
    // After a BEGIN line, or a blank line, there is nothing to continue: the line is skipped.
    m_notices.clear();
    Write("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nstray words\nUID:a\n"
          "DTSTART:20260310T100000Z\nSUMMARY:Kept\n\nmore stray words\nEND:VEVENT\n"
          "END:VCALENDAR\n");
    const auto found = Find("2026-03-10 00:00", "2026-03-11 00:00");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].subject, "Kept");
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_NE(m_notices[0].find("(line 4); it was skipped (1 more such line"), std::string::npos)
        << m_notices[0];
}

TEST_F(CalendarRepairsTest, ANoticeIsGivenOnceForWhatAFileHolds) {
    const std::string text =
        Calendar("BEGIN:VEVENT\nUID:m\nDTSTART;TZID=Mars/Olympus_Mons:20260310T120000\nSUMMARY:A\n"
                 "END:VEVENT\nBEGIN:VEVENT\nUID:n\nDTSTART;TZID=Mars/Olympus_Mons:20260310T130000\n"
                 "SUMMARY:B\nEND:VEVENT\n");
    Write(text);
    ScopedTimeZone tz("Europe/Berlin");
    const auto found = Find("2026-03-10 00:00", "2026-03-11 00:00");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(FormatLocal(found[0].start), "2026-03-10 12:00"); // local time
    EXPECT_EQ(m_notices, (std::vector<std::string>{
                             "The calendar file " + Path() +
                             " names the time zone \"Mars/Olympus_Mons\", which is not known; its "
                             "times are read as local time."}));
    // Answered from memory, or read again for a later range: nothing new to say.
    Find("2026-03-10 00:00", "2026-03-11 00:00");
    Find("2026-04-10 00:00", "2026-04-11 00:00");
    EXPECT_EQ(m_notices.size(), 1u);
    // Mended, then broken again: said again.
    Write(Calendar("BEGIN:VEVENT\nUID:m\nDTSTART:20260310T120000Z\nSUMMARY:A\nEND:VEVENT\n"));
    Find("2026-03-10 00:00", "2026-03-11 00:00");
    Write(text);
    Find("2026-03-10 00:00", "2026-03-11 00:00");
    EXPECT_EQ(m_notices.size(), 2u);
}

TEST_F(CalendarRepairsTest, AnUnknownCalendarZoneLeavesFloatingTimesLocal) {
    ScopedTimeZone tz("America/New_York");
    Write("BEGIN:VCALENDAR\nVERSION:2.0\nX-WR-TIMEZONE:Atlantis/Capital\nBEGIN:VEVENT\nUID:f\n"
          "DTSTART:20260310T090000\nSUMMARY:Floating\nEND:VEVENT\nEND:VCALENDAR\n");
    const auto found = Find("2026-03-10 00:00", "2026-03-11 00:00");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(FormatLocal(found[0].start), "2026-03-10 09:00");
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_NE(m_notices[0].find("\"Atlantis/Capital\""), std::string::npos) << m_notices[0];
}

TEST(NoticeSinkTest, AScopedSinkGivesBackTheOneBefore) {
    std::vector<std::string> outer, inner;
    mail::ScopedNoticeSink first([&](const std::string& s) { outer.push_back(s); });
    {
        mail::ScopedNoticeSink second([&](const std::string& s) { inner.push_back(s); });
        mail::Notify("one");
    }
    mail::Notify("two");
    EXPECT_EQ(inner, std::vector<std::string>{"one"});
    EXPECT_EQ(outer, std::vector<std::string>{"two"});
}

} // namespace
