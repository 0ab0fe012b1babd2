// Safe saves and advisory locks.
#include "FileSystem.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int IFileSystem::Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
ssize_t IFileSystem::Write(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}
int IFileSystem::Fsync(int fd) {
    return ::fsync(fd);
}
int IFileSystem::Close(int fd) {
    return ::close(fd);
}
int IFileSystem::Rename(const char* from, const char* to) {
    return ::rename(from, to);
}
int IFileSystem::RenameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // File systems without RENAME_NOREPLACE: a hard link refuses an existing name as well.
    if (::link(from, to) != 0)
        return -1;
    ::unlink(from);
    return 0;
}
int IFileSystem::Fchmod(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}
int IFileSystem::Fchown(int fd, uid_t uid, gid_t gid) {
    return ::fchown(fd, uid, gid);
}

namespace {

IFileSystem*& Current() {
    static IFileSystem* current = nullptr;
    return current;
}

CString DirectoryOf(const CString& path) {
    const size_t slash = path.rfind('/');
    if (slash == CString::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

CString TemporaryNameFor(const CString& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

} // namespace

IFileSystem& FileSystem() {
    static IFileSystem system;
    return Current() ? *Current() : system;
}

IFileSystem* SetFileSystem(IFileSystem* fs) {
    IFileSystem* previous = Current();
    Current() = fs;
    return previous;
}

CString SaveResult::Describe() const {
    static const char* const names[] = {"done",  "create", "write",          "flush",
                                        "close", "rename", "flush directory"};
    CString text = names[failedAt];
    if (error != 0)
        text += CString(": ") + std::strerror(error);
    return text;
}

bool WriteAll(IFileSystem& fs, int fd, const CString& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = fs.Write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

SaveResult SaveFileAtomically(const CString& path, const CString& bytes, mode_t newFileMode) {
    IFileSystem& fs = FileSystem();
    SaveResult result;
    auto fail = [&](SaveResult::Step step) {
        result.failedAt = step;
        result.error = errno;
        return result;
    };

    struct stat old;
    const bool hadOld = ::stat(path.c_str(), &old) == 0;

    const CString temporary = TemporaryNameFor(path);
    const int fd = fs.Open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                           hadOld ? (old.st_mode & 07777) : newFileMode);
    if (fd < 0)
        return fail(SaveResult::Create);

    auto abandon = [&](SaveResult::Step step, bool closed) {
        const int saved = errno;
        if (!closed)
            fs.Close(fd);
        ::unlink(temporary.c_str());
        errno = saved;
        return fail(step);
    };

    if (hadOld) {
        // The umask may have narrowed the mode given to open; set it exactly. The owner can only
        // be handed on by a privileged process; anyone else keeps their own ownership.
        if (fs.Fchmod(fd, old.st_mode & 07777) != 0)
            return abandon(SaveResult::Create, false);
        if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
            fs.Fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM)
            return abandon(SaveResult::Create, false);
    }

    if (!WriteAll(fs, fd, bytes))
        return abandon(SaveResult::Write, false);
    if (fs.Fsync(fd) != 0)
        return abandon(SaveResult::Flush, false);
    if (fs.Close(fd) != 0)
        return abandon(SaveResult::Close, true);
    if (fs.Rename(temporary.c_str(), path.c_str()) != 0)
        return abandon(SaveResult::Rename, true);
    result.replaced = true;

    const int dirFd = fs.Open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dirFd < 0)
        return fail(SaveResult::FlushDirectory);
    if (fs.Fsync(dirFd) != 0) {
        const int saved = errno;
        fs.Close(dirFd);
        errno = saved;
        return fail(SaveResult::FlushDirectory);
    }
    fs.Close(dirFd);
    return result;
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Unlock();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    Unlock();
}

FileLock::Outcome FileLock::TryLock(const CString& lockPath, Kind kind, int* error) {
    Unlock();
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && kind == Shared)
        fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return Unavailable;
    }
    struct flock lock = {};
    lock.l_type = kind == Shared ? F_RDLCK : F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        const int saved = errno;
        ::close(fd);
        if (error)
            *error = saved;
        return (saved == EAGAIN || saved == EACCES) ? Busy : Unavailable;
    }
    m_fd = fd;
    return Locked;
}

void FileLock::Unlock() {
    if (m_fd >= 0) {
        ::close(m_fd); // closing the description releases its lock
        m_fd = -1;
    }
}
