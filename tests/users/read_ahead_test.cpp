// Scans with calendars read ahead on worker threads ("ReadThreads" above 1) give exactly what the
// scan pass gives reading them itself: the same reminders, statuses and events, in the same order.
#include "core/Clock.h"
#include "core/FileStamp.h"
#include "core/Settings.h"
#include "mailsystem/ical/CalendarCache.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const char* const kProfile = "ReadAhead";

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

// The case's "tz ZONE" and "at YYYY-MM-DD HH:MM:SS" lines.
void ReadCase(const fs::path& file, std::string& zone, CTime& at) {
    std::istringstream in(ReadFile(file.string()));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("tz ", 0) == 0) {
            zone = line.substr(3);
        } else if (line.rfind("at ", 0) == 0) {
            int y, mo, d, h, mi, s;
            ASSERT_EQ(std::sscanf(line.c_str() + 3, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s),
                      6);
            at = CTime(y, mo, d, h, mi, s);
        }
    }
}

std::string Dn(const std::string& folder) {
    return "/o=Quorvik/ou=Test/cn=Recipients/cn=" + folder;
}

// A mail system whose first mailbox is empty and whose others hold the case's calendar and task
// list, each its own copy: while the first user is scanned, the others are read ahead.
struct CaseMail {
    MailFixture mail;
    std::vector<std::string> folders{"lead", "m0", "m1", "m2"};

    CaseMail(const std::string& calendar, const std::string& tasks) {
        for (const std::string& folder : folders) {
            mail.Add({folder, Dn(folder), "/o=Quorvik/ou=Test/cn=Servers/cn=MAIL1", folder, ""});
            if (folder == "lead")
                continue;
            if (!calendar.empty())
                WriteFile(mail.MailboxDirectory(folder) + "/calendar.ics", calendar);
            if (!tasks.empty())
                WriteFile(mail.MailboxDirectory(folder) + "/tasks.ics", tasks);
        }
        mail.UseProfile(kProfile);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, kProfile);
    }
};

// How the passes run: the threads, and whether each pass waits for the readers before the next
// (so that every scan after the first finds its mailbox read ahead) or not (scans and readers
// meet as they come).
struct Run {
    int threads;
    bool drain;
    int millisecondsPerTick;
};

// Every user's scan outcome and reminders, and every event, as text.
std::string ScanAll(const Run& run, size_t* readAheadBeforeScan = nullptr) {
    Settings::WriteProfileString(Settings::kPreferences, Settings::kReadThreads,
                                 std::to_string(run.threads));
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick,
                                 std::to_string(run.millisecondsPerTick));
    mail::cache::Clear();
    std::ostringstream out;
    CapturedEvents events;
    {
        CUserList users;
        // Two users share m0: the second finds it read already, either way.
        for (const char* folder : {"lead", "m0", "m1", "m2", "m0"}) {
            UserlistStru* u = users.CreateUser();
            u->DisplayName = folder;
            u->MailboxName = Dn(folder);
            u->PagerName = "pager";
            u->PageOnlyOOF = 0;
            u->NextScan = CTime(0);
        }
        for (int pass = 0; pass < 20 && users.UpdateReminders(); ++pass) {
            if (run.drain && users.ReadAhead().Pool()) {
                EXPECT_TRUE(users.ReadAhead().Pool()->Drain(10000));
                if (pass == 0 && readAheadBeforeScan)
                    *readAheadBeforeScan = mail::cache::GetStats().reads;
            }
        }
        for (const auto& u : users.Users()) {
            out << u->DisplayName << ": status " << u->ScanStatus << " error \"" << u->LastScanError
                << "\"\n";
            for (const auto& r : u->Reminders.GetRecords())
                out << "  " << r->PageTime.GetTime() << " " << r->StartTime.GetTime() << " "
                    << r->EndTime.GetTime() << " " << r->TimeKey << " " << r->Text << "\n";
        }
        EXPECT_FALSE(users.ScansWaiting());
    }
    for (const std::string& text : events.Texts())
        out << "event: " << text << "\n";
    return out.str();
}

class ReadAheadCase : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override { SetRacyWindow(0); }
    void TearDown() override {
        SetRacyWindow(2'000'000'000);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kReadThreads, "");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick,
                                     Settings::kScanMillisecondsPerTickDefault);
        Clock::Reset();
        mail::cache::Clear();
    }
};

} // namespace

TEST_P(ReadAheadCase, GivesWhatTheScanPassReadingAloneGives) {
    const fs::path dir = fs::path(DataDir()) / "scan" / GetParam();
    std::string zone;
    CTime at;
    ReadCase(dir / "case.txt", zone, at);
    ASSERT_FALSE(zone.empty() || at.GetTime() == 0);
    ScopedTimeZone tz(zone.c_str());
    const std::string calendar = ReadIfPresent(dir / "calendar.ics");
    const std::string tasks = ReadIfPresent(dir / "tasks.ics");
    CaseMail mail(calendar, tasks);

    Clock::Freeze(at);
    const std::string alone = ScanAll({1, false, 0});
    ASSERT_NE(alone.find("m2: status"), std::string::npos) << alone;

    // One user a pass, the readers done before each next pass: m0, m1 and m2 are read ahead
    // while "lead" is scanned, and their scans only use what was read.
    size_t readBeforeScan = 0;
    Clock::Freeze(at);
    EXPECT_EQ(ScanAll({3, true, 0}, &readBeforeScan), alone);
    const size_t files = (calendar.empty() ? 0 : 3) + (tasks.empty() ? 0 : 3);
    EXPECT_GE(readBeforeScan, files) << "the other mailboxes were read ahead";

    // Everything in one pass, readers and scans meeting as they come.
    Clock::Freeze(at);
    EXPECT_EQ(ScanAll({2, false, 1000}), alone);
}

INSTANTIATE_TEST_SUITE_P(Calendars, ReadAheadCase, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });
