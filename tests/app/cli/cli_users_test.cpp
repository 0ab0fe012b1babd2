// "orvane users": listing and editing Users.dat with the dialogs' rules.
#include "app/cli/Cli.h"
#include "app/cli/CliRunner.h"
#include "app/monitor/ControlSocket.h"
#include "core/FileSystem.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace testing_support;

namespace {

class CliUsersTest : public testing::Test {
protected:
    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Path()};

    CliResult Add(const std::string& name, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"users",     "add",          "--display-name", name,
                                         "--mailbox", "mbx-" + name,  "--server",       "srv",
                                         "--pager",   name + " pager"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(args);
    }
};

const char* kHeader =
    "code\tdisplay name\tmailbox\tserver\tpager name\tinterval\tpage only when out of office\n";

} // namespace

TEST_F(CliUsersTest, AddsListsChangesAndRemovesUsers) {
    CliResult r = Add("Ann");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");
    r = Add("Bob", {"--interval", "5", "--page-only-when-out-of-office", "no"});
    EXPECT_EQ(r.out, "2\n");
    r = RunCli({"users", "list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, std::string(kHeader) + "1\tAnn\tmbx-Ann\tsrv\tAnn pager\t60\tyes\n"
                                            "2\tBob\tmbx-Bob\tsrv\tBob pager\t15\tno\n");

    r = RunCli({"users", "set", "1", "--pager=Ann's new pager", "--interval", "32767"});
    EXPECT_EQ(r.code, 0) << r.err;
    r = RunCli({"users", "remove", "2"});
    EXPECT_EQ(r.code, 0) << r.err;
    r = Add("Carol");
    EXPECT_EQ(r.out, "2\n") << "the freed code is handed out again";
    r = RunCli({"users", "list"});
    EXPECT_EQ(r.out, std::string(kHeader) + "1\tAnn\tmbx-Ann\tsrv\tAnn's new pager\t32767\tyes\n"
                                            "2\tCarol\tmbx-Carol\tsrv\tCarol pager\t60\tyes\n");
}

TEST_F(CliUsersTest, RefusesValuesTheFileCannotHoldAndChangesNothing) {
    ASSERT_EQ(Add("Ann").code, 0);
    const std::string before = ReadFile(dir.File("Users.dat"));
    const struct {
        std::vector<std::string> args;
        const char* says;
    } rows[] = {
        {{"users", "set", "1", "--interval", "32768"}, "at most 32767"},
        {{"users", "set", "1", "--interval", "-5"}, "whole number"},
        {{"users", "set", "1", "--interval", "ten"}, "whole number"},
        {{"users", "set", "1", "--pager", std::string(1000, 'p')}, "at most 999"},
        {{"users", "set", "1", "--display-name", "two\nlines"}, "control characters"},
        {{"users", "set", "1", "--page-only-when-out-of-office", "maybe"}, "yes or no"},
        {{"users", "set", "9", "--pager", "x"}, "no user with code 9"},
        {{"users", "remove", "0"}, "not a user code"},
        {{"users", "add", "--display-name", "x"}, "needs --mailbox"},
        {{"users", "set", "1", "--colour", "blue"}, "unknown option --colour"},
    };
    for (const auto& row : rows) {
        const CliResult r = RunCli(row.args);
        EXPECT_NE(r.code, 0) << row.says;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_TRUE(ReadFile(dir.File("Users.dat")) == before) << row.says;
    }
    EXPECT_EQ(RunCli({"users", "set", "1", "--pager", std::string(999, 'p')}).code, 0);
}

TEST_F(CliUsersTest, ADamagedFileIsReportedAndNeverReplaced) {
    ASSERT_EQ(Add("Ann").code, 0);
    const std::string whole = ReadFile(dir.File("Users.dat"));
    const std::string bytes = whole + std::string("\x01\x00\x00\x00", 4); // a zero length
    WriteFile(dir.File("Users.dat"), bytes);

    CliResult r = RunCli({"users", "list"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("1\tAnn"), std::string::npos) << "the users before the damage are shown";
    EXPECT_NE(r.err.find("damaged at byte offset " + std::to_string(whole.size() + 2)),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("The user before it was loaded"), std::string::npos) << r.err;

    r = Add("Bob");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("nothing was changed"), std::string::npos) << r.err;
    EXPECT_TRUE(ReadFile(dir.File("Users.dat")) == bytes);
}

TEST_F(CliUsersTest, RefusesToChangeTheFileWhileAMonitorThatDoesNotAnswerRunsInTheDirectory) {
    ASSERT_EQ(Add("Ann").code, 0);
    FileLock monitor; // holds the directory, serves no control socket
    ASSERT_EQ(monitor.TryLock(dir.File(UserFile::kMonitorLockFileName), FileLock::Exclusive),
              FileLock::Locked);
    setenv(control::kTimeoutVariable, "200", 1);
    const CliResult r = Add("Bob");
    unsetenv(control::kTimeoutVariable);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(
        r.err.find("Orvane is monitoring the users of " + dir.Path() + "/ but does not answer"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(RunCli({"users", "list"}).code, 0) << "reading is still allowed";
    monitor.Unlock();
    EXPECT_EQ(Add("Bob").code, 0);
}

TEST_F(CliUsersTest, AFileBeingWrittenByAnotherProcessIsNotOverwritten) {
    ASSERT_EQ(Add("Ann").code, 0);
    FileLock writer;
    ASSERT_EQ(writer.TryLock(dir.File(UserFile::kLockFileName), FileLock::Exclusive),
              FileLock::Locked);
    const CliResult r = RunCli({"users", "remove", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("being written by another process"), std::string::npos) << r.err;
}

TEST(Cli, HelpDescribesEveryCommandAndUnknownCommandsAreUsageErrors) {
    CliResult r = RunCli({"--help"});
    EXPECT_EQ(r.code, 0);
    for (const char* word : {"users list", "users add", "users set", "users remove", "--headless"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    r = RunCli({"frobnicate"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);
    EXPECT_EQ(EscapeField("a\tb\\c\nd\x01"), "a\\tb\\\\c\\nd\\x01");
}
