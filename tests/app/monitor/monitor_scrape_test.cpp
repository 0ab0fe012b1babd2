// A running monitor over the demonstration set-up with the outbox, its metrics endpoint on a
// loopback port, scraped by a real client while the test drives the ticks on the test clock:
// the counts against the outbox, a failing scan, the health check through pause and a stop of
// the ticks, and requests that must change nothing.
#include "app/cli/Cli.h"
#include "app/monitor/MonitorInstruments.h"
#include "core/Clock.h"
#include "core/MessageBoxes.h"
#include "core/Settings.h"
#include "support/MetricsClient.h"
#include "support/MonitoredSetup.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace testing_support;

namespace {

// Wednesday 3 June 2026, local time (built once the test has set the zone). The demo is made at
// 09:00:30; its first page falls due at 09:01:00.
CTime At(int hour, int minute, int second) {
    return CTime(2026, 6, 3, hour, minute, second);
}
constexpr int64_t kTickOffsetMs = 250; // each tick comes this long after its second begins

int OutboxFiles(const std::string& folder) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        n += entry.path().extension() == ".eml" ? 1 : 0;
    return n;
}

class MonitorScrape : public testing::Test {
protected:
    ScopedTimeZone zone{"Europe/Berlin"};
    TempDir dir;
    int port = FreePort();
    std::unique_ptr<ScopedWorkingDirectory> cwd;
    TickedMonitor monitor;
    int ticks = 0; // ticks given to the monitor

    void SetUp() override {
        std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Demo");
        Clock::Freeze(At(9, 0, 30));
        std::ostringstream out, err;
        ASSERT_EQ(cli::Run({"demo", "init", dir.Path()}, out, err), 0) << err.str();
        cwd = std::make_unique<ScopedWorkingDirectory>(dir.Path());
    }
    void TearDown() override {
        monitor.OnDestroy();
        Clock::Reset();
    }
    void Start() {
        monitor.SetMetricsAddress("127.0.0.1:" + std::to_string(port));
        ASSERT_TRUE(monitor.Create());
        ASSERT_NE(monitor.Instruments(), nullptr);
    }
    // One tick at every second from the clock's second to `last`, each kTickOffsetMs into it.
    void TickThrough(CTime last) {
        for (CTime t = Clock::Now(); t <= last; t = t + CTimeSpan(1)) {
            Clock::Freeze(t);
            Clock::AdvanceMilliseconds(kTickOffsetMs);
            monitor.OnTimer();
            ++ticks;
        }
        Clock::Freeze(last + CTimeSpan(1));
    }
    HttpReply Get(const std::string& path) {
        return WhileServing([&] { return HttpGet(port, path); });
    }
    std::string Scrape() {
        const HttpReply reply = Get("/metrics");
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.contentType, "text/plain; version=0.0.4");
        return reply.body;
    }
};

} // namespace

TEST_F(MonitorScrape, CountsMatchTheOutboxAndPromtoolAcceptsTheScrape) {
    CapturedEvents events;
    Start();
    TickThrough(At(9, 6, 0));
    const std::string text = Scrape();
    SCOPED_TRACE(text);

    // Every page sent is in the outbox, counted once, and its delay observed once: each went
    // out at the tick kTickOffsetMs into the second of its page time.
    const int sent = OutboxFiles(dir.File("mail/outbox"));
    ASSERT_GT(sent, 10);
    EXPECT_EQ(Sample(text, "orvane_pages_total{result=\"sent\"}"), sent);
    EXPECT_EQ(int(monitor.With(PageOutcome::Sent).size()), sent) << "the front end hears too";
    EXPECT_EQ(Sample(text, "orvane_pages_total{result=\"dropped\"}"), 0);
    EXPECT_EQ(Sample(text, "orvane_pages_total{result=\"failed\"}"), 0);
    EXPECT_EQ(Sample(text, "orvane_page_delay_seconds_count"), sent);
    EXPECT_EQ(Sample(text, "orvane_page_delay_seconds_sum"), sent * 0.25);
    EXPECT_EQ(Sample(text, "orvane_page_delay_seconds_bucket{le=\"0.1\"}"), 0);
    EXPECT_EQ(Sample(text, "orvane_page_delay_seconds_bucket{le=\"0.25\"}"), sent);

    // Eleven users scanned once (Emil pages only when out of office, and is in); the four who
    // page only when out of office read at the first tick and every minute after it.
    EXPECT_EQ(Sample(text, "orvane_scans_total{result=\"succeeded\"}"), 11);
    EXPECT_EQ(Sample(text, "orvane_scans_total{result=\"failed\"}"), 0);
    EXPECT_EQ(Sample(text, "orvane_scan_duration_seconds_count"), 11);
    EXPECT_EQ(Sample(text, "orvane_first_round_complete"), 1);
    EXPECT_EQ(Sample(text, "orvane_out_of_office_checks_total{result=\"succeeded\"}"), 4 * 6);
    EXPECT_EQ(Sample(text, "orvane_out_of_office_checks_total{result=\"failed\"}"), 0);

    int pending = 0;
    for (const auto& user : monitor.LiveUsers().Users())
        pending += IsActiveUser(*user) ? user->Reminders.GetCount() : 0;
    EXPECT_EQ(Sample(text, "orvane_users{state=\"active\"}"), 11);
    EXPECT_EQ(Sample(text, "orvane_users{state=\"inactive\"}"), 1);
    EXPECT_EQ(Sample(text, "orvane_users{state=\"error\"}"), 0);
    EXPECT_EQ(Sample(text, "orvane_reminders_pending"), pending);
    EXPECT_GT(Sample(text, "orvane_next_page_timestamp_seconds"), At(9, 6, 0).GetTime());

    EXPECT_EQ(Sample(text, "orvane_tick_duration_seconds_count"), ticks);
    EXPECT_EQ(Sample(text, "orvane_last_tick_timestamp_seconds"), At(9, 6, 0).GetTime() + 0.25);
    EXPECT_EQ(Sample(text, "orvane_paused"), 0);
    EXPECT_TRUE(events.Entries().empty()) << events.Texts().front();
    EXPECT_EQ(Sample(text, "orvane_events_total{type=\"error\"}"), 0);
    EXPECT_NE(text.find("\norvane_build_info{version=\""), std::string::npos);
    EXPECT_EQ(text.find("orvane_cluster_active"), std::string::npos) << "no cluster, no family";

    const auto [code, verdict] = PromtoolCheckMetrics(text);
    EXPECT_EQ(code, 0) << verdict;
}

