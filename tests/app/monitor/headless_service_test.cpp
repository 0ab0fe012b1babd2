// The built program monitoring headless as a service would run it: a line per scan and page,
// --at, the service manager's notifications (READY, WATCHDOG, RELOADING, STOPPING) on a
// notification socket of the test's own, SIGHUP, a kill right after a page, and a restart.
#include "support/MonitoredSetup.h"
#include "users/UserFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testing_support;

namespace {

CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 6, 3, hour, minute, second);
}

// A printed line without its time ("2026-06-03 09:04:00 "), which depends on when the ticks
// come; the line's date is checked.
std::string Tail(const std::string& line) {
    EXPECT_EQ(line.substr(0, 11), "2026-06-03 ") << line;
    return line.size() > 20 ? line.substr(20) : "";
}

// The datagram socket a service manager listens on (NOTIFY_SOCKET).
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : m_path(path) {
        m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        EXPECT_EQ(bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~NotifySocket() {
        close(m_fd);
        unlink(m_path.c_str());
    }
    const std::string& Path() const { return m_path; }
    // Every message received so far, in order.
    const std::vector<std::string>& Messages() {
        char buffer[4096];
        ssize_t n;
        while ((n = recv(m_fd, buffer, sizeof buffer, 0)) > 0)
            m_messages.emplace_back(buffer, static_cast<size_t>(n));
        return m_messages;
    }
    int Count(const std::string& prefix) {
        int n = 0;
        for (const std::string& m : Messages())
            n += m.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    std::string m_path;
    int m_fd = -1;
    std::vector<std::string> m_messages;
};

// `orvane --headless` as a child process in the current directory.
class Headless {
public:
    Headless(const std::string& at, const std::vector<std::pair<QString, QString>>& environment) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : environment)
            env.insert(name, value);
        m_process.setProcessEnvironment(env);
        m_process.start(QString::fromStdString(OrvaneProgram()),
                        {"--headless", "--at", QString::fromStdString(at)});
        EXPECT_TRUE(m_process.waitForStarted(10000));
    }
    ~Headless() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    // Waits (at most 60 seconds) until `done` holds, keeping the event loop and the output going.
    bool WaitFor(const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            m_process.waitForReadyRead(20);
            m_out += m_process.readAllStandardOutput().toStdString();
            m_err += m_process.readAllStandardError().toStdString();
        }
        return done();
    }
    // The first output line that holds `text`; waits for it.
    std::string Line(const std::string& text) {
        std::string line;
        WaitFor([&] {
            const size_t at = m_out.find(text);
            if (at == std::string::npos)
                return false;
            const size_t start = m_out.rfind('\n', at);
            const size_t end = m_out.find('\n', at);
            if (end == std::string::npos)
                return false;
            line = m_out.substr(start == std::string::npos ? 0 : start + 1,
                                end - (start == std::string::npos ? 0 : start + 1));
            return true;
        });
        return line;
    }
    void Signal(int signal) { kill(static_cast<pid_t>(m_process.processId()), signal); }
    int WaitForExit() {
        WaitFor([&] { return m_process.state() == QProcess::NotRunning; });
        m_out += m_process.readAllStandardOutput().toStdString();
        m_err += m_process.readAllStandardError().toStdString();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    const std::string& Out() const { return m_out; }
    const std::string& Err() const { return m_err; }

private:
    QProcess m_process;
    std::string m_out, m_err;
};

class HeadlessService : public testing::Test {
protected:
    ScopedTimeZone zone{"Europe/Berlin"};
    MonitoredSetup setup{At(9, 0)};
    TempDir runtime;
    NotifySocket notify{runtime.File("notify")};
    std::vector<std::pair<QString, QString>> environment = {
        {"NOTIFY_SOCKET", QString::fromStdString(notify.Path())},
        {"WATCHDOG_USEC", "400000"},
        {"ORVANE_EVENT_LOG", QString::fromStdString(runtime.File("events.jsonl"))}};

    void SetUp() override {
        setup.AddUser("Ann Archer", "5550101@pager.example.org");
        setup.WriteItems("Ann Archer", {{"Budget review", At(9, 10), 30, 5, CTime()}}); // 09:04
    }
};

} // namespace

