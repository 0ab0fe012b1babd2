// Tools for the crash and I/O-error tests of every save: a file system that fails one chosen
// call, and a child process killed at random moments while it saves.
#pragma once

#include "core/FileSystem.h"

#include <functional>
#include <string>

namespace testing_support {

// Counts every call made through the file-system seam while installed and fails the call whose
// number (from 1) is `failAt` with `error`; failAt 0 fails nothing and only counts.
class NthCallFailure : public IFileSystem {
public:
    NthCallFailure(int failAt, int error);
    ~NthCallFailure() override;
    NthCallFailure(const NthCallFailure&) = delete;
    NthCallFailure& operator=(const NthCallFailure&) = delete;

    int Calls() const { return m_calls; }
    // The name of the call that was failed ("write", "fsync", ...); empty when none was.
    const std::string& FailedCall() const { return m_failed; }

    int Open(const char* path, int flags, mode_t mode) override;
    ssize_t Write(int fd, const void* data, size_t size) override;
    int Fsync(int fd) override;
    int Close(int fd) override;
    int Rename(const char* from, const char* to) override;
    int RenameNoReplace(const char* from, const char* to) override;
    int Fchmod(int fd, mode_t mode) override;
    int Fchown(int fd, uid_t uid, gid_t gid) override;

private:
    bool Fails(const char* call);

    int m_failAt;
    int m_error;
    int m_calls = 0;
    std::string m_failed;
    IFileSystem* m_previous;
};

// Runs `rounds` rounds. In each, a child process calls `work(round, ackFd)`, which saves over and
// over and may write acknowledgements to `ackFd`; once the child has begun, it is killed with
// SIGKILL after a random delay of up to `maxDelayUs` microseconds. Then `check(round, acks)`
// looks at what the dead child left (`acks`: every byte it wrote to ackFd). Returns false, with
// a reason, when a child could not be started or ended otherwise than by the kill.
bool KillWhileSaving(int rounds, int maxDelayUs, unsigned seed,
                     const std::function<void(int round, int ackFd)>& work,
                     const std::function<void(int round, const std::string& acks)>& check,
                     std::string& reason);

} // namespace testing_support
