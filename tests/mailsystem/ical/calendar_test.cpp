// Calendar reading through MailSystem: reminders, tasks, bounded rules, damaged files, local
// time, and the cache that must never answer from a changed file.
#include "core/FileStamp.h"
#include "mailsystem/ical/CalendarCache.h"
#include "support/MailTestSupport.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace mail_test;
using testing_support::ScopedTimeZone;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Event(const std::string& uid, const std::string& start, const std::string& rest) {
    return "BEGIN:VEVENT\nUID:" + uid + "\nDTSTART:" + start + "\n" + rest + "END:VEVENT\n";
}

std::string Alarm(const std::string& lines) {
    return "BEGIN:VALARM\n" + lines + "END:VALARM\n";
}

class CalendarTest : public testing::Test {
protected:
    void SetUp() override { m_system = MakeMailSystem(m_dir.Path(), {"box", "other"}); }

    void WriteCalendar(const std::string& components, const std::string& folder = "box") {
        WriteFile(CalendarPath(m_dir.Path(), folder), Calendar(components));
    }
    void WriteTasks(const std::string& components, const std::string& folder = "box") {
        WriteFile(TasksPath(m_dir.Path(), folder), Calendar(components));
    }
    std::vector<mail::Appointment> Find(int64_t from, int64_t to,
                                        const std::string& folder = "box") {
        std::vector<mail::Appointment> found;
        std::string error;
        EXPECT_TRUE(m_system->FindAppointments(Entry(folder), from, to, found, error)) << error;
        return found;
    }
    std::vector<mail::Task> Tasks(const std::string& folder = "box") {
        std::vector<mail::Task> found;
        std::string error;
        EXPECT_TRUE(m_system->FindTasks(Entry(folder), found, error)) << error;
        return found;
    }

    TempDir m_dir;
    std::shared_ptr<mail::MailSystem> m_system;
};

TEST_F(CalendarTest, TheReminderIsTheFirstUsableAlarmInMinutesBeforeStart) {
    struct Row {
        const char* alarms;
        bool set;
        int32_t lead;
    } rows[] = {
        {"", false, 0},
        {"ACTION:DISPLAY\nTRIGGER:-PT15M\n", true, 15},
        {"ACTION:DISPLAY\nTRIGGER:-PT90S\n", true, 2}, // rounded so the page is never late
        {"ACTION:DISPLAY\nTRIGGER:PT5M\n", true, -5},  // after the start
        {"ACTION:DISPLAY\nTRIGGER:-P1DT2H\n", true, 1560},
        {"ACTION:DISPLAY\nTRIGGER;RELATED=END:-PT10M\n", true, -50}, // the event lasts an hour
        {"ACTION:DISPLAY\nTRIGGER;VALUE=DATE-TIME:20260310T084500Z\n", true, 75},
        {"ACTION:NONE\nTRIGGER;VALUE=DATE-TIME:19760401T005545Z\n", false, 0},
        {"ACTION:DISPLAY\nTRIGGER:-PT30M\nEND:VALARM\nBEGIN:VALARM\nACTION:EMAIL\nTRIGGER:-P1D\n",
         true, 30},
        {"ACTION:NONE\nTRIGGER:-PT1M\nEND:VALARM\nBEGIN:VALARM\nACTION:AUDIO\nTRIGGER:-PT7M\n",
         true, 7},
        {"ACTION:DISPLAY\nDESCRIPTION:no trigger\n", false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.alarms);
        const std::string alarm = *row.alarms ? Alarm(row.alarms) : "";
        WriteCalendar(
            Event("a", "20260310T100000Z", "DTEND:20260310T110000Z\nSUMMARY:Meeting\n" + alarm));
        const auto found = Find(Utc("2026-03-10 00:00"), Utc("2026-03-11 00:00"));
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].reminderSet, row.set);
        if (row.set) {
            EXPECT_EQ(found[0].reminderMinutesBeforeStart, row.lead);
        }
    }
}

