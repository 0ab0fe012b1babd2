// The SMTP fault matrix: a page meets a server that fails at each step of the conversation in
// each way (a refusal, a dropped connection, silence), or a refused connection, or a certificate
// that fails verification. Every failed attempt writes one event and keeps the page; the page goes
// out at the first tick after the server works again; a copy is sent twice only where the server
// took the message but its reply never arrived, and this test counts those copies.
#include "core/Settings.h"
#include "paging/CMAPI.h"
#include "paging/CRemList.h"
#include "support/MailFixture.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"
#include "users/UserlistStru.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace testing_support;

namespace {

const char* const kPager = "Ann Archer (Pager)";
constexpr int kFailedTicks = 2;

class SmtpFaults : public testing::Test {
protected:
    ScopedTimeZone zone{"America/New_York"};
    MailFixture mail;
    UserlistStru user;
    CRemList list;
    CTime now{2026, 3, 2, 9, 0, 0};

    void SetUp() override {
        unsetenv(kSimpleMapiLibraryVariable);
        unsetenv("ORVANE_SMTP_CA_FILE");
        // Silence ends each attempt after 1.5 s instead of the 10 s and 30 s of production.
        setenv("ORVANE_TEST_SMTP_TIMEOUT_MS", "1500", 1);
        mail.Add({kPager, "/o=Quorvik/ou=Site/cn=Recipients/cn=aarcher-pager", "", "",
                  "5550101@pager.example.org"});
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Paging");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, "0");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kEndHour, "24");
        user.PagerName = kPager;
        list.AddReminder(now + timespans::kMinute, CTime(0), CTime(0), "02:00-03:00 Budget review");
    }
    void TearDown() override {
        unsetenv("ORVANE_TEST_SMTP_TIMEOUT_MS");
        unsetenv("ORVANE_SMTP_CA_FILE");
    }

    // One tick's paging pass for the user; the events it wrote.
    std::vector<std::string> Tick(int& left) {
        now += CTimeSpan(1);
        CapturedEvents events;
        left = list.PageReminders(now, PagingFields(user));
        user.LastPageCheck = now;
        return events.Texts();
    }

    // Ticks while the server fails, then once more after `repair`: one event and a kept page for
    // every failure, then the page sent without an event.
    void ExpectRetriedUntilSent(const std::string& name, const std::function<void()>& repair) {
        for (int i = 0; i < kFailedTicks; ++i) {
            int left = 0;
            const std::vector<std::string> events = Tick(left);
            EXPECT_EQ(left, 0) << name;
            EXPECT_EQ(list.GetCount(), 1) << name << ": the page was lost";
            EXPECT_EQ(events.size(), 1u) << name << ": one event per failed attempt";
        }
        repair();
        int left = 0;
        const std::vector<std::string> events = Tick(left);
        EXPECT_EQ(left, 1) << name;
        EXPECT_EQ(list.GetCount(), 0) << name << ": not sent once the server works";
        EXPECT_TRUE(events.empty()) << name << ": " << (events.empty() ? "" : events[0]);
    }
};

} // namespace

TEST_F(SmtpFaults, EveryFaultAtEveryStepKeepsThePageUntilTheServerWorks) {
    const struct {
        const char* fault;
        bool takenThenSilent; // the server took the message; only its reply is missing
    } rows[] = {
        {"greeting:421", false},    {"greeting:drop", false}, {"greeting:silent", false},
        {"mail:451", false},        {"mail:550", false},      {"mail:drop", false},
        {"mail:silent", false},     {"rcpt:450", false},      {"rcpt:550", false},
        {"rcpt:drop", false},       {"rcpt:silent", false},   {"data:451", false},
        {"data:554", false},        {"data:drop", false},     {"data:silent", false},
        {"dot:drop-before", false}, {"dot:451", false},       {"dot:554", false},
        {"dot:drop", true},         {"dot:silent", true},
    };
    std::string table;
    for (const auto& row : rows) {
        list.ClearList();
        list.AddReminder(now + timespans::kMinute, CTime(0), CTime(0), "02:00-03:00 Budget review");
        const auto started = std::chrono::steady_clock::now();
        ScriptedSmtpServer server(row.fault, kFailedTicks);
        ASSERT_GT(server.Port(), 0);
        mail.UseProfile("Paging", SmtpTransport(server.Url()));
        ExpectRetriedUntilSent(row.fault, [] {});
        const int duplicates = server.Taken() - 1;
        EXPECT_EQ(duplicates, row.takenThenSilent ? kFailedTicks : 0) << row.fault;
        table += std::string("  ") + row.fault + ": duplicates " + std::to_string(duplicates) +
                 " " +
                 std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - started)
                                    .count()) +
                 " ms\n";
    }
    std::printf("after %d failed attempts each:\n%s", kFailedTicks, table.c_str());
}

TEST_F(SmtpFaults, ARefusedConnectionKeepsThePageUntilAServerListens) {
    std::optional<RefusingPort> refusing(std::in_place);
    const int port = refusing->Port();
    ASSERT_GT(port, 0);
    mail.UseProfile("Paging", SmtpTransport("smtp://127.0.0.1:" + std::to_string(port)));
    std::unique_ptr<ScriptedSmtpServer> server;
    ExpectRetriedUntilSent("connection refused", [&] {
        refusing.reset();
        server = std::make_unique<ScriptedSmtpServer>("", 0, port);
    });
    ASSERT_TRUE(server);
    EXPECT_EQ(server->Taken(), 1);
}

TEST_F(SmtpFaults, AnUntrustedCertificateKeepsThePageUntilItIsTrusted) {
    TempDir keys;
    const TestCertificate certificate = MakeCertificate(keys);
    if (!certificate.ok)
        GTEST_SKIP() << "openssl cannot make a test certificate here";
    SmtpTestServer::Options options;
    options.tls = "implicit";
    options.certFile = certificate.certFile;
    options.keyFile = certificate.keyFile;
    SmtpTestServer server(options);
    ASSERT_TRUE(server.Started());
    mail.UseProfile("Paging", SmtpTransport(server.Url()));
    ExpectRetriedUntilSent("untrusted certificate",
                           [&] { setenv("ORVANE_SMTP_CA_FILE", certificate.certFile.c_str(), 1); });
    EXPECT_EQ(server.Messages().size(), 1u) << "nothing reached the server before it was trusted";
}
