// "orvane page": a test page through the outbox, SMTP or a web service, the event text on
// failure, exit codes.
#include "app/cli/Cli.h"
#include "core/Settings.h"
#include "support/HttpTestServer.h"
#include "support/MailFixture.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using testing_support::MailFixture;
using testing_support::SmtpTestServer;
using testing_support::TempDir;

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

Outcome Page(const cli::Args& args) {
    std::ostringstream out, err;
    const int code = cli::Run(args, out, err);
    return {code, out.str(), err.str()};
}

class CliPage : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "");
        mail.Add({"Ann Archer Pager", "/o=Quorvik/cn=aarcher-pager", "", "",
                  "5551234@pager.example.org"});
        mail.Add({"Twin", "twin1@example.org", "", "", ""});
        mail.Add({"Twin", "twin2@example.org", "", "", ""});
        mail.UseProfile("Office");
    }
    MailFixture mail;
};

} // namespace

TEST_F(CliPage, SendsThroughTheDefaultProfileToTheOutbox) {
    const Outcome r = Page({"page", "Ann Archer Pager", "02:00-03:00 Budget review"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "page sent to Ann Archer Pager\n");
    EXPECT_EQ(r.err, "");
    const auto messages = mail.OutboxMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("<5551234@pager.example.org>"), std::string::npos);
    EXPECT_NE(messages[0].find("\r\nSubject:\r\n"), std::string::npos);
    EXPECT_NE(messages[0].find("\r\n\r\n02:00-03:00 Budget review\r\n"), std::string::npos);
}

TEST_F(CliPage, PrintsTheEventTheMonitorWouldLogAndFails) {
    const struct {
        cli::Args args;
        const char* event;
    } rows[] = {
        {{"page", "Nobody", "x"},
         "orvane: A reminder page could not be sent to Nobody because the pager name does not "
         "exist in "
         "the addressbook.\n"},
        {{"page", "Twin", "x"},
         "orvane: A reminder page could not be sent because the specified pager name matched more "
         "than "
         "one entry in the addressbook.\n"},
        {{"page", "Ann Archer Pager", "x", "--profile", "Unknown"},
         "orvane: Orvane is not logged onto the mail system.  Please exit and restart the "
         "application.\n"},
    };
    for (const auto& row : rows) {
        const Outcome r = Page(row.args);
        EXPECT_EQ(r.code, 1) << row.args[1];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, row.event);
    }
    EXPECT_TRUE(mail.OutboxMessages().empty());
}

TEST_F(CliPage, UsesTheProfileSettingUnlessTold) {
    SmtpTestServer server;
    ASSERT_TRUE(server.Started());
    mail.AddProfile("Smtp", mail.Directory(), testing_support::SmtpTransport(server.Url()));

    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Smtp");
    EXPECT_EQ(Page({"page", "Ann Archer Pager", "over SMTP"}).code, 0);
    EXPECT_EQ(Page({"page", "Ann Archer Pager", "to the outbox", "--profile", "Office"}).code, 0);

    const auto received = server.Messages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].recipients, std::vector<std::string>{"5551234@pager.example.org"});
    EXPECT_NE(received[0].data.find("\r\n\r\nover SMTP\r\n"), std::string::npos);
    const auto outbox = mail.OutboxMessages();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_NE(outbox[0].find("to the outbox"), std::string::npos);
}

TEST_F(CliPage, ARefusingServerIsAFailure) {
    SmtpTestServer::Options options;
    options.mode = "refuse-recipient";
    SmtpTestServer server(options);
    ASSERT_TRUE(server.Started());
    mail.UseProfile("Smtp", testing_support::SmtpTransport(server.Url()));
    const Outcome r = Page({"page", "Ann Archer Pager", "x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "orvane: A reminder page could not be sent.  An unspecified error was received.\n");
}

TEST_F(CliPage, RefusesWrongUsage) {
    for (const cli::Args& args : std::vector<cli::Args>{{"page"},
                                                        {"page", "Ann Archer Pager"},
                                                        {"page", "", "x"},
                                                        {"page", "a", "b", "c"},
                                                        {"page", "a", "b", "--profile"},
                                                        {"page", "a", "b", "--colour", "red"}}) {
        const Outcome r = Page(args);
        EXPECT_EQ(r.code, 2) << args.size();
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_TRUE(mail.OutboxMessages().empty());
    EXPECT_NE(cli::HelpText().find("page PAGER-NAME TEXT [--profile NAME]"), std::string::npos);
}

// The demo followed by a test page: the page reaches the demo's outbox.
TEST(CliPageDemo, PagesADemoPager) {
    MailFixture::RemoveProfiles();
    TempDir dir;
    const std::string demo = dir.File("demo");
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"demo", "init", demo}, out, err), 0) << err.str();
    const Outcome r = Page({"page", "Alice Archer (Pager)", "A test page"});
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<std::string> pages;
    for (const auto& file : std::filesystem::directory_iterator(demo + "/mail/outbox"))
        pages.push_back(testing_support::ReadFile(file.path().string()));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NE(pages[0].find("<5550101@pager.demo.orvane.example>"), std::string::npos) << pages[0];
    EXPECT_NE(pages[0].find("\r\n\r\nA test page\r\n"), std::string::npos);
}

TEST_F(CliPage, SendsThroughAWebServiceAndTellsItsRefusal) {
    testing_support::HttpScriptServer server;
    ASSERT_TRUE(server.Started());
    mail.Add({"Ann Phone", "/o=Quorvik/cn=aarcher-phone", "", "", "ann-phone"});
    mail.UseProfile("Phones", testing_support::WebTransport(server.Url(), mail::WebFormat::Ntfy,
                                                            "tk_Secret99"));
    Outcome r = Page({"page", "Ann Phone", "a test page"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "page sent to Ann Phone\n");
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("POST /ann-phone HTTP/1.1\r\n", 0), 0u) << requests[0];
    EXPECT_NE(requests[0].find("\r\nTitle: Orvane\r\n"), std::string::npos) << requests[0];
    EXPECT_NE(requests[0].find("\r\n\r\na test page"), std::string::npos) << requests[0];

    testing_support::HttpAnswer refusal;
    refusal.status = 403;
    refusal.reason = "Forbidden";
    refusal.body = "{\"error\":\"forbidden\"}";
    server.Script({refusal});
    r = Page({"page", "Ann Phone", "a test page"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "orvane: A reminder page could not be sent.  An unspecified error was "
                     "received.  The web service at " +
                         server.Url() +
                         " refused the token: 403 Forbidden ({\"error\":\"forbidden\"}).\n");
    EXPECT_EQ(r.err.find("tk_Secret99"), std::string::npos);

    // A pager entry whose address is no topic is refused before anything is sent.
    r = Page({"page", "Ann Archer Pager", "x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("is not an ntfy topic"), std::string::npos) << r.err;
    EXPECT_EQ(server.Requests().size(), 2u);
}
