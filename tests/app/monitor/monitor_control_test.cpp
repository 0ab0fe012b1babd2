// `orvane users` and `orvane status` against a monitor of the same directory, over its control
// socket: edits handed over and applied at the next cycle, the status of a running monitor and
// of one that stopped, and who may use the socket.
#include "app/monitor/ControlSocket.h"
#include "core/Clock.h"
#include "core/FileSystem.h"
#include "support/MonitoredSetup.h"
#include "users/UserFile.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 6, 3, hour, minute, second);
}

std::vector<std::string> StoredNames(const std::string& directory) {
    CUserList list;
    EXPECT_EQ(UserFile::Decode(ReadFile(directory + "/Users.dat"), list).damaged, false);
    std::vector<std::string> names;
    for (const auto& user : list.Users())
        names.push_back(std::to_string(user->Code) + " " + user->DisplayName);
    return names;
}

class MonitorControl : public testing::Test {
protected:
    ScopedTimeZone zone{"Europe/Berlin"};
    MonitoredSetup setup{At(9, 0)};
    CapturedEvents events;

    void SetUp() override {
        setup.AddUser("Ann Archer", "5550101@pager.example.org");
        setup.WriteItems("Ann Archer", {});
    }
    // The add command for a user that the mail system knows (its entries are added here).
    std::vector<std::string> AddBob() {
        setup.Mail().Add({"Bob Costa", "/o=Quorvik/ou=Site/cn=Recipients/cn=bob-costa",
                          "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB",
                          "bob-costa", ""});
        setup.Mail().Add({"Bob Costa (Pager)", "/o=Quorvik/ou=Site/cn=Recipients/cn=bob-pager", "",
                          "", "5550102@pager.example.org"});
        setup.WriteItems("Bob Costa", {{"Site visit", At(9, 8), 60, 5, CTime()}}); // page 09:02
        return {"users",
                "add",
                "--display-name",
                "Bob Costa",
                "--mailbox",
                "/o=Quorvik/ou=Site/cn=Recipients/cn=bob-costa",
                "--server",
                "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB",
                "--pager",
                "Bob Costa (Pager)",
                "--page-only-when-out-of-office",
                "no"};
    }
};

} // namespace

