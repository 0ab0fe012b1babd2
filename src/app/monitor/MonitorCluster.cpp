// The monitoring cycle's part in a cluster: joining it, the election's step before the passes,
// and the user list shared with the other instances.
#include "app/cluster/ClusterNode.h"
#include "app/cluster/ClusterUsers.h"
#include "app/cluster/SharedBlob.h"
#include "app/monitor/MonitorCycle.h"
#include "core/Clock.h"
#include "core/MessageBoxes.h"
#include "mailsystem/transport/Transport.h"
#include "paging/EventLog.h"
#include "users/UserFile.h"

namespace {

// A leader publishes its state at most this often (when it changed), so that a standby taking
// over pages what fell due in the switch without waiting for its scans.
constexpr int64_t kStatePublishPeriodMs = 5000;
// A large state is published less often: every write is replicated to each etcd member and kept
// in its log until the next snapshot, and the state a minute old still holds the reminders due
// now (scans collect them ahead), which is what a new leader needs from it.
constexpr size_t kLargeStateBytes = 256u << 10;
constexpr int64_t kLargeStatePublishPeriodMs = 60000;
// After etcd refused the state (larger than its request limit), asked again no sooner than this.
constexpr int64_t kStateRefusedPauseMs = 300000;

// "etcd://host:port,host:port/prefix", as it was given (without user or password).
CString UrlText(const cluster::ClusterUrl& url) {
    CString text = url.tls ? "etcds://" : "etcd://";
    for (size_t i = 0; i < url.members.size(); ++i)
        text += (i ? "," : "") + cluster::MemberName(url.members[i]);
    return text + "/" + url.prefix;
}

} // namespace

bool CMonitorCycle::StartCluster() {
    std::optional<cluster::ClientConfig> config;
    std::string error;
    if (!cluster::ChooseClusterConfig(m_ClusterOptions, config, error)) {
        AfxMessageBox(error, "Initialization Error", MB_OK | MB_ICONSTOP);
        return false;
    }
    if (!config)
        return true;
    cluster::Node::Options options;
    options.candidate = cluster::CandidateName();
    // A send that began before a leader stopped has ended, one way or the other, after this.
    const mail::TransportLimits limits = mail::CurrentTransportLimits();
    options.maybeSentAfterMs = limits.connectTimeoutMs + limits.overallTimeoutMs;
    m_Cluster = std::make_unique<cluster::Node>(std::move(*config), std::move(options));
    m_SharedUsers =
        std::make_unique<cluster::SharedUsers>(m_Cluster->Client(), m_Cluster->Url().UsersKey(),
                                               DATFileName(cluster::SharedUsers::kSyncFileName));
    m_SharedState = std::make_unique<cluster::SharedBlob>(m_Cluster->Client(),
                                                          m_Cluster->Url().KeyRoot() + "state");
    m_SentPages.SetGate(m_Cluster.get());
    return true;
}

bool CMonitorCycle::MayPage() const {
    return !m_Cluster || m_Cluster->IsLeader();
}

CString CMonitorCycle::ClusterSentence(cluster::Role role) const {
    const cluster::Election& election = m_Cluster->GetElection();
    switch (role) {
    case cluster::Role::Active:
        return "this instance (" + election.Candidate() + ") pages the users";
    case cluster::Role::Standby:
        return election.Leader().empty()
                   ? CString("no instance leads yet; this one campaigns at its next step")
                   : "the instance " + election.Leader() + " pages the users; this one stands by";
    case cluster::Role::NoCluster:
        break;
    }
    return "etcd cannot be reached (" + election.LastError() + "); this instance pages nothing";
}

void CMonitorCycle::StepCluster() {
    if (!m_Cluster)
        return;
    const cluster::Role role = m_Cluster->Step();
    if (role != cluster::Role::NoCluster)
        SyncClusterUsers();
    if (m_ClusterRole == role)
        return;
    const bool tookOver = role == cluster::Role::Active;
    if (role == cluster::Role::NoCluster) {
        LogEvent(EventLog::kEventId,
                 ("Orvane lost its connection to the cluster " + UrlText(m_Cluster->Url()) +
                  " and pages nothing until it reaches etcd again: " +
                  m_Cluster->GetElection().LastError())
                     .c_str());
    }
    CString sentence = ClusterSentence(role);
    if (tookOver) {
        const int restored = TakeOverClusterState();
        sentence += restored ? "; the reminders of " + std::to_string(restored) +
                                   (restored == 1 ? " user were" : " users were") +
                                   " taken from the last leader's state"
                             : CString("; every user is scanned first");
    }
    m_ClusterRole = role;
    m_StatusChanged = true;
    ShowClusterRole(role, sentence);
}

