// The local transport: one message a file in the mail system's outbox, never seen half-written.
#include "core/Clock.h"
#include "core/FileSystem.h"
#include "mailsystem/transport/TransportInternal.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mail {
namespace {

DeliveryResult Failure(const char* step, int error) {
    DeliveryResult result;
    if (error == ENOSPC || error == EDQUOT)
        result.outcome = DeliveryOutcome::DiskFull;
    else if (error == ENOMEM)
        result.outcome = DeliveryOutcome::OutOfMemory;
    else
        result.outcome = DeliveryOutcome::Failed;
    result.detail = std::string("outbox: ") + step + ": " + std::strerror(error);
    return result;
}

// "20261207T083401.123456789Z-1234-0-89abcdef01234567.eml": ordered by the time of sending (the
// fraction of the second from the system clock keeps pages sent within one second in order, also
// across processes, which each count from 0), unique by process, counter and random bits.
// Readers take only names ending in ".eml" that do not start with ".".
std::string MessageFileName(int64_t now) {
    static std::atomic<unsigned> counter{0};
    const time_t t = static_cast<time_t>(now);
    struct tm utc = {};
    gmtime_r(&t, &utc);
    struct timespec exact = {};
    clock_gettime(CLOCK_REALTIME, &exact);
    char buffer[128];
    snprintf(buffer, sizeof buffer, "%04d%02d%02dT%02d%02d%02d.%09ldZ-%d-%u-%016llx.eml",
             utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
             static_cast<long>(exact.tv_nsec), static_cast<int>(getpid()), counter++,
             static_cast<unsigned long long>(RandomBits()));
    return buffer;
}

class OutboxTransport : public Transport {
public:
    OutboxTransport(std::string directory, std::string sender)
        : m_directory(std::move(directory)), m_sender(std::move(sender)) {}

    DeliveryResult Deliver(const OutgoingMessage& message) override {
        DeliveryResult check = CheckMessage(message);
        if (!check.ok())
            return check;
        const int64_t now = Clock::Now().GetTime();
        std::string bytes, error;
        if (!ComposeMessage(m_sender, message, now, MessageIdFor(message, m_sender), bytes, error,
                            true))
            return {DeliveryOutcome::InvalidMessage, error};

        // The outbox belongs to the mail system; make it when someone removed it.
        if (::mkdir(m_directory.c_str(), 0777) != 0 && errno != EEXIST)
            return Failure("create directory", errno);

        const std::string name = MessageFileName(now);
        const std::string temporary = m_directory + "/." + name + ".tmp";
        IFileSystem& fs = FileSystem();
        const int fd = fs.Open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            return Failure("create", errno);
        auto abandon = [&](const char* step, bool closed) {
            const int saved = errno;
            if (!closed)
                fs.Close(fd);
            ::unlink(temporary.c_str());
            return Failure(step, saved);
        };
        if (!WriteAll(fs, fd, bytes))
            return abandon("write", false);
        if (fs.Fsync(fd) != 0)
            return abandon("flush", false);
        if (fs.Close(fd) != 0)
            return abandon("close", true);

        std::string target = m_directory + "/" + name;
        int attempts = 0;
        while (fs.RenameNoReplace(temporary.c_str(), target.c_str()) != 0) {
            if (errno != EEXIST || ++attempts > 8)
                return abandon("rename", true);
            target = m_directory + "/" + MessageFileName(now);
        }
        // Make the new name itself durable; the message is already complete under it.
        const int dirFd = fs.Open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        if (dirFd >= 0) {
            fs.Fsync(dirFd);
            fs.Close(dirFd);
        }
        return {DeliveryOutcome::Sent, target};
    }

private:
    std::string m_directory;
    std::string m_sender;
};

} // namespace

std::unique_ptr<Transport> MakeOutboxTransport(const std::string& directory,
                                               const std::string& sender) {
    return std::make_unique<OutboxTransport>(directory, sender);
}

} // namespace mail
