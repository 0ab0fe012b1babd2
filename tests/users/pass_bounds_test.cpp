// The passes' bound on one tick, on a clock the tests control: the scan pass takes new users only
// while it is within "ScanMillisecondsPerTick" and leaves the rest, in order, to the next ticks;
// scans spread out and stay spread; a page due meanwhile goes out in its own tick; the
// out-of-office pass reads its users over the ticks of a round while it is within its time and
// starts the next a minute after the last began.
#include "core/Clock.h"
#include "core/Settings.h"
#include "core/StatusText.h"
#include "outlook/automation/ComRuntime.h"
#include "outlook/automation/Faults.h"
#include "outlook/automation/OutlookDispIds.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

using namespace testing_support;
using automation::CallRecorder;
using automation::ObjectKind;

namespace {

// Monday 1 June 2026, 09:00 UTC.
const CTime kStart(2026, 6, 1, 9, 0, 0);

std::string Name(int i) {
    return "u" + std::to_string(i);
}
std::string Dn(const std::string& name) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + name;
}
std::string Store(const std::string& server) {
    return "/o=Quorvik/ou=Site/cn=Configuration/cn=Servers/cn=" + server +
           "/cn=Microsoft Private MDB";
}

// An appointment that starts `startOffset` seconds after kStart (even, as Outlook's dates go in
// two-second steps) with a reminder `lead` minutes before: its page falls due at
// kStart + startOffset - lead minutes - 60 s.
std::string Appointment(const std::string& uid, int startOffset, int lead,
                        const std::string& subject) {
    const CTime start = kStart + CTimeSpan(startOffset);
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + subject +
           "\r\nDTSTART:" + start.FormatGmt("%Y%m%dT%H%M%SZ") +
           "\r\nDTEND:" + (start + CTimeSpan(1800)).FormatGmt("%Y%m%dT%H%M%SZ") +
           "\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT" + std::to_string(lead) +
           "M\r\nEND:VALARM\r\nEND:VEVENT\r\n";
}
std::string Calendar(const std::string& events) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\n" + events +
           "END:VCALENDAR\r\n";
}

// Records which mailboxes the Outlook session opens, and lets each scan take `cost` ms.
class TimedScans : public IStatusText {
public:
    TimedScans() : m_previous(SetStatusText(this)) {}
    ~TimedScans() override { SetStatusText(m_previous); }
    void SetMessageText(const CString& text) override {
        if (text.rfind("EX:" + Dn(""), 0) == 0) {
            opened.push_back(text.substr(3 + Dn("").size()));
            Clock::AdvanceMilliseconds(cost);
        }
    }
    int64_t cost = 40;
    std::vector<std::string> opened; // user names, in order

private:
    IStatusText* m_previous;
};

class PassBounds : public testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    MailFixture mail;
    CapturedEvents events;
    CUserList users;
    size_t automationObjects = automation::LiveObjects();

    void SetUp() override {
        mail.UseProfile("Bounds");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Bounds");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, "0");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kEndHour, "24");
        SetLimit(Settings::kScanMillisecondsPerTickDefault);
        Clock::Freeze(kStart);
    }
    void TearDown() override {
        EXPECT_EQ(users.OutlookOLE, nullptr);
        users.DeleteAllUsers();
        EXPECT_EQ(automation::LiveObjects(), automationObjects);
        EXPECT_TRUE(events.Texts().empty()) << events.Texts().front();
    }

    static void SetLimit(const char* milliseconds) {
        Settings::WriteProfileString(Settings::kPreferences, Settings::kScanMillisecondsPerTick,
                                     milliseconds);
    }

    // A user with a mailbox (on `server`, out of office when `out`), a pager entry and a
    // calendar holding `events`.
    UserlistStru* Add(const std::string& name, const std::string& server = "MAIL-A",
                      int pageOnlyOOF = 0, bool out = false, const std::string& events = "") {
        mail.Add({name, Dn(name), Store(server), name, ""}, std::string(out ? "out\n" : "in\n"));
        mail.Add({name + " (Pager)", Dn(name) + "-pager", "", "", name + "@pager.example.org"});
        WriteFile(mail.MailboxDirectory(name) + "/calendar.ics", Calendar(events));
        UserlistStru* u = users.CreateUser();
        u->DisplayName = name;
        u->MailboxName = Dn(name);
        u->Server = Store(server);
        u->PagerName = name + " (Pager)";
        u->PageOnlyOOF = pageOnlyOOF;
        u->ScanInterval = 15;
        return u;
    }
    // `count` users named `prefix` + u0, u1, ... (names stay unique within the mail system).
    std::vector<UserlistStru*> AddUsers(int count, const std::string& prefix = "") {
        std::vector<UserlistStru*> added;
        for (int i = 0; i < count; ++i)
            added.push_back(Add(prefix + Name(i)));
        return added;
    }

    // One monitoring cycle's passes, in their order.
    void Tick() {
        users.UpdateOOFFlags();
        users.UpdateReminders();
        users.ProcessReminders();
    }
};

} // namespace

