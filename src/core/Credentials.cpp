// Reading a secret from the service manager's credentials directory.
#include "Credentials.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace credentials {
namespace {

// A credential holds a password or a token; systemd allows up to 1 MiB. Only the first line is
// wanted, so reading stops at the first line end or at this bound.
constexpr size_t kMaxRead = 1 << 20;

bool IsPlainName(const CString& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(CString("/\0", 2)) == CString::npos;
}

} // namespace

bool IsReference(const CString& value) {
    return value.rfind(kPrefix, 0) == 0;
}

bool IsWellFormedReference(const CString& value) {
    return IsReference(value) && IsPlainName(value.substr(std::strlen(kPrefix)));
}

bool Resolve(const CString& value, CString& secret, CString& error) {
    if (!IsReference(value)) {
        secret = value;
        return true;
    }
    const CString name = value.substr(std::strlen(kPrefix));
    if (!IsPlainName(name)) {
        error = CString("A secret given as \"") + kPrefix +
                "...\" does not name a credential: the name after \"" + kPrefix +
                "\" must be a file name (not empty, not . or .., without /).";
        return false;
    }
    const char* directory = std::getenv(kDirectoryVariable);
    if (!directory || !*directory) {
        error = "The credential " + name + " cannot be read: " + kDirectoryVariable +
                " is not set (the service manager sets it for a unit that gives credentials "
                "with LoadCredential= or LoadCredentialEncrypted=).";
        return false;
    }
    const CString path = CString(directory) + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int cause = errno;
        error = cause == ENOENT
                    ? "The credential " + name + " is missing: there is no " + path +
                          " (give it to the unit with LoadCredential=" + name + ":FILE)."
                    : "The credential " + name + " cannot be read from " + path + ": " +
                          std::strerror(cause) + ".";
        return false;
    }
    CString line;
    char buffer[4096];
    bool ended = false;
    int cause = 0;
    while (!ended && line.size() < kMaxRead) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            cause = errno;
        if (n <= 0)
            break;
        const char* end = static_cast<const char*>(std::memchr(buffer, '\n', size_t(n)));
        line.append(buffer, end ? size_t(end - buffer) : size_t(n));
        ended = end != nullptr;
    }
    ::close(fd);
    if (cause != 0) {
        error = "The credential " + name + " cannot be read from " + path + ": " +
                std::strerror(cause) + ".";
        return false;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty()) {
        error = "The credential " + name + " in " + path + " holds nothing on its first line.";
        return false;
    }
    secret = std::move(line);
    return true;
}

} // namespace credentials
