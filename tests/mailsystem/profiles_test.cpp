// The profiles file: where it lives, what a save writes and a load reads back, its mode, and
// the errors a hand-edited file can give.
#include "mailsystem/Profiles.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

class ProfilesTest : public testing::Test {
protected:
    void SetUp() override { std::filesystem::remove_all(Directory()); }
    void TearDown() override { std::filesystem::remove_all(Directory()); }
    static std::string Directory() {
        return std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik";
    }
    static void WriteProfiles(const std::string& text) {
        std::filesystem::create_directories(Directory());
        WriteFile(mail::Profiles::FilePath(), text);
    }
    static mail::Profile Smtp(const std::string& name) {
        mail::Profile p;
        p.name = name;
        p.mailSystem = "/srv/mail";
        p.transport.kind = mail::TransportConfig::Kind::Smtp;
        p.transport.url = "smtp://mail.example.com:587";
        p.transport.startTls = true;
        p.transport.user = "pager";
        p.transport.password = " \"quoted\" \\ and\ttab #not a comment ";
        p.transport.sender = "orvane@example.com";
        return p;
    }
};

TEST_F(ProfilesTest, TheFileLivesInTheConfigurationDirectory) {
    EXPECT_EQ(mail::Profiles::FilePath(), Directory() + "/Orvane-profiles.conf");
    mail::Profiles profiles;
    std::string error;
    EXPECT_TRUE(profiles.Load(error)) << error; // no file: no profiles
    EXPECT_TRUE(profiles.All().empty());
    EXPECT_EQ(profiles.Find(""), nullptr);
}

TEST_F(ProfilesTest, ASaveIsReadBackWhole) {
    mail::Profiles profiles;
    profiles.Set({"Demo", "/home/ann/demo/mail", {}, {}});
    profiles.Set(Smtp("Office [main]x"));
    profiles.Set(Smtp("Office"));
    std::string error;
    EXPECT_FALSE(profiles.Save(error)); // "[" cannot be written as a section name
    EXPECT_NE(error.find("Office [main]x"), std::string::npos) << error;
    profiles.Remove("Office [main]x");
    mail::Profile secure = Smtp("Secure");
    secure.transport.url = "smtps://[2001:db8::1]:465";
    secure.transport.startTls = false;
    secure.mailSystem = "/path with spaces/mail ";
    profiles.Set(secure);
    ASSERT_TRUE(profiles.Save(error)) << error;

    mail::Profiles read;
    ASSERT_TRUE(read.Load(error)) << error;
    ASSERT_EQ(read.All().size(), 3u);
    EXPECT_EQ(read.DefaultName(), "Demo"); // the first profile became the default
    for (const mail::Profile& expected : profiles.All()) {
        SCOPED_TRACE(expected.name);
        const mail::Profile* got = read.Find(expected.name);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got->mailSystem, expected.mailSystem);
        EXPECT_EQ(got->transport.kind, expected.transport.kind);
        EXPECT_EQ(got->transport.url, expected.transport.url);
        EXPECT_EQ(got->transport.startTls, expected.transport.startTls);
        EXPECT_EQ(got->transport.user, expected.transport.user);
        EXPECT_EQ(got->transport.password, expected.transport.password);
        EXPECT_EQ(got->transport.sender, expected.transport.sender);
    }
    EXPECT_EQ(read.Find("")->name, "Demo");
}