TEST_F(PassBounds, HowManyUsersATickTakes) {
    const struct {
        const char* limit;
        int64_t cost; // ms a scan takes
        size_t first; // users scanned by the first pass
    } rows[] = {
        {"100", 40, 3},               // before the 4th, 120 ms have passed
        {"100", 0, 9},                // scans that take no time: everyone
        {"100", 150, 1},              // the first is always taken, and finished
        {"250", 100, 3}, {"0", 0, 1}, // one a tick
        {"abc", 0, 1},
    };
    int rowNumber = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.limit) + " ms, scans of " + std::to_string(row.cost));
        users.DeleteAllUsers();
        Clock::Freeze(kStart);
        SetLimit(row.limit);
        AddUsers(9, "r" + std::to_string(rowNumber++) + "-");
        TimedScans scans;
        scans.cost = row.cost;
        CallRecorder calls;
        EXPECT_EQ(users.UpdateReminders(), 1);
        EXPECT_EQ(scans.opened.size(), row.first);
        EXPECT_EQ(calls.Count(ObjectKind::NameSpace, outlook_id::kLogon), 1);
        EXPECT_EQ(calls.Count(ObjectKind::NameSpace, outlook_id::kLogoff), 1);
        size_t waiting = 0;
        for (const auto& u : users.Users())
            waiting += u->ScanStatus == -1 && u->NextScan == CTime(0) ? 1 : 0;
        EXPECT_EQ(waiting, 9 - row.first) << "the others stay due as they were";
    }
}

TEST_F(PassBounds, TheUsersNotReachedAreScannedAtTheNextTicksInOrder) {
    const std::vector<UserlistStru*> list = AddUsers(9);
    TimedScans scans;
    std::vector<size_t> perTick;
    std::vector<int> results;
    for (int tick = 0; tick < 4; ++tick) {
        const size_t before = scans.opened.size();
        CallRecorder calls;
        results.push_back(users.UpdateReminders());
        perTick.push_back(scans.opened.size() - before);
        EXPECT_EQ(calls.Count(ObjectKind::NameSpace, outlook_id::kLogon), tick < 3 ? 1 : 0)
            << "one session for each pass that scans, none for one that does not";
        Clock::Advance(1);
    }
    EXPECT_EQ(results, std::vector<int>({1, 1, 1, 0}));
    EXPECT_EQ(perTick, std::vector<size_t>({3, 3, 3, 0}));
    std::vector<std::string> expected;
    for (int i = 0; i < 9; ++i)
        expected.push_back(Name(i));
    EXPECT_EQ(scans.opened, expected) << "in the list's order";
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(Name(i));
        EXPECT_EQ(list[size_t(i)]->ScanStatus, 1);
        // Counted from the pass that scanned the user: one second later for each tick.
        EXPECT_EQ(list[size_t(i)]->NextScan, kStart + CTimeSpan(i / 3 + 15 * 60));
    }
}

TEST_F(PassBounds, AUserDueAgainWaitsBehindThoseStillWaiting) {
    const std::vector<UserlistStru*> list = AddUsers(9);
    list[0]->ScanInterval = 1; // due again a minute after its scan
    TimedScans scans;
    // Ticks half a minute apart: u0 is due again at the third, while u6 to u8 still wait.
    for (int tick = 0; tick < 4; ++tick) {
        users.UpdateReminders();
        Clock::Advance(30);
    }
    EXPECT_EQ(scans.opened, std::vector<std::string>(
                                {"u0", "u1", "u2", "u3", "u4", "u5", "u6", "u7", "u8", "u0"}));
    EXPECT_EQ(list[0]->NextScan, kStart + CTimeSpan(90 + 60));
}

TEST_F(PassBounds, APageDueDuringALongRoundIsSentInItsOwnTick) {
    // Pat comes first and has a page due six seconds after the start (Outlook's dates have
    // two-second steps); thirty users after pat make a first round of eleven ticks.
    UserlistStru* pat = Add("pat", "MAIL-A", 0, false, Appointment("p1", 126, 1, "Budget review"));
    AddUsers(30);
    TimedScans scans;
    std::vector<size_t> outbox, waiting;
    for (int tick = 0; tick < 12; ++tick) {
        Tick();
        outbox.push_back(mail.OutboxMessages().size());
        size_t notScanned = 0;
        for (const auto& u : users.Users())
            notScanned += u->ScanStatus == -1 ? 1 : 0;
        waiting.push_back(notScanned);
        Clock::Advance(1);
    }
    EXPECT_EQ(outbox, std::vector<size_t>({0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1}))
        << "sent by the tick at its page time";
    EXPECT_GT(waiting[6], 0u) << "while the first round still goes on";
    EXPECT_EQ(waiting.back(), 0u);
    EXPECT_TRUE(pat->Reminders.IsEmpty());
    ASSERT_EQ(mail.OutboxMessages().size(), 1u);
    EXPECT_NE(mail.OutboxMessages()[0].find("09:02-09:32 Budget review"), std::string::npos);
}

