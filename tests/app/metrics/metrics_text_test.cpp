// The exposition of the monitor's metrics: exact text of a small registry, histogram bucket
// edges, escaping and numbers as Prometheus reads them, declarations that break the format's
// rules, promtool's verdict on every family the monitor exposes, and updates that allocate
// nothing.
#include "app/metrics/Metrics.h"
#include "app/metrics/MetricsText.h"
#include "app/monitor/MonitorMetrics.h"
#include "paging/CRemList.h"
#include "support/MetricsClient.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <new>

namespace {

std::atomic<long> g_allocations{0};

std::string Exposition(const metrics::Registry& registry) {
    std::string text;
    metrics::text::Write(registry, text);
    return text;
}

// The value of the sample line that starts with `series` ("name{labels}"); "" when none does.
std::string Sample(const std::string& text, const std::string& series) {
    const size_t at = text.find("\n" + series + " ");
    if (at == std::string::npos)
        return "";
    const size_t start = at + series.size() + 2;
    return text.substr(start, text.find('\n', start) - start);
}

} // namespace

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

TEST(MetricsText, ASmallRegistryIsWrittenExactly) {
    metrics::Registry registry;
    metrics::Family& requests = registry.Add(metrics::Type::Counter, "demo_requests_total",
                                             "Requests \\ answers\nby code.", {"code", "path"});
    requests.NewCounter({"200", "/a\"b\\c\nd"}).Add(3);
    requests.NewCounter({"404", "é"});
    registry.AddGauge("demo_temperature_celsius", "Temperature.").Set(-0.25);
    metrics::Family& latency = registry.Add(metrics::Type::Histogram, "demo_latency_seconds",
                                            "Latency.", {"kind"}, {0.5, 1, 2.5});
    const metrics::Histogram slow = latency.NewHistogram({"slow"});
    for (const double value : {0.5, 0.7, 0.7, 3.0})
        slow.Observe(value);
    registry.AddHistogram("demo_plain_seconds", "No labels.", {1}).Observe(0.25);
    registry.Add(metrics::Type::Gauge, "demo_empty", "No series yet.", {"x"});

    EXPECT_EQ(Exposition(registry),
              "# HELP demo_requests_total Requests \\\\ answers\\nby code.\n"
              "# TYPE demo_requests_total counter\n"
              "demo_requests_total{code=\"200\",path=\"/a\\\"b\\\\c\\nd\"} 3\n"
              "demo_requests_total{code=\"404\",path=\"é\"} 0\n"
              "# HELP demo_temperature_celsius Temperature.\n"
              "# TYPE demo_temperature_celsius gauge\n"
              "demo_temperature_celsius -0.25\n"
              "# HELP demo_latency_seconds Latency.\n"
              "# TYPE demo_latency_seconds histogram\n"
              "demo_latency_seconds_bucket{kind=\"slow\",le=\"0.5\"} 1\n"
              "demo_latency_seconds_bucket{kind=\"slow\",le=\"1\"} 3\n"
              "demo_latency_seconds_bucket{kind=\"slow\",le=\"2.5\"} 3\n"
              "demo_latency_seconds_bucket{kind=\"slow\",le=\"+Inf\"} 4\n"
              "demo_latency_seconds_sum{kind=\"slow\"} 4.9\n"
              "demo_latency_seconds_count{kind=\"slow\"} 4\n"
              "# HELP demo_plain_seconds No labels.\n"
              "# TYPE demo_plain_seconds histogram\n"
              "demo_plain_seconds_bucket{le=\"1\"} 1\n"
              "demo_plain_seconds_bucket{le=\"+Inf\"} 1\n"
              "demo_plain_seconds_sum 0.25\n"
              "demo_plain_seconds_count 1\n"
              "# HELP demo_empty No series yet.\n"
              "# TYPE demo_empty gauge\n");
    EXPECT_EQ(testing_support::PromtoolCheckMetrics(Exposition(registry)).first, 0)
        << testing_support::PromtoolCheckMetrics(Exposition(registry)).second;
}

// A value on a bound counts in that bucket ("le" is "less or equal"); just above it, in the next.
TEST(MetricsText, HistogramBucketEdges) {
    const double above = std::nextafter(0.1, 1.0);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        double value;
        const char* cumulative[4]; // le = 0.1, 1, 10, +Inf
    } rows[] = {
        {-1, {"1", "1", "1", "1"}},    {0, {"1", "1", "1", "1"}},   {0.1, {"1", "1", "1", "1"}},
        {above, {"0", "1", "1", "1"}}, {1, {"0", "1", "1", "1"}},   {10, {"0", "0", "1", "1"}},
        {10.5, {"0", "0", "0", "1"}},  {inf, {"0", "0", "0", "1"}}, {nan, {"0", "0", "0", "1"}},
    };
    const char* les[] = {"0.1", "1", "10", "+Inf"};
    for (const Row& row : rows) {
        metrics::Registry registry;
        registry.AddHistogram("h_seconds", "h", {0.1, 1, 10}).Observe(row.value);
        const std::string text = Exposition(registry);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Sample(text, std::string("h_seconds_bucket{le=\"") + les[i] + "\"}"),
                      row.cumulative[i])
                << "value " << row.value << ", le " << les[i];
        EXPECT_EQ(Sample(text, "h_seconds_count"), "1") << row.value;
        std::string sum;
        metrics::text::AppendNumber(row.value, sum);
        EXPECT_EQ(Sample(text, "h_seconds_sum"), sum);
    }
}

