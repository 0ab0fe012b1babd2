// End to end on the test clock: calendars in a mail system, the monitor's cycle with the real
// passes, the real Simple MAPI library, and pages delivered to an SMTP server on loopback.
#include "core/Clock.h"
#include "core/FileSystem.h"
#include "core/Settings.h"
#include "paging/SentPages.h"
#include "support/MonitoredSetup.h"
#include "users/UserFile.h"

#include <QJsonArray>
#include <cstring>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char* const kAnn = "Ann Archer";
const char* const kBob = "Bob Costa";
const char* const kAnnPager = "5550101@pager.example.org";
const char* const kBobPager = "5550102@pager.example.org";
const char* const kUnspecified =
    "A reminder page could not be sent.  An unspecified error was received.";

// Wednesday 3 June 2026, local time (Europe/Berlin).
CTime At(int hour, int minute, int second = 0, int day = 3) {
    return CTime(2026, 6, day, hour, minute, second);
}

// Ticks once at every second from the clock's time up to and including `last`.
void TickThrough(CMonitorCycle& monitor, CTime last) {
    while (Clock::Now() <= last) {
        monitor.OnTimer();
        Clock::Advance(1);
    }
}

// Ticks once at `when`.
void TickAt(CMonitorCycle& monitor, CTime when) {
    Clock::Freeze(when);
    monitor.OnTimer();
}

std::vector<std::string> Bodies(const SmtpTestServer& server) {
    std::vector<std::string> bodies;
    for (const Received& r : Parse(server.Messages()))
        bodies.push_back(r.body);
    std::sort(bodies.begin(), bodies.end());
    return bodies;
}

class PagingEndToEnd : public testing::Test {
protected:
    ScopedTimeZone zone{"Europe/Berlin"}; // before any time is built
    SmtpTestServer smtp;
    MonitoredSetup setup{At(9, 0), smtp.Url()};
    CapturedEvents events;
    // Ann's budget review at 09:10 with a 5-minute alarm: reminder 09:05, page time 09:04.
    const Item budget{"Budget review", At(9, 10), 30, 5, CTime()};
    // Her task's alarm at 09:05 too, and a stand-up at 09:20 with a 10-minute alarm (page 09:09).
    const Item timesheet{"Submit timesheet", CTime(0), 0, 0, At(9, 5)};
    const Item standup{"Daily stand-up", At(9, 20), 15, 10, CTime()};

    void SetUp() override {
        ASSERT_TRUE(smtp.Started());
        setup.AddUser(kAnn, kAnnPager);
        setup.WriteItems(kAnn, {budget, timesheet, standup});
    }
};

} // namespace

TEST_F(PagingEndToEnd, EveryReminderIsPagedOnceAtItsPageTimeWithItsTextAndAnEmptySubject) {
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    TickThrough(monitor, At(9, 3, 59));
    EXPECT_TRUE(smtp.Messages().empty()) << "nothing before the page time";
    TickThrough(monitor, At(9, 4, 0));
    ASSERT_EQ(smtp.Messages().size(), 2u) << "both reminders of 09:05 at 09:04:00 exactly";
    TickThrough(monitor, At(9, 5, 0));
    // The record keeps a page until the minute of its reminder has passed, then lets it go.
    CSentPages record;
    record.Load(setup.File(CSentPages::kFileName), At(9, 6, 0));
    EXPECT_EQ(record.GetCount(), 2);
    record.Load(setup.File(CSentPages::kFileName), At(9, 6, 1));
    EXPECT_EQ(record.GetCount(), 0);
    TickThrough(monitor, At(9, 12, 0));
    monitor.OnDestroy();

    const std::vector<Received> pages = Parse(smtp.Messages());
    ASSERT_EQ(pages.size(), 3u);
    for (const Received& page : pages) {
        EXPECT_EQ(page.to, kAnnPager);
        EXPECT_EQ(page.subjectLine, "Subject:") << "pages have an empty subject";
    }
    EXPECT_EQ(Bodies(smtp),
              std::vector<std::string>(
                  {"09:10-09:40 Budget review", "09:20-09:35 Daily stand-up", "Submit timesheet"}));
    EXPECT_EQ(monitor.With(PageOutcome::Sent).size(), 3u);
    EXPECT_TRUE(events.Texts().empty()) << events.Texts().front();
}