TEST_F(PassBounds, ScansSpreadOverTheFirstRoundAndStaySpread) {
    struct Row {
        const char* limit;
        size_t mostInATick;   // the most users one tick scanned, in every interval
        size_t ticksPerRound; // at least this many ticks scanned someone, in every interval
    };
    const Row rows[] = {
        {"100", 3, 10},       // 40 ms a scan: three a tick, ten ticks a round, every round
        {"100000000", 30, 1}, // unbounded: the burst comes back at every interval
    };
    int rowNumber = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.limit);
        users.DeleteAllUsers();
        Clock::Freeze(kStart);
        SetLimit(row.limit);
        AddUsers(30, "r" + std::to_string(rowNumber++) + "-");
        TimedScans scans;
        // An hour of ticks a second apart (the scans' time comes on top); scans counted per
        // interval of 15 minutes and per tick.
        std::map<int64_t, std::map<int64_t, size_t>> perIntervalAndTick;
        while (Clock::Now() < kStart + CTimeSpan(4 * 900)) {
            const size_t before = scans.opened.size();
            const int64_t second = (Clock::Now() - kStart).GetTotalSeconds();
            users.UpdateReminders();
            if (scans.opened.size() > before)
                perIntervalAndTick[second / 900][second] = scans.opened.size() - before;
            Clock::Advance(1);
        }
        ASSERT_EQ(perIntervalAndTick.size(), 4u);
        for (const auto& [interval, ticks] : perIntervalAndTick) {
            SCOPED_TRACE("interval " + std::to_string(interval));
            EXPECT_GE(ticks.size(), row.ticksPerRound);
            size_t most = 0, all = 0;
            for (const auto& [second, count] : ticks) {
                most = std::max(most, count);
                all += count;
            }
            EXPECT_EQ(most, row.mostInATick);
            EXPECT_EQ(all, 30u) << "each user once an interval";
        }
    }
}

TEST_F(PassBounds, TheOutOfOfficeRoundReadsItsUsersOverTicks) {
    // Servers A (two users), B and C, all out of office, and dee, who pages always, on a
    // Server that sorts first. With no time to spare, a tick reads one user and scans one.
    SetLimit("0");
    UserlistStru* c = Add("cy", "MAIL-C", 1, true);
    UserlistStru* a1 = Add("ann", "MAIL-A", 1, true);
    UserlistStru* b = Add("bob", "MAIL-B", 1, true);
    UserlistStru* a2 = Add("al", "MAIL-A", 1, true);
    UserlistStru* always = Add("dee", "MAIL-0", 0, true); // never read
    TimedScans scans;
    scans.cost = 0;
    const auto tick = [&](int64_t at, int oofResult) {
        SCOPED_TRACE(at);
        Clock::Freeze(kStart + CTimeSpan(at));
        EXPECT_EQ(users.UpdateOOFFlags(), oofResult);
        const size_t before = scans.opened.size();
        users.UpdateReminders();
        return std::vector<std::string>(scans.opened.begin() + long(before), scans.opened.end());
    };
    const auto out = [&] {
        std::vector<std::string> names;
        for (const auto& u : users.Users()) {
            if (u->OOFFlag)
                names.push_back(u->DisplayName);
        }
        return names;
    };

    // Every read turns a flag on, so every tick of the round changes what the view shows.
    EXPECT_EQ(tick(0, 1), std::vector<std::string>{"dee"}) << "the first in the list";
    // The list is now in Server order: dee, then A's users in the order the sort left them.
    std::vector<std::string> order;
    for (const auto& u : users.Users())
        order.push_back(u->DisplayName);
    ASSERT_EQ(order.size(), 5u);
    EXPECT_EQ(order[0], "dee");
    EXPECT_EQ(order[3], "bob");
    EXPECT_EQ(order[4], "cy");
    EXPECT_EQ(out(), std::vector<std::string>{order[1]});
    EXPECT_EQ(tick(1, 1), std::vector<std::string>{order[1]});
    EXPECT_EQ(out(), (std::vector<std::string>{order[1], order[2]})) << "A's second user";
    EXPECT_TRUE(users.OOFRoundWaiting());
    EXPECT_EQ(tick(2, 1), std::vector<std::string>{order[2]});
    EXPECT_EQ(out(), (std::vector<std::string>{order[1], order[2], "bob"}));
    EXPECT_EQ(tick(3, 1), std::vector<std::string>{"bob"}) << "the round ends with C";
    EXPECT_EQ(out(), (std::vector<std::string>{order[1], order[2], "bob", "cy"}));
    EXPECT_FALSE(users.OOFRoundWaiting());
    EXPECT_EQ(users.NextOOFCheck, kStart + CTimeSpan(60));
    EXPECT_EQ(tick(4, 0), std::vector<std::string>{"cy"});
    EXPECT_EQ(tick(59, 0), std::vector<std::string>{}) << "no round before a minute is up";

    // The next round starts a minute after the first began; ann is back in the office. Reads
    // that find a flag as it was change nothing the view shows.
    WriteFile(mail.MailboxDirectory("ann") + "/out-of-office", "in\n");
    const bool annFirst = order[1] == "ann";
    EXPECT_EQ(tick(60, annFirst ? 1 : 0), std::vector<std::string>{});
    EXPECT_EQ(tick(61, annFirst ? 0 : 1), std::vector<std::string>{});
    EXPECT_EQ(a1->OOFFlag, 0);
    EXPECT_EQ(a2->OOFFlag, 1);
    EXPECT_EQ(tick(62, 0), std::vector<std::string>{});
    EXPECT_EQ(tick(63, 1), std::vector<std::string>{}) << "the round's end";
    EXPECT_EQ(users.NextOOFCheck, kStart + CTimeSpan(120));
    EXPECT_EQ(b->OOFFlag, 1);
    EXPECT_EQ(c->OOFFlag, 1);
    EXPECT_EQ(always->OOFFlag, 0);
}

