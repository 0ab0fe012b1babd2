// The running monitor's metrics endpoint and what feeds it: the counts the passes report, the
// tick's gauges, the event log's entries and the health check, served on the monitor's thread.
#pragma once

#include "app/metrics/MetricsServer.h"
#include "app/monitor/MonitorHealth.h"
#include "app/monitor/MonitorMetrics.h"
#include "paging/EventLog.h"
#include "users/PassListener.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class CUserList;

// Made only when the endpoint is turned on: with no address, the monitor has none of this and
// counts nothing. One per monitor; everything runs on the monitor's thread, where ticks and
// scrapes take turns on the event loop, so a scrape never waits for a tick nor a tick for a
// scrape.
//
// It stands in the user list's listener slot: the passes' scans, pages and out-of-office reads
// are counted, then handed on unchanged to the front end's listener (SetNext).
class CMonitorInstruments : public IPassListener {
public:
    struct Options {
        metrics::ListenAddress address;
        std::string version; // the build's, for orvane_build_info
        // Whether this node of a cluster is the one that monitors now, asked at each scrape.
        // Empty when no cluster is configured: orvane_cluster_active is then not declared.
        std::function<bool()> clusterActive;
    };

    // What the endpoint listens on: `option` when the command line gave --metrics (an empty
    // value turns it off), else the setting "MetricsAddress" of "Preferences". False, with a
    // sentence naming the text and where it came from, when it cannot be read; `address` empty
    // (nullopt) when the endpoint is off.
    static bool ChooseAddress(const std::optional<std::string>& option,
                              std::optional<metrics::ListenAddress>& address, std::string& whyNot);

    // `users` is the live list that each scrape describes; it must outlive this object. Counts
    // the event log's entries written on this thread from now on.
    CMonitorInstruments(const CUserList& users, Options options);
    ~CMonitorInstruments() override;
    CMonitorInstruments(const CMonitorInstruments&) = delete;
    CMonitorInstruments& operator=(const CMonitorInstruments&) = delete;

    // Starts serving; false with a sentence naming the address and the cause.
    bool Listen(std::string& whyNot);

    // Where the passes' reports go after they were counted (not owned); null: nowhere.
    void SetNext(IPassListener* next) { m_next = next; }

    // Every tick, also one that a pause or a running cycle turns away: a paused monitor still
    // ticks and is healthy.
    void TickArrived(bool paused);
    // A cycle that ran, begun at `startedMs` on the steady clock (Clock::SteadyMilliseconds).
    void CycleRan(int64_t startedMs);
    void SetPaused(bool paused);
    // From the moment a quit is asked for: the health check answers 503 until the end.
    void SetStopping();

    void OnScanStarting(const UserlistStru& user) override;
    void OnScan(const UserlistStru& user) override;
    void OnPage(const UserlistStru& user, const ReminderStru& reminder, const CTime& now,
                PageOutcome outcome, const CString& event) override;
    void OnOutOfOfficeCheck(const UserlistStru& user, bool read) override;

    const CMonitorMetrics& Metrics() const { return m_metrics; }
    const CMonitorHealth& Health() const { return m_health; }
    CMetricsServer& Server() { return *m_server; }

private:
    const CUserList& m_users;
    CMonitorMetrics m_metrics;
    CMonitorHealth m_health;
    std::unique_ptr<CMetricsServer> m_server; // after what its answers read
    metrics::ListenAddress m_address;
    std::function<bool()> m_clusterActive;
    IPassListener* m_next = nullptr;
    int64_t m_scanStartedMs = 0; // steady milliseconds at the start of the running scan
    std::thread::id m_thread;    // the monitor's: entries from elsewhere are not counted
    std::function<void(const EventLog::Entry&)> m_previousCounter; // given back at the end
};