TEST_F(CalendarTest, CancelledEventsAreListedWithoutReminder) {
    WriteCalendar(Event("a", "20260310T100000Z",
                        "STATUS:CANCELLED\nSUMMARY:Called off\n" + Alarm("TRIGGER:-PT5M\n")));
    const auto found = Find(Utc("2026-03-10 00:00"), Utc("2026-03-11 00:00"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_FALSE(found[0].reminderSet);
}

TEST_F(CalendarTest, TasksGiveTheirReminderTimeUnlessDone) {
    struct Row {
        const char* lines;
        bool set;
        const char* when; // UTC
    } rows[] = {
        {"DUE:20260310T170000Z\n", false, nullptr},
        {"DUE:20260310T170000Z\nBEGIN:VALARM\nTRIGGER;VALUE=DATE-TIME:20260310T090000Z\nEND:"
         "VALARM\n",
         true, "2026-03-10 09:00"},
        {"DUE:20260310T170000Z\nBEGIN:VALARM\nTRIGGER;RELATED=END:-PT1H\nEND:VALARM\n", true,
         "2026-03-10 16:00"},
        {"DTSTART:20260310T080000Z\nDUE:20260310T170000Z\nBEGIN:VALARM\nTRIGGER:-PT30M\nEND:"
         "VALARM\n",
         true, "2026-03-10 07:30"},
        {"DUE:20260310T170000Z\nBEGIN:VALARM\nTRIGGER:-PT30M\nEND:VALARM\n", true,
         "2026-03-10 16:30"},
        {"BEGIN:VALARM\nTRIGGER:-PT30M\nEND:VALARM\n", false, nullptr},
        {"STATUS:COMPLETED\nBEGIN:VALARM\nTRIGGER;VALUE=DATE-TIME:20260310T090000Z\nEND:VALARM\n",
         false, nullptr},
        {"COMPLETED:20260309T120000Z\nBEGIN:VALARM\nTRIGGER;VALUE=DATE-TIME:20260310T090000Z\nEND:"
         "VALARM\n",
         false, nullptr},
        {"PERCENT-COMPLETE:100\nBEGIN:VALARM\nTRIGGER;VALUE=DATE-TIME:20260310T090000Z\nEND:"
         "VALARM\n",
         false, nullptr},
        {"STATUS:CANCELLED\nBEGIN:VALARM\nTRIGGER;VALUE=DATE-TIME:20260310T090000Z\nEND:VALARM\n",
         false, nullptr},
        {"PERCENT-COMPLETE:60\nBEGIN:VALARM\nTRIGGER;VALUE=DATE-TIME:20260310T090000Z\nEND:"
         "VALARM\n",
         true, "2026-03-10 09:00"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lines);
        WriteTasks("BEGIN:VTODO\nUID:t\nSUMMARY:Send report\n" + std::string(row.lines) +
                   "END:VTODO\n");
        const auto tasks = Tasks();
        ASSERT_EQ(tasks.size(), 1u);
        EXPECT_EQ(tasks[0].subject, "Send report");
        EXPECT_EQ(tasks[0].reminderSet, row.set);
        if (row.set) {
            EXPECT_EQ(tasks[0].reminderTime, Utc(row.when));
        }
    }
}

TEST_F(CalendarTest, EitherFileMayHoldEventsAndTasks) {
    WriteCalendar(Event("e1", "20260310T100000Z", "SUMMARY:In the calendar\n") +
                  "BEGIN:VTODO\nUID:t1\nSUMMARY:Task in the calendar\nEND:VTODO\n");
    WriteTasks("BEGIN:VTODO\nUID:t2\nSUMMARY:Task in the list\nEND:VTODO\n" +
               Event("e2", "20260310T100000Z", "SUMMARY:In the task list\n"));
    const auto found = Find(Utc("2026-03-10 00:00"), Utc("2026-03-11 00:00"));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].subject, "In the calendar"); // equal starts: calendar file first
    EXPECT_EQ(found[1].subject, "In the task list");
    const auto tasks = Tasks();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].subject, "Task in the list");
    EXPECT_EQ(tasks[1].subject, "Task in the calendar");
}