TEST_F(PagingEndToEnd, ARestartInsideTheMinutePagesOnceAndOnlyTheRecordPreventsASecondPage) {
    {
        TickedMonitor first;
        ASSERT_TRUE(first.Create());
        TickThrough(first, At(9, 4, 10));
        first.OnDestroy();
    }
    ASSERT_EQ(smtp.Messages().size(), 2u);
    {
        TickedMonitor second; // started again at 09:04:11, before the reminders' time
        ASSERT_TRUE(second.Create());
        TickThrough(second, At(9, 5, 30));
        second.OnDestroy();
        EXPECT_EQ(second.With(PageOutcome::AlreadySent),
                  std::vector<std::string>(
                      {"Ann Archer: 09:10-09:40 Budget review", "Ann Archer: Submit timesheet"}));
        EXPECT_TRUE(second.With(PageOutcome::Sent).empty());
    }
    EXPECT_EQ(smtp.Messages().size(), 2u) << "the restart paged nothing twice";

    // Without the record (as before it existed) the same restart pages the reminder again.
    ASSERT_EQ(std::remove(setup.File(CSentPages::kFileName).c_str()), 0);
    Clock::Freeze(At(9, 4, 20));
    TickedMonitor third;
    ASSERT_TRUE(third.Create());
    TickThrough(third, At(9, 4, 30));
    third.OnDestroy();
    EXPECT_EQ(third.With(PageOutcome::Sent).size(), 2u);
}

TEST_F(PagingEndToEnd, ARescanInsideTheMinutePagesNothingTwice) {
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    TickThrough(monitor, At(9, 4, 5));
    ASSERT_EQ(smtp.Messages().size(), 2u);

    // An accepted edit rescans every user at once, at 09:04:06 and again at 09:05:30: the
    // budget review's reminder time (09:05:00) and the task's minute are still to come then.
    for (const CTime when : {At(9, 4, 6), At(9, 5, 30)}) {
        Clock::Freeze(when);
        const QJsonObject answer = monitor.HandleControlRequest(
            {{"request", "users"}, {"args", QJsonArray{"set", "1", "--interval", "15"}}});
        ASSERT_EQ(answer["exit"].toInt(), 0) << answer["err"].toString().toStdString();
        const size_t scansBefore = monitor.scans.size();
        monitor.OnTimer();
        EXPECT_EQ(monitor.scans.size(), scansBefore + 1) << "rescanned in that cycle";
    }
    TickThrough(monitor, At(9, 12, 0));
    monitor.OnDestroy();
    EXPECT_EQ(Bodies(smtp),
              std::vector<std::string>(
                  {"09:10-09:40 Budget review", "09:20-09:35 Daily stand-up", "Submit timesheet"}));
    EXPECT_EQ(monitor.With(PageOutcome::AlreadySent).size(), 3u)
        << "two collected again at 09:04:06, the task once more at 09:05:30";
}

namespace {

// Fails the rename that makes the record of sent pages durable, as a crash right after the
// send would leave it.
class RecordNotDurable : public IFileSystem {
public:
    int Rename(const char* from, const char* to) override {
        if (std::strstr(to, CSentPages::kFileName)) {
            errno = EIO;
            return -1;
        }
        return IFileSystem::Rename(from, to);
    }
};

} // namespace

