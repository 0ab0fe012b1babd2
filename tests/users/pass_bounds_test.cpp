// The passes' bound on one tick, on a clock the tests control: the scan pass takes new users only
// while it is within "ScanMillisecondsPerTick" and leaves the rest, in order, to the next ticks;
// scans spread out and stay spread; a page due meanwhile goes out in its own tick; the
// out-of-office pass reads its Servers over the ticks of a round and starts the next a minute
// after the last began.
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

TEST_F(PassBounds, TheOutOfOfficeRoundReadsItsServersOverTicks) {
    // Servers A (two users), B and C, all out of office, and dee, who pages always, on a
    // Server that sorts first. With no time to spare, a tick reads the one Server that its
    // share of the round asks for, and scans one user.
    SetLimit("0");
    UserlistStru* c = Add("cy", "MAIL-C", 1, true);
    UserlistStru* a1 = Add("ann", "MAIL-A", 1, true);
    UserlistStru* b = Add("bob", "MAIL-B", 1, true);
    UserlistStru* a2 = Add("al", "MAIL-A", 1, true);
    UserlistStru* always = Add("dee", "MAIL-0", 0, true); // never read
    TimedScans scans;
    scans.cost = 0;
    const auto flags = [&] {
        return std::vector<int32_t>({a1->OOFFlag, a2->OOFFlag, b->OOFFlag, c->OOFFlag});
    };
    const auto tick = [&](int64_t at, int oofResult) {
        SCOPED_TRACE(at);
        Clock::Freeze(kStart + CTimeSpan(at));
        EXPECT_EQ(users.UpdateOOFFlags(), oofResult);
        const size_t before = scans.opened.size();
        users.UpdateReminders();
        return std::vector<std::string>(scans.opened.begin() + long(before), scans.opened.end());
    };

    EXPECT_EQ(tick(0, 0), std::vector<std::string>{"dee"}) << "the first in the list";
    EXPECT_EQ(flags(), std::vector<int32_t>({1, 1, 0, 0})) << "A's two users in one tick";
    // The list is now in Server order: dee, then A's users in the order the sort left them.
    std::vector<std::string> order;
    for (const auto& u : users.Users())
        order.push_back(u->DisplayName);
    ASSERT_EQ(order.size(), 5u);
    EXPECT_EQ(order[0], "dee");
    EXPECT_EQ(tick(1, 0), std::vector<std::string>{order[1]});
    EXPECT_EQ(flags(), std::vector<int32_t>({1, 1, 1, 0}));
    EXPECT_EQ(tick(2, 1), std::vector<std::string>{order[2]}) << "the round ends with C";
    EXPECT_EQ(flags(), std::vector<int32_t>({1, 1, 1, 1}));
    EXPECT_EQ(users.NextOOFCheck, kStart + CTimeSpan(60));
    EXPECT_EQ(tick(3, 0), std::vector<std::string>{"bob"});
    EXPECT_EQ(tick(59, 0), std::vector<std::string>{"cy"}) << "no round before a minute is up";

    // The next round starts a minute after the first began; ann is back in the office.
    WriteFile(mail.MailboxDirectory("ann") + "/out-of-office", "in\n");
    EXPECT_EQ(tick(60, 0), std::vector<std::string>{});
    EXPECT_EQ(flags(), std::vector<int32_t>({0, 1, 1, 1}));
    EXPECT_EQ(tick(61, 0), std::vector<std::string>{});
    EXPECT_EQ(tick(62, 1), std::vector<std::string>{});
    EXPECT_EQ(users.NextOOFCheck, kStart + CTimeSpan(120));
    EXPECT_EQ(always->OOFFlag, 0);
}

TEST_F(PassBounds, ManyServersShareTheRoundsTwentyTicks) {
    // 41 Servers with one user each: three a tick, so the round ends at the fourteenth tick.
    // With time to spare on a clock that stands still, one tick reads them all.
    for (const char* limit : {"0", "100"}) {
        SCOPED_TRACE(limit);
        users.DeleteAllUsers();
        users.NextOOFCheck = CTime(0);
        Clock::Freeze(kStart);
        SetLimit(limit);
        for (int i = 0; i < 41; ++i)
            Add(limit + Name(i), "S" + std::to_string(100 + i), 1, true);
        const size_t ticks = std::string(limit) == "0" ? 14 : 1;
        for (size_t tick = 1; tick <= ticks; ++tick) {
            const int result = users.UpdateOOFFlags();
            size_t read = 0;
            for (const auto& u : users.Users())
                read += u->OOFFlag ? 1 : 0;
            EXPECT_EQ(read, std::min<size_t>(41, tick * (ticks == 1 ? 41 : 3)));
            EXPECT_EQ(result, tick == ticks ? 1 : 0) << tick;
            Clock::Advance(1);
        }
        EXPECT_EQ(users.NextOOFCheck, kStart + CTimeSpan(60));
    }
}

TEST_F(PassBounds, AListReplacedDuringARoundIsReadAsItIsThen) {
    SetLimit("0");
    Add("ann", "MAIL-A", 1, true);
    Add("bob", "MAIL-B", 1, true);
    Add("cy", "MAIL-C", 1, true);
    EXPECT_EQ(users.UpdateOOFFlags(), 0); // A read
    // An accepted edit: every user afresh, as copies.
    CUserList edited;
    for (const auto& u : users.Users())
        edited.CreateUser(u.get());
    users.DeleteAllUsers();
    for (const auto& u : edited.Users())
        users.CreateUser(u.get());
    EXPECT_EQ(users.UpdateOOFFlags(), 0); // B
    EXPECT_EQ(users.UpdateOOFFlags(), 1); // C
    std::vector<int32_t> flags;
    for (const auto& u : users.Users())
        flags.push_back(u->OOFFlag);
    EXPECT_EQ(flags, std::vector<int32_t>({0, 1, 1})) << "ann waits for the next round";
}