TEST_F(CalendarTest, TextValuesAreUnescapedAndFoldedLinesJoined) {
    WriteCalendar("BEGIN:VEVENT\nUID:a-very-long-identifier-that-a-calendar-program-folded-over-"
                  "two-lin\n es@example\n"
                  "DTSTART;TZID=America/New_York:202603\n 10T100000\nSUMMARY:Budget\\, plans\\; "
                  "and \\\"more\\\"\n"
                  "LOCATION:Room 1\\nBuilding A\nEND:VEVENT\n" +
                  NewYorkTimeZone());
    const auto found = Find(Utc("2026-03-10 00:00"), Utc("2026-03-11 00:00"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].subject, "Budget, plans; and \"more\"");
    EXPECT_EQ(found[0].location, "Room 1\nBuilding A");
    EXPECT_EQ(found[0].uid,
              "a-very-long-identifier-that-a-calendar-program-folded-over-two-lines@example");
    EXPECT_EQ(found[0].start, Utc("2026-03-10 14:00"));
}

TEST_F(CalendarTest, RangeEdgesAreInclusiveToTheSecond) {
    WriteCalendar(Event("a", "20260310T100000Z", "SUMMARY:A\n"));
    const int64_t start = Utc("2026-03-10 10:00");
    EXPECT_EQ(Find(start, start).size(), 1u);
    EXPECT_EQ(Find(start - 60, start - 1).size(), 0u);
    EXPECT_EQ(Find(start + 1, start + 60).size(), 0u);
    EXPECT_EQ(Find(start + 1, start - 1).size(), 0u); // an empty range
    EXPECT_EQ(Find(INT64_MIN, INT64_MAX).size(), 1u); // no overflow at the ends
}

// Floating times are local: an occurrence shortly after "now" is found in every zone (libical's
// own range test reads floating times as UTC and drops such occurrences east or west of it).
TEST_F(CalendarTest, FloatingOccurrencesJustAfterNowAreFoundInEveryZone) {
    WriteCalendar(Event("a", "20260301T090000", "RRULE:FREQ=DAILY\nSUMMARY:Daily\n"));
    for (const char* zone : kZones) {
        SCOPED_TRACE(zone);
        ScopedTimeZone tz(zone);
        const int64_t now = Local("2026-03-10 08:55");
        const auto found = Find(now, now + 3600);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(FormatLocal(found[0].start), "2026-03-10 09:00");
    }
}

TEST_F(CalendarTest, FloatingTimesFollowTheZoneOfTheMoment) {
    WriteCalendar(Event("a", "20260310T090000", "SUMMARY:Local nine\n"));
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(Find(Utc("2026-03-10 09:00"), Utc("2026-03-10 09:00")).size(), 1u);
    ScopedTimeZone berlin("Europe/Berlin"); // the cache must not keep the UTC reading
    const auto found = Find(Utc("2026-03-10 00:00"), Utc("2026-03-11 00:00"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].start, Utc("2026-03-10 08:00"));
}

TEST_F(CalendarTest, ATimeInTheSpringGapAndAnUnknownZoneAreReadAsLocalTime) {
    ScopedTimeZone tz("America/New_York");
    WriteCalendar(Event("gap", "20260308T023000", "SUMMARY:In the gap\n") +
                  "BEGIN:VEVENT\nUID:m\nDTSTART;TZID=Mars/"
                  "Olympus_Mons:20260309T120000\nSUMMARY:Mars\nEND:VEVENT\n");
    const auto found = Find(Local("2026-03-08 00:00"), Local("2026-03-10 00:00"));
    std::vector<std::string> starts;
    for (const auto& a : found)
        starts.push_back(a.subject + " " + FormatLocal(a.start));
    // 02:30 does not exist on that day; the clock reads 03:30 an hour after 01:30.
    EXPECT_EQ(starts,
              (std::vector<std::string>{"In the gap 2026-03-08 03:30", "Mars 2026-03-09 12:00"}));
}

