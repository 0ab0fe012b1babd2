// Reading whole files together with the identity that tells whether they changed since.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

// What stat says about a file's identity and contents. Any write changes mtime or ctime; a
// replacement by rename changes the inode.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    int64_t mtimeNs = 0, ctimeNs = 0;
    // Written so recently (see SetRacyWindow) that a later write within the file system's clock
    // step could leave every field above unchanged: such a stamp never proves "unchanged".
    bool racy = false;

    bool SameFile(const FileStamp& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               mtimeNs == other.mtimeNs && ctimeNs == other.ctimeNs;
    }
};

enum class ReadStatus { Ok, Missing, Failed };

// Reads the whole file and its stamp. Failed (errno in `error`) also for files over `limit`
// bytes (EFBIG) and for anything that is not a regular file (EISDIR or EINVAL).
ReadStatus ReadWholeFile(const std::string& path, size_t limit, std::string& bytes,
                         FileStamp& stamp, int& error);
// The same without the stamp.
ReadStatus ReadWholeFile(const std::string& path, size_t limit, std::string& bytes, int& error);

// True when the file at `path` still has `stamp` and the stamp is not racy. `missing` (if
// given) tells whether the file has gone.
bool Unchanged(const std::string& path, const FileStamp& stamp, bool* missing = nullptr);

// How close to the current time a modification makes a stamp racy: 2 seconds, which covers
// file systems with one-second timestamps. Tests set 0 to see the stamp comparison alone.
void SetRacyWindow(int64_t nanoseconds);
