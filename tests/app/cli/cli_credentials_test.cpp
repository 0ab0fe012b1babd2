// Passwords given as credential:NAME: "orvane profile set" stores the reference and never a
// secret, refuses what could be a mistyped password without repeating it, and "orvane page" logs
// in to a loopback SMTP server with the secret read from CREDENTIALS_DIRECTORY at the time.
#include "app/cli/Cli.h"
#include "core/Credentials.h"
#include "core/Settings.h"
#include "mailsystem/Profiles.h"
#include "support/HttpTestServer.h"
#include "support/MailFixture.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

using testing_support::MailFixture;
using testing_support::ReadFile;
using testing_support::SmtpTestServer;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

Outcome Cli(const cli::Args& args) {
    std::ostringstream out, err;
    const int code = cli::Run(args, out, err);
    return {code, out.str(), err.str()};
}

// Sets CREDENTIALS_DIRECTORY for the scope (null: unset).
class ScopedCredentialsDirectory {
public:
    explicit ScopedCredentialsDirectory(const char* path) {
        if (path)
            setenv(credentials::kDirectoryVariable, path, 1);
        else
            unsetenv(credentials::kDirectoryVariable);
    }
    ~ScopedCredentialsDirectory() { unsetenv(credentials::kDirectoryVariable); }
};

constexpr const char* kSecret = "s3cret-Pa55";

// One SMTP server for the program, asking AUTH as pager-gw with kSecret.
class CliCredentials : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SmtpTestServer::Options options;
        options.auth = std::string("pager-gw:") + kSecret;
        server = std::make_unique<SmtpTestServer>(options);
    }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override {
        ASSERT_TRUE(server->Started());
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "");
        MailFixture::RemoveProfiles();
        mail.Add({"Ann Archer Pager", "/o=Quorvik/cn=aarcher-pager", "", "",
                  "5551234@pager.example.org"});
    }
    // "profile set Office" over the fixture's mail system and the SMTP server as pager-gw.
    Outcome SetSmtpProfile(const std::vector<std::string>& passwordOptions) {
        cli::Args args = {
            "profile",           "set",         "Office", "--mail-system", mail.Directory(),
            "--transport",       server->Url(), "--user", "pager-gw",      "--sender",
            "orvane@example.org"};
        args.insert(args.end(), passwordOptions.begin(), passwordOptions.end());
        return Cli(args);
    }

    static std::unique_ptr<SmtpTestServer> server;
    MailFixture mail;
    TempDir credentialsDir;
};

std::unique_ptr<SmtpTestServer> CliCredentials::server;

} // namespace

TEST_F(CliCredentials, AnSmtpPasswordIsReadFromTheCredentialAtEachPage) {
    const Outcome set = SetSmtpProfile({"--password", "credential:smtp"});
    ASSERT_EQ(set.code, 0) << set.err;
    const std::string stored = ReadFile(mail::Profiles::FilePath());
    EXPECT_NE(stored.find("credential:smtp"), std::string::npos) << stored;
    const Outcome list = Cli({"profile", "list"});
    EXPECT_NE(list.out.find("\tpager-gw\tcredential:smtp\t"), std::string::npos) << list.out;

    const size_t before = server->Messages().size();
    ScopedCredentialsDirectory scope(credentialsDir.Path().c_str());
    const struct {
        const char* fileText; // the credential's file; null: none
        int code;
        std::string err; // in what the command printed
    } rows[] = {
        {"s3cret-Pa55\n", 0, ""},
        {nullptr, 1,
         "The SMTP password is not available. The credential smtp is missing: there is no " +
             credentialsDir.File("smtp") + " (give it to the unit with LoadCredential=smtp:FILE)."},
        {"wrong\n", 1, "A reminder page could not be sent."}, // the server refuses the login
        {"s3cret-Pa55\r\nsecond line\n", 0, ""},              // replaced: read again
    };
    int sent = 0;
    for (const auto& row : rows) {
        std::remove(credentialsDir.File("smtp").c_str());
        if (row.fileText)
            WriteFile(credentialsDir.File("smtp"), row.fileText);
        const Outcome page = Cli({"page", "Ann Archer Pager", "02:00-03:00 Budget review"});
        EXPECT_EQ(page.code, row.code) << page.err;
        EXPECT_NE(page.err.find(row.err), std::string::npos) << page.err;
        EXPECT_EQ(page.err.find(kSecret), std::string::npos) << page.err;
        sent += row.code == 0 ? 1 : 0;
    }
    EXPECT_EQ(server->Messages().size(), before + sent);
}

