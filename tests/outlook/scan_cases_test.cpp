// Every calendar under tests/data/scan/<case>/ scanned through the automation layer and the mail
// system by "orvane scan", compared with the expected output beside it (and the expected events,
// when expected-err.txt is there).
#include "ScanFixture.h"
#include "app/cli/Cli.h"
#include "core/Clock.h"
#include "support/TestSupport.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

std::vector<std::string> Cases() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(DataDir() + "/scan"))
        if (entry.is_directory())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadIfPresent(const fs::path& path) {
    return fs::exists(path) ? ReadFile(path.string()) : std::string();
}

// "tz ZONE" and "at YYYY-MM-DD HH:MM:SS" lines; "#" starts a comment.
void ReadCase(const fs::path& file, std::string& zone, std::string& at) {
    std::istringstream in(ReadFile(file.string()));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("tz ", 0) == 0)
            zone = line.substr(3);
        else if (line.rfind("at ", 0) == 0)
            at = line.substr(3);
    }
}

class ScanCase : public testing::TestWithParam<std::string> {};

} // namespace

TEST_P(ScanCase, PrintsTheExpectedReminders) {
    const fs::path dir = fs::path(DataDir()) / "scan" / GetParam();
    std::string zone, at;
    ReadCase(dir / "case.txt", zone, at);
    ASSERT_FALSE(zone.empty() || at.empty()) << "case.txt needs tz and at lines";
    ScopedTimeZone tz(zone.c_str());

    outlook_test::ScanMailSystem mail;
    mail.SetCalendar(ReadIfPresent(dir / "calendar.ics"));
    mail.SetTasks(ReadIfPresent(dir / "tasks.ics"));

    std::ostringstream out, err;
    const int code = cli::Run({"scan", outlook_test::ScanMailSystem::kMailbox, "--profile",
                               outlook_test::ScanMailSystem::kProfile, "--at", at},
                              out, err);
    const std::string expected = ReadFile((dir / "expected.txt").string());
    EXPECT_EQ(out.str(), expected) << err.str();
    const bool succeeded = expected.find("status: succeeded") != std::string::npos;
    EXPECT_EQ(code, succeeded ? 0 : 1);
    // The events, with "$MAIL" standing for the mail system's directory.
    std::string events = err.str();
    for (size_t at; (at = events.find(mail.Directory())) != std::string::npos;)
        events.replace(at, mail.Directory().size(), "$MAIL");
    const fs::path expectedErr = dir / "expected-err.txt";
    if (fs::exists(expectedErr))
        EXPECT_EQ(events, ReadFile(expectedErr.string()));
    else
        EXPECT_EQ(err.str(), "") << "no event expected";
}

INSTANTIATE_TEST_SUITE_P(Calendars, ScanCase, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// The answer of "scan --at" is the one for that moment, however long the scan takes: the clock
// stands still there.
TEST(ScanAt, TheClockStandsAtTheGivenMoment) {
    ScopedTimeZone tz("UTC");
    outlook_test::ScanMailSystem mail;
    mail.SetCalendar(
        ReadIfPresent(fs::path(DataDir()) / "scan" / "advance-lands" / "calendar.ics"));
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"scan", outlook_test::ScanMailSystem::kMailbox, "--profile",
                        outlook_test::ScanMailSystem::kProfile, "--at", "2026-06-01 10:00:00"},
                       out, err),
              0)
        << err.str();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(Clock::Now(), CTime(2026, 6, 1, 10, 0, 0));
    Clock::Reset();
}
