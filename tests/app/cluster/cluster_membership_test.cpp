// A monitor's membership of a cluster, piece by piece against the real etcd: which cluster the
// options and settings name, the page gate over claims and records, and the shared user list.
#include "ClusterTestSupport.h"
#include "app/cluster/ClusterNode.h"
#include "app/cluster/ClusterSetup.h"
#include "app/cluster/ClusterUsers.h"
#include "core/CTime.h"
#include "core/Settings.h"
#include "paging/CRemList.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace testing_support;

namespace cluster {
namespace {

TEST(ClusterConfig, OptionsOverSettingsAndClearReasonsForWhatCannotBeUsed) {
    TempDir dir;
    WriteFile(dir.File("password"), "s3cret pass\r\nsecond line\n");
    WriteFile(dir.File("empty"), "\n");
    WriteFile(dir.File("credentials-etcd"), "from systemd\n");
    setenv("CREDENTIALS_DIRECTORY", dir.Path().c_str(), 1);
    const std::string password = dir.File("password"), empty = dir.File("empty");
    const struct {
        const char* why;
        ClusterOptions options;
        const char* cluster; // settings
        const char* user;
        const char* passwordFile;
        bool ok;
        bool joined;
        std::string want; // ok: the user and password as "user:password"; else part of the error
    } rows[] = {
        {"nothing named", {}, "", "", "", true, false, ""},
        {"the setting", {}, "etcd://10.0.0.1:2379,10.0.0.2/site", "", "", true, true, ":"},
        {"an empty option turns the setting off",
         {std::string(), {}, {}},
         "etcd://10.0.0.1/site",
         "",
         "",
         true,
         false,
         ""},
        {"user and password file",
         {},
         "etcd://h/p",
         "orvane",
         password.c_str(),
         true,
         true,
         "orvane:s3cret pass"},
        {"options over settings",
         {std::string("etcd://h/p"), std::string("other"), password},
         "etcd://x/y",
         "orvane",
         "/nonexistent",
         true,
         true,
         "other:s3cret pass"},
        {"a systemd credential",
         {},
         "etcd://h/p",
         "orvane",
         "credential:credentials-etcd",
         true,
         true,
         "orvane:from systemd"},
        {"a URL of another scheme, from the option",
         {std::string("http://h:2379/p"), {}, {}},
         "",
         "",
         "",
         false,
         false,
         "The cluster named by --cluster cannot be used: "},
        {"a URL without a prefix, from the setting",
         {},
         "etcd://h:2379",
         "",
         "",
         false,
         false,
         "named by the setting Cluster of Preferences cannot be used"},
        {"a user without a password",
         {},
         "etcd://h/p",
         "orvane",
         "",
         false,
         false,
         "The cluster user orvane is given without a password"},
        {"a password without a user",
         {},
         "etcd://h/p",
         "",
         password.c_str(),
         false,
         false,
         "but no user"},
        {"a password file that is missing",
         {},
         "etcd://h/p",
         "u",
         "/nonexistent/pw",
         false,
         false,
         "the password file /nonexistent/pw cannot be read"},
        {"a password file with an empty first line",
         {},
         "etcd://h/p",
         "u",
         empty.c_str(),
         false,
         false,
         "has an empty first line"},
        {"a credential that is not there",
         {},
         "etcd://h/p",
         "u",
         "credential:missing",
         false,
         false,
         "missing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        Settings::WriteProfileString(Settings::kPreferences, kClusterSetting, row.cluster);
        Settings::WriteProfileString(Settings::kPreferences, kClusterUserSetting, row.user);
        Settings::WriteProfileString(Settings::kPreferences, kClusterPasswordFileSetting,
                                     row.passwordFile);
        std::optional<ClientConfig> config;
        std::string error;
        EXPECT_EQ(ChooseClusterConfig(row.options, config, error), row.ok) << error;
        EXPECT_EQ(config.has_value(), row.joined);
        if (row.ok && config) {
            EXPECT_EQ(config->user + ":" + config->password, row.want);
        }
        if (!row.ok) {
            EXPECT_NE(error.find(row.want), std::string::npos) << error;
            EXPECT_EQ(error.find("s3cret"), std::string::npos) << "never the password";
        }
    }
    unsetenv("CREDENTIALS_DIRECTORY");
}

class Membership : public testing::Test {
protected:
    void SetUp() override {
        auto* etcd = EtcdClusterEnvironment::Cluster();
        ASSERT_NE(etcd, nullptr);
        config = cluster_test::ConfigFor(*etcd);
    }
    Node::Options NodeOptions(const std::string& name) {
        Node::Options options;
        options.candidate = name;
        options.maybeSentAfterMs = 40000;
        options.unixMs = [this] { return nowMs; };
        return options;
    }
    // Steps both until `leader` leads and `other` stands by.
    void Lead(Node& leader, Node& other) {
        ASSERT_TRUE(cluster_test::WaitFor(
            [&] { return leader.Step() == Role::Active && other.Step() == Role::Standby; },
            std::chrono::seconds(30)));
    }
    static ReminderStru Reminder(const char* text) {
        ReminderStru r;
        r.PageTime = r.StartTime = r.EndTime = CTime(2026, 6, 3, 9, 4, 0); // a task's
        r.Text = text;
        r.TimeKey = "0904";
        return r;
    }
    static PageDescription Page(const char* text) {
        return DescribePage("Ann Archer", "aarcher", "Ann Archer (Pager)", Reminder(text));
    }

    ScopedTimeZone zone{"UTC"};
    ClientConfig config;
    int64_t nowMs = 1780477440000; // 2026-06-03 09:04:00 UTC, the pages' time: their records
                                   // are kept until 09:06
};

TEST_F(Membership, OnlyTheLeaderClaimsAndANewOneSkipsWhatWasSentAndWaitsOnWhatMayBe) {
    CapturedEvents events;
    Node a(config, NodeOptions("a"));
    Node b(config, NodeOptions("b"));
    Lead(a, b);
    const CTime now(nowMs / 1000);
    using V = IPageGate::Verdict;
    EXPECT_EQ(b.Claim(Page("sent"), now), V::Stop) << "a standby claims nothing";
    ASSERT_EQ(a.Claim(Page("sent"), now), V::Go);
    a.Done(Page("sent"), Reminder("sent"), PageOutcome::Sent, now);
    EXPECT_EQ(a.RecordsOwed(), 0u);
    ASSERT_EQ(a.Claim(Page("in flight"), now), V::Go); // and then a stops, without a record
    ASSERT_EQ(a.Claim(Page("failed"), now), V::Go);
    a.Failed(Page("failed")); // withdrawn: the next leader sends it

    a.Resign();
    Lead(b, a);
    EXPECT_EQ(a.Claim(Page("new"), now), V::Stop) << "the old leader claims nothing";
    EXPECT_EQ(b.Claim(Page("sent"), now), V::Handled);
    EXPECT_EQ(b.Claim(Page("failed"), now), V::Go);
    EXPECT_EQ(b.Claim(Page("in flight"), now), V::Later) << "a's send may still be under way";
    EXPECT_EQ(b.Claim(Page("in flight"), now), V::Later) << "not asked again in this step";
    EXPECT_TRUE(events.Texts().empty());

    // Past the longest a send may take, a's claim is "maybe sent": paged again, with an event.
    nowMs += 41000;
    b.Step();
    EXPECT_EQ(b.Claim(Page("in flight"), now), V::Go);
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_NE(events.Texts()[0].find("was claimed by the instance a, which stopped leading before "
                                     "it recorded whether it sent it"),
              std::string::npos)
        << events.Texts()[0];

    // A record outlives the two minutes a rescan may collect the reminder again: a leader's
    // published state may still hold it, and a leader that restores it pages it late for an
    // hour (a task). Once that is over, the record is forgotten.
    nowMs += 10 * 60 * 1000;
    b.Step(); // a minute since the last: records whose reminders are over are forgotten
    EXPECT_EQ(b.Claim(Page("sent"), now), V::Handled);
    nowMs += 2 * 3600 * 1000;
    b.Step();
    EXPECT_EQ(b.Claim(Page("sent"), now), V::Go);
}

TEST_F(Membership, AClaimThatEtcdCannotAnswerStopsPagingUntilTheNextStep) {
    auto* etcd = EtcdClusterEnvironment::Cluster();
    cluster_test::RestoreCluster restore(*etcd);
    ClientConfig shortBounds = config;
    shortBounds.operationTimeoutMs = 500;
    Node a(shortBounds, NodeOptions("a"));
    ASSERT_TRUE(
        cluster_test::WaitFor([&] { return a.Step() == Role::Active; }, std::chrono::seconds(30)));
    for (int m = 0; m < etcd->Members(); ++m)
        etcd->Pause(m);
    const CTime now(nowMs / 1000);
    EXPECT_EQ(a.Claim(Page("one"), now), IPageGate::Verdict::Stop);
    const auto before = a.Client().GetStats().requests;
    EXPECT_EQ(a.Claim(Page("two"), now), IPageGate::Verdict::Stop);
    EXPECT_EQ(a.Client().GetStats().requests, before) << "no second wait in the same tick";
    for (int m = 0; m < etcd->Members(); ++m)
        etcd->Resume(m);
}

TEST_F(Membership, TheUserListIsPublishedOnceTakenByTheOthersAndAnEditMayBeOvertaken) {
    TempDir a, b;
    EtcdClient clientA(config), clientB(config);
    const std::string key = config.url.UsersKey();
    SharedUsers usersA(clientA, key, a.File(SharedUsers::kSyncFileName));
    SharedUsers usersB(clientB, key, b.File(SharedUsers::kSyncFileName));
    using O = SharedUsers::Outcome;
    std::string listA = "list of a", listB = "list of b";

    // The first instance's list becomes the shared one; the second takes it.
    EXPECT_EQ(usersA.Sync([&] { return listA; }).outcome, O::Published);
    SharedUsers::Result r = usersB.Sync([&] { return listB; });
    ASSERT_EQ(r.outcome, O::Adopt);
    EXPECT_EQ(r.bytes, listA);
    listB = r.bytes;
    usersB.Adopted(listB);
    EXPECT_EQ(usersB.Sync([&] { return listB; }).outcome, O::InStep);
    EXPECT_EQ(usersA.Sync([&] { return listA; }).outcome, O::InStep);

    // An edit on b reaches a.
    listB = "edited on b";
    usersB.MarkEdited();
    EXPECT_EQ(usersB.Sync([&] { return listB; }).outcome, O::Published);
    r = usersA.Sync([&] { return listA; });
    ASSERT_EQ(r.outcome, O::Adopt);
    EXPECT_EQ(r.bytes, "edited on b");
    listA = r.bytes;
    usersA.Adopted(listA);

    // Two edits at once: the first written wins, the second is told it was overtaken.
    listA = "second edit on a";
    listB = "second edit on b";
    usersA.MarkEdited();
    usersB.MarkEdited();
    EXPECT_EQ(usersA.Sync([&] { return listA; }).outcome, O::Published);
    r = usersB.Sync([&] { return listB; });
    ASSERT_EQ(r.outcome, O::Overtaken);
    EXPECT_EQ(r.bytes, "second edit on a");
    listB = r.bytes;
    usersB.Adopted(listB);

    // b stops; its Users.dat is edited meanwhile (no monitor to hand the edit to): at its next
    // start the edit is published, not overwritten, since its list no longer matches the one
    // it last agreed on.
    listB = "edited while b was stopped";
    SharedUsers restarted(clientB, key, b.File(SharedUsers::kSyncFileName));
    EXPECT_EQ(restarted.Sync([&] { return listB; }).outcome, O::Published);
    r = usersA.Sync([&] { return listA; });
    ASSERT_EQ(r.outcome, O::Adopt);
    EXPECT_EQ(r.bytes, listB);

    // A start without the sync file (a new machine) takes the shared list.
    TempDir c;
    SharedUsers fresh(clientA, key, c.File(SharedUsers::kSyncFileName));
    r = fresh.Sync([] { return std::string("an old copy"); });
    ASSERT_EQ(r.outcome, O::Adopt);
    EXPECT_EQ(r.bytes, listB);
}

} // namespace
} // namespace cluster
