// The running monitor's metrics endpoint and what feeds it.
#include "app/monitor/MonitorInstruments.h"

#include "core/Clock.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "users/CUserList.h"

bool CMonitorInstruments::ChooseAddress(const std::optional<std::string>& option,
                                        std::optional<metrics::ListenAddress>& address,
                                        std::string& whyNot) {
    address.reset();
    const std::string text =
        option ? *option
               : Settings::GetProfileString(Settings::kPreferences, metrics::kAddressSetting, "");
    if (TrimBlanks(text).empty())
        return true; // off
    metrics::ListenAddress parsed;
    if (!metrics::ParseListenAddress(text, parsed, whyNot)) {
        if (!option)
            whyNot += std::string(" It is the setting \"") + metrics::kAddressSetting +
                      "\" of the section \"" + Settings::kPreferences + "\" in " +
                      Settings::FilePath() + ".";
        return false;
    }
    address = parsed;
    return true;
}

CMonitorInstruments::CMonitorInstruments(const CUserList& users, Options options)
    : m_users(users), m_metrics(options.version, static_cast<bool>(options.clusterActive)),
      m_address(std::move(options.address)), m_clusterActive(std::move(options.clusterActive)),
      m_thread(std::this_thread::get_id()) {
    // What costs a walk over every user is worked out at a scrape, every few seconds, rather
    // than kept up at every tick.
    m_metrics.Registry().SetCollectHook([this] {
        m_metrics.SetFromUsers(m_users);
        if (m_clusterActive)
            m_metrics.clusterActive.Set(m_clusterActive() ? 1 : 0);
    });
    m_server =
        std::make_unique<CMetricsServer>(m_metrics.Registry(), [this] { return m_health.Check(); });
    m_previousCounter = EventLog::SetCountingObserver([this](const EventLog::Entry& entry) {
        if (std::this_thread::get_id() == m_thread) // the registry is this thread's alone
            m_metrics.CountEvent(entry.type);
    });
}

CMonitorInstruments::~CMonitorInstruments() {
    EventLog::SetCountingObserver(std::move(m_previousCounter));
    m_server.reset(); // no request is answered from here on
}

bool CMonitorInstruments::Listen(std::string& whyNot) {
    return m_server->Listen(m_address, whyNot);
}

void CMonitorInstruments::TickArrived(bool paused) {
    m_health.TickRan();
    m_metrics.lastTickTimestamp.Set(static_cast<double>(Clock::NowMilliseconds()) / 1000);
    m_metrics.paused.Set(paused ? 1 : 0);
}

void CMonitorInstruments::CycleRan(int64_t startedMs) {
    m_metrics.tickDuration.Observe(static_cast<double>(Clock::SteadyMilliseconds() - startedMs) /
                                   1000);
}

void CMonitorInstruments::SetPaused(bool paused) {
    m_metrics.paused.Set(paused ? 1 : 0);
}

void CMonitorInstruments::SetStopping() {
    m_health.SetStopping(true);
}

void CMonitorInstruments::OnScanStarting(const UserlistStru& user) {
    m_scanStartedMs = Clock::SteadyMilliseconds();
    if (m_next)
        m_next->OnScanStarting(user);
}

void CMonitorInstruments::OnScan(const UserlistStru& user) {
    m_metrics.CountScan(user.ScanStatus != 0,
                        static_cast<double>(Clock::SteadyMilliseconds() - m_scanStartedMs) / 1000);
    if (m_next)
        m_next->OnScan(user);
}

void CMonitorInstruments::OnPage(const UserlistStru& user, const ReminderStru& reminder,
                                 const CTime& now, PageOutcome outcome, const CString& event) {
    // `now` is the paging call's whole second; the delay wants the moment itself.
    const int64_t delayMs = Clock::NowMilliseconds() - int64_t(reminder.PageTime.GetTime()) * 1000;
    m_metrics.CountPage(outcome, static_cast<double>(delayMs) / 1000);
    if (m_next)
        m_next->OnPage(user, reminder, now, outcome, event);
}

void CMonitorInstruments::OnOutOfOfficeCheck(const UserlistStru& user, bool read) {
    m_metrics.CountOutOfOfficeCheck(read);
    if (m_next)
        m_next->OnOutOfOfficeCheck(user, read);
}
