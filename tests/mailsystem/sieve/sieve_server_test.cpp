// Out-of-office states read from a real Dovecot with ManageSieve on loopback: each front end's
// scripts on and off, dates around their edges in the server's zone, includes, inactive and
// missing scripts, damaged ones; refused logins, a server that is down, silent or speaks another
// protocol; and the connection kept between checks.
#include "core/Clock.h"
#include "mailsystem/sieve/SieveOutOfOffice.h"
#include "support/DovecotTestServer.h"
#include "support/SieveScripts.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace mail::sieve;
using testing_support::DovecotTestServer;
using namespace testing_support::sieve_scripts;

constexpr int kUsers = 24;

std::string User(int i) {
    return "user" + std::to_string(i);
}

// One Dovecot for the whole program, trusted through the test CA.
class DovecotEnvironment : public testing::Environment {
public:
    static DovecotTestServer* server;
    void SetUp() override {
        std::vector<std::string> users;
        for (int i = 0; i < kUsers; ++i)
            users.push_back(User(i));
        server = new DovecotTestServer(users);
        setenv("ORVANE_SIEVE_CA_FILE", server->CaFile().c_str(), 1);
    }
    void TearDown() override {
        SieveOutOfOfficeReader::CloseAll();
        delete server;
        server = nullptr;
    }
};
DovecotTestServer* DovecotEnvironment::server = nullptr;
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new DovecotEnvironment);

DovecotTestServer& Server() {
    return *DovecotEnvironment::server;
}

SieveConfig Config(const std::string& zone = "UTC") {
    SieveConfig config;
    config.url = Server().Url();
    config.user = DovecotTestServer::kMaster;
    config.password = DovecotTestServer::kMasterPassword;
    config.zone = zone;
    return config;
}

void FreezeAt(const char* iso) {
    int64_t instant = 0;
    ASSERT_TRUE(ReadDateTime(iso, Zone::Fixed(0), instant)) << iso;
    Clock::Freeze(CTime(static_cast<int32_t>(instant)));
}

struct Row {
    const char* what;
    std::vector<std::pair<std::string, std::string>> scripts;
    const char* active; // "" for none
    const char* now;    // UTC
    const char* zone;   // the server's, as the profile names it
    bool out;
    const char* expected; // a part of the reason, or of the error when `fails`
    bool fails = false;
    const char* script = ""; // the script that decided, when one rule did
};

