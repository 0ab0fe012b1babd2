// Calendars as exporters really write them, read without losing a page: a first date the rule does
// not give, events that only carry a RECURRENCE-ID, EXRULE, RANGE=THISANDFUTURE, timed dates of
// all-day series, rules that are not walked, damaged components and lone carriage returns; and
// what could not be read as written is told once per change of the file, never at every scan.
#include "support/MailTestSupport.h"
#include "mailsystem/ical/CalendarCache.h"
#include "mailsystem/model/Notices.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace {

using namespace mail_test;
using testing_support::ScopedTimeZone;
using testing_support::TempDir;
using testing_support::WriteFile;

// A VEVENT of UID `uid` with a 15-minute alarm and `lines` (DTSTART among them).
std::string Event(const std::string& uid, const std::string& lines) {
    return "BEGIN:VEVENT\nUID:" + uid + "\n" + lines +
           "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER:-PT15M\nEND:VALARM\nEND:VEVENT\n";
}

class CalendarRecoveryTest : public testing::Test {
protected:
    void SetUp() override {
        m_system = MakeMailSystem(m_dir.Path(), {"box"});
        m_previous =
            mail::SetNoticeSink([this](const std::string& notice) { m_notices.push_back(notice); });
    }
    void TearDown() override { mail::SetNoticeSink(std::move(m_previous)); }

    // Writes the file as a change would: read anew at the next scan, with what the reading
    // before it told still known.
    void Change(const std::string& text) {
        WriteFile(Path(), text);
        m_stamp += 10;
        const timespec times[2] = {{m_stamp, 0}, {m_stamp, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, Path().c_str(), times, 0), 0);
    }
    void Write(const std::string& text) {
        WriteFile(Path(), text);
        mail::cache::Clear(); // a new file: nothing told yet
        m_notices.clear();
    }
    // "START-END SUBJECT" in UTC per appointment, and "LEAD" when it has a reminder.
    std::string Find(const std::string& from, const std::string& to) {
        std::vector<mail::Appointment> found;
        std::string error;
        EXPECT_TRUE(m_system->FindAppointments(Entry("box"), Utc(from), Utc(to), found, error))
            << error;
        std::string text;
        for (const mail::Appointment& a : found) {
            text += (text.empty() ? "" : ", ") + FormatUtc(a.start) + "-" +
                    FormatUtc(a.end).substr(11) + " " + a.subject;
            if (!a.reminderSet)
                text += " (no reminder)";
        }
        return text;
    }
    std::string Tasks() {
        std::vector<mail::Task> found;
        std::string error;
        EXPECT_TRUE(m_system->FindTasks(Entry("box"), found, error)) << error;
        std::string text;
        for (const mail::Task& t : found)
            text += (text.empty() ? "" : ", ") + t.subject;
        return text;
    }
    std::string Path() const { return CalendarPath(m_dir.Path(), "box"); }

    TempDir m_dir;
    std::shared_ptr<mail::MailSystem> m_system;
    std::vector<std::string> m_notices;
    mail::NoticeSink m_previous;
    time_t m_stamp = 1700000000;
};

