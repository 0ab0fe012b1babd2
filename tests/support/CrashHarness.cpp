// The crash and I/O-error test tools.
#include "support/CrashHarness.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

NthCallFailure::NthCallFailure(int failAt, int error)
    : m_failAt(failAt), m_error(error), m_previous(SetFileSystem(this)) {}

NthCallFailure::~NthCallFailure() {
    SetFileSystem(m_previous);
}

bool NthCallFailure::Fails(const char* call) {
    if (++m_calls != m_failAt)
        return false;
    m_failed = call;
    errno = m_error;
    return true;
}

int NthCallFailure::Open(const char* path, int flags, mode_t mode) {
    return Fails(flags & O_DIRECTORY ? "open directory" : "open")
               ? -1
               : IFileSystem::Open(path, flags, mode);
}
ssize_t NthCallFailure::Write(int fd, const void* data, size_t size) {
    return Fails("write") ? -1 : IFileSystem::Write(fd, data, size);
}
int NthCallFailure::Fsync(int fd) {
    return Fails("fsync") ? -1 : IFileSystem::Fsync(fd);
}
int NthCallFailure::Close(int fd) {
    // A failing close still closes the descriptor, as the kernel's does.
    const int rc = IFileSystem::Close(fd);
    return Fails("close") ? -1 : rc;
}
int NthCallFailure::Rename(const char* from, const char* to) {
    return Fails("rename") ? -1 : IFileSystem::Rename(from, to);
}
int NthCallFailure::RenameNoReplace(const char* from, const char* to) {
    return Fails("rename") ? -1 : IFileSystem::RenameNoReplace(from, to);
}
int NthCallFailure::Fchmod(int fd, mode_t mode) {
    return Fails("fchmod") ? -1 : IFileSystem::Fchmod(fd, mode);
}
int NthCallFailure::Fchown(int fd, uid_t uid, gid_t gid) {
    return Fails("fchown") ? -1 : IFileSystem::Fchown(fd, uid, gid);
}

bool KillWhileSaving(int rounds, int maxDelayUs, unsigned seed,
                     const std::function<void(int round, int ackFd)>& work,
                     const std::function<void(int round, const std::string& acks)>& check,
                     std::string& reason) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, maxDelayUs);
    for (int round = 0; round < rounds; ++round) {
        int ack[2];
        if (pipe2(ack, O_CLOEXEC) != 0) {
            reason = "no pipe";
            return false;
        }
        const pid_t child = fork();
        if (child < 0) {
            reason = "no child process";
            return false;
        }
        if (child == 0) {
            close(ack[0]);
            const char started = 'S';
            if (write(ack[1], &started, 1) == 1)
                work(round, ack[1]);
            _exit(0);
        }
        close(ack[1]);
        char first = 0;
        ssize_t n;
        while ((n = read(ack[0], &first, 1)) < 0 && errno == EINTR) {
        }
        if (n == 1)
            usleep(static_cast<useconds_t>(delay(random)));
        kill(child, SIGKILL);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        std::string acks;
        char buffer[4096];
        while ((n = read(ack[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0)
                acks.append(buffer, static_cast<size_t>(n));
        }
        close(ack[0]);
        if (first != 'S' || !WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
            reason = "round " + std::to_string(round) + ": the child ended before it was killed";
            return false;
        }
        check(round, acks);
    }
    return true;
}

} // namespace testing_support