TEST(SieveServerTest, EachUsersScriptsDecideTheirState) {
    ASSERT_TRUE(Server().Started());
    const char* eve = "2026-12-24T12:00:00Z";
    const Row rows[] = {
        {"Roundcube, on", {{"roundcube", kRoundcube}}, "roundcube", eve, "UTC", true,
         "\"Christmas away\" (Roundcube, line 3) of the script \"roundcube\" answers every "
         "message arriving now, within its dates",
         false, "roundcube"},
        {"Roundcube, a second before the first day in +0100", {{"roundcube", kRoundcube}},
         "roundcube", "2026-12-23T22:59:59Z", "UTC", false, "does not hold now", false,
         "roundcube"},
        {"Roundcube, its first second", {{"roundcube", kRoundcube}}, "roundcube",
         "2026-12-23T23:00:00Z", "America/New_York", true, "within its dates", false,
         "roundcube"},
        {"Roundcube, the second after the last day", {{"roundcube", kRoundcube}}, "roundcube",
         "2027-01-06T23:00:00Z", "UTC", false, "does not hold now", false, "roundcube"},
        {"Roundcube, switched off", {{"roundcube", kRoundcubeOff}}, "roundcube", eve, "UTC",
         false, "switched off with \"false\" on line 3", false, "roundcube"},
        {"SOGo in New York, before", {{"sogo", kSogo}}, "sogo", "2026-12-24T04:59:59Z",
         "America/New_York", false, "(2026-12-23T23:59:59-05:00)", false, "sogo"},
        {"SOGo in New York, from", {{"sogo", kSogo}}, "sogo", "2026-12-24T05:00:00Z",
         "America/New_York", true, "(SOGo, line 2)", false, "sogo"},
        {"SOGo switched off", {{"sogo", kFilters}}, "sogo", eve, "UTC", false,
         "SOGo leaves a switched-off vacation out"},
        {"Nextcloud, on in any server zone", {{"nextcloud", kNextcloud}}, "nextcloud",
         "2026-12-23T23:00:00Z", "Asia/Kolkata", true, "\"Vacation Responder\" (Nextcloud Mail",
         false, "nextcloud"},
        {"Nextcloud, switched off", {{"nextcloud", kNextcloudOff}}, "nextcloud", eve, "UTC",
         false, "Nextcloud Mail's vacation responder is switched off"},
        {"SnappyMail/RainLoop", {{"rainloop.user", RainLoop()}}, "rainloop.user", eve, "UTC",
         true, "\"Holiday reply\" (SnappyMail/RainLoop", false, "rainloop.user"},
        {"Horde, for messages not from lists", {{"ingo", kHorde}}, "ingo", eve, "UTC", true,
         "answers messages arriving now that pass its tests", false, "ingo"},
        {"an included vacation",
         {{"main", "require \"include\";\ninclude :personal \"roundcube\";\nkeep;\n"},
          {"roundcube", kRoundcube}},
         "main", eve, "UTC", true, "of the script \"roundcube\"", false, "roundcube"},
        {"a vacation in a script that is not active",
         {{"roundcube", kRoundcube}, {"filters", kFilters}}, "filters", eve, "UTC", false,
         "The script \"filters\" has no vacation rule."},
        {"scripts but none active", {{"roundcube", kRoundcube}}, "", eve, "UTC", false,
         "No Sieve script is active"},
        {"a user without scripts", {}, "", eve, "UTC", false, "No Sieve script is active"},
        {"a damaged script", {{"main", kDamaged}}, "main", eve, "UTC", false,
         "is damaged on line 3: a string begun on line 3 is never closed", true},
        {"a missing include", {{"main", "require \"include\";\ninclude \"gone\";\n"}}, "main",
         eve, "UTC", false, "it includes \"gone\", which the server does not have", true},
    };
    ASSERT_LE(std::size(rows), static_cast<size_t>(kUsers));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        const std::string user = User(static_cast<int>(i));
        for (const auto& [name, text] : row.scripts)
            Server().PutScript(user, name, text);
        Server().Activate(user, row.active);
        FreezeAt(row.now);
        SieveOutOfOfficeReader reader(Config(row.zone));
        Verdict verdict;
        std::string error;
        const bool read = reader.Read(user, verdict, error);
        ASSERT_EQ(read, !row.fails) << row.what << ": " << error;
        if (row.fails) {
            EXPECT_NE(error.find(row.expected), std::string::npos) << row.what << ": " << error;
            EXPECT_NE(error.find(" of " + user + " on " + Server().Url().substr(0)),
                      std::string::npos)
                << row.what << ": " << error;
            continue;
        }
        EXPECT_EQ(verdict.out, row.out) << row.what << ": " << verdict.reason;
        EXPECT_NE(verdict.reason.find(row.expected), std::string::npos)
            << row.what << ": " << verdict.reason;
        EXPECT_EQ(verdict.script, *row.script ? row.script : row.active) << row.what;
    }
}

TEST(SieveServerTest, RefusedLoginsFailThatUserAloneOrEveryoneForAWhile) {
    ASSERT_TRUE(Server().Started());
    FreezeAt("2026-12-24T12:00:00Z");
    Server().PutScript(User(20), "roundcube", kRoundcube);
    Server().Activate(User(20), "roundcube");
    Verdict verdict;
    std::string error;

    // A user the server does not know: only that check fails.
    SieveOutOfOfficeReader reader(Config());
    EXPECT_FALSE(reader.Read("ghost", verdict, error));
    EXPECT_NE(error.find("The Sieve server " + Server().Url() +
                         " refused to log in orvane as ghost: Authorization failed"),
              std::string::npos)
        << error;
    ASSERT_TRUE(reader.Read(User(20), verdict, error)) << error;
    EXPECT_TRUE(verdict.out);

    // A wrong master password: every user's check fails with the same words, the next ones at
    // once for 30 seconds, and then the server is asked again.
    SieveConfig wrong = Config();
    wrong.password = "not the master password";
    SieveOutOfOfficeReader refused(wrong);
    EXPECT_FALSE(refused.Read(User(20), verdict, error));
    EXPECT_NE(error.find("refused to log in orvane as " + User(20) + ": Authentication failed"),
              std::string::npos)
        << error;
    EXPECT_EQ(error.find(wrong.password), std::string::npos);
    const auto before = SieveOutOfOfficeReader::TotalStats();
    std::string again;
    EXPECT_FALSE(refused.Read(User(21), verdict, again));
    EXPECT_EQ(again, error);
    EXPECT_EQ(SieveOutOfOfficeReader::TotalStats().connections, before.connections);
    Clock::Advance(31);
    EXPECT_FALSE(refused.Read(User(21), verdict, again));
    EXPECT_EQ(SieveOutOfOfficeReader::TotalStats().connections, before.connections + 1);
}

