// Every metric the monitor exposes, declared in one place with its HELP text, labels and buckets.
#pragma once

#include "app/metrics/Metrics.h"

#include <string>

class CUserList;
enum class PageOutcome;

// The monitor's families and their series, all made by the constructor, so that the label
// values are fixed and every update is an add on a handle. Durations are in seconds, times in
// seconds since 1970 (UTC), as Prometheus's base units are. Used on the monitor's thread only.
//
// Who updates what (the handles are public; each is updated by one place):
//   - the paging pass: CountPage for every due reminder;
//   - the scan pass: CountScan for every user scanned;
//   - the out-of-office pass: CountOutOfOfficeCheck for every mailbox read;
//   - the cycle: lastTickTimestamp at every tick, also one that a pause turns away (a paused
//     monitor still ticks and must not look stopped), tickDuration for every cycle that ran,
//     paused when the pause changes;
//   - the event log: CountEvent for every entry;
//   - the collect hook (Registry().SetCollectHook), at each scrape: SetFromUsers with the live
//     list, and clusterActive.
class CMonitorMetrics {
public:
    // `version` is the build's (orvane_build_info); `cluster` declares orvane_cluster_active.
    CMonitorMetrics(const std::string& version, bool cluster);
    CMonitorMetrics(const CMonitorMetrics&) = delete;
    CMonitorMetrics& operator=(const CMonitorMetrics&) = delete;

    metrics::Registry& Registry() { return m_registry; }
    const metrics::Registry& Registry() const { return m_registry; }

    // A due reminder that left its list (Sent, Dropped, Expired: counted as dropped) or stayed
    // after a failed send (Failed); for Sent, `delaySeconds` is observed in pageDelay (a negative
    // delay, after the clock was set back, as 0). AlreadySent, a page that a restart or rescan
    // collected again, is not a page and is not counted.
    void CountPage(PageOutcome outcome, double delaySeconds) const;
    void CountScan(bool succeeded, double seconds) const;
    void CountOutOfOfficeCheck(bool succeeded) const;
    // An event log entry of the given type (EventLog::Entry::type: 1 error, 2 warning,
    // 4 information; any other counts as an error).
    void CountEvent(int eventType) const;
    // The gauges that describe the list: users by state, reminders pending and the next page
    // time of the active users, and whether the first round is complete: every active user has
    // been scanned (users not active are not due). That one stays 1 once reached, also when an
    // edit of the users makes everyone due again. A walk over every user: at a scrape, not at
    // every tick.
    void SetFromUsers(const CUserList& users) const;

    // orvane_pages_total{result="sent|dropped|failed"}
    metrics::Counter pagesSent, pagesDropped, pagesFailed;
    // orvane_page_delay_seconds: from a reminder's page time to the moment its page was handed
    // to the mail system; sent pages only (CountPage observes it)
    metrics::Histogram pageDelay;
    // orvane_scans_total{result="succeeded|failed"}, orvane_scan_duration_seconds (per user)
    metrics::Counter scansSucceeded, scansFailed;
    metrics::Histogram scanDuration;
    // orvane_first_round_complete: 1 once every active user has been scanned, else 0
    metrics::Gauge firstRoundComplete;
    // orvane_out_of_office_checks_total{result="succeeded|failed"}: one per mailbox read
    metrics::Counter outOfOfficeChecksSucceeded, outOfOfficeChecksFailed;
    // orvane_users{state="active|inactive|error"}: active users whose last scan did not fail,
    // users not active now, active users whose last scan failed; they add up to the users
    metrics::Gauge usersActive, usersInactive, usersError;
    // orvane_reminders_pending: reminders in the active users' lists
    metrics::Gauge remindersPending;
    // orvane_next_page_timestamp_seconds: the earliest page time of those; 0 when there is none
    metrics::Gauge nextPageTimestamp;
    // orvane_tick_duration_seconds: one cycle, from its start to its end
    metrics::Histogram tickDuration;
    // orvane_last_tick_timestamp_seconds: when the monitor last ticked (milliseconds are kept)
    metrics::Gauge lastTickTimestamp;
    // orvane_paused: 1 while monitoring is paused
    metrics::Gauge paused;
    // orvane_events_total{type="error|warning|information"}
    metrics::Counter eventsError, eventsWarning, eventsInformation;
    // orvane_build_info{version}: always 1
    metrics::Gauge buildInfo;
    // orvane_cluster_active: 1 while this node is the one that monitors; declared only with a
    // cluster (unbound otherwise: do not use)
    metrics::Gauge clusterActive;

private:
    metrics::Registry m_registry;
};
