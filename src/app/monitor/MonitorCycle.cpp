// The monitoring cycle.
#include "app/monitor/MonitorCycle.h"

#include "app/cluster/ClusterNode.h"
#include "app/cluster/ClusterUsers.h"
#include "app/cluster/SharedBlob.h"
#include "app/monitor/ControlSocket.h"
#include "app/monitor/MonitorInstruments.h"
#include "app/monitor/MonitorStatus.h"
#include "core/Clock.h"
#include "core/MessageBoxes.h"
#include "core/Settings.h"
#include "core/WorkingDirectory.h"
#include "paging/CMAPI.h"
#include "paging/EventLog.h"
#include "users/UserFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>
#include <utility>

namespace {

// Resets a flag however the scope is left.
class FlagReset {
public:
    explicit FlagReset(int& flag) : m_flag(flag) {}
    ~FlagReset() { m_flag = 0; }
    FlagReset(const FlagReset&) = delete;
    FlagReset& operator=(const FlagReset&) = delete;

private:
    int& m_flag;
};

constexpr auto kMonitorLockPause = std::chrono::milliseconds(100);

} // namespace

CMonitorCycle::CMonitorCycle() = default;

CMonitorCycle::~CMonitorCycle() = default;

bool CMonitorCycle::OnCreate() {
    m_PendingList.reset();
    m_TimerId = 0;
    m_Busy = 0;
    m_Paused = 0;
    m_QuitRequested = 0;

    if (!WorkingDirectory::Capture()) {
        AfxMessageBox(CString("Orvane cannot read its working directory (") + std::strerror(errno) +
                          "), where it keeps its user data file.",
                      "Initialization Error", MB_OK | MB_ICONSTOP);
        return false;
    }
    m_WorkingDirectory = WorkingDirectory::Get();

    if (!CreateBars())
        return false;

    FileLock::Outcome locked = FileLock::Busy;
    for (int attempt = 0; attempt < m_MonitorLockAttempts && locked == FileLock::Busy; ++attempt) {
        if (attempt)
            std::this_thread::sleep_for(kMonitorLockPause);
        locked =
            m_MonitorLock.TryLock(DATFileName(UserFile::kMonitorLockFileName), FileLock::Exclusive);
    }
    if (locked == FileLock::Busy) {
        AfxMessageBox("Another copy of Orvane is already monitoring the users of " +
                          m_WorkingDirectory + ".",
                      "Initialization Error", MB_OK | MB_ICONSTOP);
        return false;
    }
    // Unavailable (a read-only directory): monitoring still works; nothing can edit the file.

    m_UserList.LoadUsers();
    RestoreLastPages();
    CMAPI::KeepLibraryResident(true); // a page a tick must not map and relocate it every time
    RestoreState();
    m_UserList.SentPages = &m_SentPages;
    if (m_MonitorLock.IsLocked())
        StartControl(); // only the holder of the lock may claim the directory's socket
    if (!StartCluster())
        return false;
    if (!StartInstruments())
        return false;

    m_TimerId = StartTimer(kTimerId, kTimerPeriodMs);
    if (m_TimerId == 0) {
        AfxMessageBox("No unallocated system timers.  Other applications have utilized all the "
                      "timers.  Try terminating some applications before running this program.",
                      "Initialization Error", MB_OK | MB_ICONSTOP);
        return false;
    }
    SetModeText(kMonitoringText);
    return true;
}

void CMonitorCycle::RestoreState() {
    m_StateKeeper.SetPath(DATFileName(monitorstate::kFileName));
    const CTime now = CTime::GetCurrentTime();
    monitorstate::State state;
    const bool restoring = m_StateKeeper.Load(state);
    // Loaded as at the save, so that it still holds what was paged between the save and the stop
    // (the restore leaves those out); what has passed by now is forgotten at its first use.
    m_SentPages.Load(DATFileName(CSentPages::kFileName),
                     restoring ? std::min(now, state.SavedAt) : now);
    m_Restored = restoring ? monitorstate::Restore(m_UserList, state, now, &m_SentPages)
                           : monitorstate::RestoreCounts();
    // Not saved at once: the first round of scans, the first ticks' busiest work, reads again
    // whatever a crash in that time would lose.
    m_StateKeeper.StartPeriod();
}

