// The event writer: fields kept apart, nothing forged through control characters, silent failure.
#include "paging/EventLog.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>

using testing_support::CapturedEvents;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class ScopedEventFile {
public:
    explicit ScopedEventFile(const std::string& path) {
        setenv(EventLog::kFileVariable, path.c_str(), 1);
    }
    ~ScopedEventFile() { unsetenv(EventLog::kFileVariable); }
};

} // namespace

TEST(EventLog, KeepsSourceTypeIdAndStringsInOrder) {
    CapturedEvents events;
    LogEvent(1001, "first", "second");
    LogEvent(1001, "only");
    LogEvent(1002, nullptr, "a second text alone is not sent");
    ASSERT_EQ(events.Entries().size(), 3u);
    const auto& e = events.Entries();
    EXPECT_EQ(e[0].source, "Orvane");
    EXPECT_EQ(e[0].type, EventLog::kErrorType);
    EXPECT_EQ(e[0].eventId, 1001u);
    EXPECT_EQ(e[0].strings, std::vector<std::string>({"first", "second"}));
    EXPECT_EQ(e[1].strings, std::vector<std::string>({"only"}));
    EXPECT_EQ(e[2].eventId, 1002u);
    EXPECT_TRUE(e[2].strings.empty());
}

TEST(EventLog, TheFileSinkWritesOneJsonObjectPerEntry) {
    TempDir dir;
    const std::string path = dir.File("events.jsonl");
    ScopedEventFile file(path);
    LogEvent(1001, "Failed to resolve EX:ann.");
    LogEvent(1001, "line one\nforged {\"source\":\"Orvane\"}", "tab\there \\ quote\" bell\a");
    LogEvent(1001, "caf\xc3\xa9 and a Latin-1 byte \xe9");

    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(text.substr(start, end - start));
    ASSERT_EQ(lines.size(), 3u) << "a line break inside a text must not start a new entry";
    EXPECT_NE(lines[0].find("\"source\":\"Orvane\",\"type\":\"error\",\"event_id\":1001,"
                            "\"strings\":[\"Failed to resolve EX:ann.\"]}"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("[\"line one\\u000aforged {\\\"source\\\":\\\"Orvane\\\"}\","
                            "\"tab\\u0009here \\\\ quote\\\" bell\\u0007\"]"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find("caf\xc3\xa9 and a Latin-1 byte \\u00e9"), std::string::npos)
        << lines[2];
    EXPECT_EQ(lines[0].rfind("{\"time\":\"", 0), 0u);
}

TEST(EventLog, TheSyslogLineEscapesEverythingThatCouldEndOrSplitIt) {
    EventLog::Entry entry;
    entry.source = "Orvane";
    entry.eventId = 1001;
    entry.strings = {"A reminder page could not be sent to Bob\n<11>Orvane: forged", "q\"\\"};
    EXPECT_EQ(
        EventLog::SyslogLine(entry),
        "event 1001 error: \"A reminder page could not be sent to Bob\\x0a<11>Orvane: forged\" "
        "\"q\\\"\\\\\"");
}

TEST(EventLog, AnUnwritableFileIsDroppedSilently) {
    ScopedEventFile file("/nonexistent-directory/events.jsonl");
    CapturedEvents events;
    LogEvent(1001, "still delivered to the other sinks");
    EXPECT_EQ(events.Texts(), std::vector<std::string>({"still delivered to the other sinks"}));
}
