// One desktop copy per user and desktop: the lock and the socket in the runtime directory, a
// socket file left by a crashed copy, and a real second start of the program.
#include "app/gui/SingleInstance.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// A runtime directory of the test's own, owner-only as the real one is.
class RuntimeDir {
public:
    RuntimeDir() { ::chmod(m_dir.Path().c_str(), 0700); }
    QString Path() const { return QString::fromStdString(m_dir.Path()); }

private:
    TempDir m_dir;
};

// Leaves a socket file behind as a copy that crashed would: bound, then closed, never removed.
void LeaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    ASSERT_LT(static_cast<size_t>(bytes.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));
}

bool Answers(const QString& socketPath) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    return socket.waitForConnected(2000);
}

// Starts the real program as a second copy on the offscreen desktop, from `directory`.
struct SecondCopy {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray out, err;
};
SecondCopy StartSecondCopy(const QString& runtime, const QString& directory) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(directory);
    process.start(QString::fromLocal8Bit(qgetenv("ORVANE_BUILD_BIN")) + "/orvane", {});
    SecondCopy result;
    if (!process.waitForStarted(10000))
        return result;
    // The first copy answers from this process's event loop, so the loop must run meanwhile.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.status = process.exitStatus();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

TEST(SingleInstance, TheDesktopKeyNamesThePlatformAndTheDisplay) {
    const struct {
        const char* platform;
        const char* display;
        const char* key;
    } rows[] = {
        {"xcb", ":0", "orvane-xcb-_0"},
        {"xcb", ":0.1", "orvane-xcb-_0"}, // another screen of the same desktop
        {"xcb", "host.example:12.0", "orvane-xcb-host.example_12"},
        {"wayland", "wayland-0", "orvane-wayland-wayland-0"},
        {"offscreen", "", "orvane-offscreen"},
        {"xcb", "../../etc/x y", "orvane-xcb-.._.._etc_x_y"}, // never a path outside the directory
    };
    for (const auto& row : rows)
        EXPECT_EQ(CSingleInstance::DesktopKey(row.platform, row.display), QString(row.key))
            << row.platform << " " << row.display;
    EXPECT_LE(CSingleInstance::DesktopKey("xcb", QString(300, 'd')).size(), 100);
}

TEST(SingleInstance, TheFirstCopyListensOnASocketOnlyItsUserCanReach) {
    RuntimeDir runtime;
    CSingleInstance first(runtime.Path(), "orvane-test");
    ASSERT_EQ(first.Start(), CSingleInstance::First);
    EXPECT_TRUE(first.IsListening());
    struct stat st;
    ASSERT_EQ(::stat(first.SocketPath().toLocal8Bit().constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << std::oct << st.st_mode;
    EXPECT_TRUE(Answers(first.SocketPath()));
}

TEST(SingleInstance, ASocketLeftByACrashedCopyDoesNotBlockANewStart) {
    RuntimeDir runtime;
    CSingleInstance first(runtime.Path(), "orvane-test");
    LeaveStaleSocket(first.SocketPath());
    EXPECT_FALSE(Answers(first.SocketPath()));
    ASSERT_EQ(first.Start(100), CSingleInstance::First);
    EXPECT_TRUE(first.IsListening());
    EXPECT_TRUE(Answers(first.SocketPath()));
}

TEST(SingleInstance, AMissingRuntimeDirectoryIsCreatedOwnerOnly) {
    RuntimeDir runtime;
    const QString missing = runtime.Path() + "/run/user";
    CSingleInstance first(missing, "orvane-test");
    ASSERT_EQ(first.Start(), CSingleInstance::First);
    EXPECT_TRUE(first.IsListening());
    struct stat st;
    ASSERT_EQ(::stat(missing.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(SingleInstance, ACopyThatHoldsTheLockButNeverListensLeavesTheSecondSilent) {
    RuntimeDir runtime;
    CSingleInstance first(runtime.Path(), "orvane-test");
    FileLock held; // a first copy between its lock and its listen, for good
    ASSERT_EQ(held.TryLock(first.LockPath().toStdString(), FileLock::Exclusive), FileLock::Locked);
    EXPECT_EQ(first.Start(300), CSingleInstance::OtherSilent);
    EXPECT_FALSE(first.IsListening());
}

TEST(SingleInstance, ASecondStartAsksTheFirstToComeForwardAndEndsShowingNothing) {
    RuntimeDir runtime;
    CSingleInstance first(runtime.Path(), CSingleInstance::DesktopKey("offscreen", ""));
    ASSERT_EQ(first.Start(), CSingleInstance::First);
    QSignalSpy raised(&first, &CSingleInstance::raiseRequested);

    TempDir elsewhere; // "from any directory"
    const SecondCopy second =
        StartSecondCopy(runtime.Path(), QString::fromStdString(elsewhere.Path()));
    EXPECT_EQ(second.status, QProcess::NormalExit);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.out, QByteArray());
    EXPECT_EQ(second.err, QByteArray());
    EXPECT_EQ(raised.count(), 1);
    // It created no window: a window would have locked the directory it monitors.
    EXPECT_FALSE(QFile::exists(QString::fromStdString(elsewhere.File("Orvane.lock"))));
    // The first copy's socket is still there and still answers.
    EXPECT_TRUE(first.IsListening());
    EXPECT_TRUE(Answers(first.SocketPath()));

    const SecondCopy third =
        StartSecondCopy(runtime.Path(), QString::fromStdString(elsewhere.Path()));
    EXPECT_EQ(third.exitCode, 0);
    EXPECT_EQ(raised.count(), 2);
}