void CMonitorCycle::OnTimer() {
    if (m_Instruments)
        m_Instruments->TickArrived(m_Paused == 1);
    if (m_Busy == 1 || m_Paused == 1)
        return;
    m_Busy = 1;
    FlagReset notBusy(m_Busy);
    const int64_t startedMs = m_Instruments ? Clock::SteadyMilliseconds() : 0;

    try {
        StepCluster();
        RefreshUserList();
        if (MayPage()) {
            RunPasses();
            PublishClusterState();
        }
        SaveStatusIfDue();
        if (m_MonitorLock.IsLocked())
            m_StateKeeper.SaveIfDue(m_UserList);
    } catch (const std::exception& e) {
        ReportEscapedFailure(e.what());
    } catch (...) {
        ReportEscapedFailure("an unknown error");
    }
    if (m_Instruments)
        m_Instruments->CycleRan(startedMs);

    QuitIfRequested();
}

void CMonitorCycle::QuitIfRequested() {
    if (m_QuitRequested != 1)
        return;
    m_QuitRequested = 0;
    PostCloseRequest();
    if (m_TimerId != 0)
        StopTimer(m_TimerId);
    m_TimerId = 0;
}

bool CMonitorCycle::OnBetweenTicks(int msToNextTick) {
    // Room for a whole pass and the scan it may finish past its time; an edit waiting to be
    // applied is applied at the next tick first.
    constexpr int kMarginMs = 50;
    const auto waiting = [this] {
        return m_UserList.LatePagesWaiting() || m_UserList.OOFRoundWaiting() ||
               m_UserList.ScansWaiting();
    };
    if (m_Busy == 1 || m_Paused == 1 || !m_Passes || m_PendingList || m_QuitRequested == 1 ||
        !MayPage() || !waiting())
        return false;
    if (msToNextTick < Settings::ScanMillisecondsPerTick() + kMarginMs)
        return false;
    bool more = false;
    {
        m_Busy = 1;
        FlagReset notBusy(m_Busy);
        try {
            // Pages already late go first: until a user is scanned, its restored list pages.
            // Then an out-of-office round: the flags it reads decide who is scanned.
            const int changed = m_UserList.LatePagesWaiting() ? m_UserList.PageLateReminders()
                                : m_UserList.OOFRoundWaiting()
                                    ? m_Passes->UpdateOOFFlags(m_UserList)
                                    : m_Passes->UpdateReminders(m_UserList);
            if (changed) {
                m_StatusChanged = true;
                RefreshView();
            }
            more = waiting();
        } catch (const std::exception& e) {
            ReportEscapedFailure(e.what());
        } catch (...) {
            ReportEscapedFailure("an unknown error");
        }
    }
    QuitIfRequested(); // asked for while the pass ran
    return more && m_TimerId != 0;
}

void CMonitorCycle::RunPasses() {
    if (!m_Passes)
        return;
    const int a = m_Passes->UpdateOOFFlags(m_UserList);
    const int b = m_Passes->UpdateReminders(m_UserList);
    const int c = m_Passes->ProcessReminders(m_UserList);
    if (a || b || c) {
        m_StatusChanged = true;
        RefreshView();
    }
}

void CMonitorCycle::ReportEscapedFailure(const char* what) {
    // The passes handle the failures they expect; anything else ends this cycle early, and the
    // next tick starts a fresh one.
    LogEvent(EventLog::kEventId,
             (CString("A monitoring cycle was interrupted by ") + what + ".").c_str());
    RefreshView();
}

void CMonitorCycle::OnActionPause() {
    if (m_Paused == 1) {
        m_Paused = 0;
        SetModeText(kMonitoringText);
    } else {
        m_Paused = 1;
        SetModeText(kPausedText);
    }
    if (m_Instruments)
        m_Instruments->SetPaused(m_Paused == 1);
}

void CMonitorCycle::OnAppExit() {
    if (m_Busy == 0) {
        NoteStopping();
        PostCloseRequest();
        return;
    }
    if (AfxMessageBox("Scanning and paging of reminders is currently in progress.  The program "
                      "will be terminated once the operation is complete.",
                      "Quit Notice", MB_OKCANCEL | MB_ICONINFORMATION) == IDOK) {
        m_QuitRequested = 1;
        NoteStopping();
    }
}

