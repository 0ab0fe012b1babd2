// The profiles file and the outbox survive a crash at any moment and an I/O error at any call:
// the profiles are always the old set or the new one, whole; a page is in the outbox whole or not
// at all, and every page whose delivery was reported is there.
#include "mailsystem/Profiles.h"
#include "mailsystem/transport/Transport.h"
#include "support/CrashHarness.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

mail::Profiles MakeProfiles(int count, const std::string& tag) {
    mail::Profiles profiles;
    for (int i = 0; i < count; ++i) {
        mail::Profile p;
        p.name = tag + " " + std::to_string(i);
        p.mailSystem = "/srv/" + tag + "/mail" + std::to_string(i);
        if (i % 2) {
            p.transport.kind = mail::TransportConfig::Kind::Smtp;
            p.transport.url = "smtp://mail" + std::to_string(i) + ".example.com:587";
            p.transport.startTls = true;
            p.transport.user = "orvane";
            p.transport.password = " secret \"" + std::to_string(i) + "\" ";
        }
        profiles.Set(p);
    }
    return profiles;
}

std::string TextOf(const mail::Profiles& profiles) {
    std::string text, error;
    EXPECT_TRUE(profiles.Format(text, error)) << error;
    return text;
}

std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mail::OutgoingMessage Page(const std::string& text) {
    mail::OutgoingMessage m;
    m.recipients.push_back(
        {mail::OutgoingRecipient::Kind::To, "Ann Archer (Pager)", "5550101@pager.example.net"});
    m.body = text;
    return m;
}

std::unique_ptr<mail::Transport> Outbox(const std::string& directory) {
    std::string error;
    auto t = mail::Transport::Create(mail::TransportConfig{}, directory,
                                     mail::CurrentTransportLimits(), error);
    EXPECT_TRUE(t) << error;
    return t;
}

// The page numbers of the whole messages in the outbox; fails on anything else there.
std::vector<int> PagesIn(const std::string& outbox) {
    std::vector<int> pages;
    for (const std::string& name : NamesIn(outbox)) {
        if (name[0] == '.')
            continue; // a temporary file, never taken by a reader
        EXPECT_TRUE(name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0) << name;
        const std::string bytes = ReadFile(outbox + "/" + name);
        const size_t at = bytes.rfind("\r\n\r\npage ");
        EXPECT_NE(at, std::string::npos) << name << " is not a whole page";
        EXPECT_EQ(bytes.compare(bytes.size() - 2, 2, "\r\n"), 0) << name << " is cut short";
        if (at != std::string::npos)
            pages.push_back(std::stoi(bytes.substr(at + 9)));
    }
    std::sort(pages.begin(), pages.end());
    return pages;
}

} // namespace

TEST(ProfilesCrash, AKillAtAnyMomentOfASaveLeavesTheOldOrTheNewProfilesWhole) {
    const mail::Profiles older = MakeProfiles(60, "old"), newer = MakeProfiles(45, "new");
    const std::string oldText = TextOf(older), newText = TextOf(newer);
    std::string error;
    ASSERT_TRUE(older.Save(error)) << error;
    const std::string path = mail::Profiles::FilePath();
    const std::string dir = path.substr(0, path.rfind('/'));
    int interrupted = 0;
    std::string reason;
    const bool ran = KillWhileSaving(
        300, 30000, 11,
        [&](int, int) {
            std::string e;
            for (int i = 0;; ++i)
                (i % 2 == 0 ? newer : older).Save(e);
        },
        [&](int round, const std::string&) {
            const std::string text = ReadFile(path);
            ASSERT_TRUE(text == oldText || text == newText) << "round " << round;
            mail::Profiles next;
            std::string e;
            ASSERT_TRUE(next.Load(e)) << "round " << round << ": " << e;
            EXPECT_EQ(next.All().size(), text == oldText ? 60u : 45u);
            struct stat st;
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << "the passwords became readable";
            bool left = false;
            for (const std::string& name : NamesIn(dir)) {
                if (name.rfind("Orvane-profiles.conf.tmp-", 0) == 0) {
                    left = true;
                    std::filesystem::remove(dir + "/" + name);
                }
            }
            interrupted += left;
        },
        reason);
    ASSERT_TRUE(ran) << reason;
    EXPECT_GT(interrupted, 0) << "no kill landed inside a save";
    std::filesystem::remove(path);
}