TEST_F(MonitorControl, AnEditIsHandedToTheRunningMonitorAndAppliedAtItsNextCycle) {
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    ASSERT_TRUE(monitor.IsControlListening());
    monitor.OnTimer();

    ProgramResult r = RunOrvane(AddBob());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "2\n");
    EXPECT_NE(r.err.find("handed to the running monitor, which applies the change and saves "
                         "Users.dat at the start of its next cycle"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(monitor.HasPendingList());
    EXPECT_EQ(StoredNames(setup.Directory()), std::vector<std::string>({"1 Ann Archer"}))
        << "nothing is written before the cycle";
    EXPECT_EQ(monitor.LiveUsers().GetCount(), 1);

    // A second edit goes on top of the first, which no cycle has applied yet.
    r = RunOrvane({"users", "set", "1", "--interval", "30"});
    EXPECT_EQ(r.code, 0) << r.err;
    // A refused value is answered by the monitor and changes nothing.
    r = RunOrvane({"users", "set", "9", "--pager", "x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no user with code 9"), std::string::npos) << r.err;

    Clock::Freeze(At(9, 0, 5));
    monitor.OnTimer();
    EXPECT_FALSE(monitor.HasPendingList());
    EXPECT_EQ(StoredNames(setup.Directory()),
              std::vector<std::string>({"1 Ann Archer", "2 Bob Costa"}));
    ASSERT_TRUE(monitor.Find("Bob Costa"));
    EXPECT_EQ(monitor.Find("Bob Costa")->ScanStatus, 1) << "scanned in the cycle that applied it";
    EXPECT_EQ(monitor.Find("Ann Archer")->ScanInterval, 30);

    Clock::Freeze(At(9, 2, 0));
    monitor.OnTimer();
    EXPECT_EQ(monitor.With(PageOutcome::Sent),
              std::vector<std::string>({"Bob Costa: 09:08-10:08 Site visit"}));

    r = RunOrvane({"users", "remove", "1"});
    EXPECT_EQ(r.code, 0) << r.err;
    monitor.OnActionPause();
    r = RunOrvane({"users", "set", "2", "--interval", "45"});
    EXPECT_NE(r.err.find("which is paused"), std::string::npos) << r.err;
    monitor.OnTimer(); // paused: nothing applied
    EXPECT_EQ(StoredNames(setup.Directory()).size(), 2u);
    monitor.OnActionPause();
    monitor.OnTimer();
    EXPECT_EQ(StoredNames(setup.Directory()), std::vector<std::string>({"2 Bob Costa"}));
    const LastPageStru& last = monitor.Find("Bob Costa")->LastPage;
    EXPECT_TRUE(last.Present && last.Text == "09:08-10:08 Site visit")
        << "the status view keeps a user's latest page across edits";
    monitor.OnDestroy();
}

TEST_F(MonitorControl, AMonitorThatDoesNotAnswerIsTheOnlyReasonToRefuseAnEdit) {
    const std::string before = ReadFile(setup.File("Users.dat"));
    FileLock monitor; // a monitor that holds the directory but serves no socket
    ASSERT_EQ(monitor.TryLock(setup.File(UserFile::kMonitorLockFileName), FileLock::Exclusive),
              FileLock::Locked);
    const std::pair<std::string, std::string> quick = {control::kTimeoutVariable, "300"};
    ProgramResult r = RunOrvane({"users", "set", "1", "--interval", "30"}, {quick});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("is monitoring the users of " + setup.Directory() +
                         "/ but does not answer (nothing listens"),
              std::string::npos)
        << r.err;

    // One that listens and never answers.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const std::string path = setup.File(control::kSocketFileName);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(fd, 4), 0);
    r = RunOrvane({"users", "set", "1", "--interval", "30"}, {quick});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("does not answer (no answer came within"), std::string::npos) << r.err;
    r = RunOrvane({"status"}, {quick});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("but does not answer"), std::string::npos) << r.out;
    close(fd);
    unlink(path.c_str());
    EXPECT_TRUE(ReadFile(setup.File("Users.dat")) == before);

    monitor.Unlock(); // no monitor at all: the command edits the file itself
    r = RunOrvane({"users", "set", "1", "--interval", "30"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST_F(MonitorControl, StatusShowsTheRunningMonitorsViewThenTheStateItSaved) {
    ProgramResult r = RunOrvane({"status"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("is not monitoring " + setup.Directory() +
                         "/; it saved no state here. These are the users of"),
              std::string::npos)
        << r.out;

    setup.WriteItems("Ann Archer", {{"Budget review", At(9, 10), 30, 5, CTime()},
                                    {"Daily stand-up", At(9, 20), 15, 10, CTime()}});
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    Clock::Freeze(At(9, 4, 0));
    monitor.OnTimer();

    r = RunOrvane({"status", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
    EXPECT_EQ(json["source"].toString(), "monitor");
    EXPECT_EQ(json["state"].toString(), "MONITORING");
    const QJsonObject ann = json["users"].toArray().first().toObject();
    EXPECT_EQ(ann["display_name"].toString(), "Ann Archer");
    EXPECT_EQ(ann["pager_name"].toString(), "Ann Archer (Pager)");
    EXPECT_EQ(ann["office_flag"].toString(), "N/A");
    EXPECT_EQ(ann["scan_time"].toInt(), 15);
    EXPECT_EQ(ann["reminders"].toString(), "1");
    EXPECT_EQ(ann["next_due"].toString(), "06/03/26 09:10");
    const QJsonObject page = ann["last_page"].toObject();
    EXPECT_EQ(page["time"].toString(), "2026-06-03 09:04:00");
    EXPECT_EQ(page["text"].toString(), "09:10-09:40 Budget review");
    EXPECT_EQ(page["outcome"].toString(), "sent");

    r = RunOrvane({"status"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Orvane is monitoring " + setup.Directory() +
                                                     "/ (MONITORING) at 2026-06-03 09:04:00.");
    EXPECT_NE(r.out.find("Display Name  Pager Name          Office Flag  Scan Time  Reminders  "
                         "Next Due        Last Page"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Ann Archer    Ann Archer (Pager)  N/A          15         1          "
                         "06/03/26 09:10  2026-06-03 09:04:00 sent: 09:10-09:40 Budget review"),
              std::string::npos)
        << r.out;

    Clock::Freeze(At(9, 5, 0));
    monitor.OnDestroy(); // saves the state
    r = RunOrvane({"status"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Orvane is not monitoring " + setup.Directory() +
                         "/; this is the state it saved at 2026-06-03 09:05:00."),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("sent: 09:10-09:40 Budget review"), std::string::npos) << r.out;

    TickedMonitor restarted; // and across a restart
    ASSERT_TRUE(restarted.Create());
    const LastPageStru& last = restarted.Find("Ann Archer")->LastPage;
    EXPECT_TRUE(last.Present);
    EXPECT_EQ(last.Time, At(9, 4, 0));
    EXPECT_EQ(last.Text, "09:10-09:40 Budget review");
    EXPECT_EQ(last.Outcome, PageOutcome::Sent);
    restarted.OnDestroy();
}

namespace {

// Runs `body` in a child process as the user "nobody"; its exit status, or -1.
int AsNobody(const std::function<int()>& body, const std::function<void()>& whileWaiting = {}) {
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(99);
        _exit(body());
    }
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (whileWaiting)
            whileWaiting();
        usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// In the child: 0 when a connection to `path` was refused or closed without an answer.
int ConnectAndRequestStatus(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return errno == EACCES ? 0 : 2;
    const char request[] = "{\"request\":\"status\"}\n";
    if (write(fd, request, sizeof request - 1) < 0)
        return 0;
    char buffer[16];
    return read(fd, buffer, sizeof buffer) > 0 ? 1 : 0;
}

} // namespace

TEST_F(MonitorControl, OnlyTheUserTheMonitorRunsAsMayUseItsSocket) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    const std::string path = setup.File(control::kSocketFileName);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    chmod(setup.Directory().c_str(), 0755);

    auto serve = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); };
    EXPECT_EQ(AsNobody([&] { return ConnectAndRequestStatus(path); }, serve), 0)
        << "the socket's permissions keep other users out";
    chmod(path.c_str(), 0666); // opened up by mistake: the monitor still refuses them
    EXPECT_EQ(AsNobody([&] { return ConnectAndRequestStatus(path); }, serve), 0);
    EXPECT_NE(std::find_if(events.Texts().begin(), events.Texts().end(),
                           [](const std::string& t) {
                               return t.find("was refused: only the user Orvane runs as") !=
                                      std::string::npos;
                           }),
              events.Texts().end());
    monitor.OnDestroy();
    EXPECT_NE(stat(path.c_str(), &st), 0) << "the socket goes with the monitor";

    // A socket that another user put in the directory is never talked to.
    chmod(setup.Directory().c_str(), 0777);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t squatter = fork();
    if (squatter == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(99);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd, 4) != 0)
            _exit(98);
        chmod(path.c_str(), 0666);
        [[maybe_unused]] const ssize_t n = write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    const control::AskResult asked =
        control::Ask(setup.Directory() + "/", {{"request", "status"}}, 1000);
    kill(squatter, SIGKILL);
    waitpid(squatter, nullptr, 0);
    unlink(path.c_str());
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(asked.outcome, control::AskResult::Refused);
    EXPECT_NE(asked.problem.find("belongs to user ID"), std::string::npos) << asked.problem;
}
