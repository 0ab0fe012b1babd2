// The file-system calls behind safe saves and advisory locks, with a seam for injected failures.
#pragma once

#include "CString.h"

#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

// Each call behaves as its POSIX namesake: a result of -1 with errno set means failure. Tests
// install a subclass that fails a chosen step; production uses the plain system calls.
class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    virtual int Open(const char* path, int flags, mode_t mode);
    virtual ssize_t Write(int fd, const void* data, size_t size);
    virtual int Fsync(int fd);
    virtual int Close(int fd);
    virtual int Rename(const char* from, const char* to);
    // Moves `from` to `to` unless `to` exists (errno EEXIST then): renameat2 with
    // RENAME_NOREPLACE, or a hard link where the file system lacks it.
    virtual int RenameNoReplace(const char* from, const char* to);
    virtual int Fchmod(int fd, mode_t mode);
    virtual int Fchown(int fd, uid_t uid, gid_t gid);
};

// The current implementation; never null.
IFileSystem& FileSystem();
// Installs `fs` (not owned; null restores the system one). Returns the previous one.
IFileSystem* SetFileSystem(IFileSystem* fs);

// Writes all of `bytes` to `fd` through `fs`, going on after short writes and interruptions.
// False with errno set when a write fails (ENOSPC when the device takes nothing more).
bool WriteAll(IFileSystem& fs, int fd, const CString& bytes);

// What a safe save did.
struct SaveResult {
    enum Step { Done, Create, Write, Flush, Close, Rename, FlushDirectory };
    Step failedAt = Done;  // the step that failed; Done when everything succeeded
    int error = 0;         // errno of the failure
    bool replaced = false; // the new contents are in place (only FlushDirectory can fail after)
    bool ok() const { return failedAt == Done; }
    CString Describe() const; // e.g. "write: No space left on device"
};

// Replaces `path` with `bytes` so that a reader sees either the old file or the new one, never a
// mixture: a temporary file beside it is written, flushed to disk, renamed over `path`, and the
// directory is flushed. The old file's permissions and owner are kept (owner only where the
// process may set it); a new file gets `newFileMode` (before the umask). On failure before the
// rename the old file is untouched and the temporary file removed.
SaveResult SaveFileAtomically(const CString& path, const CString& bytes, mode_t newFileMode = 0666);

// An advisory lock held on a file that is never renamed or replaced (a lock on a file that a save
// replaces would be lost with the old inode). Open-file-description locks: they conflict between
// processes and also between two locks taken in one process.
class FileLock {
public:
    enum Kind { Shared, Exclusive };
    enum Outcome { Locked, Busy, Unavailable };

    FileLock() = default;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Tries once, without waiting. Busy: another holder conflicts. Unavailable: the lock file
    // cannot be opened or created (errno in `error`).
    Outcome TryLock(const CString& lockPath, Kind kind, int* error = nullptr);
    bool IsLocked() const { return m_fd >= 0; }
    void Unlock();

private:
    int m_fd = -1;
};
