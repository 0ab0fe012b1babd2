// "orvane profile set --out-of-office ...": naming a profile's Sieve server, listing it without
// its password, changing it and returning to the files; settings that cannot work are refused.
#include "app/cli/CliRunner.h"
#include "mailsystem/Profiles.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;

namespace {

class CliProfileOutOfOfficeTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
        WriteFile(dir.File("address-list.txt"), "");
        WriteFile(dir.File("sieve-password"), "master s3cret\n");
    }
    TempDir dir;

    // The last two fields of the profile's line of `orvane profile list`: where out-of-office
    // states are read, and whether its password is set.
    static std::pair<std::string, std::string> Listed(const std::string& name) {
        const CliResult r = RunCli({"profile", "list"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out.find("s3cret"), std::string::npos) << r.out;
        const size_t line = r.out.find("\n" + name + "\t");
        if (line == std::string::npos) {
            ADD_FAILURE() << r.out;
            return {};
        }
        const std::string text = r.out.substr(line + 1, r.out.find('\n', line + 1) - line - 1);
        const size_t last = text.rfind('\t');
        const size_t before = text.rfind('\t', last - 1);
        return {text.substr(before + 1, last - before - 1), text.substr(last + 1)};
    }
    static mail::sieve::SieveConfig Stored(const std::string& name) {
        mail::Profiles profiles;
        std::string error;
        EXPECT_TRUE(profiles.Load(error)) << error;
        const mail::Profile* p = profiles.Find(name);
        return p ? p->outOfOffice : mail::sieve::SieveConfig{};
    }
};

} // namespace

TEST_F(CliProfileOutOfOfficeTest, NamesASieveServerShowsItAndReturnsToTheFiles) {
    CliResult r = RunCli({"profile", "set", "Office", "--mail-system", dir.Path(),
                          "--out-of-office", " sieve://mail.example.com ", "--out-of-office-user",
                          "orvane", "--out-of-office-password-file", dir.File("sieve-password"),
                          "--out-of-office-login={mailbox}@example.com", "--out-of-office-zone",
                          "Europe/Berlin"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Listed("Office"),
              std::make_pair(std::string("sieve://mail.example.com as orvane (STARTTLS), logins "
                                         "{mailbox}@example.com, zone Europe/Berlin"),
                             std::string("set")));
    const mail::sieve::SieveConfig expected{
        "sieve://mail.example.com", "orvane",       "master s3cret", true,
        "{mailbox}@example.com",    "Europe/Berlin"};
    EXPECT_TRUE(Stored("Office") == expected);
    struct stat st;
    ASSERT_EQ(stat(mail::Profiles::FilePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Each change keeps the rest; an empty login or zone goes back to the default.
    const struct {
        std::vector<std::string> args;
        std::string listed;
    } steps[] = {
        {{"--sender", "o@example.com"},
         "sieve://mail.example.com as orvane (STARTTLS), logins {mailbox}@example.com, zone "
         "Europe/Berlin"},
        {{"--out-of-office-starttls", "no", "--out-of-office-login", ""},
         "sieve://mail.example.com as orvane (no TLS), zone Europe/Berlin"},
        {{"--out-of-office-zone=", "--out-of-office", "sieve://127.0.0.1:14190"},
         "sieve://127.0.0.1:14190 as orvane (no TLS)"},
        {{"--out-of-office-starttls", "yes", "--out-of-office-user", "admin"},
         "sieve://127.0.0.1:14190 as admin (STARTTLS)"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.listed);
        std::vector<std::string> args = {"profile", "set", "Office"};
        args.insert(args.end(), step.args.begin(), step.args.end());
        r = RunCli(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Listed("Office"), std::make_pair(step.listed, std::string("set")));
    }
    EXPECT_EQ(Stored("Office").password, "master s3cret");

    // Back to the files: nothing of the server stays behind.
    r = RunCli({"profile", "set", "Office", "--out-of-office", ""});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Listed("Office"), std::make_pair(std::string("directory"), std::string()));
    EXPECT_TRUE(Stored("Office") == mail::sieve::SieveConfig{});
    EXPECT_EQ(ReadFile(mail::Profiles::FilePath()).find("\nout-of-office"), std::string::npos);
}

TEST_F(CliProfileOutOfOfficeTest, RefusesSettingsThatCannotWork) {
    const std::vector<std::string> set = {"profile", "set", "A", "--mail-system", "/m"};
    const struct {
        std::vector<std::string> args;
        int code;
        const char* err;
    } rows[] = {
        {{"--out-of-office", "imap://h", "--out-of-office-user", "o"},
         1,
         "The out-of-office server \"imap://h\" is not sieve://HOST or sieve://HOST:PORT."},
        {{"--out-of-office", "sieve://h/path", "--out-of-office-user", "o"},
         1,
         "nothing may follow the port"},
        {{"--out-of-office", "sieve://h:0", "--out-of-office-user", "o"},
         1,
         "the port must be 1 to 65535"},
        {{"--out-of-office", "sieve://h"}, 1, "needs an administrator to log in as"},
        {{"--out-of-office-user", "o"}, 1, "give --out-of-office sieve://HOST too"},
        {{"--out-of-office-zone", "UTC"}, 1, "give --out-of-office sieve://HOST too"},
        {{"--out-of-office", "sieve://h", "--out-of-office-user", "o", "--out-of-office-starttls",
          "maybe"},
         2,
         "--out-of-office-starttls takes yes or no"},
        {{"--out-of-office", "sieve://h", "--out-of-office-user", "o", "--out-of-office-login",
          "everyone"},
         1,
         "The out-of-office login \"everyone\" has no {mailbox}"},
        {{"--out-of-office", "sieve://h", "--out-of-office-user", "o", "--out-of-office-zone",
          "Mars/Base"},
         1,
         "is not a known time zone"},
        {{"--out-of-office", "sieve://h", "--out-of-office-user", "o",
          "--out-of-office-password-file", "/absent"},
         1,
         "the password file /absent cannot be read"},
        {{"--out-of-office", "sieve://h", "--out-of-office-user", "o\nx"},
         1,
         "must not contain control characters"},
        {{"--out-of-office-colour", "red"}, 2, "unknown option --out-of-office-colour"},
        {{"--out-of-office"}, 2, "option --out-of-office needs a value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.args.back());
        std::vector<std::string> args = set;
        args.insert(args.end(), row.args.begin(), row.args.end());
        const CliResult r = RunCli(args);
        EXPECT_EQ(r.code, row.code);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(mail::Profiles::FilePath())) << "nothing was saved";
}