TEST(ProfilesCrash, AnIOErrorAtAnyCallOfASaveKeepsTheOldFileAndIsReported) {
    const mail::Profiles older = MakeProfiles(3, "old"), newer = MakeProfiles(2, "new");
    const std::string oldText = TextOf(older), newText = TextOf(newer);
    std::string error;
    ASSERT_TRUE(older.Save(error)) << error;
    const std::string path = mail::Profiles::FilePath();
    int calls = 0;
    {
        NthCallFailure counting(0, 0);
        ASSERT_TRUE(newer.Save(error)) << error;
        calls = counting.Calls();
    }
    ASSERT_GE(calls, 6);
    for (int e : {ENOSPC, EIO}) {
        for (int n = 1; n < calls; ++n) { // the last call closes the flushed directory
            ASSERT_TRUE(older.Save(error)) << error;
            std::string failed;
            error.clear();
            bool saved;
            {
                NthCallFailure failing(n, e);
                saved = newer.Save(error);
                failed = failing.FailedCall();
            }
            const std::string at = "call " + std::to_string(n) + " (" + failed + ")";
            EXPECT_FALSE(saved) << at;
            EXPECT_NE(error.find(std::strerror(e)), std::string::npos) << at << ": " << error;
            const std::string text = ReadFile(path);
            if (failed != "open directory" && failed != "fsync")
                EXPECT_EQ(text, oldText) << at;
            else
                EXPECT_TRUE(text == oldText || text == newText) << at;
        }
    }
    std::filesystem::remove(path);
}

TEST(OutboxCrash, AKillAtAnyMomentLeavesWholePagesAndKeepsEveryOneReportedSent) {
    TempDir dir;
    const std::string outbox = dir.File("outbox");
    ASSERT_EQ(mkdir(outbox.c_str(), 0700), 0);
    int interrupted = 0;
    std::set<int> all;
    std::string reason;
    const bool ran = KillWhileSaving(
        300, 20000, 7,
        [&](int round, int ackFd) {
            auto transport = Outbox(outbox);
            for (int i = 0;; ++i) {
                const int number = round * 100000 + i;
                if (transport->Deliver(Page("page " + std::to_string(number))).ok()) {
                    if (write(ackFd, &number, sizeof number) != sizeof number)
                        return;
                }
            }
        },
        [&](int round, const std::string& acks) {
            std::vector<int> reported(acks.size() / sizeof(int));
            if (!reported.empty())
                std::memcpy(reported.data(), acks.data(), reported.size() * sizeof(int));
            std::set<int> inRound;
            for (int page : PagesIn(outbox)) {
                if (page / 100000 == round) {
                    EXPECT_TRUE(inRound.insert(page).second) << page << " is there twice";
                    all.insert(page);
                }
            }
            for (int page : reported)
                EXPECT_TRUE(inRound.count(page)) << "page " << page << " was reported but lost";
            // At most the one page in flight when the kill came is there unreported.
            EXPECT_LE(inRound.size(), reported.size() + 1) << "round " << round;
            bool left = false;
            for (const std::string& name : NamesIn(outbox)) {
                if (name[0] == '.') {
                    left = true;
                    std::filesystem::remove(outbox + "/" + name);
                }
            }
            interrupted += left;
        },
        reason);
    ASSERT_TRUE(ran) << reason;
    EXPECT_GT(interrupted, 0) << "no kill landed inside a delivery";
    EXPECT_GT(all.size(), 0u);
}

TEST(OutboxCrash, AnIOErrorAtAnyCallOfADeliveryLeavesNothingAndIsToldApart) {
    TempDir dir;
    const std::string outbox = dir.File("outbox");
    ASSERT_EQ(mkdir(outbox.c_str(), 0700), 0);
    auto transport = Outbox(outbox);
    int calls = 0;
    {
        NthCallFailure counting(0, 0);
        ASSERT_TRUE(transport->Deliver(Page("page 0")).ok());
        calls = counting.Calls();
    }
    ASSERT_GE(calls, 5);
    std::filesystem::remove_all(outbox);
    ASSERT_EQ(mkdir(outbox.c_str(), 0700), 0);
    for (int e : {ENOSPC, EDQUOT, EIO}) {
        for (int n = 1; n <= calls; ++n) {
            mail::DeliveryResult result;
            std::string failed;
            {
                NthCallFailure failing(n, e);
                result = transport->Deliver(Page("page " + std::to_string(n)));
                failed = failing.FailedCall();
            }
            const std::string at = "call " + std::to_string(n) + " (" + failed + ")";
            const std::vector<std::string> names = NamesIn(outbox);
            if (result.ok()) {
                // Only the flush of the folder comes after the page has its name.
                EXPECT_TRUE(failed == "open directory" || failed == "fsync" || failed == "close")
                    << at;
                ASSERT_EQ(names.size(), 1u) << at;
                EXPECT_EQ(PagesIn(outbox), std::vector<int>{n}) << at;
                std::filesystem::remove(outbox + "/" + names[0]);
                continue;
            }
            EXPECT_EQ(result.outcome,
                      e == EIO ? mail::DeliveryOutcome::Failed : mail::DeliveryOutcome::DiskFull)
                << at << ": " << result.detail;
            EXPECT_TRUE(names.empty()) << at << ": " << (names.empty() ? "" : names[0]);
        }
    }
}
