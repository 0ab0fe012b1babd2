// The monitor's side of the control socket, its status file and the reload of its users.
#include "app/cluster/ClusterNode.h"
#include "app/monitor/ControlSocket.h"
#include "app/monitor/MonitorCycle.h"
#include "app/monitor/MonitorStatus.h"
#include "core/FileSystem.h"
#include "paging/EventLog.h"
#include "users/UserFile.h"
#include "users/UserListEdit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <sstream>

namespace {

// Command-line words and printed texts travel as Latin-1, which maps every byte to one
// character and back, so that names in any code page arrive byte for byte.
QString Bytes(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

void CMonitorCycle::StartControl() {
    m_Control = std::make_unique<CControlServer>(
        [this](const QJsonObject& request) { return HandleControlRequest(request); });
    CString whyNot;
    if (!m_Control->Listen(m_WorkingDirectory, whyNot)) {
        m_Control.reset();
        LogEvent(EventLog::kEventId,
                 ("Orvane cannot offer its control socket in " + m_WorkingDirectory + ": " +
                  whyNot + ". \"orvane users\" cannot change the users while it runs, and " +
                  "\"orvane status\" shows the state it saved last.")
                     .c_str());
    }
}

void CMonitorCycle::RestoreLastPages() {
    QJsonObject saved;
    CString problem;
    if (status::Read(DATFileName(status::kFileName), saved, problem))
        status::RestoreLastPages(m_UserList, saved);
}

bool CMonitorCycle::IsControlListening() const {
    return m_Control && m_Control->IsListening();
}

QJsonObject CMonitorCycle::HandleControlRequest(const QJsonObject& request) {
    const QString kind = request["request"].toString();
    if (kind == "status")
        return StatusSnapshot();
    if (kind == "users") {
        std::vector<std::string> args;
        for (const QJsonValue& word : request["args"].toArray())
            args.push_back(word.toString().toLatin1().toStdString());
        std::ostringstream out, err;
        const int exit = HandUserEdit(args, out, err);
        return {{"exit", exit},
                {"out", Bytes(out.str())},
                {"err", Bytes(err.str())},
                {"paused", IsPaused()}};
    }
    return {{"error", "unknown request \"" + kind + "\""}};
}

int CMonitorCycle::HandUserEdit(const std::vector<std::string>& args, std::ostream& out,
                                std::ostream& err) {
    if (m_UserDialogOpen) {
        err << "orvane: the Users dialog is open in Orvane's window for " << m_WorkingDirectory
            << "; nothing was changed. Try again once it is closed\n";
        return 1;
    }
    // The edit goes on top of an accepted edit not yet applied, so that none is lost.
    auto working = std::make_unique<CUserList>();
    *working = m_PendingList ? *m_PendingList : m_UserList;
    const int exit = ChangeUserList(*working, args, out, err);
    if (exit == 0)
        m_PendingList = std::move(working);
    return exit;
}

QJsonObject CMonitorCycle::StatusSnapshot() const {
    QJsonObject snapshot = status::Snapshot(m_UserList, m_WorkingDirectory, CTime::GetCurrentTime(),
                                            m_Paused != 0, m_PendingList != nullptr);
    if (m_Cluster) {
        const cluster::Role role = m_ClusterRole.value_or(cluster::Role::NoCluster);
        snapshot.insert("cluster", cluster::RoleName(role));
        snapshot.insert("cluster_leader",
                        QString::fromStdString(m_Cluster->GetElection().Leader()));
        snapshot.insert("cluster_instance",
                        QString::fromStdString(m_Cluster->GetElection().Candidate()));
    }
    return snapshot;
}

bool CMonitorCycle::SaveStatus() {
    QJsonObject snapshot = StatusSnapshot();
    const QJsonValue now = snapshot.value("time");
    snapshot.insert("saved_at", now);
    const QByteArray bytes = QJsonDocument(snapshot).toJson(QJsonDocument::Compact);
    const CString path = DATFileName(status::kFileName);
    // Readable by its owner only, as the socket is: it holds page texts.
    const SaveResult saved = SaveFileAtomically(path, bytes.toStdString(), 0600);
    m_StatusSavedAt = std::chrono::steady_clock::now();
    m_StatusChanged = false;
    if (!saved.ok() && !saved.replaced) {
        LogEvent(
            EventLog::kEventId,
            ("The status file " + path + " was not written (" + saved.Describe() + ").").c_str());
        return false;
    }
    return true;
}

void CMonitorCycle::SaveStatusIfDue() {
    if (!m_StatusChanged || !m_MonitorLock.IsLocked())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_StatusSavedAt != std::chrono::steady_clock::time_point{} &&
        now - m_StatusSavedAt < m_StatusSavePeriod)
        return;
    SaveStatus();
}

CString CMonitorCycle::ReloadUsers(bool& ok) {
    ok = false;
    if (m_UserDialogOpen)
        return "The Users dialog is open; the users were not read again.";
    auto list = std::make_unique<CUserList>();
    const UserFileLoad load = list->LoadUsers();
    const CString path = DATFileName(UserFile::kFileName);
    switch (load.status) {
    case UserFileLoad::Loaded:
        break;
    case UserFileLoad::Missing:
        return "There is no " + path + "; the users monitored are kept.";
    default:
        return load.message + " The users monitored are kept.";
    }
    const int count = list->GetCount();
    m_PendingList = std::move(list);
    ok = true;
    return "Read " + std::to_string(count) + (count == 1 ? " user" : " users") + " from " + path +
           "; monitoring starts afresh with them at the next cycle.";
}
