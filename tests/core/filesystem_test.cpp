// Safe saves (every failing step leaves the old file whole) and advisory locks.
#include "core/FileSystem.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// Fails the chosen step once, with the chosen error.
class FailingFileSystem : public IFileSystem {
public:
    enum Step {
        kNone,
        kOpen,
        kWrite,
        kShortWrites,
        kFsync,
        kClose,
        kRename,
        kDirectoryOpen,
        kDirectoryFsync
    };
    FailingFileSystem(Step step, int error) : m_step(step), m_error(error) {
        m_previous = SetFileSystem(this);
    }
    ~FailingFileSystem() override { SetFileSystem(m_previous); }

    int Open(const char* path, int flags, mode_t mode) override {
        const bool directory = (flags & O_DIRECTORY) != 0;
        if ((m_step == kOpen && !directory) || (m_step == kDirectoryOpen && directory))
            return Fail();
        const int fd = IFileSystem::Open(path, flags, mode);
        if (directory)
            m_directoryFd = fd;
        return fd;
    }
    ssize_t Write(int fd, const void* data, size_t size) override {
        if (m_step == kWrite && m_written > 0)
            return Fail(); // a disk that fills up part way through
        if (m_step == kWrite)
            size = std::min<size_t>(size, 4096);
        if (m_step == kShortWrites)
            size = std::min<size_t>(size, 3);
        const ssize_t n = IFileSystem::Write(fd, data, size);
        if (n > 0)
            m_written += static_cast<size_t>(n);
        return n;
    }
    int Fsync(int fd) override {
        const bool directory = fd == m_directoryFd;
        if ((m_step == kFsync && !directory) || (m_step == kDirectoryFsync && directory))
            return Fail();
        return IFileSystem::Fsync(fd);
    }
    int Close(int fd) override {
        const int rc = IFileSystem::Close(fd);
        if (m_step == kClose && fd != m_directoryFd)
            return Fail();
        return rc;
    }
    int Rename(const char* from, const char* to) override {
        if (m_step == kRename)
            return Fail();
        return IFileSystem::Rename(from, to);
    }

private:
    int Fail() {
        errno = m_error;
        return -1;
    }
    Step m_step;
    int m_error;
    size_t m_written = 0;
    int m_directoryFd = -1;
    IFileSystem* m_previous;
};

const std::string kOld = "the old contents, which must survive";
const std::string kNew(100000, 'n');

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}

} // namespace

TEST(SaveFileAtomically, ReplacesTheFileAndKeepsItsPermissions) {
    TempDir dir;
    const std::string path = dir.File("data");
    WriteFile(path, kOld);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    const SaveResult result = SaveFileAtomically(path, kNew);
    EXPECT_TRUE(result.ok()) << result.Describe();
    EXPECT_TRUE(result.replaced);
    EXPECT_TRUE(ReadFile(path) == kNew);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(FilesIn(dir.Path()), 1u) << "no temporary file may be left behind";
}

TEST(SaveFileAtomically, ANewFileGetsTheRequestedMode) {
    TempDir dir;
    const std::string path = dir.File("secret");
    const mode_t oldMask = umask(022);
    ASSERT_TRUE(SaveFileAtomically(path, "x", 0600).ok());
    umask(oldMask);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(SaveFileAtomically, AFailureAtAnyStepBeforeTheRenameLeavesTheOldFileWhole) {
    const struct {
        FailingFileSystem::Step step;
        int error;
        SaveResult::Step reported;
    } rows[] = {
        {FailingFileSystem::kOpen, EACCES, SaveResult::Create},
        {FailingFileSystem::kWrite, ENOSPC, SaveResult::Write},
        {FailingFileSystem::kFsync, EIO, SaveResult::Flush},
        {FailingFileSystem::kClose, EIO, SaveResult::Close},
        {FailingFileSystem::kRename, EXDEV, SaveResult::Rename},
    };
    for (const auto& row : rows) {
        TempDir dir;
        const std::string path = dir.File("data");
        WriteFile(path, kOld);
        SaveResult result;
        {
            FailingFileSystem fs(row.step, row.error);
            result = SaveFileAtomically(path, kNew);
        }
        EXPECT_FALSE(result.ok());
        EXPECT_FALSE(result.replaced);
        EXPECT_EQ(result.failedAt, row.reported) << result.Describe();
        EXPECT_EQ(result.error, row.error);
        EXPECT_TRUE(ReadFile(path) == kOld) << result.Describe();
        EXPECT_EQ(FilesIn(dir.Path()), 1u) << result.Describe() << ": temporary file left behind";
    }
}

TEST(SaveFileAtomically, ShortWritesAreCompleted) {
    TempDir dir;
    const std::string path = dir.File("data");
    FailingFileSystem fs(FailingFileSystem::kShortWrites, 0);
    EXPECT_TRUE(SaveFileAtomically(path, "0123456789abcdef").ok());
    EXPECT_EQ(ReadFile(path), "0123456789abcdef");
}

TEST(SaveFileAtomically, AFailedDirectoryFlushIsReportedAfterTheReplacement) {
    TempDir dir;
    const std::string path = dir.File("data");
    WriteFile(path, kOld);
    FailingFileSystem fs(FailingFileSystem::kDirectoryFsync, EIO);
    const SaveResult result = SaveFileAtomically(path, kNew);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.failedAt, SaveResult::FlushDirectory);
    EXPECT_TRUE(result.replaced);
    EXPECT_TRUE(ReadFile(path) == kNew);
}

TEST(FileLock, SharedLocksCoexistAndExclusiveOnesExcludeEveryOther) {
    TempDir dir;
    const std::string lockPath = dir.File("lock");
    FileLock reader1, reader2, writer;
    EXPECT_EQ(reader1.TryLock(lockPath, FileLock::Shared), FileLock::Locked);
    EXPECT_EQ(reader2.TryLock(lockPath, FileLock::Shared), FileLock::Locked);
    EXPECT_EQ(writer.TryLock(lockPath, FileLock::Exclusive), FileLock::Busy);
    reader1.Unlock();
    EXPECT_EQ(writer.TryLock(lockPath, FileLock::Exclusive), FileLock::Busy);
    reader2.Unlock();
    EXPECT_EQ(writer.TryLock(lockPath, FileLock::Exclusive), FileLock::Locked);

    FileLock second;
    EXPECT_EQ(second.TryLock(lockPath, FileLock::Shared), FileLock::Busy);
    EXPECT_EQ(second.TryLock(lockPath, FileLock::Exclusive), FileLock::Busy);
    {
        FileLock moved = std::move(writer);
        EXPECT_TRUE(moved.IsLocked());
        EXPECT_FALSE(writer.IsLocked());
    } // released with the object that holds it
    EXPECT_EQ(second.TryLock(lockPath, FileLock::Exclusive), FileLock::Locked);
    EXPECT_TRUE(std::filesystem::exists(lockPath)) << "the lock file stays in place";
}

TEST(FileLock, ALockFileThatCannotBeCreatedIsUnavailable) {
    FileLock lock;
    int error = 0;
    EXPECT_EQ(lock.TryLock("/nonexistent-directory/lock", FileLock::Exclusive, &error),
              FileLock::Unavailable);
    EXPECT_EQ(error, ENOENT);
}
