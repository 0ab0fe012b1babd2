// Shared test fixtures.
#include "support/TestSupport.h"

#include "core/WorkingDirectory.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

int ConnectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

std::string DataDir() {
    return ORVANE_TEST_DATA_DIR;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

TempDir::TempDir() : m_path(m_dir.path().toStdString()) {
    EXPECT_TRUE(m_dir.isValid());
}

ScopedTimeZone::ScopedTimeZone(const char* zone) {
    const char* previous = std::getenv("TZ");
    m_hadPrevious = previous != nullptr;
    if (previous)
        m_previous = previous;
    setenv("TZ", zone, 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (m_hadPrevious)
        setenv("TZ", m_previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::string& directory) {
    char buffer[4096];
    m_previous = getcwd(buffer, sizeof buffer) ? buffer : "/";
    EXPECT_EQ(chdir(directory.c_str()), 0);
    EXPECT_TRUE(WorkingDirectory::Capture());
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    [[maybe_unused]] const int rc = chdir(m_previous.c_str());
    WorkingDirectory::Capture();
}

QueuedMessageBoxes::QueuedMessageBoxes() : m_previous(SetMessageBoxes(this)) {}

QueuedMessageBoxes::~QueuedMessageBoxes() {
    SetMessageBoxes(m_previous);
    EXPECT_TRUE(m_answers.empty()) << m_answers.size() << " queued answers were never asked for";
}

int QueuedMessageBoxes::Show(const CString& text, const CString& caption, unsigned type) {
    m_shown.push_back({text, caption, type});
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected message box \"" << caption << "\": " << text;
        return IDCANCEL;
    }
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

CapturedEvents::CapturedEvents()
    : m_previous(
          EventLog::SetObserver([this](const EventLog::Entry& e) { m_entries.push_back(e); })) {}

CapturedEvents::~CapturedEvents() {
    EventLog::SetObserver(m_previous);
}

std::vector<std::string> CapturedEvents::Texts() const {
    std::vector<std::string> texts;
    for (const auto& e : m_entries)
        texts.push_back(e.strings.empty() ? std::string() : e.strings.front());
    return texts;
}

} // namespace testing_support
