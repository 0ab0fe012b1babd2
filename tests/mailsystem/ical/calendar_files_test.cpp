// Every calendar under tests/data/mailsystem/calendars, read under each test zone and compared
// with the occurrences written beside it (NAME.expected: times, range, zones and expected lines;
// a line that begins with "[ZONE ...]" is expected only in the zones named).
#include "mailsystem/ical/CalendarCache.h"
#include "support/MailTestSupport.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace mail_test;
using testing_support::ReadFile;

struct Expectation {
    bool utc = true;
    std::string from, to;
    std::vector<std::string> zones{std::begin(kZones), std::end(kZones)};
    std::vector<std::string> lines; // as written, "[ZONE ...] " prefixes included
};

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

Expectation ReadExpectation(const std::string& path) {
    Expectation e;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# times: ", 0) == 0)
            e.utc = line.substr(9) == "utc";
        else if (line.rfind("# from: ", 0) == 0)
            e.from = line.substr(8);
        else if (line.rfind("# to: ", 0) == 0)
            e.to = line.substr(6);
        else if (line.rfind("# zones: ", 0) == 0)
            e.zones = Words(line.substr(9));
        else if (!line.empty() && line[0] != '#')
            e.lines.push_back(line);
    }
    return e;
}

// The lines expected in `zone`.
std::string LinesIn(const Expectation& e, const std::string& zone) {
    std::string text;
    for (const std::string& line : e.lines) {
        if (line[0] != '[') {
            text += line + "\n";
            continue;
        }
        const size_t close = line.find("] ");
        const std::vector<std::string> zones = Words(line.substr(1, close - 1));
        if (close != std::string::npos &&
            std::find(zones.begin(), zones.end(), zone) != zones.end())
            text += line.substr(close + 2) + "\n";
    }
    return text;
}

std::vector<std::string> CalendarFiles() {
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(testing_support::DataDir() +
                                                                "/mailsystem/calendars")) {
        if (file.path().extension() == ".ics")
            names.push_back(file.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class CalendarFileTest : public testing::TestWithParam<std::string> {};

TEST_P(CalendarFileTest, GivesTheExpectedOccurrencesInEveryZone) {
    const std::string base = testing_support::DataDir() + "/mailsystem/calendars/" + GetParam();
    const Expectation expected = ReadExpectation(base + ".expected");
    ASSERT_FALSE(expected.from.empty() || expected.to.empty())
        << base << ".expected lacks its range";
    for (const std::string& zone : expected.zones) {
        SCOPED_TRACE(zone);
        testing_support::ScopedTimeZone tz(zone.c_str());
        const std::string lines = LinesIn(expected, zone);
        testing_support::TempDir dir;
        auto system = MakeMailSystem(dir.Path(), {"box"});
        std::filesystem::copy_file(base + ".ics", CalendarPath(dir.Path(), "box"));
        const int64_t from = expected.utc ? Utc(expected.from) : Local(expected.from);
        const int64_t to = expected.utc ? Utc(expected.to) : Local(expected.to);
        std::vector<mail::Appointment> found;
        std::string error;
        ASSERT_TRUE(system->FindAppointments(Entry("box"), from, to, found, error)) << error;
        EXPECT_EQ(Render(found, expected.utc ? FormatUtc : FormatLocal), lines);
        // The same answer again, now from memory.
        std::vector<mail::Appointment> again;
        ASSERT_TRUE(system->FindAppointments(Entry("box"), from, to, again, error)) << error;
        EXPECT_EQ(Render(again, expected.utc ? FormatUtc : FormatLocal), lines);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CalendarFileTest, testing::ValuesIn(CalendarFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

} // namespace
