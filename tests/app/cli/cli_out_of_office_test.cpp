// "orvane out-of-office" against a real Dovecot with ManageSieve on loopback, and against the
// mail system's files: "in" or "out" with what decided, and failures with the server and cause.
#include "app/cli/CliRunner.h"
#include "mailsystem/sieve/SieveOutOfOffice.h"
#include "support/DovecotTestServer.h"
#include "support/MailFixture.h"
#include "support/SieveScripts.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace testing_support::sieve_scripts;

namespace {

// One Dovecot for the whole program, trusted through the test CA.
class DovecotEnvironment : public testing::Environment {
public:
    static DovecotTestServer* server;
    void SetUp() override {
        server = new DovecotTestServer({"ann", "bob", "cy", "dee"});
        setenv("ORVANE_SIEVE_CA_FILE", server->CaFile().c_str(), 1);
    }
    void TearDown() override {
        mail::sieve::SieveOutOfOfficeReader::CloseAll();
        delete server;
        server = nullptr;
    }
};
DovecotTestServer* DovecotEnvironment::server = nullptr;
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new DovecotEnvironment);

DovecotTestServer& Server() {
    return *DovecotEnvironment::server;
}

std::string Dn(const std::string& user) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + user;
}

mail::sieve::SieveConfig Sieve(const std::string& url = Server().Url()) {
    return {url, DovecotTestServer::kMaster, DovecotTestServer::kMasterPassword, true, "", "UTC"};
}

} // namespace

TEST(CliOutOfOfficeTest, PrintsTheStateAndWhatDecidedOrWhyItCannotBeRead) {
    ASSERT_TRUE(Server().Started());
    ScopedTimeZone zone("UTC");
    std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
    MailFixture mail;
    const std::string store = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
    // The files say the opposite of the scripts, so that a row shows which one was read.
    for (const auto& [user, file] : std::vector<std::pair<std::string, std::string>>{
             {"ann", "in"}, {"bob", "out"}, {"cy", "out"}, {"dee", "in"}, {"ghost", "in"}})
        mail.Add({user, Dn(user), store, user, ""}, file + "\n");
    mail.Add({"ann (Pager)", Dn("ann-pager"), "", "", "5550101@pager.example.org"});
    mail.UseProfile("Office");
    MailFixture::UseOutOfOfficeServer("Office", Sieve());
    mail.AddProfile("Files", mail.Directory());
    mail.AddProfile("Wrong", mail.Directory());
    mail::sieve::SieveConfig wrong = Sieve();
    wrong.password = "not the master password";
    MailFixture::UseOutOfOfficeServer("Wrong", wrong);
    mail.AddProfile("Down", mail.Directory());
    MailFixture::UseOutOfOfficeServer("Down",
                                      Sieve("sieve://127.0.0.1:" + std::to_string(FreePort())));

    Server().PutScript("ann", "roundcube", kRoundcube);
    Server().Activate("ann", "roundcube");
    Server().PutScript("bob", "nextcloud", kNextcloudOff);
    Server().Activate("bob", "nextcloud");
    Server().PutScript("dee", "main", kDamaged);
    Server().Activate("dee", "main");

    const std::string at = "2026-12-24 12:00:00";
    const struct {
        std::string mailbox;
        std::string profile; // empty: the default profile ("Office")
        int code;
        std::string out;
        std::string err; // a part of standard error
    } rows[] = {
        {Dn("ann"), "", 0, "out\n",
         "orvane: The vacation rule \"Christmas away\" (Roundcube, line 3) of the script "
         "\"roundcube\" answers every message arriving now, within its dates.\n"},
        {Dn("bob"), "", 0, "in\n", "Nextcloud Mail's vacation responder is switched off"},
        {Dn("cy"), "", 0, "in\n", "orvane: No Sieve script is active, so no vacation rule runs.\n"},
        {Dn("dee"), "", 1, "",
         "orvane: The Sieve script \"main\" of dee on " + Server().Url() +
             " is damaged on line 3: a string begun on line 3 is never closed with a quote.\n"},
        {Dn("ghost"), "", 1, "",
         "The Sieve server " + Server().Url() + " refused to log in orvane as ghost: "},
        {Dn("ann"), "Files", 0, "in\n",
         "orvane: The file " + mail.MailboxDirectory("ann") + "/out-of-office says in.\n"},
        {Dn("ann"), "Wrong", 1, "", "refused to log in orvane as ann: Authentication failed"},
        {Dn("ann"), "Down", 1, "", " cannot be reached: connection refused."},
        {Dn("ann-pager"), "", 1, "",
         "orvane: no entry of the address list of the profile \"Office\" has a mailbox with the "
         "address \"" +
             Dn("ann-pager") + "\"\n"},
        {Dn("ann"), "None", 1, "", "orvane: there is no profile \"None\"\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mailbox + " " + row.profile);
        std::vector<std::string> args = {"out-of-office", row.mailbox, "--at", at};
        if (!row.profile.empty())
            args.insert(args.end(), {"--profile", row.profile});
        const CliResult r = RunCli(args);
        EXPECT_EQ(r.code, row.code);
        EXPECT_EQ(r.out, row.out);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("not the master password"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(DovecotTestServer::kMasterPassword), std::string::npos) << r.err;
    }

    // The vacation's last day has passed: in again.
    const CliResult after = RunCli({"out-of-office", Dn("ann"), "--at", "2027-01-07 00:00:00"});
    EXPECT_EQ(after.code, 0) << after.err;
    EXPECT_EQ(after.out, "in\n");
    EXPECT_NE(after.err.find("answers no message arriving now"), std::string::npos) << after.err;

    const CliResult usage = RunCli({"out-of-office"});
    EXPECT_EQ(usage.code, 2);
    EXPECT_NE(usage.err.find("out-of-office takes one mailbox name"), std::string::npos);
}

// The administrator's password as credential:NAME is read from the service's credentials at each
// check: the check logs in with it, and fails naming the credential while it is missing.
TEST(CliOutOfOfficeTest, TheAdministratorsPasswordMayBeACredential) {
    ASSERT_TRUE(Server().Started());
    ScopedTimeZone zone("UTC");
    std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
    MailFixture mail;
    mail.Add({"ann", Dn("ann"), "", "ann", ""}, "in\n");
    mail.UseProfile("Office");
    mail::sieve::SieveConfig byCredential = Sieve();
    byCredential.password = "credential:sieve";
    MailFixture::UseOutOfOfficeServer("Office", byCredential);
    Server().PutScript("ann", "roundcube", kRoundcube);
    Server().Activate("ann", "roundcube");

    TempDir credentials;
    setenv("CREDENTIALS_DIRECTORY", credentials.Path().c_str(), 1);
    const CliResult missing = RunCli({"out-of-office", Dn("ann"), "--at", "2026-12-24 12:00:00"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("The out-of-office password is not available. The credential "
                               "sieve is missing"),
              std::string::npos)
        << missing.err;

    WriteFile(credentials.File("sieve"), std::string(DovecotTestServer::kMasterPassword) + "\n");
    const CliResult read = RunCli({"out-of-office", Dn("ann"), "--at", "2026-12-24 12:00:00"});
    unsetenv("CREDENTIALS_DIRECTORY");
    EXPECT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(read.out, "out\n");
    EXPECT_EQ(read.err.find(DovecotTestServer::kMasterPassword), std::string::npos) << read.err;
}