TEST_F(CalendarRecoveryTest, AFirstDateTheRuleDoesNotGiveIsStillTheFirstOccurrence) {
    const struct {
        const char* lines;
        const char* to; // the range runs from 2024-04-01 00:00 UTC
        const char* found;
    } rows[] = {
        // "From Tuesday 2 April, every Thursday".
        {"DTSTART:20240402T100000Z\nRRULE:FREQ=WEEKLY;BYDAY=TH\n", "2024-04-12 00:00",
         "2024-04-02 10:00-10:00 R, 2024-04-04 10:00-10:00 R, 2024-04-11 10:00-10:00 R"},
        // COUNT counts that first date: three in all, not three Thursdays besides it.
        {"DTSTART:20240402T100000Z\nRRULE:FREQ=WEEKLY;BYDAY=TH;COUNT=3\n", "2024-04-30 00:00",
         "2024-04-02 10:00-10:00 R, 2024-04-04 10:00-10:00 R, 2024-04-11 10:00-10:00 R"},
        {"DTSTART:20240402T100000Z\nRRULE:FREQ=WEEKLY;BYDAY=TH;COUNT=1\n", "2024-04-30 00:00",
         "2024-04-02 10:00-10:00 R"},
        // A first date the rule gives counts once.
        {"DTSTART:20240404T100000Z\nRRULE:FREQ=WEEKLY;BYDAY=TH;COUNT=2\n", "2024-04-30 00:00",
         "2024-04-04 10:00-10:00 R, 2024-04-11 10:00-10:00 R"},
        {"DTSTART:20240402T080000Z\nDURATION:PT1H\nRRULE:FREQ=MONTHLY;BYMONTHDAY=15;COUNT=2\n",
         "2024-06-30 00:00", "2024-04-02 08:00-09:00 R, 2024-04-15 08:00-09:00 R"},
        {"DTSTART:20240402T080000Z\nRRULE:FREQ=YEARLY;BYMONTH=6;BYMONTHDAY=1;COUNT=2\n",
         "2025-12-31 00:00", "2024-04-02 08:00-08:00 R, 2024-06-01 08:00-08:00 R"},
        {"DTSTART:20240403T100000Z\nRRULE:FREQ=HOURLY;BYHOUR=9,17;COUNT=3\n", "2024-04-30 00:00",
         "2024-04-03 10:00-10:00 R, 2024-04-03 17:00-17:00 R, 2024-04-04 09:00-09:00 R"},
        {"DTSTART:20240403T101000Z\nRRULE:FREQ=MINUTELY;BYMINUTE=0,30;COUNT=3\n",
         "2024-04-30 00:00",
         "2024-04-03 10:10-10:10 R, 2024-04-03 10:30-10:30 R, 2024-04-03 11:00-11:00 R"},
        // A rule that ended before it began still has its first date.
        {"DTSTART:20240402T100000Z\nRRULE:FREQ=DAILY;UNTIL=20240301T000000Z\n", "2024-04-30 00:00",
         "2024-04-02 10:00-10:00 R"},
        // An EXDATE removes it like any other.
        {"DTSTART:20240402T100000Z\nRRULE:FREQ=WEEKLY;BYDAY=TH;COUNT=3\n"
         "EXDATE:20240402T100000Z\n",
         "2024-04-30 00:00", "2024-04-04 10:00-10:00 R, 2024-04-11 10:00-10:00 R"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        Write(Calendar(Event("r", std::string(row.lines) + "SUMMARY:R\n")));
        EXPECT_EQ(Find("2024-04-01 00:00", row.to), row.found);
        // A later range, walked from near its start: the first date stays alone in its place.
        mail::cache::Clear();
        EXPECT_EQ(Find("2024-04-03 00:00", row.to).find("2024-04-02"), std::string::npos);
    }
}

TEST_F(CalendarRecoveryTest, AnEventThatOnlyCarriesARecurrenceIdIsStillASeries) {
    const std::string board = "RECURRENCE-ID:19700101T070000Z\nDTSTART:20240508T180000Z\n"
                              "DURATION:PT2H\nRRULE:FREQ=WEEKLY;BYDAY=WE\nSUMMARY:Board\n";
    const struct {
        std::string components;
        const char* found; // from 2024-05-07 to 2024-05-23
    } rows[] = {
        {Event("b", board), "2024-05-08 18:00-20:00 Board, 2024-05-15 18:00-20:00 Board, "
                            "2024-05-22 18:00-20:00 Board"},
        // Dates alone make a series too.
        {Event("b", "RECURRENCE-ID:19700101T070000Z\nDTSTART:20240508T180000Z\n"
                    "RDATE:20240520T090000Z\nSUMMARY:Visits\n"),
         "2024-05-08 18:00-18:00 Visits, 2024-05-20 09:00-09:00 Visits"},
        // With neither, it is one appointment.
        {Event("b", "RECURRENCE-ID:20240508T180000Z\nDTSTART:20240509T180000Z\nSUMMARY:Moved\n"),
         "2024-05-09 18:00-18:00 Moved"},
        // The only one of its UID with a rule is the series; the other is its exception.
        {Event("b", board) + Event("b", "RECURRENCE-ID:20240515T180000Z\nDTSTART:20240516T090000Z\n"
                                        "DURATION:PT1H\nSUMMARY:Board (moved)\n"),
         "2024-05-08 18:00-20:00 Board, 2024-05-16 09:00-10:00 Board (moved), "
         "2024-05-22 18:00-20:00 Board"},
        // Two of one UID with rules are two series.
        {Event("b", board) + Event("b", "RECURRENCE-ID:19700102T070000Z\nDTSTART:20240510T080000Z\n"
                                        "RRULE:FREQ=WEEKLY;COUNT=2\nSUMMARY:Friday\n"),
         "2024-05-08 18:00-20:00 Board, 2024-05-10 08:00-08:00 Friday, 2024-05-15 18:00-20:00 "
         "Board, 2024-05-17 08:00-08:00 Friday, 2024-05-22 18:00-20:00 Board"},
        // A cancelled one is listed without a reminder; its exception is still paged.
        {Event("b", board + "STATUS:CANCELLED\n") +
             Event("b", "RECURRENCE-ID:20240515T180000Z\nDTSTART:20240516T090000Z\n"
                        "SUMMARY:Board (held)\n"),
         "2024-05-08 18:00-20:00 Board (no reminder), 2024-05-16 09:00-09:00 Board (held), "
         "2024-05-22 18:00-20:00 Board (no reminder)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.components);
        Write(Calendar(row.components));
        EXPECT_EQ(Find("2024-05-07 00:00", "2024-05-23 00:00"), row.found);
    }
}

// Without a UID nothing ties components together: an exception without one replaces no
// occurrence of the series beside it, and is listed once, not once per series.
TEST_F(CalendarRecoveryTest, ComponentsWithoutAUidStandOnTheirOwn) {
    const auto event = [](const std::string& lines) {
        return "BEGIN:VEVENT\n" + lines + "END:VEVENT\n";
    };
    Write(Calendar(event("DTSTART:20240506T090000Z\nRRULE:FREQ=DAILY;COUNT=3\nSUMMARY:A\n") +
                   event("DTSTART:20240506T100000Z\nRRULE:FREQ=DAILY;COUNT=2\nSUMMARY:B\n") +
                   event("RECURRENCE-ID:20240507T090000Z\nDTSTART:20240507T120000Z\n"
                         "SUMMARY:Moved\n")));
    EXPECT_EQ(Find("2024-05-06 00:00", "2024-05-10 00:00"),
              "2024-05-06 09:00-09:00 A (no reminder), 2024-05-06 10:00-10:00 B (no reminder), "
              "2024-05-07 09:00-09:00 A (no reminder), 2024-05-07 10:00-10:00 B (no reminder), "
              "2024-05-07 12:00-12:00 Moved (no reminder), 2024-05-08 09:00-09:00 A (no reminder)");
}

TEST_F(CalendarRecoveryTest, ExruleExcludesItsDatesLikeExdates) {
    const std::string daily = "DTSTART:20240105T090000Z\nRRULE:FREQ=DAILY;COUNT=10\nSUMMARY:S\n";
    const struct {
        const char* exrule;
        const char* found;  // the days of January 2024
        const char* notice; // of the notice, if one is expected
    } rows[] = {
        {"EXRULE:FREQ=WEEKLY;BYDAY=SA,SU\n", "5 8 9 10 11 12", ""},
        // What the exclusion rule gives, as libical reads it: its COUNT counts only that.
        {"EXRULE:FREQ=WEEKLY;BYDAY=MO;COUNT=1\n", "5 6 7 9 10 11 12 13 14", ""},
        {"EXRULE:FREQ=DAILY;UNTIL=20240107T090000Z\n", "8 9 10 11 12 13 14", ""},
        {"EXRULE:FREQ=WEEKLY;BYDAY=SA\nEXRULE:FREQ=WEEKLY;BYDAY=SU\n", "5 8 9 10 11 12", ""},
        // One that cannot be used excludes nothing: better a page too many than one lost.
        {"EXRULE:FREQ=BIWEEKLY\n", "5 6 7 8 9 10 11 12 13 14",
         "whose exclusion rule \"FREQ=BIWEEKLY\" cannot be read; it is ignored, so the dates it "
         "would exclude are paged"},
        {"EXRULE:FREQ=SECONDLY\n", "5 6 7 8 9 10 11 12 13 14",
         "whose exclusion rule \"FREQ=SECONDLY\" is not expanded, as its dates cannot be found "
         "within the reader's limits; it is ignored, so the dates it would exclude are paged"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.exrule);
        Write(Calendar(Event("x", daily + row.exrule)));
        std::vector<mail::Appointment> found;
        std::string error;
        ASSERT_TRUE(m_system->FindAppointments(Entry("box"), Utc("2024-01-01 00:00"),
                                               Utc("2024-01-31 00:00"), found, error));
        std::string days;
        for (const mail::Appointment& a : found)
            days += (days.empty() ? "" : " ") +
                    std::to_string(std::stoi(FormatUtc(a.start).substr(8, 2)));
        EXPECT_EQ(days, row.found);
        if (*row.notice) {
            ASSERT_EQ(m_notices.size(), 1u);
            EXPECT_EQ(m_notices[0],
                      "The calendar file " + Path() + " holds the event \"x\" " + row.notice + ".");
        } else {
            EXPECT_TRUE(m_notices.empty()) << m_notices[0];
        }
    }
}

TEST_F(CalendarRecoveryTest, ThisAndFutureChangesTheOccurrenceAndEveryLaterOne) {
    const std::string series =
        Event("d", "DTSTART:20260601T090000Z\nDURATION:PT1H\nRRULE:FREQ=DAILY;COUNT=8\n"
                   "SUMMARY:Sync\n");
    const auto change = [](const char* id, const char* lines) {
        return Event("d", std::string("RECURRENCE-ID;RANGE=THISANDFUTURE:") + id + "\n" + lines);
    };
    const struct {
        std::string changes;
        const char *from, *to;
        const char* found;
    } rows[] = {
        // Later and shorter, with its own subject: that of the 5th moves into a range that
        // begins after it.
        {change("20260604T090000Z", "DTSTART:20260604T140000Z\nDURATION:PT30M\nSUMMARY:Late\n"),
         "2026-06-05 12:00", "2026-06-12 00:00",
         "2026-06-05 14:00-14:30 Late, 2026-06-06 14:00-14:30 Late, 2026-06-07 14:00-14:30 Late, "
         "2026-06-08 14:00-14:30 Late"},
        // A day earlier: that of the 8th moves into a range that ends before it.
        {change("20260604T090000Z", "DTSTART:20260603T090000Z\nDURATION:PT1H\nSUMMARY:Early\n"),
         "2026-06-05 00:00", "2026-06-07 12:00",
         "2026-06-05 09:00-10:00 Early, 2026-06-06 09:00-10:00 Early, 2026-06-07 09:00-10:00 "
         "Early"},
        // Cancelled: the series ends there.
        {change("20260606T090000Z", "DTSTART:20260606T090000Z\nSTATUS:CANCELLED\n"),
         "2026-06-04 00:00", "2026-06-12 00:00",
         "2026-06-04 09:00-10:00 Sync, 2026-06-05 09:00-10:00 Sync"},
        // Two changes: each from its own occurrence on; a plain exception named by its
        // original time still replaces its occurrence.
        {change("20260603T090000Z", "DTSTART:20260603T100000Z\nDURATION:PT1H\nSUMMARY:Ten\n") +
             change("20260606T090000Z",
                    "DTSTART:20260606T110000Z\nDURATION:PT1H\nSUMMARY:Eleven\n") +
             Event("d", "RECURRENCE-ID:20260605T090000Z\nDTSTART:20260605T160000Z\n"
                        "SUMMARY:Once\n"),
         "2026-06-04 00:00", "2026-06-12 00:00",
         "2026-06-04 10:00-11:00 Ten, 2026-06-05 16:00-16:00 Once, 2026-06-06 11:00-12:00 "
         "Eleven, 2026-06-07 11:00-12:00 Eleven, 2026-06-08 11:00-12:00 Eleven"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.changes);
        Write(Calendar(series + row.changes));
        EXPECT_EQ(Find(row.from, row.to), row.found);
    }
}

TEST_F(CalendarRecoveryTest, ATimedDateOfAnAllDaySeriesLastsTheSeriesLengthFromItsStart) {
    ScopedTimeZone tz("America/New_York");
    const struct {
        const char* length;
        int64_t seconds;
    } rows[] = {
        {"DURATION:PT1H\n", 3600}, {"DTEND;VALUE=DATE:20250314\n", 2 * 86400},
        {"DURATION:P1D\n", 86400}, {"", 86400}, // an all-day event without either lasts a day
        {"DURATION:P\n", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        Write(Calendar(Event("a", "DTSTART;VALUE=DATE:20250312\n" + std::string(row.length) +
                                      "RDATE:20260320T150000\nSUMMARY:A\n")));
        std::vector<mail::Appointment> found;
        std::string error;
        ASSERT_TRUE(m_system->FindAppointments(Entry("box"), Local("2026-03-20 00:00"),
                                               Local("2026-03-21 00:00"), found, error));
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].start, Local("2026-03-20 15:00"));
        EXPECT_EQ(found[0].end - found[0].start, row.seconds);
    }
}

// Each kind of rule that is not read as written: what is paged, the event that names it, and
// that the event is written once per change of the file, not at every scan.
TEST_F(CalendarRecoveryTest, ARuleNotReadAsWrittenKeepsItsPagesAndIsNamedOncePerChange) {
    const struct {
        const char* rule;
        const char* found; // from 2026-06-01 to 2026-06-05
        const char* notice;
    } rows[] = {
        {"RRULE:FREQ=SECONDLY;INTERVAL=30\n", "2026-06-02 10:00-10:00 R",
         "whose rule \"FREQ=SECONDLY;INTERVAL=30\" is not expanded, as its occurrences cannot "
         "be found within the reader's limits; only the event's first occurrence is paged"},
        {"RRULE:FREQ=FORTNIGHTLY\n", "2026-06-02 10:00-10:00 R",
         "whose rule \"FREQ=FORTNIGHTLY\" cannot be read; only the event's first occurrence is "
         "paged"},
        {"RRULE:FREQ=HOURLY;BYMONTHDAY=-1\n", "2026-06-02 10:00-10:00 R",
         "whose rule \"FREQ=HOURLY;BYMONTHDAY=-1\" is not expanded, as its occurrences cannot be "
         "found within the reader's limits; only the event's first occurrence is paged"},
        // Another rule or a date of the event still counts.
        {"RRULE:FREQ=SECONDLY\nRRULE:FREQ=DAILY;COUNT=2\nRDATE:20260604T080000Z\n",
         "2026-06-02 10:00-10:00 R, 2026-06-03 10:00-10:00 R, 2026-06-04 08:00-08:00 R",
         "whose rule \"FREQ=SECONDLY\" is not expanded, as its occurrences cannot be found "
         "within the reader's limits; the event's other dates are paged without it"},
        // A part given twice: the first counts, as libical takes it.
        {"RRULE:FREQ=DAILY;COUNT=2;COUNT=7\n", "2026-06-02 10:00-10:00 R, 2026-06-03 10:00-10:00 R",
         "whose rule \"FREQ=DAILY;COUNT=2;COUNT=7\" gives COUNT more than once; the first is used"},
        {"RRULE:FREQ=WEEKLY;BYDAY=TU;INTERVAL=1;BYDAY=WE;INTERVAL=3\n", "2026-06-02 10:00-10:00 R",
         "whose rule \"FREQ=WEEKLY;BYDAY=TU;INTERVAL=1;BYDAY=WE;INTERVAL=3\" gives BYDAY and "
         "INTERVAL more than once; the first of each is used"},
        // An exclusion rule that cannot be used excludes nothing.
        {"RRULE:FREQ=DAILY;COUNT=2\nEXRULE:FREQ=BIWEEKLY\n",
         "2026-06-02 10:00-10:00 R, 2026-06-03 10:00-10:00 R",
         "whose exclusion rule \"FREQ=BIWEEKLY\" cannot be read; it is ignored, so the dates it "
         "would exclude are paged"},
        {"RRULE:FREQ=DAILY;COUNT=2\nEXRULE:FREQ=MONTHLY;BYDAY=6TU\n",
         "2026-06-02 10:00-10:00 R, 2026-06-03 10:00-10:00 R",
         "whose exclusion rule \"FREQ=MONTHLY;BYDAY=6TU\" is not expanded, as its dates cannot be "
         "found within the reader's limits; it is ignored, so the dates it would exclude are "
         "paged"},
    };
    const std::string other = Event("o", "DTSTART:20260603T120000Z\nSUMMARY:Other\n");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rule);
        const std::string faulty =
            Event("r1", "DTSTART:20260602T100000Z\n" + std::string(row.rule) + "SUMMARY:R\n");
        Write(Calendar(faulty));
        EXPECT_EQ(Find("2026-06-01 00:00", "2026-06-05 00:00"), row.found);
        const std::string notice =
            "The calendar file " + Path() + " holds the event \"r1\" " + row.notice + ".";
        EXPECT_EQ(m_notices, std::vector<std::string>{notice});
        // Scanned again, and a range further on (read anew): nothing new to tell.
        Find("2026-06-01 00:00", "2026-06-05 00:00");
        Find("2026-09-01 00:00", "2026-09-05 00:00");
        // Changed, the rule still in it: still nothing new.
        Change(Calendar(faulty + other));
        Find("2026-06-01 00:00", "2026-06-05 00:00");
        EXPECT_EQ(m_notices.size(), 1u);
        // Mended, then written again: told again.
        Change(Calendar(other));
        Find("2026-06-01 00:00", "2026-06-05 00:00");
        Change(Calendar(faulty));
        Find("2026-06-01 00:00", "2026-06-05 00:00");
        EXPECT_EQ(m_notices, (std::vector<std::string>{notice, notice}));
    }
}