// A damaged calendar fails its user's scan and an unreadable out-of-office state its check: the
// failures, the user in error and the events are counted, and the events still reach the
// observer the test installed.
TEST_F(MonitorScrape, FailingScansChecksAndTheirEventsAreCounted) {
    WriteFile(dir.File("mail/mailboxes/bcosta/calendar.ics"),
              "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:20260603T091000\r\n");
    WriteFile(dir.File("mail/mailboxes/krao/out-of-office"), "perhaps\n");
    CapturedEvents events;
    Start();
    TickThrough(At(9, 0, 30));
    const std::string text = Scrape();
    SCOPED_TRACE(text);
    // Kavya's flag could not be read: she keeps "in", so she is neither scanned nor paged.
    EXPECT_EQ(Sample(text, "orvane_out_of_office_checks_total{result=\"failed\"}"), 1);
    EXPECT_EQ(Sample(text, "orvane_out_of_office_checks_total{result=\"succeeded\"}"), 3);
    EXPECT_EQ(Sample(text, "orvane_scans_total{result=\"failed\"}"), 1);
    EXPECT_EQ(Sample(text, "orvane_scans_total{result=\"succeeded\"}"), 9);
    EXPECT_EQ(Sample(text, "orvane_users{state=\"error\"}"), 1);
    EXPECT_EQ(Sample(text, "orvane_users{state=\"inactive\"}"), 2);
    const std::vector<std::string> texts = events.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("Unable to obtain out of office flag.", 0), 0u) << texts[0];
    EXPECT_NE(texts[1].find("bcosta"), std::string::npos) << texts[1];
    EXPECT_EQ(Sample(text, "orvane_events_total{type=\"error\"}"), events.Entries().size());
}

// A paused monitor still ticks and stays healthy; one whose ticks stop coming is not, and says
// why; one that is stopping is not either; a stopped one no longer listens.
TEST_F(MonitorScrape, HealthFollowsTheTicksNotThePause) {
    Start();
    EXPECT_EQ(Get("/healthz").status, 503) << "not ticked yet";
    TickThrough(At(9, 0, 30));
    const HttpReply ok = Get("/healthz");
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, "ok\n");

    monitor.OnActionPause();
    EXPECT_EQ(Sample(Scrape(), "orvane_paused"), 1);
    const int cycles = ticks;
    TickThrough(At(9, 0, 30) + CTimeSpan(20));
    EXPECT_EQ(Get("/healthz").status, 200) << "twenty paused ticks later";
    std::string text = Scrape();
    EXPECT_EQ(Sample(text, "orvane_tick_duration_seconds_count"), cycles) << "no cycle ran";
    EXPECT_EQ(Sample(text, "orvane_last_tick_timestamp_seconds"),
              (At(9, 0, 30) + CTimeSpan(20)).GetTime() + 0.25);

    // The ticks stop: the timer holds (the clock moves on without them). The clock stands at
    // the end of the last tick's second, 750 ms after it.
    const struct {
        int64_t advanceMs;
        long status;
        const char* body;
    } rows[] = {
        {4249, 200, "ok\n"},
        {1, 503, "no monitoring tick for 5.0 seconds (one is due every second)\n"},
        {55000, 503, "no monitoring tick for 60.0 seconds (one is due every second)\n"},
    };
    for (const auto& row : rows) {
        Clock::AdvanceMilliseconds(row.advanceMs);
        const HttpReply reply = Get("/healthz");
        EXPECT_EQ(reply.status, row.status) << row.body;
        EXPECT_EQ(reply.body, row.body);
    }
    monitor.OnTimer(); // ticks come again
    EXPECT_EQ(Get("/healthz").status, 200);

    monitor.OnActionPause();
    EXPECT_EQ(Sample(Scrape(), "orvane_paused"), 0);
    monitor.RequestQuit();
    const HttpReply stopping = Get("/healthz");
    EXPECT_EQ(stopping.status, 503);
    EXPECT_EQ(stopping.body, "the monitor is stopping\n");
    monitor.OnDestroy();
    EXPECT_EQ(Get("/metrics").status, 0) << "the endpoint closes with the monitor";
}