TEST(SieveServerTest, OneConnectionIsKeptBetweenChecksOfOneServer) {
    ASSERT_TRUE(Server().Started());
    FreezeAt("2026-12-24T12:00:00Z");
    for (int i : {22, 23}) {
        Server().PutScript(User(i), "main", "require \"include\";\ninclude \"away\";\n");
        Server().PutScript(User(i), "away", kRoundcube);
        Server().Activate(User(i), "main");
    }
    SieveOutOfOfficeReader::CloseAll();
    SieveOutOfOfficeReader reader(Config());
    Verdict verdict;
    std::string error;
    auto cost = [&](const std::string& user) {
        const auto before = SieveOutOfOfficeReader::TotalStats();
        EXPECT_TRUE(reader.Read(user, verdict, error)) << error;
        EXPECT_TRUE(verdict.out) << verdict.reason;
        const auto after = SieveOutOfOfficeReader::TotalStats();
        return std::make_pair(after.connections - before.connections,
                              after.requests - before.requests);
    };
    // A new connection: STARTTLS, AUTHENTICATE, LISTSCRIPTS, GETSCRIPT twice.
    EXPECT_EQ(cost(User(22)), std::make_pair(1L, 5L));
    // The same user again on the kept connection: LISTSCRIPTS and GETSCRIPT twice.
    EXPECT_EQ(cost(User(22)), std::make_pair(0L, 3L));
    // Dovecot offers no UNAUTHENTICATE: another user means LOGOUT and a new connection.
    EXPECT_EQ(cost(User(23)), std::make_pair(1L, 6L));

    // The server ends the kept session: the next check makes a new connection, and no error.
    Server().EndSessions(User(23));
    EXPECT_EQ(cost(User(23)), std::make_pair(1L, 5L));

    // The server goes down: a check that needs a new connection fails, and so do the next
    // ones for 30 seconds, at once; afterwards the server is asked again.
    Server().Stop();
    std::string down;
    EXPECT_FALSE(reader.Read(User(22), verdict, down));
    EXPECT_NE(down.find("cannot be reached: connection refused"), std::string::npos) << down;
    ASSERT_TRUE(Server().Restart()) << Server().Log();
    EXPECT_FALSE(reader.Read(User(22), verdict, error));
    EXPECT_EQ(error, down);
    Clock::Advance(31);
    EXPECT_EQ(cost(User(22)).first, 1L);
}

TEST(SieveServerTest, TheClientSpeaksTheProtocolWithDovecot) {
    ASSERT_TRUE(Server().Started());
    Server().PutScript(User(21), "a \"quoted\" name", "keep;\r\n");
    Server().PutScript(User(21), "second", "discard;\n");
    Server().Activate(User(21), "second");
    ManageSieveClient client(Server().Url(), "127.0.0.1", Server().Port(), true,
                             CurrentClientLimits());
    std::string error;
    ASSERT_TRUE(client.Connect(error)) << error;
    bool refused = false;
    ASSERT_TRUE(client.Authenticate(User(21), DovecotTestServer::kMaster,
                                    DovecotTestServer::kMasterPassword, error, refused))
        << error;
    EXPECT_EQ(client.AuthorizedAs(), User(21));
    std::vector<ScriptEntry> scripts;
    ASSERT_TRUE(client.ListScripts(scripts, error)) << error;
    std::vector<std::pair<std::string, bool>> seen;
    for (const ScriptEntry& s : scripts)
        seen.emplace_back(s.name, s.active);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"a \"quoted\" name", false},
                                                                {"second", true}}));
    std::string text;
    bool missing = false;
    ASSERT_TRUE(client.GetScript("a \"quoted\" name", text, missing, error)) << error;
    EXPECT_EQ(text, "keep;\r\n");
    EXPECT_FALSE(client.GetScript("none", text, missing, error));
    EXPECT_TRUE(missing);
    if (client.CanUnauthenticate()) {
        ASSERT_TRUE(client.Unauthenticate(error)) << error;
        EXPECT_TRUE(client.AuthorizedAs().empty());
    }
    client.Logout();
    EXPECT_FALSE(client.IsOpen());

    // Users log in as themselves too.
    ASSERT_TRUE(client.Connect(error)) << error;
    EXPECT_TRUE(client.Authenticate("", User(21), User(21) + "-pw", error, refused)) << error;
}