TEST_F(CliCredentials, WithoutTheServiceManagerTheDirectoryIsNamed) {
    ASSERT_EQ(SetSmtpProfile({"--password", "credential:smtp"}).code, 0);
    ScopedCredentialsDirectory unset(nullptr);
    const Outcome page = Cli({"page", "Ann Archer Pager", "x"});
    EXPECT_EQ(page.code, 1);
    EXPECT_NE(page.err.find("The credential smtp cannot be read: CREDENTIALS_DIRECTORY is not set"),
              std::string::npos)
        << page.err;
}

// Every refusal leaves the profiles as they were and never repeats what might be a password.
TEST_F(CliCredentials, WhatCouldBeAMistypedPasswordIsRefusedWithoutRepeatingIt) {
    ASSERT_EQ(SetSmtpProfile({"--password", "credential:smtp"}).code, 0);
    const std::string before = ReadFile(mail::Profiles::FilePath());
    WriteFile(credentialsDir.File("file-with-reference"), "credential:hunter2\n");
    const struct {
        cli::Args args;
        std::string err; // the start of what is printed
    } rows[] = {
        {{"profile", "set", "Office", "--password", "credential:hunter2/x"},
         "orvane: --password credential:... does not name a credential"},
        {{"profile", "set", "Office", "--password", "credential:"},
         "orvane: --password credential:... does not name a credential"},
        {{"profile", "set", "Office", "--password-file",
          credentialsDir.File("file-with-reference")},
         "orvane: the password in " + credentialsDir.File("file-with-reference") +
             " begins with \"credential:\""},
        {{"profile", "set", "Office", "--directory", "ldap://127.0.0.1/dc=example",
          "--directory-user", "cn=orvane", "--directory-password", "hunter2"},
         "orvane: --directory-password takes credential:NAME"},
        {{"profile", "set", "Office", "--calendars", "http://127.0.0.1:5232/{mailbox}/",
          "--calendar-user", "orvane", "--calendar-password", "hunter2"},
         "orvane: --calendar-password takes credential:NAME"},
        {{"profile", "set", "Office", "--calendars", "http://127.0.0.1:5232/{mailbox}/",
          "--calendar-user", "orvane", "--calendar-password", "credential:caldav",
          "--calendar-password-file", credentialsDir.File("file-with-reference")},
         "orvane: give either --calendar-password or --calendar-password-file"},
        {{"profile", "set", "Office", "--password", "credential:smtp\nhunter2"},
         "orvane: --password must not contain control characters"},
    };
    for (const auto& row : rows) {
        const Outcome r = Cli(row.args);
        EXPECT_NE(r.code, 0) << row.err;
        EXPECT_EQ(r.err.rfind(row.err, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find("hunter2"), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(mail::Profiles::FilePath()), before) << row.err;
    }
}

// The calendar server's and the directory's passwords are stored as references too, and read
// when they are used: a missing one is a sentence that names it.
TEST_F(CliCredentials, CalendarAndDirectoryPasswordsTakeCredentials) {
    mail.Add({"Ann Archer", "/o=Quorvik/cn=aarcher", "", "aarcher", ""});
    ASSERT_EQ(SetSmtpProfile({"--password", "credential:smtp"}).code, 0);
    ScopedCredentialsDirectory scope(credentialsDir.Path().c_str());

    const Outcome calendars =
        Cli({"profile", "set", "Office", "--calendars", "http://127.0.0.1:1/{mailbox}/",
             "--calendar-user", "orvane", "--calendar-password", "credential:caldav"});
    ASSERT_EQ(calendars.code, 0) << calendars.err;
    const Outcome scan = Cli({"scan", "/o=Quorvik/cn=aarcher"});
    EXPECT_EQ(scan.code, 1);
    EXPECT_NE(scan.err.find("The calendar server of the profile \"Office\" cannot be used: its "
                            "password is not available. The credential caldav is missing"),
              std::string::npos)
        << scan.err;

    const Outcome directory =
        Cli({"profile", "set", "Office", "--directory", "ldap://127.0.0.1:1/dc=example",
             "--directory-starttls", "no", "--directory-user", "cn=orvane", "--directory-password",
             "credential:ldap"});
    ASSERT_EQ(directory.code, 0) << directory.err;
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    const mail::Profile* office = profiles.Find("Office");
    ASSERT_NE(office, nullptr);
    EXPECT_EQ(office->ldap.password, "credential:ldap");
    EXPECT_EQ(office->calendars.password, "credential:caldav");
    EXPECT_NE(Cli({"profile", "list"}).out.find("\torvane\tcredential:caldav\tdirectory\t\n"),
              std::string::npos);
    // The pager is looked up in the directory, whose bind needs the missing credential.
    const Outcome page = Cli({"page", "Ann Archer Pager", "x"});
    EXPECT_EQ(page.code, 1);
    EXPECT_NE(page.err.find("The directory ldap://127.0.0.1:1/dc=example cannot be bound to: the "
                            "directory password is not available. The credential ldap is missing"),
              std::string::npos)
        << page.err;
}

// A web service's token is a secret like the passwords: --transport-token takes only
// credential:NAME, read at each page into the Authorization header and never kept or told.
TEST_F(CliCredentials, AWebServicesTokenIsReadFromTheCredentialAtEachPage) {
    testing_support::HttpScriptServer web;
    ASSERT_TRUE(web.Started());
    mail.Add({"Ann Archer Phone", "/o=Quorvik/cn=aarcher-phone", "", "", "aarcher-pages"});
    const Outcome literal =
        Cli({"profile", "set", "Push", "--mail-system", mail.Directory(), "--transport",
             web.Url(), "--transport-format", "ntfy", "--transport-token", "tk_secret"});
    EXPECT_NE(literal.code, 0);
    EXPECT_NE(literal.err.find("--transport-token-file"), std::string::npos) << literal.err;
    EXPECT_EQ(literal.err.find("tk_secret"), std::string::npos) << literal.err;

    const Outcome set =
        Cli({"profile", "set", "Push", "--mail-system", mail.Directory(), "--transport",
             web.Url(), "--transport-format", "ntfy", "--transport-token", "credential:ntfy",
             "--default"});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_NE(Cli({"profile", "list"}).out.find("credential:ntfy"), std::string::npos);

    ScopedCredentialsDirectory scope(credentialsDir.Path().c_str());
    std::remove(credentialsDir.File("ntfy").c_str());
    const Outcome missing = Cli({"page", "Ann Archer Phone", "x"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("The credential ntfy is missing"), std::string::npos)
        << missing.err;
    EXPECT_TRUE(web.Requests().empty()) << "nothing goes out without the token";

    WriteFile(credentialsDir.File("ntfy"), "tk_from_credential\n");
    const Outcome page = Cli({"page", "Ann Archer Phone", "02:00-03:00 Budget review"});
    ASSERT_EQ(page.code, 0) << page.err;
    const std::vector<std::string> requests = web.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("Authorization: Bearer tk_from_credential\r\n"), std::string::npos)
        << requests[0];
}
