// Every calendar under tests/data/mailsystem/calendars, read under each test zone and compared
// with the occurrences written beside it (NAME.expected: times, range and expected lines).
#include "MailTestSupport.h"
#include "mailsystem/CalendarCache.h"
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
    std::string lines;
};

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
        else if (!line.empty() && line[0] != '#')
            e.lines += line + "\n";
    }
    return e;
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
    for (const char* zone : kZones) {
        SCOPED_TRACE(zone);
        testing_support::ScopedTimeZone tz(zone);
        testing_support::TempDir dir;
        auto system = MakeMailSystem(dir.Path(), {"box"});
        std::filesystem::copy_file(base + ".ics", CalendarPath(dir.Path(), "box"));
        const int64_t from = expected.utc ? Utc(expected.from) : Local(expected.from);
        const int64_t to = expected.utc ? Utc(expected.to) : Local(expected.to);
        std::vector<mail::Appointment> found;
        std::string error;
        ASSERT_TRUE(system->FindAppointments(Entry("box"), from, to, found, error)) << error;
        EXPECT_EQ(Render(found, expected.utc ? FormatUtc : FormatLocal), expected.lines);
        // The same answer again, now from memory.
        std::vector<mail::Appointment> again;
        ASSERT_TRUE(system->FindAppointments(Entry("box"), from, to, again, error)) << error;
        EXPECT_EQ(Render(again, expected.utc ? FormatUtc : FormatLocal), expected.lines);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CalendarFileTest, testing::ValuesIn(CalendarFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

} // namespace
