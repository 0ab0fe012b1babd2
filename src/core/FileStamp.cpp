// Whole-file reads with stamps.
#include "core/FileStamp.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int64_t> g_racyWindow{2'000'000'000};

int64_t Nanoseconds(const struct timespec& t) {
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

FileStamp StampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtimeNs = Nanoseconds(st.st_mtim);
    stamp.ctimeNs = Nanoseconds(st.st_ctim);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t window = g_racyWindow.load();
    const int64_t latest = stamp.mtimeNs > stamp.ctimeNs ? stamp.mtimeNs : stamp.ctimeNs;
    stamp.racy = window > 0 && Nanoseconds(now) - latest < window;
    return stamp;
}

} // namespace

ReadStatus ReadWholeFile(const std::string& path, size_t limit, std::string& bytes,
                         FileStamp& stamp, int& error) {
    bytes.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return error == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    struct stat st;
    ReadStatus status = ReadStatus::Ok;
    if (fstat(fd, &st) != 0) {
        error = errno;
        status = ReadStatus::Failed;
    } else if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        status = ReadStatus::Failed;
    } else if (static_cast<uint64_t>(st.st_size) > limit) {
        error = EFBIG;
        status = ReadStatus::Failed;
    } else {
        // The stamp is taken before reading: a write during the read changes the file's stamp,
        // so the next comparison reads it again.
        stamp = StampOf(st);
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = errno;
                status = ReadStatus::Failed;
                break;
            }
            if (n == 0)
                break; // shrank meanwhile: keep what is there; the stamp differs next time
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
        // Grown meanwhile: read the rest as well.
        char chunk[65536];
        while (status == ReadStatus::Ok && bytes.size() <= limit) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            bytes.append(chunk, static_cast<size_t>(n));
            stamp.racy = true;
        }
        if (bytes.size() > limit) {
            error = EFBIG;
            status = ReadStatus::Failed;
        }
    }
    close(fd);
    if (status != ReadStatus::Ok)
        bytes.clear();
    return status;
}

ReadStatus ReadWholeFile(const std::string& path, size_t limit, std::string& bytes, int& error) {
    FileStamp stamp;
    return ReadWholeFile(path, limit, bytes, stamp, error);
}

bool Unchanged(const std::string& path, const FileStamp& stamp, bool* missing) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (missing)
            *missing = errno == ENOENT;
        return false;
    }
    if (missing)
        *missing = false;
    return !stamp.racy && stamp.SameFile(StampOf(st));
}

void SetRacyWindow(int64_t nanoseconds) {
    g_racyWindow = nanoseconds;
}