int CMonitorCycle::TakeOverClusterState() {
    // The lists held now are those of the last time this instance led, or of its start: the
    // published state replaces them, and a user it does not hold is scanned at once.
    for (const auto& user : m_UserList.Users())
        user->NextScan = CTime(0);
    std::string bytes;
    int64_t revision = 0;
    if (!m_SharedState->Read(bytes, revision).IsOk() || revision == 0)
        return 0;
    monitorstate::State state;
    CString problem;
    if (!monitorstate::Decode(bytes, state, problem)) {
        LogEvent(EventLog::kEventId,
                 ("The monitor state that the last leader published under " + m_SharedState->Key() +
                  " cannot be used: " + problem + ". Every user is scanned again.")
                     .c_str());
        return 0;
    }
    for (const auto& user : m_UserList.Users()) {
        user->Reminders.ClearList();
        user->LateReminders.ClearList();
    }
    // Pages the last leader sent after it published are claimed before they leave: its records
    // keep them from going twice.
    const monitorstate::RestoreCounts counts =
        monitorstate::Restore(m_UserList, state, CTime::GetCurrentTime(), &m_SentPages);
    m_StatePublishedChanges = m_UserList.StateChanges();
    m_StatePublishedAtMs = Clock::SteadyMilliseconds();
    RefreshView();
    return counts.users;
}

void CMonitorCycle::PublishClusterState() {
    if (!m_Cluster || !m_Cluster->IsLeader())
        return;
    const int64_t nowMs = Clock::SteadyMilliseconds();
    const int64_t pause = m_StateRefused ? kStateRefusedPauseMs
                          : m_SharedState->PackedBytes() > kLargeStateBytes
                              ? kLargeStatePublishPeriodMs
                              : kStatePublishPeriodMs;
    if (m_StatePublishedAtMs && nowMs - m_StatePublishedAtMs < pause)
        return;
    if (m_StatePublishedAtMs && m_UserList.StateChanges() == m_StatePublishedChanges)
        return;
    const CString bytes = monitorstate::Encode(m_UserList, CTime::GetCurrentTime());
    bool conflict = false;
    int64_t revision = 0;
    const cluster::Status s =
        m_SharedState->Write(bytes, cluster::SharedBlob::kAnyRevision, conflict, revision);
    m_StatePublishedAtMs = nowMs;
    if (s.IsOk()) {
        m_StatePublishedChanges = m_UserList.StateChanges();
        m_StateRefused = false;
    } else if (s.kind == cluster::Status::Refused && !m_StateRefused) {
        m_StateRefused = true;
        LogEvent(EventLog::kEventId, ("The monitor state (" + std::to_string(bytes.size()) +
                                      " bytes before compression) could not be published under " +
                                      m_SharedState->Key() + ": " + s.message +
                                      ". A standby that takes over scans every user first.")
                                         .c_str());
    }
}

void CMonitorCycle::SyncClusterUsers() {
    // A local edit waiting to be applied goes first: it is saved at this tick and published at
    // the next.
    if (m_PendingList && !m_PendingFromCluster)
        return;
    const cluster::SharedUsers::Result result = m_SharedUsers->Sync(
        [this] { return UserFile::Encode(m_PendingList ? *m_PendingList : m_UserList); });
    using Outcome = cluster::SharedUsers::Outcome;
    if (result.outcome != Outcome::Adopt && result.outcome != Outcome::Overtaken)
        return;
    auto list = std::make_unique<CUserList>();
    const UserFile::DecodeResult decoded = UserFile::Decode(result.bytes, *list);
    if (decoded.damaged) {
        LogEvent(EventLog::kEventId, ("The user list shared under " + m_Cluster->Url().UsersKey() +
                                      " is damaged at byte " + std::to_string(decoded.offset) +
                                      " (" + decoded.reason + "); this instance keeps its own.")
                                         .c_str());
        m_SharedUsers->Adopted(UserFile::Encode(m_UserList)); // not read again until it changes
        return;
    }
    if (result.outcome == Outcome::Overtaken)
        LogEvent(EventLog::kEventId,
                 "An edit of the users on this instance was not taken: another instance of the "
                 "cluster changed them first, and its list replaces this one. Make the edit "
                 "again if it is still wanted.");
    m_SharedUsers->Adopted(result.bytes);
    m_PendingList = std::move(list);
    m_PendingFromCluster = true;
}