TEST_F(CalendarRecoveryTest, ANoticeNamesAtMostTenRulesOfAFileAndCountsTheRest) {
    std::string events;
    for (int i = 0; i < 13; ++i)
        events += Event("e" + std::to_string(i), "DTSTART:20260602T100000Z\nRRULE:FREQ=NEVER\n");
    Write(Calendar(events));
    Find("2026-06-01 00:00", "2026-06-05 00:00");
    ASSERT_EQ(m_notices.size(), 11u);
    EXPECT_NE(m_notices[9].find("\"e9\""), std::string::npos) << m_notices[9];
    EXPECT_EQ(m_notices[10], "The calendar file " + Path() +
                                 " holds 3 more rules that are not read as written, like those "
                                 "named.");
    // Once, not at every scan nor at a rereading for a later range.
    Find("2026-06-01 00:00", "2026-06-05 00:00");
    Find("2026-07-01 00:00", "2026-07-05 00:00");
    EXPECT_EQ(m_notices.size(), 11u);
    // A UID or rule of any length is named by its first 200 bytes.
    Write(Calendar(Event(std::string(300, 'u'), "DTSTART:20260602T100000Z\nRRULE:FREQ=NEVER;" +
                                                    std::string(300, 'X') + "=1\n")));
    Find("2026-06-01 00:00", "2026-06-05 00:00");
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_NE(m_notices[0].find("\"" + std::string(200, 'u') + "...\""), std::string::npos);
    EXPECT_LT(m_notices[0].size(), 600u);
}

