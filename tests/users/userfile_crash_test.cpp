// Users.dat survives a crash at any moment of a save and an I/O error at any call of one: the file
// is always the old list or the new one, whole, and the next start reads it.
#include "core/FileSystem.h"
#include "support/CrashHarness.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

void Fill(CUserList& list, int count, const std::string& tag) {
    for (int i = 1; i <= count; ++i) {
        UserlistStru* u = list.CreateNoCodeUser();
        u->Code = static_cast<int16_t>(i);
        u->DisplayName = tag + " user " + std::to_string(i) + std::string(40, 'd');
        u->MailboxName = "/o=Quorvik/ou=Office/cn=Recipients/cn=" + tag + std::to_string(i);
        u->Server = "/o=Quorvik/ou=Office/cn=Configuration/cn=Servers/cn=MAIL" + tag;
        u->PagerName = tag + " user " + std::to_string(i) + " (Pager)";
        u->ScanInterval = static_cast<int16_t>(15 + i % 45);
        u->PageOnlyOOF = i % 2;
    }
}

std::vector<std::string> Leftovers(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name != UserFile::kFileName && name != UserFile::kLockFileName)
            names.push_back(name);
    }
    return names;
}

class UserFileCrashTest : public testing::Test {
protected:
    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Path()};
    CapturedEvents events;
    CUserList oldList, newList;
    std::string oldBytes, newBytes;

    void SetUp() override {
        Fill(oldList, 300, "old");
        Fill(newList, 240, "new");
        oldBytes = UserFile::Encode(oldList);
        newBytes = UserFile::Encode(newList);
        ASSERT_NE(oldBytes, newBytes);
        WriteFile(dir.File(UserFile::kFileName), oldBytes);
    }
};

} // namespace

TEST_F(UserFileCrashTest, AKillAtAnyMomentOfASaveLeavesTheOldOrTheNewListWhole) {
    int interrupted = 0, sawOld = 0, sawNew = 0;
    std::string reason;
    const bool ran = KillWhileSaving(
        300, 30000, 14,
        [&](int, int) {
            for (int i = 0;; ++i)
                (i % 2 == 0 ? newList : oldList).SaveUsers();
        },
        [&](int round, const std::string&) {
            const std::string bytes = ReadFile(dir.File(UserFile::kFileName));
            const bool isOld = bytes == oldBytes, isNew = bytes == newBytes;
            ASSERT_TRUE(isOld || isNew) << "round " << round << ": " << bytes.size() << " bytes";
            sawOld += isOld;
            sawNew += isNew;
            // The next start reads the list whole.
            CUserList next;
            const UserFileLoad load = next.LoadUsers();
            ASSERT_EQ(load.status, UserFileLoad::Loaded) << "round " << round;
            EXPECT_EQ(next.GetCount(), isOld ? 300 : 240);
            // What a kill can leave is a temporary file beside it, never read by anyone.
            const std::vector<std::string> left = Leftovers(dir.Path());
            for (const std::string& name : left) {
                EXPECT_EQ(name.rfind("Users.dat.tmp-", 0), 0u) << name;
                std::filesystem::remove(dir.File(name));
            }
            interrupted += !left.empty();
        },
        reason);
    ASSERT_TRUE(ran) << reason;
    std::printf("300 kills: %d inside a save (a temporary file left), old list %d, new list %d\n",
                interrupted, sawOld, sawNew);
    EXPECT_GT(interrupted, 0) << "no kill landed inside a save";
    EXPECT_GT(sawOld + sawNew, 0);
    EXPECT_EQ(newList.SaveUsers(), UserFileSave::Saved);
    EXPECT_EQ(ReadFile(dir.File(UserFile::kFileName)), newBytes);
}

TEST_F(UserFileCrashTest, AnIOErrorAtAnyCallOfASaveKeepsTheOldFileAndIsReported) {
    int calls = 0;
    {
        NthCallFailure counting(0, 0);
        ASSERT_EQ(newList.SaveUsers(), UserFileSave::Saved);
        calls = counting.Calls();
    }
    ASSERT_GE(calls, 6) << "open, write, fsync, close, rename, directory flush";
    for (int error : {ENOSPC, EIO, EDQUOT}) {
        for (int n = 1; n <= calls; ++n) {
            WriteFile(dir.File(UserFile::kFileName), oldBytes);
            QueuedMessageBoxes boxes;
            CapturedEvents captured;
            std::string failed;
            UserFileSave result;
            {
                NthCallFailure failing(n, error);
                // Closing the flushed directory is the one call whose failure changes nothing.
                if (n < calls)
                    boxes.Answer(IDCANCEL);
                result = newList.SaveUsers();
                failed = failing.FailedCall();
            }
            const std::string at =
                "call " + std::to_string(n) + " (" + failed + "), " + std::strerror(error);
            ASSERT_FALSE(failed.empty()) << at;
            const std::string bytes = ReadFile(dir.File(UserFile::kFileName));
            if (n == calls) {
                EXPECT_EQ(result, UserFileSave::Saved) << at;
                EXPECT_EQ(bytes, newBytes) << at;
                continue;
            }
            EXPECT_EQ(result, UserFileSave::Cancelled) << at;
            ASSERT_EQ(boxes.Boxes().size(), 1u) << at;
            EXPECT_EQ(boxes.Boxes()[0].caption, "User Write Error") << at;
            if (bytes == newBytes) {
                // Only the directory flush comes after the rename: the new list is in place but
                // its name may not be on disk yet, so the user is asked and Retry saves again.
                EXPECT_TRUE(failed == "open directory" || failed == "fsync") << at;
            } else {
                EXPECT_EQ(bytes, oldBytes) << at;
                ASSERT_EQ(captured.Texts().size(), 1u) << at;
                EXPECT_NE(captured.Texts()[0].find("previous contents are unchanged"),
                          std::string::npos)
                    << captured.Texts()[0];
            }
            EXPECT_TRUE(Leftovers(dir.Path()).empty()) << at << ": a temporary file was left";
        }
    }
}