TEST_F(HeadlessService, PrintsEveryScanAndPageAndTellsTheServiceManagerHowItGoes) {
    setup.AddUser("Bob Costa", "5550102@pager.example.org");
    // Due from 09:03:30 until its reminder time, 09:04:30: a slow start still meets it.
    setup.WriteItems("Bob Costa", {{"Site visit", At(9, 9, 30), 30, 5, CTime()}});
    // Bob's pager entry disappears from the address book: his page fails at every tick.
    setup.Mail().WriteAddressList(
        ReadFile(setup.Mail().Directory() + "/address-list.txt")
            .replace(
                ReadFile(setup.Mail().Directory() + "/address-list.txt").find("Bob Costa (Pager)"),
                17, "Bob Costa (Old Pager)"));

    // Its clock starts at 09:03:57 and runs on; the first tick comes a second later.
    Headless monitor("2026-06-03 09:03:57", environment);
    EXPECT_EQ(Tail(monitor.Line("scan: Ann Archer")), "scan: Ann Archer: 1 reminder");
    EXPECT_EQ(Tail(monitor.Line("scan: Bob Costa")), "scan: Bob Costa: 1 reminder");
    EXPECT_EQ(Tail(monitor.Line("page failed")),
              "page failed: Bob Costa -> Bob Costa (Pager): 09:09-09:39 Site visit [A reminder "
              "page could not be sent to Bob Costa (Pager) because the pager name does not exist "
              "in the addressbook.]");
    const std::string sent = monitor.Line("page sent");
    EXPECT_EQ(sent.substr(0, 18), "2026-06-03 09:04:0") << "at its page time";
    EXPECT_EQ(Tail(sent), "page sent: Ann Archer -> Ann Archer (Pager): 09:10-09:40 Budget review");
    ASSERT_TRUE(monitor.WaitFor([&] { return notify.Count("WATCHDOG=1") >= 2; }))
        << "the cycle feeds the watchdog";
    EXPECT_EQ(notify.Messages().front().substr(0, 8), "READY=1\n");

    // Users.dat replaced behind its back, then `systemctl reload`: the users are read again.
    CUserList list;
    ASSERT_EQ(UserFile::Decode(ReadFile(setup.File("Users.dat")), list).damaged, false);
    list.Users().back()->DisplayName = "Bob Costa (reloaded)";
    WriteFile(setup.File("Users.dat"), UserFile::Encode(list));
    monitor.Signal(SIGHUP);
    EXPECT_NE(monitor.Line("scan: Bob Costa (reloaded)"), "");
    EXPECT_TRUE(monitor.WaitFor([&] { return notify.Count("RELOADING=1") == 1; }));
    EXPECT_NE(monitor.Err().find("orvane: reload: Read 2 users from"), std::string::npos)
        << monitor.Err();

    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.WaitForExit(), 0) << monitor.Err();
    EXPECT_EQ(notify.Count("READY=1"), 2) << "once at the start, once after the reload";
    EXPECT_EQ(notify.Count("STOPPING=1"), 1);
    EXPECT_EQ(setup.Mail().OutboxMessages().size(), 1u);
    EXPECT_EQ(monitor.Out().find("page sent:", monitor.Out().find("page sent:") + 1),
              std::string::npos)
        << "one page:\n"
        << monitor.Out();
}

TEST_F(HeadlessService, AMonitorKilledRightAfterAPageDoesNotSendItAgainWhenRestarted) {
    {
        Headless first("2026-06-03 09:03:58", environment);
        EXPECT_NE(first.Line("page sent"), "");
        first.Signal(SIGKILL); // no orderly end
        first.WaitForExit();
    }
    ASSERT_EQ(setup.Mail().OutboxMessages().size(), 1u);
    Headless second("2026-06-03 09:04:05", environment);
    EXPECT_EQ(Tail(second.Line("not sent again")),
              "page sent before, not sent again: Ann Archer -> Ann Archer (Pager): 09:10-09:40 "
              "Budget review");
    second.Signal(SIGTERM);
    EXPECT_EQ(second.WaitForExit(), 0) << second.Err();
    EXPECT_EQ(setup.Mail().OutboxMessages().size(), 1u);
}

TEST_F(HeadlessService, AServiceRestartPagesWhatFellDueWhileItWasStoppedWithOneEvent) {
    {
        Headless first("2026-06-03 09:00:00", environment);
        EXPECT_NE(first.Line("scan: Ann Archer"), "");
        first.Signal(SIGTERM); // saves the state as it stops
        EXPECT_EQ(first.WaitForExit(), 0) << first.Err();
    }
    // Started again at 09:05, after the budget review's page time (09:04) and before its end.
    Headless second("2026-06-03 09:05:00", environment);
    EXPECT_EQ(Tail(second.Line("page sent")),
              "page sent: Ann Archer -> Ann Archer (Pager): 09:10-09:40 Budget review");
    second.Signal(SIGTERM);
    EXPECT_EQ(second.WaitForExit(), 0) << second.Err();
    EXPECT_NE(second.Err().find("orvane: restored the reminders of 1 user from " +
                                setup.File("MonitorState.dat") +
                                ": 0 pending, 1 due while it was stopped"),
              std::string::npos)
        << second.Err();
    const std::string events = ReadFile(runtime.File("events.jsonl"));
    EXPECT_NE(events.find("While Orvane was stopped, 1 reminder fell due: 1 was paged late (by at "
                          "most 1 minute"),
              std::string::npos)
        << events;
    EXPECT_EQ(setup.Mail().OutboxMessages().size(), 1u);
}

TEST_F(HeadlessService, AnUnreadableStartTimeIsABadUsage) {
    const ProgramResult r = RunOrvane({"--headless", "--at", "2026-02-30 09:00:00"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("--at takes a local time as \"YYYY-MM-DD HH:MM:SS\""), std::string::npos)
        << r.err;
}
