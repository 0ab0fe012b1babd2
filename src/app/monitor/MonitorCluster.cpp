// The monitoring cycle's part in a cluster: joining it, the election's step before the passes,
// and the user list shared with the other instances.
#include "app/monitor/ClusterNode.h"
#include "app/monitor/ClusterUsers.h"
#include "app/monitor/MonitorCycle.h"
#include "core/MessageBoxes.h"
#include "mailsystem/transport/Transport.h"
#include "paging/EventLog.h"
#include "users/UserFile.h"

namespace {

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
    if (tookOver) {
        // The reminder lists are those of the last time this instance led, or of its start:
        // every user is scanned again at once, while the lists it has page what is due (each
        // page claimed first, so none another leader sent goes twice).
        for (const auto& user : m_UserList.Users())
            user->NextScan = CTime(0);
    }
    m_ClusterRole = role;
    m_StatusChanged = true;
    ShowClusterRole(role, ClusterSentence(role));
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
