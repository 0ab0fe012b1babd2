// The record of sent pages survives a crash at any moment of a save and an I/O error at any call
// of one: it is read whole at the next start, holding every page whose recording had finished.
#include "core/FileSystem.h"
#include "paging/CRemList.h"
#include "paging/SentPages.h"
#include "support/CrashHarness.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

using namespace testing_support;

namespace {

const CTime kNow(2026, 6, 1, 9, 0, 0);

ReminderStru Reminder(int n) {
    ReminderStru r;
    r.PageTime = kNow + CTimeSpan(3600 + n);
    r.StartTime = r.PageTime;
    r.EndTime = r.PageTime;
    r.Text = "Page number " + std::to_string(n) + " with\ta tab";
    r.TimeKey = r.PageTime.Format("%H%M");
    return r;
}

} // namespace

TEST(SentPagesCrash, AKillAtAnyMomentOfASaveLeavesARecordReadWhole) {
    TempDir dir;
    const std::string path = dir.File(CSentPages::kFileName);
    int interrupted = 0;
    std::string reason;
    const bool ran = KillWhileSaving(
        300, 20000, 21,
        [&](int round, int ackFd) {
            CSentPages sent;
            sent.Load(path, kNow);
            for (int i = 0;; ++i) {
                sent.Record("/o=Q/cn=ann", "Ann (Pager)", Reminder(round * 1000 + i), kNow);
                if (write(ackFd, &i, sizeof i) != sizeof i)
                    return;
            }
        },
        [&](int round, const std::string& acks) {
            const int recorded = static_cast<int>(acks.size() / sizeof(int));
            CapturedEvents events;
            CSentPages next;
            next.Load(path, kNow);
            EXPECT_TRUE(events.Texts().empty())
                << "round " << round << ": " << (events.Texts().empty() ? "" : events.Texts()[0]);
            // Every page recorded is there; at most the one being recorded at the kill is too.
            EXPECT_GE(next.GetCount(), recorded) << "round " << round;
            EXPECT_LE(next.GetCount(), recorded + 1) << "round " << round;
            for (int i = 0; i < recorded; ++i)
                EXPECT_TRUE(
                    next.WasSent("/o=Q/cn=ann", "Ann (Pager)", Reminder(round * 1000 + i), kNow))
                    << "round " << round << ": page " << i << " was forgotten";
            // The next round starts from nothing, even if its child is killed before it writes.
            bool left = false;
            std::vector<std::filesystem::path> files;
            for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
                files.push_back(e.path());
            for (const auto& file : files) {
                left = left || file.filename() != CSentPages::kFileName;
                std::filesystem::remove(file);
            }
            interrupted += left;
        },
        reason);
    ASSERT_TRUE(ran) << reason;
    EXPECT_GT(interrupted, 0) << "no kill landed inside a save";
}

TEST(SentPagesCrash, AnIOErrorAtAnyCallOfASaveKeepsTheOldRecordAndIsReported) {
    TempDir dir;
    const std::string path = dir.File(CSentPages::kFileName);
    int calls = 0;
    {
        CSentPages sent;
        sent.Load(path, kNow);
        NthCallFailure counting(0, 0);
        sent.Record("/o=Q/cn=ann", "Ann (Pager)", Reminder(0), kNow);
        calls = counting.Calls();
    }
    ASSERT_GE(calls, 5);
    const std::string old = ReadFile(path);
    for (int e : {ENOSPC, EIO}) {
        for (int n = 1; n < calls; ++n) { // the last call closes the flushed directory
            WriteFile(path, old);
            CSentPages sent;
            sent.Load(path, kNow);
            CapturedEvents events;
            std::string failed;
            {
                NthCallFailure failing(n, e);
                sent.Record("/o=Q/cn=ann", "Ann (Pager)", Reminder(1), kNow);
                failed = failing.FailedCall();
            }
            const std::string at = "call " + std::to_string(n) + " (" + failed + ")";
            ASSERT_EQ(events.Texts().size(), 1u) << at << ": the failed save is reported";
            EXPECT_NE(events.Texts()[0].find(std::strerror(e)), std::string::npos)
                << at << ": " << events.Texts()[0];
            EXPECT_TRUE(sent.WasSent("/o=Q/cn=ann", "Ann (Pager)", Reminder(1), kNow))
                << at << ": remembered while the program runs";
            const std::string bytes = ReadFile(path);
            if (failed != "open directory" && failed != "fsync") {
                EXPECT_EQ(bytes, old) << at;
            }
            CSentPages next;
            next.Load(path, kNow);
            EXPECT_GE(next.GetCount(), 1) << at;
        }
    }
}