TEST_F(PagingEndToEnd, ACrashRightAfterSendingPagesAtMostOnceMore) {
    setup.WriteItems(kAnn, {budget});
    {
        RecordNotDurable failing;
        IFileSystem* previous = SetFileSystem(&failing);
        TickedMonitor crashing;
        ASSERT_TRUE(crashing.Create());
        TickThrough(crashing, At(9, 4, 0));
        SetFileSystem(previous);
        ASSERT_EQ(smtp.Messages().size(), 1u);
        // Gone without its orderly end: nothing of it is saved any more.
    }
    for (const CTime restart : {At(9, 4, 10), At(9, 4, 20)}) {
        Clock::Freeze(restart);
        TickedMonitor again;
        ASSERT_TRUE(again.Create());
        TickThrough(again, restart + CTimeSpan(5));
        again.OnDestroy();
    }
    EXPECT_EQ(Bodies(smtp),
              std::vector<std::string>({"09:10-09:40 Budget review", "09:10-09:40 Budget review"}))
        << "paged once more after the crash, and not by the restart after that";
    EXPECT_NE(std::find_if(events.Texts().begin(), events.Texts().end(),
                           [](const std::string& t) {
                               return t.find("record of sent pages") != std::string::npos;
                           }),
              events.Texts().end())
        << "the failed save was reported";
}

TEST_F(PagingEndToEnd, AMailServerThatIsDownIsRetriedEveryTickWithOneEventEachAndPagedOnceBack) {
    setup.WriteItems(kAnn, {budget});
    int port = 0;
    {
        SmtpTestServer down(SmtpTestServer::Options{});
        port = down.Port();
        setup.UseSmtp(down.Url());
    } // stopped: its port refuses connections now
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    TickThrough(monitor, At(9, 4, 4));
    EXPECT_EQ(monitor.With(PageOutcome::Failed).size(), 5u) << "09:04:00 to 09:04:04";
    EXPECT_EQ(events.Texts(), std::vector<std::string>(5, kUnspecified));
    for (const TickedMonitor::Page& p : monitor.pages)
        EXPECT_EQ(p.event, kUnspecified) << "each failure carries its event";
    ASSERT_EQ(monitor.Find(kAnn)->LastPage.Outcome, PageOutcome::Failed);

    SmtpTestServer::Options back;
    back.port = port;
    auto server = std::make_unique<SmtpTestServer>(back);
    ASSERT_TRUE(server->Started());
    setup.UseSmtp(server->Url());
    TickThrough(monitor, At(9, 6, 0));
    monitor.OnDestroy();
    EXPECT_EQ(Bodies(*server), std::vector<std::string>({"09:10-09:40 Budget review"}));
    EXPECT_EQ(monitor.With(PageOutcome::Sent).size(), 1u);
    EXPECT_EQ(events.Texts().size(), 5u) << "no event once it was sent";
    EXPECT_EQ(monitor.Find(kAnn)->LastPage.Outcome, PageOutcome::Sent);
}

TEST_F(PagingEndToEnd, AClockSetBackWritesOneEventAndPagingGoesOn) {
    // Two users scanned hourly, whose pages fall due at 09:04 while the mail server is down.
    setup.WriteItems(kAnn, {});
    const char* const cleo = "Cleo Diaz";
    setup.AddUser(kBob, kBobPager, 60);
    setup.AddUser(cleo, "5550103@pager.example.org", 60);
    setup.WriteItems(kBob, {budget});
    setup.WriteItems(cleo, {{"Call the bank", CTime(0), 0, 0, At(9, 5)}});
    {
        SmtpTestServer down(SmtpTestServer::Options{});
        setup.UseSmtp(down.Url());
    }
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    for (const CTime when : {At(9, 4), At(9, 20), At(9, 34)})
        TickAt(monitor, when);
    ASSERT_EQ(monitor.With(PageOutcome::Failed).size(), 6u);

    // The mail server is back, and the time service steps the clock back by twenty minutes.
    // The pages, due since 09:04, go out at once instead of when the clock reaches 09:34 again.
    SmtpTestServer back;
    setup.UseSmtp(back.Url());
    TickAt(monitor, At(9, 14));
    EXPECT_EQ(Bodies(back),
              std::vector<std::string>({"09:10-09:40 Budget review", "Call the bank"}));
    TickAt(monitor, At(9, 14, 0)); // the same second again pages nothing
    TickThrough(monitor, At(9, 14, 10));
    monitor.OnDestroy();
    EXPECT_EQ(back.Messages().size(), 2u);

    size_t clockEvents = 0;
    for (const std::string& text : events.Texts()) {
        if (text.find("The system clock went back") != std::string::npos) {
            ++clockEvents;
            EXPECT_EQ(text, "The system clock went back from 06/03/26 09:34:00 to 06/03/26 "
                            "09:14:00; reminders are paged as usual.");
        }
    }
    EXPECT_EQ(clockEvents, 1u) << "one event for the step, not one per user or per tick";
}

