// The built program headless with its metrics endpoint, as the service runs it: --metrics or the
// MetricsAddress setting, a scrape and a health check over loopback while it monitors, and the
// addresses it refuses to start with.
#include "app/metrics/Metrics.h"
#include "app/metrics/MetricsServer.h"
#include "core/Settings.h"
#include "support/MetricsClient.h"
#include "support/MonitoredSetup.h"

#include <QElapsedTimer>
#include <QProcess>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 6, 3, hour, minute, second);
}

// `orvane --headless --at ... ARGS` as a child process in the current directory.
class RunningMonitor {
public:
    explicit RunningMonitor(const QStringList& args) {
        m_process.start(QString::fromStdString(OrvaneProgram()),
                        QStringList{"--headless", "--at", "2026-06-03 09:03:55"} + args);
        EXPECT_TRUE(m_process.waitForStarted(10000));
    }
    ~RunningMonitor() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    // Waits until `done` holds, for at most 30 seconds, or until the program has ended.
    bool WaitFor(const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 30000 && m_process.state() != QProcess::NotRunning)
            m_process.waitForFinished(100); // a pause that ends early if the program does
        return done();
    }
    // GET `path` until it answers `status` (see WaitFor); the last reply.
    HttpReply GetWhen(int port, const std::string& path, long status) {
        HttpReply reply;
        WaitFor([&] { return (reply = HttpGet(port, path)).status == status; });
        return reply;
    }
    // SIGTERM, then its exit code (-1 when it did not end normally within 30 seconds).
    int Stop() {
        kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(30000))
            return -1;
        m_err = m_process.readAllStandardError().toStdString();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    const std::string& Err() const { return m_err; }

private:
    QProcess m_process;
    std::string m_err;
};

class MetricsService : public testing::Test {
protected:
    ScopedTimeZone zone{"Europe/Berlin"};
    MonitoredSetup setup{At(9, 0)};
    int port = FreePort();

    void SetUp() override {
        setup.AddUser("Ann Archer", "5550101@pager.example.org");
        setup.WriteItems("Ann Archer", {{"Budget review", At(9, 10), 30, 5, CTime()}}); // 09:04
        Settings::WriteProfileString(Settings::kPreferences, metrics::kAddressSetting, "");
    }
};

} // namespace

TEST_F(MetricsService, ServesMetricsAndHealthWhileItMonitors) {
    RunningMonitor monitor(
        {"--metrics", QString::fromStdString("127.0.0.1:" + std::to_string(port))});
    EXPECT_EQ(monitor.GetWhen(port, "/healthz", 200).body, "ok\n");
    const HttpReply scrape = monitor.GetWhen(port, "/metrics", 200);
    EXPECT_EQ(scrape.contentType, "text/plain; version=0.0.4");
    EXPECT_EQ(Sample(scrape.body, "orvane_users{state=\"active\"}"), 1) << scrape.body;
    EXPECT_NE(scrape.body.find("\norvane_build_info{version=\""), std::string::npos);
    const auto [code, verdict] = PromtoolCheckMetrics(scrape.body);
    EXPECT_EQ(code, 0) << verdict;
    // Ann's page falls due at 09:04:00 on its clock, a few seconds after the start.
    EXPECT_TRUE(monitor.WaitFor([&] {
        return Sample(HttpGet(port, "/metrics").body, "orvane_pages_total{result=\"sent\"}") == 1;
    }));
    EXPECT_EQ(Sample(HttpGet(port, "/metrics").body, "orvane_page_delay_seconds_count"), 1);
    EXPECT_EQ(setup.Mail().OutboxMessages().size(), 1u);

    EXPECT_EQ(monitor.Stop(), 0) << monitor.Err();
    EXPECT_EQ(HttpGet(port, "/healthz").status, 0) << "nothing listens once it has stopped";
}

// Without --metrics the setting decides; an empty --metrics overrides it.
TEST_F(MetricsService, TheSettingTurnsItOnUnlessTheCommandLineSaysOtherwise) {
    const std::string address = "127.0.0.1:" + std::to_string(port);
    Settings::WriteProfileString(Settings::kPreferences, metrics::kAddressSetting, address);
    {
        RunningMonitor monitor({});
        EXPECT_EQ(monitor.GetWhen(port, "/healthz", 200).status, 200);
        EXPECT_EQ(monitor.Stop(), 0) << monitor.Err();
    }
    RunningMonitor off({"--metrics", ""});
    ProgramResult status;
    EXPECT_TRUE(off.WaitFor([&] {
        status = RunOrvane({"status"});
        return status.out.rfind("Orvane is monitoring", 0) == 0;
    })) << status.out
        << status.err;
    EXPECT_EQ(HttpGet(port, "/healthz").status, 0) << "the empty option turned it off";
    EXPECT_EQ(off.Stop(), 0) << off.Err();
}

TEST_F(MetricsService, RefusesToStartOnAnAddressItCannotServe) {
    const metrics::Registry nothing;
    CMetricsServer holder(nothing, {});
    std::string whyNot;
    ASSERT_TRUE(holder.Listen({"127.0.0.1", uint16_t(port), false}, whyNot)) << whyNot;
    const std::string taken = "127.0.0.1:" + std::to_string(port);
    const struct {
        std::vector<std::string> args;
        std::string setting;
        int code;
        std::string err; // in what it printed
    } rows[] = {
        {{"--metrics", "localhost:9842"},
         "",
         2,
         "orvane: \"localhost\" in the metrics address \"localhost:9842\" is not an IPv4 address"},
        {{"--metrics"}, "", 2, "orvane: option --metrics needs ADDRESS:PORT"},
        {{}, "127.0.0.1", 1, "Initialization Error: The metrics address \"127.0.0.1\""},
        {{}, "127.0.0.1", 1, "It is the setting \"MetricsAddress\" of the section \"Preferences\""},
        {{"--metrics", taken},
         "",
         1,
         "Initialization Error: The metrics endpoint cannot listen on " + taken + ": "},
    };
    for (const auto& row : rows) {
        Settings::WriteProfileString(Settings::kPreferences, metrics::kAddressSetting, row.setting);
        std::vector<std::string> args = {"--headless"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ProgramResult r = RunOrvane(args);
        EXPECT_EQ(r.code, row.code) << r.err;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }
}