TEST(MetricsText, NumbersAreWrittenAsPrometheusReadsThem) {
    const struct {
        double value;
        const char* text;
    } rows[] = {
        {0, "0"},
        {-0.0, "0"},
        {42, "42"},
        {-7, "-7"},
        {0.1, "0.1"},
        {0.005, "0.005"},
        {1.5e-7, "1.5e-07"},
        {1780000000, "1780000000"},         // a timestamp in seconds stays readable
        {1780000000.125, "1780000000.125"}, // and keeps its milliseconds
        {9007199254740991, "9007199254740991"},
        {1e300, "1e+300"},
        {std::numeric_limits<double>::infinity(), "+Inf"},
        {-std::numeric_limits<double>::infinity(), "-Inf"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
    };
    for (const auto& row : rows) {
        std::string text;
        metrics::text::AppendNumber(row.value, text);
        EXPECT_EQ(text, row.text);
        if (std::isfinite(row.value)) { // reads back exactly
            EXPECT_EQ(std::strtod(text.c_str(), nullptr), row.value) << text;
        }
    }
    std::string counter;
    metrics::text::AppendNumber(std::numeric_limits<uint64_t>::max(), counter);
    EXPECT_EQ(counter, "18446744073709551615");
}

TEST(MetricsText, EscapingOfLabelValuesAndHelp) {
    const struct {
        const char* raw;
        const char* label;
        const char* help;
    } rows[] = {
        {"plain", "plain", "plain"},
        {"a\\b", "a\\\\b", "a\\\\b"},
        {"say \"hi\"", "say \\\"hi\\\"", "say \"hi\""},
        {"two\nlines", "two\\nlines", "two\\nlines"},
        {"tab\there", "tab\there", "tab\there"},
        {"Zürich", "Zürich", "Zürich"},
        {"\\n", "\\\\n", "\\\\n"}, // a backslash and an n, not a line feed
    };
    for (const auto& row : rows) {
        std::string label, help;
        metrics::text::AppendLabelValue(row.raw, label);
        metrics::text::AppendHelp(row.raw, help);
        EXPECT_EQ(label, row.label) << row.raw;
        EXPECT_EQ(help, row.help) << row.raw;
    }
}

using MetricsDeathTest = ::testing::Test;

TEST_F(MetricsDeathTest, DeclarationsAgainstTheFormatEndTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using metrics::Type;
    const struct {
        std::function<void(metrics::Registry&)> declare;
        const char* reason;
    } rows[] = {
        {[](auto& r) { r.AddCounter("2xx_total", ""); }, "not a metric name"},
        {[](auto& r) { r.AddCounter("pages-total", ""); }, "not a metric name"},
        {[](auto& r) { r.Add(Type::Counter, "a_total", "", {"__x"}); }, "not a label name"},
        {[](auto& r) { r.Add(Type::Counter, "a_total", "", {"a:b"}); }, "not a label name"},
        {[](auto& r) {
             r.Add(Type::Counter, "a_total", "", {"x", "x"});
         },
         "named twice"},
        {[](auto& r) { r.Add(Type::Histogram, "h", "", {"le"}, {1}); }, "histogram's own label"},
        {[](auto& r) {
             r.AddHistogram("h", "", {1, 1});
         },
         "strictly ascending"},
        {[](auto& r) {
             r.AddHistogram("h", "", {2, 1});
         },
         "strictly ascending"},
        {[](auto& r) {
             r.AddHistogram("h", "", {1, INFINITY});
         },
         "finite"},
        {[](auto& r) { r.AddHistogram("h", "", {}); }, "at least one"},
        {[](auto& r) { r.Add(Type::Gauge, "g", "", {}, {1}); }, "only a histogram"},
        {[](auto& r) { r.Add(Type::Gauge, "g", "", {"a"}).NewGauge(); }, "1 label values"},
        {[](auto& r) { r.Add(Type::Gauge, "g", "").NewCounter(); }, "not a counter"},
        {[](auto& r) {
             auto& f = r.Add(Type::Gauge, "g", "", {"a"});
             f.NewGauge({"x"});
             f.NewGauge({"x"});
         },
         "exists already"},
        {[](auto& r) {
             r.AddGauge("g", "");
             r.AddCounter("g", "");
         },
         "declared twice"},
    };
    for (const auto& row : rows) {
        EXPECT_DEATH(
            {
                metrics::Registry registry;
                row.declare(registry);
            },
            row.reason);
    }
}

// Every family the monitor exposes, with updates in each, as promtool checks a scrape: the
// format, and Prometheus's naming practices (base units, "_total" on counters and only there).
// promtool's exit code is not 0 for a text that breaks them: the last rows show that it looks.
TEST(MetricsText, PromtoolAcceptsTheMonitorsMetrics) {
    CMonitorMetrics monitor("0.1.0", true);
    monitor.CountPage(PageOutcome::Sent, 0.004);
    monitor.CountPage(PageOutcome::Sent, -2);
    monitor.CountPage(PageOutcome::Failed, 0);
    monitor.CountScan(false, 0.02);
    monitor.CountEvent(1);
    monitor.usersActive.Set(3);
    monitor.tickDuration.Observe(0.0003);
    monitor.lastTickTimestamp.Set(1780000000.125);
    monitor.nextPageTimestamp.Set(std::numeric_limits<double>::quiet_NaN());

    const struct {
        std::string text;
        bool accepted;
    } rows[] = {
        {Exposition(monitor.Registry()), true},
        {"# HELP x_seconds A counter without _total.\n# TYPE x_seconds counter\nx_seconds 1\n",
         false},
        {"# HELP x_milliseconds Not a base unit.\n# TYPE x_milliseconds gauge\nx_milliseconds 1\n",
         false},
        {"# HELP x_total Broken.\n# TYPE x_total counter\nx_total{a=\"b} 1\n", false},
    };
    for (const auto& row : rows) {
        const auto [code, output] = testing_support::PromtoolCheckMetrics(row.text);
        ASSERT_NE(code, -1) << output;
        EXPECT_EQ(code == 0, row.accepted) << row.text << "\npromtool: " << output;
    }
    const std::string text = Exposition(monitor.Registry());
    EXPECT_EQ(Sample(text, "orvane_pages_total{result=\"sent\"}"), "2");
    EXPECT_EQ(Sample(text, "orvane_page_delay_seconds_count"), "2");
    EXPECT_EQ(Sample(text, "orvane_page_delay_seconds_sum"), "0.004") << "a negative delay is 0";
    EXPECT_EQ(Sample(text, "orvane_build_info{version=\"0.1.0\"}"), "1");
    EXPECT_EQ(Sample(text, "orvane_cluster_active"), "0");
    EXPECT_EQ(
        Sample(Exposition(CMonitorMetrics("0.1.0", false).Registry()), "orvane_cluster_active"), "")
        << "declared only with a cluster";
}

// The outcomes and event types land in their own series; an update through a handle allocates
// nothing.
TEST(MetricsText, UpdatesCountInTheirSeriesWithoutAllocating) {
    CMonitorMetrics monitor("test", false);
    const long before = g_allocations.load();
    for (int i = 0; i < 1000; ++i) {
        monitor.CountPage(PageOutcome::Sent, i * 0.01);
        monitor.CountPage(PageOutcome::Dropped, 0);
        monitor.CountPage(PageOutcome::AlreadySent, 0);
        monitor.CountScan(i % 4 != 0, 0.5);
        monitor.CountOutOfOfficeCheck(i % 2 == 0);
        monitor.CountEvent(i % 3 == 0 ? 2 : i % 3 == 1 ? 4 : 1);
        monitor.tickDuration.Observe(0.001);
        monitor.paused.Set(i % 2);
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
    const std::string text = Exposition(monitor.Registry());
    const struct {
        const char* series;
        const char* value;
    } rows[] = {
        {"orvane_pages_total{result=\"sent\"}", "1000"},
        {"orvane_pages_total{result=\"dropped\"}", "1000"},
        {"orvane_pages_total{result=\"failed\"}", "0"},
        {"orvane_page_delay_seconds_count", "1000"},
        {"orvane_scans_total{result=\"succeeded\"}", "750"},
        {"orvane_scans_total{result=\"failed\"}", "250"},
        {"orvane_scan_duration_seconds_count", "1000"},
        {"orvane_out_of_office_checks_total{result=\"failed\"}", "500"},
        {"orvane_events_total{type=\"warning\"}", "334"},
        {"orvane_events_total{type=\"information\"}", "333"},
        {"orvane_events_total{type=\"error\"}", "333"},
        {"orvane_tick_duration_seconds_bucket{le=\"0.001\"}", "1000"},
        {"orvane_paused", "1"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Sample(text, row.series), row.value) << row.series;
}