bool CMonitorCycle::OnSysClose() {
    if (m_Busy != 1) {
        NoteStopping();
        return true;
    }
    if (AfxMessageBox("Scanning or processing of page requests is currently in progress.  The "
                      "program will be terminated once the operation is complete.",
                      "EMail Notice", MB_OKCANCEL | MB_ICONINFORMATION) == IDOK) {
        m_QuitRequested = 1;
        NoteStopping();
    }
    return false;
}

void CMonitorCycle::RequestQuit() {
    NoteStopping();
    if (m_Busy == 0)
        PostCloseRequest();
    else
        m_QuitRequested = 1;
}

void CMonitorCycle::NoteStopping() {
    if (m_Instruments)
        m_Instruments->SetStopping();
}

void CMonitorCycle::SetPassListener(IPassListener* listener) {
    m_PassListener = listener;
    if (m_Instruments)
        m_Instruments->SetNext(listener);
    m_UserList.Listener = m_Instruments ? m_Instruments.get() : listener;
}

bool CMonitorCycle::StartInstruments() {
    std::optional<metrics::ListenAddress> address;
    std::string whyNot;
    if (!CMonitorInstruments::ChooseAddress(m_MetricsAddress, address, whyNot)) {
        AfxMessageBox(whyNot, "Initialization Error", MB_OK | MB_ICONSTOP);
        return false;
    }
    if (!address)
        return true; // off: nothing listens and nothing is counted
    CMonitorInstruments::Options options;
    options.address = *address;
    options.version = ORVANE_VERSION;
    if (m_Cluster)
        options.clusterActive = [this] { return MayPage(); };
    auto instruments = std::make_unique<CMonitorInstruments>(m_UserList, std::move(options));
    if (!instruments->Listen(whyNot)) {
        AfxMessageBox(whyNot, "Initialization Error", MB_OK | MB_ICONSTOP);
        return false;
    }
    m_Instruments = std::move(instruments);
    SetPassListener(m_PassListener);
    return true;
}

void CMonitorCycle::OnConfigureUsers() {
    if (m_PendingList)
        return;
    auto copy = std::make_unique<CUserList>();
    for (const auto& user : m_UserList.Users())
        copy->CreateUser(user.get());
    m_UserDialogOpen = true;
    const bool accepted = RunUserListDialog(*copy);
    m_UserDialogOpen = false;
    if (accepted)
        m_PendingList = std::move(copy);
}

void CMonitorCycle::RefreshUserList() {
    if (!m_PendingList)
        return;
    // Taken first: an edit handed over while the save below waits for an answer becomes a new
    // pending list instead of being dropped with this one.
    const std::unique_ptr<CUserList> pending = std::move(m_PendingList);
    const bool fromCluster = std::exchange(m_PendingFromCluster, false);
    const QJsonObject before = StatusSnapshot(); // the users' latest pages outlive the edit
    m_UserList.DeleteAllUsers();
    for (const auto& user : pending->Users())
        m_UserList.CreateUser(user.get());
    status::RestoreLastPages(m_UserList, before);
    m_StateKeeper.NoteListReplaced();
    m_UserList.SaveUsers();
    if (m_SharedUsers && !fromCluster)
        m_SharedUsers->MarkEdited(); // the other instances take it from the next tick
    m_StatusChanged = true;
    RefreshView();
}

void CMonitorCycle::OnDestroy() {
    if (m_TimerId != 0)
        StopTimer(m_TimerId);
    m_TimerId = 0;
    RefreshUserList();
    m_Control.reset();
    if (m_Cluster) {
        if (m_SharedUsers && m_Cluster->CurrentRole() != cluster::Role::NoCluster)
            SyncClusterUsers(); // an edit applied just now reaches the others
        m_Cluster->Resign();    // a standby takes over at its next step, not when the lease ends
    }
    if (m_Instruments) { // the endpoint closes with the monitor
        m_Instruments.reset();
        SetPassListener(m_PassListener);
    }
    if (m_MonitorLock.IsLocked()) {
        SaveStatus();
        m_StateKeeper.Save(m_UserList);
    }
    m_MonitorLock.Unlock(); // nothing is written any more: the commands may edit the file
}