// Rules that would keep libical busy without end, or that no walk can finish within the limits,
// give no occurrence for their item; the items beside them and other mailboxes are unaffected.
TEST_F(CalendarTest, PathologicalRulesGiveNoOccurrenceAndLeaveTheRestAlone) {
    struct Row {
        const char* start;
        const char* rule;
    } rows[] = {
        {"20260301T090000", "FREQ=DAILY;INTERVAL=0"},
        {"20260301T090000", "FREQ=DAILY;INTERVAL=100000"},
        {"20260301T090000", "FREQ=SECONDLY;COUNT=2000000000"},
        {"20260301T090000", "FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30"},
        {"20260301T090000", "FREQ=HOURLY;BYMONTH=2;BYMONTHDAY=30"},
        // Below a day, filters that no candidate time libical can reach passes, or passes
        // only every few decades, keep it searching (to the year 2582).
        {"20260301T090000", "FREQ=HOURLY;BYMONTHDAY=-1"},
        {"20260301T090000", "FREQ=MINUTELY;INTERVAL=10080;BYDAY=MO"},
        {"20260301T090000", "FREQ=HOURLY;BYMONTH=2;BYMONTHDAY=29;BYDAY=MO"},
        {"20260301T090000", "FREQ=MINUTELY;BYSETPOS=1;BYHOUR=10"},
        {"20260301T090000", "FREQ=MINUTELY"}, // more than 10,000 occurrences in the range
        {"20260301T090000", "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30"},
        {"20260301T090000", "FREQ=DAILY;BYMONTH=4,6;BYMONTHDAY=31"},
        {"20260301T090000", "FREQ=MONTHLY;BYMONTH=2;BYMONTHDAY=-30"},
        {"17000101T090000",
         "FREQ=DAILY;COUNT=100000000"}, // the walk from 1700 exceeds the step limit
        {"20260301T090000", "FREQ=DAILY;UNTIL=20200101T000000Z"}, // ends before it begins
        {"20260301T090000", "FREQ=FORTNIGHTLY"},
        {"20260301T090000", "FREQ=WEEKLY;BYDAY=XX"},
        {"20260301T090000", "FREQ=DAILY;RSCALE=HEBREW"},
        {"99991231T090000", "FREQ=SECONDLY"},
        {"20260301T090000", "FREQ=DAILY;UNTIL=99991231T000000Z;BYMONTH=2;BYMONTHDAY=31"},
    };
    const std::string neighbour =
        Event("n", "20260310T120000Z", "SUMMARY:Neighbour\nRRULE:FREQ=DAILY;COUNT=20\n");
    WriteCalendar(Event("o", "20260310T120000Z", "SUMMARY:Other mailbox\n"), "other");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rule);
        WriteCalendar(
            Event("p", row.start, "SUMMARY:Pathological\nRRULE:" + std::string(row.rule) + "\n") +
            neighbour);
        const auto found = Find(Utc("2026-03-10 00:00"), Utc("2026-03-17 00:00"));
        std::vector<std::string> subjects;
        for (const auto& a : found)
            subjects.push_back(a.subject);
        EXPECT_EQ(subjects, std::vector<std::string>(7, "Neighbour"));
        EXPECT_EQ(Find(Utc("2026-03-10 00:00"), Utc("2026-03-12 00:00"), "other").size(), 1u);
    }
}

