// The monitoring cycle of the main window: timer, busy/pause/quit rules and the pending user list.
#pragma once

#include "app/cluster/ClusterSetup.h"
#include "app/cluster/Election.h"
#include "app/monitor/StateKeeper.h"
#include "core/CString.h"
#include "core/FileSystem.h"
#include "paging/SentPages.h"
#include "users/CUserList.h"

#include <QJsonObject>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace cluster {
class Node;
class SharedBlob;
class SharedUsers;
} // namespace cluster
class CControlServer;
class CMonitorInstruments;
class IPassListener;

// The three passes that every cycle runs over the live list, in this order. Each result tells
// the cycle whether the list view needs a refresh.
class IMonitorPasses {
public:
    virtual ~IMonitorPasses() = default;
    virtual int UpdateOOFFlags(CUserList& users) = 0;   // 1 when a flag changed or a round ended
    virtual int UpdateReminders(CUserList& users) = 0;  // 1 when a user was scanned
    virtual int ProcessReminders(CUserList& users) = 0; // reminders that left the lists
};

// The deciding half of the main window, free of any window system: the desktop window and the
// headless monitor derive from it and supply the hooks. Runs on one thread; the flags guard
// against re-entry through nested event loops, not against other threads.
class CMonitorCycle {
public:
    static constexpr unsigned kTimerId = 1;
    static constexpr unsigned kTimerPeriodMs = 1000;
    static constexpr const char* kMonitoringText = "MONITORING";
    static constexpr const char* kPausedText = "PAUSED";

    CMonitorCycle();
    CMonitorCycle(const CMonitorCycle&) = delete;
    CMonitorCycle& operator=(const CMonitorCycle&) = delete;
    virtual ~CMonitorCycle();

    // Window creation: state, working directory, bars, users, timer. False fails the creation
    // (the reason has been shown).
    bool OnCreate();
    // One monitoring cycle; a tick during a cycle, or while paused, does nothing.
    void OnTimer();
    // The rest of a second after its cycle, `msToNextTick` long: when a turn of late pages
    // (reminders that fell due while the monitor was stopped) that the paging pass did not finish
    // is under way, or an out-of-office round has users left, or the cycle's scan pass stopped at
    // its time with users still due, one more pass of that length (late pages first, then the
    // out-of-office round, else scans) runs now if it fits before the next tick, so that long
    // rounds use the idle part of each second while every tick still pages on time. True when
    // another may follow.
    bool OnBetweenTicks(int msToNextTick);
    void OnActionPause();
    // File, Exit: closes now when idle; during a cycle asks "Quit Notice" and defers.
    void OnAppExit();
    // The system Close command: true when the default close should go ahead now; during a
    // cycle asks "EMail Notice", defers on OK and returns false.
    bool OnSysClose();
    // A quit asked for without a question (a signal to a headless monitor): closes now when
    // idle, otherwise at the end of the running cycle.
    void RequestQuit();
    // Configure, Users...: edits a copy; OK makes it the pending list.
    void OnConfigureUsers();
    // Applies the pending list, if any, to the live list and saves it.
    void RefreshUserList();
    // First part of the window's destruction: stop the timer, save a still pending edit.
    void OnDestroy();

    CString DATFileName(const CString& fileName) const { return m_WorkingDirectory + fileName; }

    // The passes the cycle runs (not owned); null runs none.
    void SetPasses(IMonitorPasses* passes) { m_Passes = passes; }
    // Who hears of every scan, page and out-of-office read of the live list (not owned; null:
    // nobody). Front ends set it here rather than in the list, so that the metrics, when on,
    // count them first.
    void SetPassListener(IPassListener* listener);
    // The metrics address the command line gave (--metrics; empty turns the endpoint off);
    // without it OnCreate reads the setting "MetricsAddress". Before OnCreate.
    void SetMetricsAddress(const std::string& address) { m_MetricsAddress = address; }
    // The cluster the command line named (--cluster and its user and password file); what it
    // leaves out the settings "Cluster", "ClusterUser" and "ClusterPasswordFile" decide. Before
    // OnCreate. No cluster: the monitor pages alone.
    void SetClusterOptions(const cluster::ClusterOptions& options) { m_ClusterOptions = options; }
    // This instance's membership of its cluster; null without a cluster.
    const cluster::Node* Cluster() const { return m_Cluster.get(); }
    // Whether this instance runs the passes now: always without a cluster; with one, while it
    // leads (judged on its own clock, without asking etcd).
    bool MayPage() const;
    // The metrics endpoint and its counts; null when it is off.
    CMonitorInstruments* Instruments() const { return m_Instruments.get(); }

    const CUserList& LiveUsers() const { return m_UserList; }
    CUserList& LiveUsers() { return m_UserList; }
    bool HasPendingList() const { return m_PendingList != nullptr; }
    unsigned TimerId() const { return m_TimerId; }
    bool IsBusy() const { return m_Busy != 0; }
    bool IsPaused() const { return m_Paused != 0; }
    bool IsQuitRequested() const { return m_QuitRequested != 0; }
    const CString& WorkingDirectory() const { return m_WorkingDirectory; }
    const CSentPages& SentPages() const { return m_SentPages; }
    // What the start took from the monitor's saved state (all zero when it started without).
    const monitorstate::RestoreCounts& Restored() const { return m_Restored; }
    const CStateKeeper& StateKeeper() const { return m_StateKeeper; }

