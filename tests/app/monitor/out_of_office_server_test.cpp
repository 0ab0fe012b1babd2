// End to end over a real Dovecot with ManageSieve on loopback: a profile that reads out-of-office
// states from Sieve vacation rules, the monitor's cycle with the real passes through Extended MAPI
// and the out-of-office check, the "Office Flag" the monitor shows, paging only while out, and
// failures that leave a user's flag as it was with one event naming the server and the cause.
#include "app/monitor/MonitorStatus.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "mailsystem/sieve/SieveOutOfOffice.h"
#include "support/DovecotTestServer.h"
#include "support/MonitoredSetup.h"
#include "support/SieveScripts.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace testing_support;
using namespace testing_support::sieve_scripts;

namespace {

const char* const kAnn = "Ann Archer"; // out (Roundcube)
const char* const kBob = "Bob Baker";  // in (Roundcube, switched off)
const char* const kCy = "Cy Cole";     // a damaged script
const char* const kDee = "Dee Drake";  // pages always; never read
const char* const kEve = "Eve Early";  // out (Nextcloud Mail)

// One Dovecot for the whole program, its users named by the mailboxes' folders.
class DovecotEnvironment : public testing::Environment {
public:
    static DovecotTestServer* server;
    void SetUp() override {
        std::vector<std::string> users;
        for (const char* name : {kAnn, kBob, kCy, kEve})
            users.push_back(MonitoredSetup::MailboxOf(name));
        server = new DovecotTestServer(users);
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

using FlagMap = std::map<std::string, std::string>;

// Christmas Eve 2026, UTC: within every vacation of the scripts.
CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 12, 24, hour, minute, second);
}

void SetScript(const char* user, const std::string& text) {
    const std::string login = MonitoredSetup::MailboxOf(user);
    Server().RemoveScripts(login);
    Server().PutScript(login, "main", text);
    Server().Activate(login, "main");
}

class OutOfOfficeServer : public testing::Test {
protected:
    ScopedTimeZone zone{"UTC"}; // before any time is built
    MonitoredSetup setup{At(9, 0)};
    // Every user's meeting at 09:10 with a 5-minute alarm: paged at 09:04.
    const Item meeting{"Budget review", At(9, 10), 30, 5, CTime()};

    void SetUp() override {
        ASSERT_TRUE(Server().Started());
        for (const char* name : {kAnn, kBob, kCy, kDee, kEve}) {
            // The files would say "out" for everyone: only the Sieve server decides.
            setup.AddUser(name, MonitoredSetup::MailboxOf(name) + "@pager.example.org", 15,
                          std::string(name) != kDee, "out");
            setup.WriteItems(name, {meeting});
        }
        MailFixture::UseOutOfOfficeServer("Paging",
                                          {Server().Url(), DovecotTestServer::kMaster,
                                           DovecotTestServer::kMasterPassword, true, "", "UTC"});
        SetScript(kAnn, kRoundcube);
        SetScript(kBob, kRoundcubeOff);
        SetScript(kCy, kDamaged);
        SetScript(kEve, kNextcloud);
    }
    void TearDown() override {
        mail::sieve::SieveOutOfOfficeReader::CloseAll();
        if (!Server().Started()) {
            EXPECT_TRUE(Server().Restart()) << Server().Log(); // for the tests after this one
        }
    }

    // The "Office Flag" column of every user, as the list view and `orvane status` show it.
    static std::map<std::string, std::string> OfficeFlags(TickedMonitor& monitor) {
        std::map<std::string, std::string> flags;
        for (const auto& user : monitor.LiveUsers().Users())
            flags[user->DisplayName] = status::RowOf(*user).officeFlag;
        return flags;
    }
    static std::string FlagEvent(const std::string& cause) {
        return "Unable to obtain out of office flag.  Error code 40380 was received.  " + cause;
    }
    static std::string Damaged(const char* user) {
        return "The Sieve script \"main\" of " + MonitoredSetup::MailboxOf(user) + " on " +
               Server().Url() +
               " is damaged on line 3: a string begun on line 3 is never closed with a quote.";
    }
};

} // namespace

