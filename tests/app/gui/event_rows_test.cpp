// The Events view's rows without a display: the JSON event file's latest lines, their merge with
// the session's entries, and the filter by user and type.
#include "app/gui/EventRows.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

EventLog::Entry Written(const std::string& text, int64_t time) {
    EventLog::Entry entry;
    entry.source = EventLog::kSource;
    entry.eventId = EventLog::kEventId;
    entry.strings = {text};
    entry.written = CTime(static_cast<int32_t>(time));
    return entry;
}

} // namespace

// The file sink's own lines read back; damaged lines are skipped and counted, and only the
// file's tail is read, the line cut by its start left out.
TEST(EventRows, ReadsTheEventFilesLatestLinesNewestFirst) {
    TempDir dir;
    const std::string path = dir.File("events.jsonl");
    const std::string first = EventLog::JsonLine(Written("The scan of a@x failed.", 1000));
    const std::string second = EventLog::JsonLine(Written("Quote \" and \\ kept", 2000));
    const std::string third = EventLog::JsonLine(Written("Third", 1500));
    std::ofstream(path) << first << "\n"
                        << "not json\n"
                        << "{\"time\":\"soon\"}\n\n"
                        << second << "\n"
                        << third << "\n";
    std::vector<events::EventRow> rows;
    size_t skipped = 0;
    std::string error;
    ASSERT_TRUE(events::ReadEventFile(path, 1 << 20, rows, skipped, error)) << error;
    EXPECT_EQ(skipped, 2u);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, "Quote \" and \\ kept");
    EXPECT_EQ(rows[0].time, 2000);
    EXPECT_EQ(rows[0].type, "error");
    EXPECT_EQ(rows[1].text, "Third");
    EXPECT_EQ(rows[2].text, "The scan of a@x failed.");

    // A tail that starts inside the first line: that line is not half read.
    ASSERT_TRUE(
        events::ReadEventFile(path, second.size() + third.size() + 10, rows, skipped, error));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(skipped, 0u);
    EXPECT_EQ(rows[1].text, "Third");

    EXPECT_TRUE(events::ReadEventFile(dir.File("none.jsonl"), 1 << 20, rows, skipped, error));
    EXPECT_TRUE(rows.empty());
    EXPECT_FALSE(events::ReadEventFile(dir.Path(), 1 << 20, rows, skipped, error));
    EXPECT_NE(error.find(dir.Path()), std::string::npos) << error;
}

// An entry of the session that the file holds too is listed once; the rest of both, newest
// first.
TEST(EventRows, MergesTheSessionWithTheFileOnce) {
    const std::vector<events::EventRow> session =
        events::RowsOf({Written("b", 300), Written("a", 100)});
    ASSERT_EQ(session.size(), 2u);
    EXPECT_EQ(session[0].type, "error");
    const std::vector<events::EventRow> file = {
        {300, "error", "b"}, {200, "error", "older run"}, {100, "error", "a"}, {100, "error", "a"}};
    const std::vector<events::EventRow> rows = events::Merge(session, file);
    std::vector<std::string> texts;
    for (const auto& row : rows)
        texts.push_back(row.text);
    // The file's second "a" is an entry of its own (written twice in that second).
    EXPECT_EQ(texts, (std::vector<std::string>{"b", "older run", "a", "a"}));
}

TEST(EventRows, FiltersByTheUsersNamesAndByType) {
    UserlistStru user;
    user.DisplayName = "Ann Archer";
    user.MailboxName = "/o=Quorvik/cn=aarcher";
    user.PagerName = "Ann Archer (Pager)";
    const events::EventFilter ann = events::FilterForUser(user);
    struct Row {
        events::EventRow row;
        std::string type; // the filter's type
        bool matches;
    } const rows[] = {
        {{0, "error", "The scan of /o=Quorvik/cn=aarcher failed."}, "", true},
        {{0, "error", "A reminder page could not be sent to Ann Archer (Pager) because"}, "", true},
        {{0, "error", "Unable to open the mailbox of Ann Archer."}, "error", true},
        {{0, "error", "Unable to open the mailbox of ann archer."}, "", false}, // byte for byte
        {{0, "error", "The scan of /o=Quorvik/cn=bbaker failed."}, "", false},
        {{0, "information", "Ann Archer restored"}, "error", false},
    };
    for (const Row& r : rows) {
        events::EventFilter filter = ann;
        filter.type = r.type;
        EXPECT_EQ(events::Matches(r.row, filter), r.matches) << r.row.text;
    }
    events::EventFilter everyone;
    EXPECT_TRUE(events::Matches({0, "information", "anything"}, everyone));
    everyone.type = "error";
    EXPECT_FALSE(events::Matches({0, "information", "anything"}, everyone));
}