    // The control socket's requests (MonitorControl.cpp): {"request": "status"} answers the
    // status snapshot; {"request": "users", "args": [...]} applies an `orvane users` change to
    // a copy of the pending list (or of the live list) that becomes the pending list, as an
    // accepted Users dialog does, and answers {"exit", "out", "err", "paused"}.
    QJsonObject HandleControlRequest(const QJsonObject& request);
    // What `orvane status` shows of this monitor now.
    QJsonObject StatusSnapshot() const;
    // Writes the snapshot to Status.json beside Users.dat; false when it could not be written.
    bool SaveStatus();
    // Reads Users.dat again and makes what it holds the pending list, applied at the next cycle
    // (every user then starts afresh; pages already sent are not sent again). A file that is
    // missing or cannot be read whole changes nothing. Returns a sentence saying which it was;
    // `ok` tells whether the users were taken.
    CString ReloadUsers(bool& ok);
    // Whether the control socket is served (it is not when it could not be made; an event says
    // why).
    bool IsControlListening() const;

protected:
    // How often creation tries the directory's monitor lock, 100 ms apart, before it concludes
    // that another monitor holds it (a command-line edit holds it only for a moment).
    int m_MonitorLockAttempts = 20;
    // The status file is written after a cycle that changed something, at most this often, and
    // when the monitor stops.
    std::chrono::seconds m_StatusSavePeriod{60};
    // The monitor's state file beside Users.dat (its save period can be set before OnCreate).
    CStateKeeper m_StateKeeper;

    // Hooks of the window system.
    virtual bool CreateBars() { return true; }
    // Starts the repeating timer; returns its identifier, 0 when it cannot be started.
    virtual unsigned StartTimer(unsigned id, unsigned periodMs) = 0;
    virtual void StopTimer(unsigned timerId) = 0;
    // Rebuilds the list view from the live list.
    virtual void RefreshView() {}
    virtual void SetModeText(const CString& text) = 0;
    // Posts a close request that is handled after the running cycle has returned.
    virtual void PostCloseRequest() = 0;
    // Runs the user-list dialog on `workingCopy`; true for OK.
    virtual bool RunUserListDialog(CUserList& workingCopy) = 0;
    // The instance's role in its cluster changed (and once after the first step): "ACTIVE",
    // "STANDBY" or "NO CLUSTER", with a sentence that says what it means here.
    virtual void ShowClusterRole(cluster::Role, const CString& /*sentence*/) {}

private:
    void RunPasses();
    void ReportEscapedFailure(const char* what);
    // Starts the metrics endpoint when an address is set; false (the reason shown) when it
    // cannot be read or listened on.
    bool StartInstruments();
    void NoteStopping();    // a quit was asked for: the health check says so from now on
    void QuitIfRequested(); // closes and stops the timer when a quit was asked for meanwhile
    void StartControl();
    // Gives the users the latest pages that the status file saved last holds.
    void RestoreLastPages();
    // Reads the record of pages sent and the monitor's saved state, and gives the users the
    // reminder lists, scan times and flags it holds for them.
    void RestoreState();
    void SaveStatusIfDue();
    // MonitorCluster.cpp: joins the cluster when one is named (false, the reason shown, when its
    // options cannot be used); each tick, the election's step and the shared user list.
    bool StartCluster();
    void StepCluster();
    void SyncClusterUsers();
    // The leader publishes its reminder lists (the state a restart restores) when they changed,
    // at most every kStatePublishPeriodMs (a minute once it is large); a new leader restores
    // them before its first passes.
    void PublishClusterState();
    // Returns how many users took a part of the published state (0: none was published, or it
    // could not be read: every user is then scanned again at once).
    int TakeOverClusterState();
    CString ClusterSentence(cluster::Role role) const;
    int HandUserEdit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

    CString m_WorkingDirectory;               // captured at creation, with one trailing "/"
    CUserList m_UserList;                     // the only list the cycle works on
    std::unique_ptr<CUserList> m_PendingList; // accepted edit not yet applied; null otherwise
    unsigned m_TimerId = 0;                   // 0 = no timer
    int m_Busy = 0;
    int m_Paused = 0;
    int m_QuitRequested = 0;
    IMonitorPasses* m_Passes = nullptr;
    FileLock m_MonitorLock; // tells the command line that this directory is monitored
    CSentPages m_SentPages; // pages sent, so that a reminder collected again is not paged twice
    monitorstate::RestoreCounts m_Restored;
    std::unique_ptr<CControlServer> m_Control; // `orvane users` and `orvane status` reach us here
    bool m_UserDialogOpen = false; // a command-line edit now would be lost at the dialog's OK
    bool m_StatusChanged = false;  // something changed since the status file was written
    std::chrono::steady_clock::time_point m_StatusSavedAt{}; // epoch: never
    IPassListener* m_PassListener = nullptr;
    std::optional<std::string> m_MetricsAddress; // nullopt: the setting decides
    cluster::ClusterOptions m_ClusterOptions;
    std::unique_ptr<cluster::Node> m_Cluster;            // null: no cluster
    std::unique_ptr<cluster::SharedUsers> m_SharedUsers; // with m_Cluster
    std::unique_ptr<cluster::SharedBlob> m_SharedState;  // with m_Cluster
    int64_t m_StatePublishedAtMs = 0;                    // Clock::SteadyMilliseconds; 0: not yet
    uint64_t m_StatePublishedChanges = 0;       // CUserList::StateChanges when it was published
    bool m_StateRefused = false;                // etcd refused it (too large): said once
    std::optional<cluster::Role> m_ClusterRole; // nullopt: no step yet
    bool m_PendingFromCluster = false; // the pending list is another instance's, not an edit here
    // Destroyed before the live list it describes (declared after it).
    std::unique_ptr<CMonitorInstruments> m_Instruments;
};