// Events are skipped unparsed when their quick reading shows they cannot occur in the range;
// that reading must hold for every rule of an event and every end it can have.
TEST_F(CalendarTest, QuickSkipsNeverDropAnEventThatOccurs) {
    ScopedTimeZone tz("America/Los_Angeles");
    const struct {
        const char* lines;
        const char* from; // UTC; the range is two hours long
        size_t found;
    } rows[] = {
        // The first rule misses the range, the second meets it (Wednesday 13 March).
        {"DTSTART:20240301T100000Z\nRRULE:FREQ=MONTHLY;BYMONTHDAY=1\n"
         "RRULE:FREQ=WEEKLY;BYDAY=WE\n",
         "2024-03-13 09:00", 1},
        // The first rule ended long before; the second goes on.
        {"DTSTART:20240101T100000Z\nRRULE:FREQ=DAILY;UNTIL=20240105T000000Z\n"
         "RRULE:FREQ=WEEKLY;BYDAY=WE\n",
         "2024-03-13 09:00", 1},
        // A date ends the series with that day: 19 March at 20:00 in Los Angeles is 03:00 UTC
        // on the 20th, more than a day after the date's first moment in UTC.
        {"DTSTART;TZID=America/Los_Angeles:20190318T200000\nRRULE:FREQ=DAILY;UNTIL=20190319\n",
         "2019-03-20 02:00", 1},
        {"DTSTART;TZID=America/Los_Angeles:20190318T200000\nRRULE:FREQ=DAILY;UNTIL=20190319\n",
         "2019-03-21 02:00", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        WriteCalendar("BEGIN:VEVENT\nUID:r\n" + std::string(row.lines) + "SUMMARY:R\nEND:VEVENT\n");
        mail::cache::Clear();
        EXPECT_EQ(Find(Utc(row.from), Utc(row.from) + 7200).size(), row.found);
    }
}

TEST_F(CalendarTest, AVeryLongRangeGivesEveryOccurrenceUpToTheLimit) {
    WriteCalendar(Event("d", "20260101T090000Z", "SUMMARY:Daily\nRRULE:FREQ=DAILY;COUNT=5000\n"));
    EXPECT_EQ(Find(Utc("2025-01-01 00:00"), Utc("2045-01-01 00:00")).size(), 5000u);
    // Without an end, a range of more occurrences than a walk keeps gives its first occurrence
    // alone rather than some of the others.
    WriteCalendar(Event("d", "20260101T090000Z", "SUMMARY:Daily\nRRULE:FREQ=DAILY\n"));
    const auto first = Find(Utc("2026-01-01 00:00"), Utc("2056-01-01 00:00"));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].start, Utc("2026-01-01 09:00"));
    EXPECT_EQ(Find(Utc("2026-01-01 00:00"), Utc("2026-01-31 00:00")).size(), 30u);
}