TEST_F(CalendarRecoveryTest, ADamagedComponentCostsThatComponentOnly) {
    const std::string review = Event("a", "DTSTART:20260602T100000Z\nSUMMARY:Review\n");
    const std::string lunch = Event("b", "DTSTART:20260602T120000Z\nSUMMARY:Lunch\n");
    const std::string task = "BEGIN:VTODO\nUID:t\nSUMMARY:Task\nEND:VTODO\n";
    const struct {
        std::string inside; // between BEGIN:VCALENDAR (line 1) and END:VCALENDAR
        const char* found;
        const char* tasks;
        const char* notice;
    } rows[] = {
        {"BEGIN:VTODO\nUID:x\nSUMMARY:Broken\nEND:VTOOD\n" + task + review,
         "2026-06-02 10:00-10:00 Review", "Task",
         "is damaged: line 5 ends a VTOOD but the VTODO begun on line 2 is still open; the VTODO "
         "begun on line 2 was skipped and the rest of the file read"},
        // An event never ended: the next one begins inside it.
        {"BEGIN:VEVENT\nUID:x\nDTSTART:20260602T090000Z\nSUMMARY:Unended\n" + review + lunch,
         "2026-06-02 10:00-10:00 Review, 2026-06-02 12:00-12:00 Lunch", "",
         "is damaged: line 6 begins a VEVENT but the VEVENT begun on line 2 was never ended; the "
         "VEVENT begun on line 2 was skipped and the rest of the file read"},
        // An alarm never ended: the END:VEVENT that follows ends both, and the event is lost.
        {"BEGIN:VEVENT\nUID:x\nDTSTART:20260602T090000Z\nBEGIN:VALARM\nTRIGGER:-PT5M\n"
         "END:VEVENT\n" +
             lunch,
         "2026-06-02 12:00-12:00 Lunch", "",
         "is damaged: line 7 ends a VEVENT but the VALARM begun on line 5 is still open; the "
         "VEVENT begun on line 2 was skipped and the rest of the file read"},
        // A misspelt END of an alarm costs its event, not the one after it.
        {"BEGIN:VEVENT\nUID:x\nDTSTART:20260602T090000Z\nBEGIN:VALARM\nTRIGGER:-PT5M\n"
         "END:VALRM\nEND:VEVENT\n" +
             lunch,
         "2026-06-02 12:00-12:00 Lunch", "",
         "is damaged: line 7 ends a VALRM but the VALARM begun on line 5 is still open; the "
         "VEVENT begun on line 2 was skipped and the rest of the file read"},
        // An END of nothing open: only the line.
        {review + "END:VEVENT\n" + lunch,
         "2026-06-02 10:00-10:00 Review, 2026-06-02 12:00-12:00 Lunch", "",
         "is damaged: line 11 ends a VEVENT that was never begun; the line was skipped and the "
         "rest of the file read"},
        // The calendar ends while an event is open.
        {review + "BEGIN:VEVENT\nUID:x\nDTSTART:20260602T090000Z\n",
         "2026-06-02 10:00-10:00 Review", "",
         "is damaged: line 14 ends a VCALENDAR but the VEVENT begun on line 11 is still open; "
         "the VEVENT begun on line 11 was skipped and the rest of the file read"},
        // Several faults: the first is named, the others counted.
        {"BEGIN:VTODO\nUID:x\nEND:VTOOD\nBEGIN:VTODO\nUID:y\nEND:VTDO\n" + review,
         "2026-06-02 10:00-10:00 Review", "",
         "is damaged: line 4 ends a VTOOD but the VTODO begun on line 2 is still open; the VTODO "
         "begun on line 2 was skipped and the rest of the file read (1 more such fault was "
         "treated alike)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.inside);
        Write("BEGIN:VCALENDAR\n" + row.inside + "END:VCALENDAR\n");
        EXPECT_EQ(Find("2026-06-01 00:00", "2026-06-05 00:00"), row.found);
        EXPECT_EQ(Tasks(), row.tasks);
        EXPECT_EQ(m_notices,
                  std::vector<std::string>{"The calendar file " + Path() + " " + row.notice + "."});
    }
    // Once per change, not at every scan.
    const std::string damaged =
        "BEGIN:VCALENDAR\nBEGIN:VTODO\nUID:x\nEND:VTOOD\n" + review + "END:VCALENDAR\n";
    Write(damaged);
    Find("2026-06-01 00:00", "2026-06-05 00:00");
    Tasks();
    Find("2026-09-01 00:00", "2026-09-05 00:00");
    Change(damaged + "\n");
    Find("2026-06-01 00:00", "2026-06-05 00:00");
    EXPECT_EQ(m_notices.size(), 1u);
}

TEST_F(CalendarRecoveryTest, ACarriageReturnAloneEndsALine) {
    ScopedTimeZone tz("UTC");
    const std::string zone =
        "BEGIN:VTIMEZONE\nTZID:Office\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
        "TZOFFSETFROM:+0300\nTZOFFSETTO:+0300\nEND:STANDARD\nEND:VTIMEZONE\n";
    const std::string text =
        Calendar(zone +
                 Event("c", "DTSTART;TZID=Office:20260602T100000\nSUMMARY:Folded\n sub"
                            "ject\n") +
                 Event("d", "DTSTART:20260603T100000Z\nSUMMARY:Plain\n"));
    const struct { const char* lineEnd; } rows[] = {{"\r"}, {"\r\n"}, {"\n"}};
    for (const auto& row : rows) {
        std::string converted;
        for (char c : text) {
            if (c == '\r')
                continue;
            converted += c == '\n' ? std::string(row.lineEnd) : std::string(1, c);
        }
        SCOPED_TRACE(converted);
        Write(converted);
        EXPECT_EQ(Find("2026-06-01 00:00", "2026-06-05 00:00"),
                  "2026-06-02 07:00-07:00 Foldedsubject, 2026-06-03 10:00-10:00 Plain");
        EXPECT_TRUE(m_notices.empty()) << m_notices[0];
    }
    // Both kinds in one file.
    Write("BEGIN:VCALENDAR\r\nVERSION:2.0\rBEGIN:VEVENT\nUID:m\rDTSTART:20260602T100000Z\r\n"
          "SUMMARY:Mixed\rEND:VEVENT\r\nEND:VCALENDAR\r");
    EXPECT_EQ(Find("2026-06-01 00:00", "2026-06-05 00:00"),
              "2026-06-02 10:00-10:00 Mixed (no reminder)");
}

} // namespace
