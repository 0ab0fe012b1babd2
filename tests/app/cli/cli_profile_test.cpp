// "orvane profile": adding, changing, listing and removing mail profiles from the command line.
#include "app/cli/Cli.h"
#include "app/cli/CliRunner.h"
#include "core/FileSystem.h"
#include "mailsystem/Profiles.h"
#include "support/SlapdTestServer.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

using namespace testing_support;

namespace {

const char* kHeader = "name\tdefault\tmail system\ttransport\tuser\tpassword\tsender\taddress "
                      "list\tdirectory user\tcalendars\tcalendar user\tcalendar password\tout "
                      "of office\tout-of-office password\n";

class CliProfileTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
        WriteFile(dir.File("address-list.txt"), "");
    }
    TempDir dir;
};

} // namespace

TEST_F(CliProfileTest, SetsListsAndRemovesProfiles) {
    CliResult r = RunCli({"profile", "list"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, kHeader);

    r = RunCli({"profile", "set", "Local", "--mail-system", dir.Path() + "/./"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "\"Local\" is the default profile.\n");
    EXPECT_EQ(r.err, "");

    WriteFile(dir.File("password"), "s3cret\nsecond line\n");
    r = RunCli({"profile", "set", "Office", "--mail-system", dir.Path(), "--transport",
                "smtp://mail.example.com:587", "--starttls", "yes", "--user", "pager",
                "--password-file", dir.File("password"), "--sender", "orvane@example.com"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");

    r = RunCli({"profile", "list"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(
        r.out,
        std::string(kHeader) + "Local\tyes\t" + dir.Path() +
            "\toutbox\t\t\t\taddress-list.txt\t\tdirectory\t\t\tdirectory\t\n" + "Office\tno\t" +
            dir.Path() +
            "\tsmtp://mail.example.com:587 (STARTTLS)\tpager\tset\torvane@example.com\taddress-"
            "list.txt\t\tdirectory\t\t\tdirectory\t\n");
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos);

    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.Find("Office")->transport.password, "s3cret");

    // Changing one setting keeps the others; --default moves the default.
    r = RunCli({"profile", "set", "Office", "--starttls=no", "--default"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "\"Office\" is the default profile.\n");
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.DefaultName(), "Office");
    EXPECT_FALSE(profiles.Find("Office")->transport.startTls);
    EXPECT_EQ(profiles.Find("Office")->transport.user, "pager");

    // Back to the outbox: the SMTP credentials do not stay behind.
    r = RunCli({"profile", "set", "Office", "--transport", "outbox"});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.Find("Office")->transport.password, "");
    EXPECT_EQ(profiles.Find("Office")->transport.sender, "orvane@example.com");

    r = RunCli({"profile", "remove", "Office"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "There is no default profile now; choose one with: orvane profile set NAME --default\n");
    r = RunCli({"profile", "remove", "Office"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "orvane: there is no profile \"Office\"\n");
    r = RunCli({"profile", "list"});
    EXPECT_EQ(r.out, std::string(kHeader) + "Local\tno\t" + dir.Path() +
                         "\toutbox\t\t\t\taddress-list.txt\t\tdirectory\t\t\tdirectory\t\n");

    struct stat st;
    ASSERT_EQ(stat(mail::Profiles::FilePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(CliProfileTest, NamesACalendarServerAndReturnsToTheDirectory) {
    WriteFile(dir.File("calendar-password"), "dav s3cret\n");
    CliResult r =
        RunCli({"profile", "set", "Dav", "--mail-system", dir.Path(), "--calendars",
                "https://cloud.example/remote.php/dav/calendars/{mailbox}/", "--calendar-user",
                "orvane", "--calendar-password-file", dir.File("calendar-password")});
    EXPECT_EQ(r.code, 0) << r.err;
    r = RunCli({"profile", "list"});
    EXPECT_EQ(r.out, std::string(kHeader) + "Dav\tyes\t" + dir.Path() +
                         "\toutbox\t\t\t\taddress-list.txt\t\thttps://cloud.example/remote.php/"
                         "dav/calendars/{mailbox}/\torvane\tset\tdirectory\t\n");
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.Find("Dav")->calendars.password, "dav s3cret");

    // Another setting keeps the calendar server; the user alone can be dropped.
    EXPECT_EQ(RunCli({"profile", "set", "Dav", "--sender", "o@example.com"}).code, 0);
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.Find("Dav")->calendars.user, "orvane");
    EXPECT_EQ(RunCli({"profile", "set", "Dav", "--calendar-user", ""}).code, 0);
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.Find("Dav")->calendars.user, "");
    EXPECT_EQ(profiles.Find("Dav")->calendars.password, "");
    EXPECT_TRUE(profiles.Find("Dav")->calendars.Used());

    // Back to the directory: no credentials stay behind.
    EXPECT_EQ(
        RunCli({"profile", "set", "Dav", "--calendars", "http://127.0.0.1:5232/{mailbox}/",
                "--calendar-user", "u", "--calendar-password-file", dir.File("calendar-password")})
            .code,
        0);
    r = RunCli({"profile", "set", "Dav", "--calendars", ""});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_FALSE(profiles.Find("Dav")->calendars.Used());
    EXPECT_EQ(profiles.Find("Dav")->calendars.user, "");
    EXPECT_EQ(profiles.Find("Dav")->calendars.password, "");
    const std::string file = ReadFile(mail::Profiles::FilePath());
    for (const char* key : {"\ncalendars =", "\ncalendar-user =", "\ncalendar-password ="})
        EXPECT_EQ(file.find(key), std::string::npos) << key;
}

TEST_F(CliProfileTest, RefusesWhatCannotWork) {
    const struct {
        std::vector<std::string> args;
        int code;
        const char* err;
    } rows[] = {
        {{"profile"}, 2, "profile needs list, set or remove"},
        {{"profile", "rename", "A"}, 2, "unknown profile command \"rename\""},
        {{"profile", "list", "x"}, 2, "profile list takes no arguments"},
        {{"profile", "set"}, 2, "profile set takes one profile name"},
        {{"profile", "set", "New"}, 2, "the new profile \"New\" needs --mail-system DIR"},
        {{"profile", "set", "A", "--mail-system"}, 2, "option --mail-system needs a value"},
        {{"profile", "set", "A", "--colour", "red"}, 2, "unknown option --colour"},
        {{"profile", "set", "[A]", "--mail-system", "/m"},
         1,
         "may not hold control characters, \"[\" or \"]\""},
        {{"profile", "set", "A", "--mail-system", "/m", "--transport", "ftp://x"},
         1,
         "must be outbox or an smtp://"},
        {{"profile", "set", "A", "--mail-system", "/m", "--transport", "smtps://x", "--starttls",
          "yes"},
         1,
         "STARTTLS applies to smtp:// only"},
        {{"profile", "set", "A", "--mail-system", "/m", "--starttls", "maybe", "--transport",
          "smtp://x"},
         2,
         "--starttls takes yes or no"},
        {{"profile", "set", "A", "--mail-system", "/m", "--user", "u"},
         1,
         "apply to an SMTP transport"},
        {{"profile", "set", "A", "--mail-system", "/m", "--password", "p", "--password-file", "f"},
         2,
         "give either --password or --password-file"},
        {{"profile", "set", "A", "--mail-system", "/m", "--transport", "smtp://x",
          "--password-file", "/absent"},
         1,
         "the password file /absent cannot be read"},
        {{"profile", "remove"}, 2, "profile remove takes one profile name"},
        {{"profile", "set", "A", "--mail-system", "/m", "--calendars", "ftp://x/{mailbox}/"},
         1,
         "must begin with http:// or https://"},
        {{"profile", "set", "A", "--mail-system", "/m", "--calendars", "https://x/calendars/"},
         1,
         "must hold {mailbox} in its path"},
        {{"profile", "set", "A", "--mail-system", "/m", "--calendars", "https://{mailbox}.x/"},
         1,
         "{mailbox} belongs in the path"},
        {{"profile", "set", "A", "--mail-system", "/m", "--calendars", "https://u:p@x/{mailbox}/"},
         1,
         "not inside the URL"},
        {{"profile", "set", "A", "--mail-system", "/m", "--calendars", "https://x/{mailbox}/?a"},
         1,
         "may not hold a query"},
        {{"profile", "set", "A", "--mail-system", "/m", "--calendars", "https://x:0/{mailbox}/"},
         1,
         "must be a number from 1 to 65535"},
        {{"profile", "set", "A", "--mail-system", "/m", "--calendar-user", "u"},
         1,
         "give --calendars URL too"},
        {{"profile", "set", "A", "--mail-system", "/m", "--calendars", "https://x/{mailbox}/",
          "--calendar-password-file", "/absent"},
         1,
         "the password file /absent cannot be read"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.back());
        const CliResult r = RunCli(row.args);
        EXPECT_EQ(r.code, row.code);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(RunCli({"profile", "list"}).out, kHeader); // nothing was saved
}

TEST_F(CliProfileTest, WarnsAboutAMailSystemThatCannotBeOpenedAndStopsAtADamagedFile) {
    CliResult r = RunCli({"profile", "set", "Later", "--mail-system", dir.File("not-yet")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("orvane: warning: The mail system directory " + dir.File("not-yet")),
              std::string::npos)
        << r.err;

    WriteFile(mail::Profiles::FilePath(), "[Later]\nmail-system = /m\nbroken line\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"profile", "list"},
          std::vector<std::string>{"profile", "remove", "Later"},
          std::vector<std::string>{"profile", "set", "Later", "--mail-system", "/n"}}) {
        r = RunCli(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(mail::Profiles::FilePath() + ", line 3"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(mail::Profiles::FilePath()), "[Later]\nmail-system = /m\nbroken line\n");
}

TEST_F(CliProfileTest, OneCommandAtATimeChangesTheProfiles) {
    std::filesystem::create_directories(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
    FileLock held;
    ASSERT_EQ(
        held.TryLock(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik/Orvane-profiles.lock",
                     FileLock::Exclusive),
        FileLock::Locked);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"profile", "set", "A", "--mail-system", dir.Path()},
          std::vector<std::string>{"profile", "remove", "A"},
          std::vector<std::string>{"demo", "init", dir.File("d")}}) {
        const CliResult r = RunCli(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("another orvane profile command is changing the profiles"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_FALSE(
        std::filesystem::exists(dir.File("d"))); // the demo stopped before writing anything
    held.Unlock();
    EXPECT_EQ(RunCli({"profile", "set", "A", "--mail-system", dir.Path()}).code, 0);
}

// A profile that reads its address list from a directory: set, shown, tried at once, and set back
// to the file without leaving the credentials behind.
TEST_F(CliProfileTest, ReadsTheAddressListFromADirectory) {
    testing_support::SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    WriteFile(dir.File("bind-password"),
              std::string(testing_support::SlapdTestServer::kReaderPassword) + "\n");
    CliResult r =
        RunCli({"profile", "set", "Office", "--mail-system", dir.Path(), "--directory",
                server.Url(), "--directory-user", testing_support::SlapdTestServer::kReaderDn,
                "--directory-password-file", dir.File("bind-password"), "--directory-starttls",
                "no", "--directory-filter", "objectClass=inetOrgPerson",
                "--directory-map=openldap,Home-Store="});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, ""); // the directory answered
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    const mail::LdapConfig& d = profiles.Find("Office")->ldap;
    EXPECT_EQ(d.url, server.Url());
    EXPECT_EQ(d.password, testing_support::SlapdTestServer::kReaderPassword);
    EXPECT_EQ(d.filter, "(objectClass=inetOrgPerson)");
    EXPECT_EQ(d.map, "openldap,Home-Store=");
    EXPECT_FALSE(d.startTls);

    r = RunCli({"profile", "list"});
    EXPECT_EQ(r.out, std::string(kHeader) + "Office\tyes\t" + dir.Path() + "\toutbox\t\t\t\t" +
                         server.Url() + "\t" + testing_support::SlapdTestServer::kReaderDn +
                         "\tdirectory\t\t\tdirectory\t\n");
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos);

    // A wrong password is kept (the server may be fixed later) but said at once.
    WriteFile(dir.File("bind-password"), "wrong guess\n");
    r = RunCli(
        {"profile", "set", "Office", "--directory-password-file", dir.File("bind-password")});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("orvane: warning: The directory " + server.Url() +
                         " refused the bind as " + testing_support::SlapdTestServer::kReaderDn),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("wrong guess"), std::string::npos);

    r = RunCli({"profile", "set", "Office", "--directory", ""});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_TRUE(profiles.Find("Office")->ldap == mail::LdapConfig{});
    EXPECT_EQ(ReadFile(mail::Profiles::FilePath()).find("\ndirectory"), std::string::npos);
}

TEST_F(CliProfileTest, RefusesDirectorySettingsThatCannotWork) {
    const struct {
        std::vector<std::string> args;
        int code;
        const char* err;
    } rows[] = {
        {{"profile", "set", "A", "--mail-system", "/m", "--directory", "ldap://h"},
         1,
         "names no base DN"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory", "http://h/dc=x"},
         1,
         "must be an ldap:// or ldaps:// URL"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory-user", "cn=x,dc=y"},
         1,
         "give --directory ldap[s]://HOST/BASE-DN too"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory", "ldap://h/dc=x",
          "--directory-starttls", "maybe"},
         2,
         "--directory-starttls takes yes or no"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory", "ldap://h/dc=x",
          "--directory-map", "Address="},
         1,
         "must give Address an attribute"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory", "ldap://h/dc=x",
          "--directory-filter", "(a=1"},
         1,
         "parentheses paired"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory", "ldap://h/dc=x",
          "--directory-user", "orvane"},
         1,
         "is not a DN"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory", "ldap://h/dc=x",
          "--directory-user", "cn=x,dc=y", "--directory-password-file", "/absent"},
         1,
         "the password file /absent cannot be read"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory-colour", "red"},
         2,
         "unknown option --directory-colour"},
        {{"profile", "set", "A", "--mail-system", "/m", "--directory"},
         2,
         "option --directory needs a value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[5]);
        const CliResult r = RunCli(row.args);
        EXPECT_EQ(r.code, row.code);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(RunCli({"profile", "list"}).out, kHeader); // nothing was saved
}

TEST_F(CliProfileTest, SendsPagesToAWebServiceWithATokenThatIsNeverShown) {
    WriteFile(dir.File("token"), "tk_AbC.123-x\n");
    CliResult r = RunCli({"profile", "set", "Phones", "--mail-system", dir.Path(), "--transport",
                          "https://ntfy.example.org/", "--transport-format", "ntfy",
                          "--transport-token-file", dir.File("token")});
    EXPECT_EQ(r.code, 0) << r.err;
    r = RunCli({"profile", "list"});
    EXPECT_EQ(r.out, std::string(kHeader) + "Phones\tyes\t" + dir.Path() +
                         "\thttps://ntfy.example.org/ (ntfy)\t\tset\t\taddress-list.txt\t\t"
                         "directory\t\t\tdirectory\t\n");
    EXPECT_EQ(r.out.find("tk_AbC"), std::string::npos);
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    mail::TransportConfig t = profiles.Find("Phones")->transport;
    EXPECT_EQ(t.kind, mail::TransportConfig::Kind::Web);
    EXPECT_EQ(t.format, mail::WebFormat::Ntfy);
    EXPECT_EQ(t.token, "tk_AbC.123-x");
    const std::string file = ReadFile(mail::Profiles::FilePath());
    EXPECT_NE(file.find("transport = https://ntfy.example.org/\ntransport-format = ntfy\n"
                        "transport-token = tk_AbC.123-x\n"),
              std::string::npos)
        << file;

    // Plain http:// beyond loopback only when allowed, and the permission goes with the URL.
    r = RunCli({"profile", "set", "Phones", "--transport", "http://gotify.lan:8080",
                "--transport-format", "gotify"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Plain http:// would send the pages and the token to gotify.lan "
                         "unencrypted; use https://, or allow it with --transport-insecure yes."),
              std::string::npos)
        << r.err;
    r = RunCli({"profile", "set", "Phones", "--transport", "http://gotify.lan:8080",
                "--transport-format", "gotify", "--transport-insecure", "yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    r = RunCli({"profile", "list"});
    EXPECT_NE(r.out.find("\thttp://gotify.lan:8080 (gotify, plain http allowed)\t\tset\t"),
              std::string::npos)
        << r.out;
    r = RunCli({"profile", "set", "Phones", "--transport", "http://gotify2.lan:8080"});
    EXPECT_EQ(r.code, 1) << "a new URL needs its own permission";

    // The token can be removed; a change to SMTP leaves nothing of the web service behind, and
    // back to a web service nothing of SMTP.
    r = RunCli({"profile", "set", "Phones", "--transport-token-file", ""});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.Find("Phones")->transport.token, "");
    RunCli({"profile", "set", "Phones", "--transport-token-file", dir.File("token")});
    r = RunCli({"profile", "set", "Phones", "--transport", "smtp://mail.example.com", "--user", "u",
                "--password", "p"});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(profiles.Load(error)) << error;
    t = profiles.Find("Phones")->transport;
    EXPECT_EQ(t.kind, mail::TransportConfig::Kind::Smtp);
    EXPECT_EQ(t.token, "");
    EXPECT_FALSE(t.insecure);
    EXPECT_EQ(t.format, mail::WebFormat::Json);
    r = RunCli({"profile", "set", "Phones", "--transport", "https://hooks.example.org/orvane"});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(profiles.Load(error)) << error;
    t = profiles.Find("Phones")->transport;
    EXPECT_EQ(t.kind, mail::TransportConfig::Kind::Web);
    EXPECT_EQ(t.user, "");
    EXPECT_EQ(t.password, "");
    EXPECT_EQ(t.format, mail::WebFormat::Json);
}

TEST_F(CliProfileTest, RefusesWebSettingsThatCannotWork) {
    const std::string web = "https://ntfy.example.org";
    WriteFile(dir.File("spaced-token"), "two words\n");
    const struct {
        std::vector<std::string> args;
        int code;
        const char* err;
    } rows[] = {
        {{"--transport-format", "ntfy"}, 1, "apply to a web transport; give --transport https://"},
        {{"--transport", "smtp://x", "--transport-insecure", "yes"}, 1, "apply to a web transport"},
        {{"--transport", web, "--transport-format", "slack"},
         2,
         "--transport-format takes json, ntfy or gotify"},
        {{"--transport", web, "--transport-insecure", "maybe"},
         2,
         "--transport-insecure takes yes or no"},
        {{"--transport", web, "--transport-insecure", "yes"},
         1,
         "--transport-insecure applies to http:// only"},
        {{"--transport", web, "--transport-token-file", "/absent"},
         1,
         "the password file /absent cannot be read"},
        {{"--transport", web, "--transport-token-file", dir.File("spaced-token")},
         1,
         "only printable ASCII characters, without blanks"},
        {{"--transport", web, "--user", "u"}, 1, "apply to an SMTP transport"},
        {{"--transport", "https://u:p@ntfy.example.org"}, 1, "not inside the URL"},
        {{"--transport", web + "/?x", "--transport-format", "ntfy"}, 1, "without a query"},
        {{"--transport-colour", "red"}, 2, "unknown option --transport-colour"},
        {{"--transport", web, "--transport-format"}, 2, "option --transport-format needs a value"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"profile", "set", "A", "--mail-system", dir.Path()};
        args.insert(args.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(row.args.back());
        const CliResult r = RunCli(args);
        EXPECT_EQ(r.code, row.code);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("two words"), std::string::npos) << r.err;
    }
    EXPECT_EQ(RunCli({"profile", "list"}).out, kHeader); // nothing was saved
}