TEST_F(OutOfOfficeServer, TheVacationRulesDecideWhoIsPagedAndAFailureLeavesTheFlag) {
    // Cy's mailbox has no folder in the mail system: with a Sieve server it needs none (the
    // mailbox would otherwise not open, and his event would say so instead).
    std::filesystem::remove_all(setup.Mail().MailboxDirectory(MonitoredSetup::MailboxOf(kCy)));
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    CapturedEvents events;

    // The first tick reads every flag: Cy's damaged script fails his check alone, with one
    // event that names the server and the cause; the users after him are read as usual.
    monitor.OnTimer();
    EXPECT_EQ(OfficeFlags(monitor),
              (FlagMap{{kAnn, "Out"}, {kBob, "In"}, {kCy, "In"}, {kDee, "N/A"}, {kEve, "Out"}}));
    EXPECT_EQ(events.Texts(), std::vector<std::string>{FlagEvent(Damaged(kCy))});
    EXPECT_EQ(monitor.scans, (std::vector<std::string>{kAnn, kDee, kEve}))
        << "only those out of office, and those who page always, are scanned";

    // Paged at 09:04: only the users who are out, and Dee.
    while (Clock::Now() <= At(9, 4, 30)) {
        Clock::Advance(1);
        monitor.OnTimer();
    }
    std::vector<std::string> paged = monitor.With(PageOutcome::Sent);
    std::sort(paged.begin(), paged.end());
    const std::string text = MonitoredSetup::TextOf(meeting);
    EXPECT_EQ(paged, (std::vector<std::string>{std::string(kAnn) + ": " + text,
                                               std::string(kDee) + ": " + text,
                                               std::string(kEve) + ": " + text}));
    // One round a minute: Cy's failure is written once each round, never more.
    EXPECT_EQ(events.Texts().size(), 5u) << "rounds at 09:00, 09:01, 09:02, 09:03 and 09:04";

    // Eve's script breaks while she is out: she stays out (her flag is left as it was) and
    // one event a round says why. Bob switches his vacation on and is out from the next round.
    SetScript(kEve, kDamaged);
    SetScript(kBob, kRoundcube);
    const size_t before = events.Texts().size();
    while (Clock::Now() < At(9, 5, 0)) {
        Clock::Advance(1);
        monitor.OnTimer();
    }
    EXPECT_EQ(OfficeFlags(monitor),
              (FlagMap{{kAnn, "Out"}, {kBob, "Out"}, {kCy, "In"}, {kDee, "N/A"}, {kEve, "Out"}}));
    const std::vector<std::string> texts = events.Texts();
    EXPECT_EQ(std::vector<std::string>(texts.begin() + long(before), texts.end()),
              (std::vector<std::string>{FlagEvent(Damaged(kCy)), FlagEvent(Damaged(kEve))}));
    EXPECT_EQ(monitor.scans.back(), kBob) << "scanned in the tick that found him out";
    monitor.OnDestroy();
}

TEST_F(OutOfOfficeServer, AServerThatIsDownLeavesEveryFlagAndSaysSoForEachUser) {
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    CapturedEvents events;
    monitor.OnTimer();
    ASSERT_EQ(events.Texts().size(), 1u); // Cy's script

    // The server goes down and its kept connection is lost: every flag stays as it was, and
    // each user's check writes its own event with the server and the cause.
    Server().Stop();
    mail::sieve::SieveOutOfOfficeReader::CloseAll();
    Clock::Advance(60);
    monitor.OnTimer();
    EXPECT_EQ(OfficeFlags(monitor),
              (FlagMap{{kAnn, "Out"}, {kBob, "In"}, {kCy, "In"}, {kDee, "N/A"}, {kEve, "Out"}}));
    const std::string down =
        "The Sieve server " + Server().Url() + " cannot be reached: connection refused.";
    const std::vector<std::string> texts = events.Texts();
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 1, texts.end()),
              std::vector<std::string>(4, FlagEvent(down)));

    // Back up: the next round reads the flags again once the remembered failure has passed.
    ASSERT_TRUE(Server().Restart()) << Server().Log();
    SetScript(kAnn, kRoundcubeOff);
    Clock::Advance(60);
    monitor.OnTimer();
    EXPECT_EQ(OfficeFlags(monitor),
              (FlagMap{{kAnn, "In"}, {kBob, "In"}, {kCy, "In"}, {kDee, "N/A"}, {kEve, "Out"}}));
    EXPECT_EQ(events.Texts().back(), FlagEvent(Damaged(kCy)));
    monitor.OnDestroy();
}

TEST_F(OutOfOfficeServer, WithNoTimeToSpareARoundReadsOneUserATickAndGoesOnBetweenTicks) {
    // The frozen clock's steady reading stands still: 0 ms lets a pass read exactly one user.
    Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick, "0");
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    CapturedEvents events;
    const auto out = [&] {
        int n = 0;
        for (const auto& user : monitor.LiveUsers().Users())
            n += user->PageOnlyOOF && user->OOFFlag;
        return n;
    };
    const auto before = mail::sieve::SieveOutOfOfficeReader::TotalStats();
    monitor.OnTimer();
    EXPECT_EQ(out(), 1) << "Ann alone read in the tick";
    EXPECT_EQ(monitor.scans, std::vector<std::string>{kAnn});
    EXPECT_TRUE(monitor.LiveUsers().OOFRoundWaiting());
    int passes = 0;
    while (monitor.OnBetweenTicks(900) && passes < 20)
        ++passes;
    EXPECT_FALSE(monitor.LiveUsers().OOFRoundWaiting());
    EXPECT_EQ(out(), 2) << "Ann and Eve";
    // Bob, Cy and Eve a pass each, the round first; then Dee's scan and Eve's, the last of
    // which reports nothing left.
    EXPECT_EQ(passes, 4);
    EXPECT_EQ(monitor.scans, (std::vector<std::string>{kAnn, kDee, kEve}));
    const auto after = mail::sieve::SieveOutOfOfficeReader::TotalStats();
    EXPECT_EQ(after.connections - before.connections, 4) << "one login per user";
    EXPECT_EQ(events.Texts().size(), 1u);
    monitor.OnDestroy();
}