// Requests that are not a GET of the two paths get an error; the monitor's counts and state
// are as they were, and it ticks on.
TEST_F(MonitorScrape, MalformedAndOversizedRequestsChangeNothing) {
    Start();
    TickThrough(At(9, 0, 30) + CTimeSpan(40));
    const std::string before = Scrape();
    const struct {
        std::string request;
        const char* statusLine;
    } rows[] = {
        {"GET /metrics HTTP/1.1\r\nBroken header\r\n\r\n", "HTTP/1.1 400 "},
        {"PUT /metrics HTTP/1.1\r\nContent-Length: 1\r\n\r\nx", "HTTP/1.1 405 "},
        {"GET /users HTTP/1.1\r\n\r\n", "HTTP/1.1 404 "},
        {"GET /metrics HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n", "HTTP/1.1 431 "},
        {std::string("\0\1\2\3\r\n\r\n", 8), "HTTP/1.1 400 "},
    };
    for (const auto& row : rows) {
        const std::string reply = WhileServing([&] { return HttpExchange(port, row.request); });
        EXPECT_EQ(reply.rfind(row.statusLine, 0), 0u) << reply;
    }
    EXPECT_EQ(Scrape(), before);
    EXPECT_FALSE(monitor.IsBusy());
    EXPECT_FALSE(monitor.IsPaused());
    TickThrough(At(9, 0, 30) + CTimeSpan(41));
    EXPECT_EQ(Sample(Scrape(), "orvane_tick_duration_seconds_count"),
              Sample(before, "orvane_tick_duration_seconds_count") + 1);
}

// An address that cannot be read or listened on refuses to start the monitor, with the sentence
// shown as an initialization error; without an address nothing listens and nothing counts.
TEST_F(MonitorScrape, AnAddressThatCannotServeRefusesToStart) {
    QueuedMessageBoxes boxes;
    const metrics::Registry nothing;
    CMetricsServer holder(nothing, {}); // holds the port
    std::string whyNot;
    ASSERT_TRUE(holder.Listen({"127.0.0.1", uint16_t(port), false}, whyNot)) << whyNot;
    const struct {
        const char* option; // null: the setting decides
        std::string setting;
        std::string sentence;
    } rows[] = {
        {"127.0.0.1:", "", "in the metrics address \"127.0.0.1:\""},
        {nullptr, "localhost:9842",
         "It is the setting \"MetricsAddress\" of the section "
         "\"Preferences\" in " +
             Settings::FilePath() + "."},
        {nullptr, "127.0.0.1:" + std::to_string(port),
         "The metrics endpoint cannot listen on 127.0.0.1:" + std::to_string(port) + ": "},
    };
    for (const auto& row : rows) {
        Settings::WriteProfileString(Settings::kPreferences, metrics::kAddressSetting, row.setting);
        TickedMonitor refused;
        boxes.Answer(IDOK);
        if (row.option)
            refused.SetMetricsAddress(row.option);
        EXPECT_FALSE(refused.Create()) << row.sentence;
        refused.OnDestroy();
        ASSERT_FALSE(boxes.Boxes().empty());
        EXPECT_EQ(boxes.Boxes().back().caption, "Initialization Error");
        EXPECT_NE(boxes.Boxes().back().text.find(row.sentence), std::string::npos)
            << boxes.Boxes().back().text;
    }

    // The command line's empty address turns off what the setting turns on.
    TickedMonitor off;
    off.SetMetricsAddress("");
    ASSERT_TRUE(off.Create());
    EXPECT_EQ(off.Instruments(), nullptr);
    off.OnDestroy();
    Settings::WriteProfileString(Settings::kPreferences, metrics::kAddressSetting, "");
    TickedMonitor none;
    ASSERT_TRUE(none.Create());
    EXPECT_EQ(none.Instruments(), nullptr);
    none.OnDestroy();
    EXPECT_EQ(boxes.Boxes().size(), 3u);
}
