// The monitor's metric families.
#include "app/monitor/MonitorMetrics.h"

#include "paging/CRemList.h"
#include "users/CUserList.h"

#include <algorithm>

namespace {

using metrics::Type;

// A page goes out within milliseconds of its second at a tick, later behind a long first round
// of scans, and minutes late when monitoring was paused or stuck: both ends must show.
const std::vector<double> kPageDelayBounds = {0.01, 0.05, 0.1, 0.25, 0.5, 1,   2.5,  5,
                                              10,   30,   60,  120,  300, 600, 1800, 3600};
// A rescan of unchanged files takes milliseconds; a first read of a large calendar or a slow
// calendar server, seconds.
const std::vector<double> kScanDurationBounds = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                 0.25,  0.5,    1,     2.5,  5,     10,   30};
// A tick with nothing due takes well under a millisecond per thousand users; its scans are
// bounded by ScanMillisecondsPerTick (100 ms by default).
const std::vector<double> kTickDurationBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                 0.1,    0.25,  0.5,    1,     2.5,  5,     10};

} // namespace

CMonitorMetrics::CMonitorMetrics(const std::string& version, bool cluster) {
    metrics::Family& pages = m_registry.Add(
        Type::Counter, "orvane_pages_total",
        "Due reminders by what became of them: sent as a page, dropped outside the paging hours, "
        "or failed to send (tried again at the next tick).",
        {"result"});
    pagesSent = pages.NewCounter({"sent"});
    pagesDropped = pages.NewCounter({"dropped"});
    pagesFailed = pages.NewCounter({"failed"});
    pageDelay = m_registry.AddHistogram(
        "orvane_page_delay_seconds",
        "Time from a reminder's page time to the moment its page was handed to the mail system.",
        kPageDelayBounds);

    metrics::Family& scans =
        m_registry.Add(Type::Counter, "orvane_scans_total",
                       "User scans of calendars and task lists, by result.", {"result"});
    scansSucceeded = scans.NewCounter({"succeeded"});
    scansFailed = scans.NewCounter({"failed"});
    scanDuration = m_registry.AddHistogram("orvane_scan_duration_seconds",
                                           "Time one user's scan took.", kScanDurationBounds);
    firstRoundComplete = m_registry.AddGauge(
        "orvane_first_round_complete",
        "1 once every active user has been scanned since the monitor started, 0 before.");

    metrics::Family& outOfOffice = m_registry.Add(
        Type::Counter, "orvane_out_of_office_checks_total",
        "Out-of-office flags read from the users' mailboxes, by result.", {"result"});
    outOfOfficeChecksSucceeded = outOfOffice.NewCounter({"succeeded"});
    outOfOfficeChecksFailed = outOfOffice.NewCounter({"failed"});

    metrics::Family& users = m_registry.Add(
        Type::Gauge, "orvane_users",
        "Users monitored, by state: active (scanned and paged), inactive (paged only when out "
        "of office, and in the office), error (active, but the last scan failed).",
        {"state"});
    usersActive = users.NewGauge({"active"});
    usersInactive = users.NewGauge({"inactive"});
    usersError = users.NewGauge({"error"});
    remindersPending = m_registry.AddGauge("orvane_reminders_pending",
                                           "Reminders waiting to be paged for the active users.");
    nextPageTimestamp = m_registry.AddGauge(
        "orvane_next_page_timestamp_seconds",
        "Page time of the earliest pending reminder, in seconds since 1970; 0 when none is "
        "pending.");

    tickDuration = m_registry.AddHistogram("orvane_tick_duration_seconds",
                                           "Time one monitoring cycle took.", kTickDurationBounds);
    lastTickTimestamp =
        m_registry.AddGauge("orvane_last_tick_timestamp_seconds",
                            "When the monitor last ticked (also while paused), in seconds "
                            "since 1970.");
    paused = m_registry.AddGauge("orvane_paused", "1 while monitoring is paused, else 0.");

    metrics::Family& events =
        m_registry.Add(Type::Counter, "orvane_events_total",
                       "Entries written to the event log, by event type.", {"type"});
    eventsError = events.NewCounter({"error"});
    eventsWarning = events.NewCounter({"warning"});
    eventsInformation = events.NewCounter({"information"});

    buildInfo = m_registry
                    .Add(Type::Gauge, "orvane_build_info",
                         "Always 1; the label tells the version of Orvane running.", {"version"})
                    .NewGauge({version});
    buildInfo.Set(1);

    if (cluster)
        clusterActive =
            m_registry.AddGauge("orvane_cluster_active",
                                "1 while this node of the cluster monitors the users, else 0.");
}

void CMonitorMetrics::CountPage(PageOutcome outcome, double delaySeconds) const {
    switch (outcome) {
    case PageOutcome::Sent:
        pagesSent.Inc();
        pageDelay.Observe(std::max(0.0, delaySeconds));
        break;
    case PageOutcome::Dropped:
    case PageOutcome::Expired: // a late reminder over before it could be paged
        pagesDropped.Inc();
        break;
    case PageOutcome::Failed:
        pagesFailed.Inc();
        break;
    case PageOutcome::AlreadySent:
        break;
    }
}

void CMonitorMetrics::CountScan(bool succeeded, double seconds) const {
    (succeeded ? scansSucceeded : scansFailed).Inc();
    scanDuration.Observe(seconds);
}

void CMonitorMetrics::CountOutOfOfficeCheck(bool succeeded) const {
    (succeeded ? outOfOfficeChecksSucceeded : outOfOfficeChecksFailed).Inc();
}

void CMonitorMetrics::CountEvent(int eventType) const {
    switch (eventType) {
    case 2:
        eventsWarning.Inc();
        break;
    case 4:
        eventsInformation.Inc();
        break;
    default:
        eventsError.Inc();
    }
}

void CMonitorMetrics::SetFromUsers(const CUserList& users) const {
    int active = 0, inactive = 0, error = 0, pending = 0;
    bool allScanned = true;
    const ReminderStru* next = nullptr;
    for (const auto& user : users.Users()) {
        if (!IsActiveUser(*user)) {
            ++inactive;
            continue;
        }
        ++(user->ScanStatus == 0 ? error : active);
        allScanned = allScanned && user->ScanStatus != -1;
        pending += user->Reminders.GetCount();
        const ReminderStru* head = user->Reminders.GetHead(); // the earliest: lists are sorted
        if (head && (!next || head->PageTime < next->PageTime))
            next = head;
    }
    usersActive.Set(active);
    usersInactive.Set(inactive);
    usersError.Set(error);
    remindersPending.Set(pending);
    nextPageTimestamp.Set(next ? static_cast<double>(next->PageTime.GetTime()) : 0);
    if (allScanned)
        firstRoundComplete.Set(1);
}