TEST_F(CalendarTest, ADamagedFileFailsItsMailboxWithASentenceNamingIt) {
    const std::string ok = Calendar(Event("a", "20260310T100000Z", "SUMMARY:Fine\n"));
    struct Row {
        std::string text;
        const char* says;
    } rows[] = {
        {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTSTART:20260310T100000Z\nSUMMARY:Cut off", "incomplete"},
        {"This is not a calendar.\n", "line 1"},
        {"BEGIN:VCALENDAR\nEND:VCALENDAR\nEND:VCALENDAR\n", "line 3"},
        {"BEGIN:VEVENT\nEND:VEVENT\n", "outside BEGIN:VCALENDAR"},
        {"BEGIN:VCALENDAR\n" + std::string("SUMMARY:a\0b\n", 12) + "END:VCALENDAR\n", "binary"},
        {" continued\nBEGIN:VCALENDAR\nEND:VCALENDAR\n", "line 1"},
        {"BEGIN:VCALENDAR\nVERSION:2.0\nEND:VCALENDAR\ntrailing text\n", "line 4"},
        {std::string(20, 'x') + "\nBEGIN:VCALENDAR\nEND:VCALENDAR\n", "line 1"},
        {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nEND:VEVENT\nEND:VCALENDAR\nEND:VEVENT\n", "line 5"},
        {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTSTART:20260310T100000Z\nEND:VEVENT\n", "incomplete"},
    };
    WriteCalendar(Event("o", "20260310T120000Z", "SUMMARY:Other mailbox\n"), "other");
    const std::string path = CalendarPath(m_dir.Path(), "box");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        WriteFile(path, row.text);
        std::vector<mail::Appointment> found;
        std::string error;
        EXPECT_FALSE(m_system->FindAppointments(Entry("box"), 0, INT32_MAX, found, error));
        EXPECT_NE(error.find("The calendar file " + path + " is damaged"), std::string::npos)
            << error;
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
        EXPECT_TRUE(found.empty());
        EXPECT_EQ(Find(0, INT32_MAX, "other").size(), 1u);
        // Mended, the file is read again at once.
        WriteFile(path, ok);
        EXPECT_EQ(Find(0, INT32_MAX).size(), 1u);
    }
}

TEST_F(CalendarTest, ValuesThatCannotBeReadCostOnlyTheirItem) {
    const std::string good =
        Event("g", "20260310T100000Z", "SUMMARY:Good\n" + Alarm("TRIGGER:-PT5M\n"));
    const char* const broken[] = {
        "DTSTART:tomorrow\n",
        "DTSTART:20261345T250000\n",
        "DTSTART;TZID=\"unterminated:20260310T100000\n",
        "DTSTART:20260310T100000Z\nRRULE:every day\n",
        "DTSTART:20260310T100000Z\nRRULE:FREQ=DAILY;BYMONTHDAY=0\n",
        "DTSTART:20260310T100000Z\nEXDATE:not-a-date\nRDATE:PERIOD\nDTEND:later\n",
        "DTSTART:20260310T100000Z\nDURATION:PXYZ\nBEGIN:VALARM\nTRIGGER:soon\nEND:VALARM\n",
        "DTSTART:20260310T100000Z\nRECURRENCE-ID:garbage\n",
        "SUMMARY:no start at all\n",
    };
    for (const char* lines : broken) {
        SCOPED_TRACE(lines);
        WriteCalendar("BEGIN:VEVENT\nUID:b\n" + std::string(lines) + "END:VEVENT\n" + good);
        const auto found = Find(Utc("2026-03-10 00:00"), Utc("2026-03-11 00:00"));
        ASSERT_GE(found.size(), 1u);
        EXPECT_EQ(found.back().subject, "Good");
        EXPECT_EQ(found.back().reminderMinutesBeforeStart, 5);
    }
}

TEST_F(CalendarTest, MissingEmptyAndUnreadableFiles) {
    // No files: an empty mailbox.
    EXPECT_TRUE(Find(0, INT32_MAX).empty());
    EXPECT_TRUE(Tasks().empty());
    WriteFile(CalendarPath(m_dir.Path(), "box"), "");
    WriteFile(TasksPath(m_dir.Path(), "box"), "\r\n  \n");
    EXPECT_TRUE(Find(0, INT32_MAX).empty());
    EXPECT_TRUE(Tasks().empty());

    std::filesystem::remove(TasksPath(m_dir.Path(), "box"));
    std::filesystem::create_directory(TasksPath(m_dir.Path(), "box"));
    std::vector<mail::Task> tasks;
    std::string error;
    EXPECT_FALSE(m_system->FindTasks(Entry("box"), tasks, error));
    EXPECT_NE(error.find("The calendar file " + TasksPath(m_dir.Path(), "box") + " cannot be read"),
              std::string::npos)
        << error;

    std::vector<mail::Appointment> found;
    EXPECT_FALSE(m_system->FindAppointments(Entry("absent"), 0, INT32_MAX, found, error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    mail::AddressEntry noMailbox = Entry("box");
    noMailbox.mailbox.clear();
    EXPECT_FALSE(m_system->FindAppointments(noMailbox, 0, INT32_MAX, found, error));
    EXPECT_NE(error.find("has no mailbox"), std::string::npos) << error;
    noMailbox.mailbox = "../other";
    EXPECT_FALSE(m_system->FindTasks(noMailbox, tasks, error));
}

class CalendarCacheTest : public CalendarTest {
protected:
    void SetUp() override {
        CalendarTest::SetUp();
        SetRacyWindow(0); // compare stamps alone unless a test says otherwise
    }
    void TearDown() override { SetRacyWindow(2'000'000'000); }

    // Writes the calendar with one event of that subject, dated an hour ago with `nanoseconds`.
    void WriteAged(const std::string& subject, long nanoseconds = 0) {
        const std::string path = CalendarPath(m_dir.Path(), "box");
        WriteCalendar(Event("a", "20260310T100000Z", "SUMMARY:" + subject + "\n"));
        struct timespec times[2] = {{time(nullptr) - 3600, nanoseconds},
                                    {time(nullptr) - 3600, nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    std::string Subject() {
        const auto found = Find(Utc("2026-03-10 00:00"), Utc("2026-03-11 00:00"));
        return found.size() == 1 ? found[0].subject : "?";
    }
};

TEST_F(CalendarCacheTest, AnUnchangedFileIsAnsweredFromMemory) {
    WriteAged("Alpha");
    ASSERT_EQ(Subject(), "Alpha");
    const auto before = mail::cache::GetStats();
    EXPECT_EQ(Subject(), "Alpha");
    const auto after = mail::cache::GetStats();
    EXPECT_EQ(after.reads, before.reads);
    EXPECT_EQ(after.hits, before.hits + 1); // the task list is missing: nothing held for it
}

TEST_F(CalendarCacheTest, AChangedFileIsAlwaysReadAgain) {
    const std::string path = CalendarPath(m_dir.Path(), "box");
    // The same size and the same second, told apart by the nanoseconds of the modification.
    WriteAged("Alpha", 100);
    ASSERT_EQ(Subject(), "Alpha");
    WriteAged("Bravo", 200);
    EXPECT_EQ(Subject(), "Bravo");
    // Replaced by another file (a new inode) with exactly the same size and times.
    const std::string other = m_dir.File("replacement.ics");
    WriteFile(other, Calendar(Event("a", "20260310T100000Z", "SUMMARY:Delta\n")));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    EXPECT_EQ(Subject(), "Delta");
    // Removed: nothing is left in memory.
    std::filesystem::remove(path);
    EXPECT_TRUE(Find(0, INT32_MAX).empty());
}

TEST_F(CalendarCacheTest, AFileWrittenInTheLastSecondsIsNeverTrusted) {
    SetRacyWindow(2'000'000'000);
    // Rewritten in place within the file system's clock step: every stamp field may be equal.
    WriteCalendar(Event("a", "20260310T100000Z", "SUMMARY:Alpha\n"));
    ASSERT_EQ(Subject(), "Alpha");
    WriteCalendar(Event("a", "20260310T100000Z", "SUMMARY:Bravo\n"));
    EXPECT_EQ(Subject(), "Bravo");
    const auto before = mail::cache::GetStats();
    EXPECT_EQ(Subject(), "Bravo");
    EXPECT_GT(mail::cache::GetStats().reads, before.reads);
}

TEST_F(CalendarCacheTest, ARangeBeyondWhatWasReadReadsTheFileAgain) {
    WriteCalendar(Event("d", "20260301T090000Z", "SUMMARY:Daily\nRRULE:FREQ=DAILY\n"));
    const int64_t day = 86400, now = Utc("2026-03-10 08:00");
    ASSERT_EQ(Find(now, now + 7 * day).size(), 7u);
    const auto before = mail::cache::GetStats();
    EXPECT_EQ(Find(now + 1800, now + 1800 + 7 * day).size(), 7u);
    EXPECT_EQ(mail::cache::GetStats().reads, before.reads);
    // Days later, past the kept horizon: read again, and right.
    const auto later = Find(now + 3 * day, now + 10 * day);
    ASSERT_EQ(later.size(), 7u);
    EXPECT_EQ(FormatUtc(later.back().start), "2026-03-19 09:00");
    EXPECT_GT(mail::cache::GetStats().reads, before.reads);
    // And back in time.
    EXPECT_EQ(FormatUtc(Find(now - 5 * day, now).front().start), "2026-03-05 09:00");
}

} // namespace
