// "orvane address-list": the global address list as the user list dialog reads it, filtered,
// from the default or a named profile, and what it says when the list cannot be read.
#include "app/cli/CliRunner.h"
#include "paging/ExtendedMapi.h"
#include "support/MailFixture.h"
#include "support/SlapdTestServer.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

using testing_support::MailFixture;

namespace {

const char* const kStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
const std::string kHeader = "display name\taddress\thome store\n";

class CliAddressList : public ::testing::Test {
protected:
    void SetUp() override {
        mail.Add({"Ann Archer", "/o=Quorvik/cn=aarcher", kStore, "aarcher", ""});
        mail.Add(
            {"Ann Archer (Pager)", "/o=Quorvik/cn=aarcher-pager", "", "", "5550101@p.example"});
        mail.Add({"Bob Baker", "/o=Quorvik/cn=bbaker", kStore, "bbaker", ""});
        mail.Add({"Bob Baker", "/o=Quorvik/cn=ANNEX", kStore, "annex", ""});
        mail.UseProfile("Office");
    }
    void TearDown() override { mapi_testing::ClearFailures(); }
    MailFixture mail;
};

} // namespace

TEST_F(CliAddressList, PrintsEveryEntryInOrderOrThoseThatContainTheText) {
    const std::string ann = std::string("Ann Archer\t/o=Quorvik/cn=aarcher\t") + kStore + "\n";
    const std::string pager = "Ann Archer (Pager)\t/o=Quorvik/cn=aarcher-pager\t\n";
    const std::string bob = std::string("Bob Baker\t/o=Quorvik/cn=bbaker\t") + kStore + "\n";
    const std::string annex = std::string("Bob Baker\t/o=Quorvik/cn=ANNEX\t") + kStore + "\n";
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"address-list"}, kHeader + ann + pager + bob + annex},
        {{"address-list", "ann"}, kHeader + ann + pager + annex}, // the address matches too
        {{"address-list", "PAGER"}, kHeader + pager},
        {{"address-list", "nobody"}, kHeader},
        {{"address-list", "--profile", "Office", "baker"}, kHeader + bob + annex},
    };
    for (const auto& c : cases) {
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(CliAddressList, SaysWhyTheListCannotBeRead) {
    CliResult r = RunCli({"address-list", "--profile", "Nobody"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, kHeader);
    EXPECT_EQ(r.err, "orvane: the global address list could not be read: MAPILogonEx failed with "
                     "error code 80040111\n"
                     "orvane: is there a mail profile named \"Nobody\", and can its mail system "
                     "be opened? See orvane profile list\n");

    // Everything read before the failure is printed.
    mapi_testing::FailCall("IMAPITable::QueryRows", MAPI_E_CALL_FAILED, 2);
    r = RunCli({"address-list", "Bob"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.substr(0, kHeader.size() + 9), kHeader + "Bob Baker");
    EXPECT_EQ(r.err, "orvane: the global address list could not be read to its end: "
                     "IMAPITable::QueryRows failed with error code 80004005\n");

    MailFixture::RemoveProfiles();
    r = RunCli({"address-list"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("is there a default mail profile"), std::string::npos) << r.err;

    EXPECT_EQ(RunCli({"address-list", "a", "b"}).code, 2);
    EXPECT_EQ(RunCli({"address-list", "--profile="}).code, 2);
    EXPECT_EQ(RunCli({"address-list", "--server", "x"}).code, 2);
}

// The same command over a profile that reads the address list from a directory, and what it
// says when the directory cannot be reached.
TEST(CliAddressListDirectory, ListsTheDirectoryOrSaysWhyNot) {
    using testing_support::SlapdTestServer;
    SlapdTestServer server(
        testing_support::ReadFile(testing_support::DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    MailFixture mail;
    mail::Profiles profiles;
    mail::Profile profile{"Directory", mail.Directory(), {}, {}};
    profile.ldap.url = server.Url();
    profile.ldap.user = SlapdTestServer::kReaderDn;
    profile.ldap.password = SlapdTestServer::kReaderPassword;
    profile.ldap.startTls = false;
    profiles.Set(profile);
    std::string error;
    ASSERT_TRUE(profiles.Save(error)) << error;

    CliResult r = RunCli({"address-list", "tanaka"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, kHeader + "Hiro Tanaka\thtanaka@quorvik.example\t/o=Quorvik/ou=Demo/"
                               "cn=Configuration/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB\n"
                               "Hiro Tanaka (Pager)\t5550108@pager.demo.orvane.example\t\n");
    r = RunCli({"address-list"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 25);

    server.Stop();
    r = RunCli({"address-list"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, kHeader);
    EXPECT_EQ(r.err, "orvane: the global address list could not be read: "
                     "IABContainer::GetContentsTable failed with error code 80004005\n"
                     "orvane: The directory " +
                         server.Url() + " cannot be reached: Connection refused.\n");
}

TEST(CliUsersHelp, NamesTheAddressListCommand) {
    for (const char* help : {"--help", "-h", "help"}) {
        const CliResult r = RunCli({"users", help});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out.rfind("Usage:\n  users list\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("orvane address-list"), std::string::npos) << r.out;
    }
    EXPECT_NE(RunCli({"--help"}).out.find("  address-list [--profile NAME] [TEXT]\n"),
              std::string::npos);
}