// A loopback listener that never accepts: connections are made and no greeting ever comes.
class SilentListener {
public:
    SilentListener() {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(m_fd, 8) == 0 &&
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentListener() { close(m_fd); }
    int Port() const { return m_port; }

protected:
    int m_fd = -1;
    int m_port = 0;
};

// A listener that answers every connection with an IMAP greeting, as a server on the wrong port.
class ImapListener : public SilentListener {
public:
    ImapListener() {
        m_thread = std::thread([this] {
            while (!m_stop) {
                pollfd p{m_fd, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0)
                    continue;
                const int client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
                const char greeting[] = "* OK [CAPABILITY IMAP4rev1 STARTTLS] ready\r\n";
                if (client >= 0) {
                    (void)send(client, greeting, sizeof greeting - 1, MSG_NOSIGNAL);
                    m_accepted.push_back(client);
                }
            }
        });
    }
    ~ImapListener() {
        m_stop = true;
        m_thread.join();
        for (int fd : m_accepted)
            close(fd);
    }

private:
    std::atomic<bool> m_stop{false};
    std::vector<int> m_accepted; // touched by the thread only until it is joined
    std::thread m_thread;
};

TEST(SieveServerTest, FailuresNameTheServerAndTheCause) {
    ASSERT_TRUE(Server().Started());
    FreezeAt("2026-12-24T12:00:00Z");
    setenv("ORVANE_TEST_SIEVE_TIMEOUT_MS", "1000", 1);
    SilentListener silent;
    ImapListener imap;
    struct Case {
        const char* what;
        SieveConfig config;
        const char* cause;
    };
    SieveConfig down = Config(), quiet = Config(), other = Config();
    down.url = "sieve://127.0.0.1:" + std::to_string(testing_support::FreePort());
    quiet.url = "sieve://127.0.0.1:" + std::to_string(silent.Port());
    other.url = "sieve://127.0.0.1:" + std::to_string(imap.Port());
    const Case cases[] = {
        {"a server that is down", down, " cannot be reached: connection refused."},
        {"a server that says nothing", quiet, " did not answer within 1 second."},
        {"a server that speaks IMAP", other, " sent an answer that cannot be read ("},
    };
    for (const Case& c : cases) {
        SieveOutOfOfficeReader reader(c.config);
        Verdict verdict;
        std::string error;
        EXPECT_FALSE(reader.Read(User(0), verdict, error)) << c.what;
        SieveUrl url;
        ASSERT_TRUE(ParseSieveUrl(c.config.url, url, error));
        EXPECT_EQ(error.rfind("The Sieve server " + url.server, 0), 0u) << c.what << ": " << error;
        EXPECT_NE(error.find(c.cause), std::string::npos) << c.what << ": " << error;
    }
    // A certificate the client does not trust.
    setenv("ORVANE_SIEVE_CA_FILE", "/dev/null", 1);
    SieveOutOfOfficeReader untrusted(Config());
    Verdict verdict;
    std::string error;
    EXPECT_FALSE(untrusted.Read(User(0), verdict, error));
    EXPECT_NE(error.find(" cannot be reached securely: "), std::string::npos) << error;
    setenv("ORVANE_SIEVE_CA_FILE", Server().CaFile().c_str(), 1);
    unsetenv("ORVANE_TEST_SIEVE_TIMEOUT_MS");
    SieveOutOfOfficeReader::CloseAll();

    // Without STARTTLS the same conversation runs in the clear (Dovecot allows PLAIN there
    // from loopback only, which it counts as secure).
    SieveConfig clear = Config();
    clear.startTls = false;
    Server().PutScript(User(0), "roundcube", kRoundcube);
    Server().Activate(User(0), "roundcube");
    SieveOutOfOfficeReader inTheClear(clear);
    ASSERT_TRUE(inTheClear.Read(User(0), verdict, error)) << error;
    EXPECT_TRUE(verdict.out);
}

} // namespace