TEST_F(PagingEndToEnd, PagingHoursDecideByTheHourOfTheCallAcrossMidnightAndEqualHoursDropAll) {
    // Page times 12:00 on the 3rd, 23:10 on the 3rd and 05:59 on the 4th.
    const Item noon{"Lunch", At(12, 6), 30, 5, CTime()};
    const Item late{"Night shift", At(23, 16), 30, 5, CTime()};
    const Item early{"Early train", CTime(0), 0, 0, At(6, 0, 0, 4)};
    const struct {
        const char* start;
        const char* end;
        std::vector<std::string> sent, dropped;
    } rows[] = {
        {"22", "6", {"11:16-11:46 Night shift", "Early train"}, {"12:06-12:36 Lunch"}},
        {"8", "8", {}, {"12:06-12:36 Lunch", "11:16-11:46 Night shift", "Early train"}},
        {"0", "24", {"12:06-12:36 Lunch", "11:16-11:46 Night shift", "Early train"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.start) + " to " + row.end);
        std::remove(setup.File(CSentPages::kFileName).c_str());
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, row.start);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kEndHour, row.end);
        setup.WriteItems(kAnn, {noon, late, early});
        Clock::Freeze(At(11, 59, 58));
        TickedMonitor monitor;
        ASSERT_TRUE(monitor.Create());
        TickThrough(monitor, At(12, 0, 1));
        TickAt(monitor, At(23, 9, 58)); // a rescan: its interval has long passed
        TickThrough(monitor, At(23, 10, 1));
        TickAt(monitor, At(5, 58, 58, 4));
        TickThrough(monitor, At(5, 59, 1, 4));
        monitor.OnDestroy();

        std::vector<std::string> sent, dropped;
        for (const TickedMonitor::Page& p : monitor.pages) {
            (p.outcome == PageOutcome::Sent ? sent : dropped).push_back(p.text);
            EXPECT_TRUE(p.outcome == PageOutcome::Sent || p.outcome == PageOutcome::Dropped);
        }
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(dropped, row.dropped);
    }
    std::vector<std::string> expected;
    for (const auto& row : rows)
        expected.insert(expected.end(), row.sent.begin(), row.sent.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Bodies(smtp), expected) << "dropped reminders are never sent";
}

TEST_F(PagingEndToEnd, AUserPagedOnlyWhenOutIsScannedAndPagedInTheTickItsFlagIsFoundSet) {
    setup.AddUser(kBob, kBobPager, 15, true, "in");
    setup.WriteItems(kBob, {{"Customer visit", At(9, 7), 60, 5, CTime()}}); // page time 09:01
    TickedMonitor monitor;
    ASSERT_TRUE(monitor.Create());
    TickThrough(monitor, At(9, 0, 59));
    UserlistStru* bob = monitor.Find(kBob);
    EXPECT_EQ(bob->ScanStatus, -1) << "in the office: neither scanned nor paged";
    EXPECT_EQ(bob->NextScan, CTime(0));

    setup.SetOutOfOffice(kBob, "out"); // found by the out-of-office pass due at 09:01:00
    TickThrough(monitor, At(9, 1, 0));
    EXPECT_EQ(bob->OOFFlag, 1);
    EXPECT_EQ(bob->ScanStatus, 1) << "scanned in the same tick";
    EXPECT_EQ(monitor.With(PageOutcome::Sent),
              std::vector<std::string>({"Bob Costa: 09:07-10:07 Customer visit"}))
        << "and paged in it";
    TickThrough(monitor, At(9, 2, 0));
    monitor.OnDestroy();
    EXPECT_EQ(Bodies(smtp), std::vector<std::string>({"09:07-10:07 Customer visit"}));
}
