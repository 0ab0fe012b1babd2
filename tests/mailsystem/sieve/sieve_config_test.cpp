// The Sieve server settings alone: URLs, the check of a whole configuration, how it is shown
// (never with its password), and users' logins from the template.
#include "mailsystem/sieve/SieveOutOfOffice.h"

#include <gtest/gtest.h>

namespace {

using namespace mail::sieve;

TEST(SieveConfigTest, UrlsReadOrRefused) {
    struct Row {
        const char* url;
        const char* server; // "" when refused
        const char* host;
        int port;
    };
    const Row rows[] = {
        {"sieve://mail.example.com", "sieve://mail.example.com:4190", "mail.example.com", 4190},
        {"sieve://mail.example.com:2000", "sieve://mail.example.com:2000", "mail.example.com",
         2000},
        {"sieve://127.0.0.1:4190/", "sieve://127.0.0.1:4190", "127.0.0.1", 4190},
        {"sieve://[::1]:4190", "sieve://[::1]:4190", "::1", 4190},
        {"SIEVE://Mail.Example.com", "sieve://mail.example.com:4190", "mail.example.com", 4190},
        {"imap://mail.example.com", "", "", 0},
        {"sieve://", "", "", 0},
        {"sieve://admin@mail.example.com", "", "", 0},
        {"sieve://mail.example.com/scripts", "", "", 0},
        {"sieve://mail.example.com?x=1", "", "", 0},
        {"sieve://mail.example.com:0", "", "", 0},
        {"sieve://mail.example.com:99999", "", "", 0},
        {"mail.example.com", "", "", 0},
    };
    for (const Row& row : rows) {
        SieveUrl url;
        std::string error;
        const bool read = ParseSieveUrl(row.url, url, error);
        EXPECT_EQ(read, *row.server != '\0') << row.url << ": " << error;
        if (read) {
            EXPECT_EQ(url.server, row.server);
            EXPECT_EQ(url.host, row.host);
            EXPECT_EQ(url.port, row.port);
        } else {
            EXPECT_NE(error.find(row.url), std::string::npos) << error;
        }
    }
}

SieveConfig Config(const std::string& url, const std::string& user, const std::string& login = "",
                   const std::string& zone = "", bool startTls = true) {
    SieveConfig config;
    config.url = url;
    config.user = user;
    config.password = "s3cret";
    config.login = login;
    config.zone = zone;
    config.startTls = startTls;
    return config;
}

TEST(SieveConfigTest, ConfigurationsCheckedShownAndTurnedIntoLogins) {
    const std::string kUrl = "sieve://mail.example.com";
    struct Row {
        SieveConfig config;
        const char* problem; // a part of the sentence; "" when fine
        const char* shown;
    };
    const Row rows[] = {
        {{}, "", ""},
        {Config("", "orvane"), "no server URL", ""},
        {Config("", "", "", "", false), "no server URL", ""},
        {Config(kUrl, "orvane"), "", "sieve://mail.example.com as orvane (STARTTLS)"},
        {Config(kUrl, "orvane", "{mailbox}@example.com", "Europe/Berlin", false), "",
         "sieve://mail.example.com as orvane (no TLS), logins {mailbox}@example.com, zone "
         "Europe/Berlin"},
        {Config(kUrl, ""), "needs an administrator", ""},
        {Config(kUrl, "orvane", "alice"), "has no {mailbox}", ""},
        {Config(kUrl, "orvane", "", "Mars/Olympus"), "not a known time zone", ""},
        {Config(kUrl, "orv\nane"), "control characters", ""},
        {Config("ldap://mail.example.com", "orvane"), "is not sieve://HOST", ""},
    };
    for (const Row& row : rows) {
        const std::string problem = CheckSieveConfig(row.config);
        if (*row.problem == '\0') {
            EXPECT_EQ(problem, "") << row.config.url;
            EXPECT_EQ(DescribeSieveConfig(row.config), row.shown);
            EXPECT_EQ(DescribeSieveConfig(row.config).find("s3cret"), std::string::npos);
        } else {
            EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
        }
        EXPECT_EQ(problem.find("s3cret"), std::string::npos) << problem;
    }
    SieveConfig config;
    EXPECT_EQ(LoginFor(config, "alice"), "alice");
    config.login = "{mailbox}@example.com";
    EXPECT_EQ(LoginFor(config, "alice"), "alice@example.com");
    config.login = "{mailbox}+{mailbox}";
    EXPECT_EQ(LoginFor(config, "{mailbox}"), "{mailbox}+{mailbox}"); // replaced once, not again
}

} // namespace