TEST_F(PassBounds, ARoundReadsUsersWhileItIsWithinItsTime) {
    // Ten users on three Servers whose reads each take 40 ms (each writes an event, as a
    // mailbox without a stored state does, and the events move the clock).
    std::vector<UserlistStru*> added;
    for (int i = 0; i < 10; ++i) {
        const std::string name = Name(i);
        mail.Add({name, Dn(name), Store("S" + std::to_string(i % 3)), name, ""});
        UserlistStru* u = users.CreateUser();
        u->DisplayName = name;
        u->MailboxName = Dn(name);
        u->Server = Store("S" + std::to_string(i % 3));
        u->PageOnlyOOF = 1;
        added.push_back(u);
    }
    int reads = 0;
    const auto previous = EventLog::SetObserver([&reads](const EventLog::Entry&) {
        ++reads;
        Clock::AdvanceMilliseconds(40);
    });
    const struct {
        const char* limit;
        std::vector<int> readsPerTick;
    } rows[] = {
        {"100", {3, 3, 3, 1}}, // 40, 80, 120 ms: the third read ends the tick's share
        {"0", std::vector<int>(10, 1)},
        {"1000", {10}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.limit);
        SetLimit(row.limit);
        Clock::Freeze(kStart);
        users.NextOOFCheck = CTime(0);
        std::vector<int> perTick;
        for (int tick = 0; tick < 20 && (tick == 0 || users.OOFRoundWaiting()); ++tick) {
            const int before = reads;
            users.UpdateOOFFlags();
            perTick.push_back(reads - before);
        }
        EXPECT_EQ(perTick, row.readsPerTick);
        EXPECT_EQ(users.NextOOFCheck, kStart + CTimeSpan(60));
    }
    EventLog::SetObserver(previous);
}

TEST_F(PassBounds, AListReplacedDuringARoundIsReadAsItIsThen) {
    SetLimit("0");
    Add("ann", "MAIL-A", 1, true);
    Add("bob", "MAIL-B", 1, true);
    Add("cy", "MAIL-C", 1, true);
    EXPECT_EQ(users.UpdateOOFFlags(), 1); // A read: ann's flag turned on
    // An accepted edit: every user afresh, as copies.
    CUserList edited;
    for (const auto& u : users.Users())
        edited.CreateUser(u.get());
    users.DeleteAllUsers();
    for (const auto& u : edited.Users())
        users.CreateUser(u.get());
    EXPECT_EQ(users.UpdateOOFFlags(), 1); // B
    EXPECT_EQ(users.UpdateOOFFlags(), 1); // C, and the round's end
    std::vector<int32_t> flags;
    for (const auto& u : users.Users())
        flags.push_back(u->OOFFlag);
    EXPECT_EQ(flags, std::vector<int32_t>({0, 1, 1})) << "ann waits for the next round";
}