TEST_F(ProfilesTest, TheFileIsReadableByItsOwnerOnly) {
    mail::Profiles profiles;
    profiles.Set(Smtp("Office"));
    std::string error;
    ASSERT_TRUE(profiles.Save(error)) << error;
    struct stat st;
    ASSERT_EQ(stat(mail::Profiles::FilePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Opened up by hand: the next save closes it again before writing the password.
    ASSERT_EQ(chmod(mail::Profiles::FilePath().c_str(), 0644), 0);
    ASSERT_TRUE(profiles.Save(error)) << error;
    ASSERT_EQ(stat(mail::Profiles::FilePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ProfilesTest, DefaultsFollowSetRemoveAndSetDefault) {
    mail::Profiles profiles;
    profiles.Set({"A", "/a", {}, {}});
    profiles.Set({"B", "/b", {}, {}});
    EXPECT_EQ(profiles.DefaultName(), "A");
    EXPECT_FALSE(profiles.SetDefault("C"));
    EXPECT_TRUE(profiles.SetDefault("B"));
    EXPECT_EQ(profiles.Find("")->mailSystem, "/b");
    profiles.Set({"B", "/b2", {}, {}}); // replaced in place, still the default
    EXPECT_EQ(profiles.Find("")->mailSystem, "/b2");
    EXPECT_TRUE(profiles.Remove("B"));
    EXPECT_FALSE(profiles.Remove("B"));
    EXPECT_EQ(profiles.DefaultName(), "");
    EXPECT_EQ(profiles.Find(""), nullptr);
    EXPECT_NE(profiles.Find("A"), nullptr);
}

TEST_F(ProfilesTest, MalformedFilesGiveTheLineAndTheFault) {
    const struct {
        const char* text;
        const char* says;
    } rows[] = {
        {"[A]\nmail-system = /a\ncolour = red\n", "line 3: unknown setting \"colour\""},
        {"mail-system = /a\n", "line 1: \"mail-system\" must belong to a [profile] section"},
        {"[A\nmail-system = /a\n", "line 1: a section line must end with \"]\""},
        {"[A]\nmail-system\n", "line 2: expected \"name = value\""},
        {"[A]\nmail-system = /a\n[A]\nmail-system = /b\n",
         "line 3: a second section for the profile \"A\""},
        {"[A]\nmail-system = /a\nmail-system = /b\n", "line 3: a second \"mail-system\" line"},
        {"[A]\ntransport = outbox\n", "line 1: the profile \"A\" names no mail-system directory"},
        {"[A]\nmail-system = /a\ntransport = ftp://x\n",
         "line 1: in the profile \"A\": The transport must be outbox"},
        {"[A]\nmail-system = /a\ntransport = smtps://x\nstarttls = yes\n",
         "line 1: in the profile \"A\": STARTTLS applies to smtp:// only"},
        {"[A]\nmail-system = /a\nstarttls = perhaps\n", "line 3: \"starttls\" takes yes or no"},
        {"default = B\n[A]\nmail-system = /a\n",
         "line 1: the default profile \"B\" has no section"},
        {"[A]\nmail-system = \"/a\n", "line 2: the quoted value has no closing \""},
        {"[A]\nmail-system = \"/a\\q\"\n", "line 2: unknown escape \\q"},
        {"[ A]\nmail-system = /a\n", "line 1: A profile name may not begin or end with a blank"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        WriteProfiles(row.text);
        mail::Profiles profiles;
        std::string error;
        EXPECT_FALSE(profiles.Load(error));
        EXPECT_NE(error.find(mail::Profiles::FilePath() + ", " + row.says), std::string::npos)
            << error;
        EXPECT_TRUE(profiles.All().empty());
    }
    WriteProfiles(
        "# comment\n; another\n\ndefault = A\n[A]\n  mail-system   =   /a  \ntransport=outbox\n");
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    EXPECT_EQ(profiles.Find("")->mailSystem, "/a");
}

TEST_F(ProfilesTest, WebTransportsAreReadAndWrittenWithTheirSettings) {
    WriteProfiles("[Ntfy]\nmail-system = /m\ntransport = https://ntfy.example.org/\n"
                  "transport-format = ntfy\ntransport-token = \"tk_a\\\\b\"\n"
                  "[Hook]\nmail-system = /m\ntransport = HTTP://hooks.lan:8080/x?y=1\n"
                  "transport-insecure = yes\n");
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    const mail::TransportConfig& ntfy = profiles.Find("Ntfy")->transport;
    EXPECT_EQ(ntfy.kind, mail::TransportConfig::Kind::Web);
    EXPECT_EQ(ntfy.url, "https://ntfy.example.org/");
    EXPECT_EQ(ntfy.format, mail::WebFormat::Ntfy);
    EXPECT_EQ(ntfy.token, "tk_a\\b");
    EXPECT_FALSE(ntfy.insecure);
    const mail::TransportConfig& hook = profiles.Find("Hook")->transport;
    EXPECT_EQ(hook.kind, mail::TransportConfig::Kind::Web);
    EXPECT_EQ(hook.format, mail::WebFormat::Json);
    EXPECT_TRUE(hook.insecure);
    EXPECT_EQ(hook.token, "");

    ASSERT_TRUE(profiles.Save(error)) << error;
    const std::string text = ReadFile(mail::Profiles::FilePath());
    EXPECT_NE(text.find("[Ntfy]\nmail-system = /m\ntransport = https://ntfy.example.org/\n"
                        "transport-format = ntfy\ntransport-token = tk_a\\b\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("transport = HTTP://hooks.lan:8080/x?y=1\ntransport-format = json\n"
                        "transport-insecure = yes\n"),
              std::string::npos)
        << text;
    mail::Profiles again;
    ASSERT_TRUE(again.Load(error)) << error;
    EXPECT_EQ(again.Find("Ntfy")->transport.token, "tk_a\\b");

    const struct {
        const char* text;
        const char* says;
    } rows[] = {
        {"[A]\nmail-system = /a\ntransport = https://x\ntransport-format = slack\n",
         "line 4: \"transport-format\" takes json, ntfy or gotify, not \"slack\""},
        {"[A]\nmail-system = /a\ntransport = https://x\ntransport-insecure = perhaps\n",
         "line 4: \"transport-insecure\" takes yes or no"},
        {"[A]\nmail-system = /a\ntransport = https://x\ntransport-token = a\ntransport-token = b\n",
         "line 5: a second \"transport-token\" line"},
        {"[A]\nmail-system = /a\ntransport = smtp://x\ntransport-token = a\n",
         "line 1: in the profile \"A\": A token, a format and --transport-insecure apply to a "
         "web transport"},
        {"[A]\nmail-system = /a\ntransport = http://x.example\n",
         "line 1: in the profile \"A\": Plain http:// would send the pages and the token to "
         "x.example unencrypted"},
        {"[A]\nmail-system = /a\ntransport = https://x\nuser = u\n",
         "line 1: in the profile \"A\": A web transport takes a token"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        WriteProfiles(row.text);
        mail::Profiles refused;
        EXPECT_FALSE(refused.Load(error));
        EXPECT_NE(error.find(mail::Profiles::FilePath() + ", " + row.says), std::string::npos)
            << error;
        EXPECT_EQ(error.find("transport-token = "), std::string::npos);
    }
}

TEST_F(ProfilesTest, AnOutOfOfficeServerIsReadBackWholeWithItsDefaultsLeftOut) {
    const struct {
        mail::sieve::SieveConfig server;
        std::vector<std::string> lines; // what the file holds of it
    } rows[] = {
        {{"sieve://mail.example.com", "orvane", "", true, "", ""},
         {"out-of-office = sieve://mail.example.com\nout-of-office-user = orvane\n"}},
        {{"sieve://[::1]:4190", "master", " \"s3cret\" with \\ and blanks ", false,
          "{mailbox}@example.com", "Europe/Berlin"},
         {"out-of-office-password = \" \\\"s3cret\\\" with \\\\ and blanks \"\n",
          "out-of-office-starttls = no\n", "out-of-office-login = {mailbox}@example.com\n",
          "out-of-office-zone = Europe/Berlin\n"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.server.url);
        mail::Profiles profiles;
        mail::Profile profile{"Office", "/srv/mail", {}, {}};
        profile.outOfOffice = row.server;
        profiles.Set(profile);
        profiles.Set({"Files", "/srv/mail", {}, {}});
        std::string error;
        ASSERT_TRUE(profiles.Save(error)) << error;
        const std::string text = ReadFile(mail::Profiles::FilePath());
        for (const std::string& line : row.lines)
            EXPECT_NE(text.find("\n" + line), std::string::npos) << line << text;
        if (row.server.startTls) {
            EXPECT_EQ(text.find("out-of-office-starttls"), std::string::npos) << text;
        }
        EXPECT_EQ(text.find("out-of-office", text.find("[Files]")), std::string::npos)
            << "a profile that reads the files names no server";

        mail::Profiles read;
        ASSERT_TRUE(read.Load(error)) << error;
        EXPECT_TRUE(read.Find("Office")->outOfOffice == row.server);
        EXPECT_TRUE(read.Find("Files")->outOfOffice == mail::sieve::SieveConfig{});
    }
}

TEST_F(ProfilesTest, AnOutOfOfficeServerThatCannotWorkIsRefusedOnLoadAndOnSave) {
    const std::string head = "[A]\nmail-system = /a\n";
    const struct {
        std::string text;
        const char* says;
    } rows[] = {
        {head + "out-of-office = imap://mail.example.com\nout-of-office-user = o\n",
         "line 1: in the profile \"A\": The out-of-office server \"imap://mail.example.com\" is "
         "not sieve://HOST or sieve://HOST:PORT"},
        {head + "out-of-office = sieve://u@mail.example.com\nout-of-office-user = o\n",
         "the user and password are settings of their own"},
        {head + "out-of-office = sieve://mail.example.com:0\nout-of-office-user = o\n",
         "the port must be 1 to 65535"},
        {head + "out-of-office = sieve://mail.example.com\n",
         "needs an administrator to log in as"},
        {head + "out-of-office = sieve://h\nout-of-office-user = o\nout-of-office-login = all\n",
         "The out-of-office login \"all\" has no {mailbox}"},
        {head +
             "out-of-office = sieve://h\nout-of-office-user = o\nout-of-office-zone = Mars/Base\n",
         "zone \"Mars/Base\" is not a known time zone"},
        {head + "out-of-office-user = o\n", "settings are given but no server URL"},
        // Never written without a server, so it would be lost at the next save.
        {head + "out-of-office-starttls = no\n", "settings are given but no server URL"},
        {head + "out-of-office = sieve://h\nout-of-office-starttls = perhaps\n",
         "line 4: \"out-of-office-starttls\" takes yes or no, not \"perhaps\""},
        {head + "out-of-office = sieve://h\nout-of-office = sieve://i\n",
         "line 4: a second \"out-of-office\" line"},
        {head + "out-of-office-password = \"x\ny\"\n", "line 3: the quoted value has no closing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        WriteProfiles(row.text);
        mail::Profiles profiles;
        std::string error;
        EXPECT_FALSE(profiles.Load(error));
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
        EXPECT_TRUE(profiles.All().empty());
    }

    // A profile made in code is checked before anything is written.
    std::filesystem::remove_all(Directory());
    mail::Profiles profiles;
    mail::Profile profile{"A", "/a", {}, {}};
    profile.outOfOffice.url = "sieve://mail.example.com";
    profile.outOfOffice.password = "s3cret";
    profiles.Set(profile);
    std::string error;
    EXPECT_FALSE(profiles.Save(error));
    EXPECT_NE(error.find("The profile \"A\" cannot be saved: The out-of-office server "
                         "sieve://mail.example.com:4190 needs an administrator"),
              std::string::npos)
        << error;
    EXPECT_EQ(error.find("s3cret"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(mail::Profiles::FilePath()));
}

TEST(TransportCheckTest, AcceptsOnlyCompleteSmtpUrls) {
    using Kind = mail::TransportConfig::Kind;
    const struct {
        const char* url;
        bool startTls;
        const char* user;
        const char* password;
        bool ok;
    } rows[] = {
        {"smtp://mail.example.com", false, "", "", true},
        {"smtp://mail.example.com:587/", true, "u", "p", true},
        {"SMTPS://mail.example.com:465", false, "u", "", true},
        {"smtps://[::1]:2525", false, "", "", true},
        {"smtp://", false, "", "", false},
        {"smtp://:25", false, "", "", false},
        {"smtp://host:0", false, "", "", false},
        {"smtp://host:65536", false, "", "", false},
        {"smtp://host:2x5", false, "", "", false},
        {"smtp://user:pw@host", false, "", "", false},
        {"smtp://host/path", false, "", "", false},
        {"smtp://ho st", false, "", "", false},
        {"smtps://host", true, "", "", false},
        {"smtp://host", false, "", "secret", false},
        {"http://host", false, "", "", false},
        {"smtp://[::1", false, "", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        mail::TransportConfig t{Kind::Smtp, row.url, row.startTls, row.user, row.password, ""};
        EXPECT_EQ(mail::CheckTransport(t).empty(), row.ok) << mail::CheckTransport(t);
    }
    EXPECT_EQ(mail::CheckTransport({}), "");
    EXPECT_EQ(mail::DescribeTransport({}), "outbox");
    EXPECT_EQ(mail::DescribeTransport({Kind::Smtp, "smtp://h:587", true, "u", "p", ""}),
              "smtp://h:587 (STARTTLS)");
}

} // namespace
