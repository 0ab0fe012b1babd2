// Publishing and taking the shared user list.
#include "app/cluster/ClusterUsers.h"

#include "core/FileStamp.h"
#include "core/FileSystem.h"

#include <QCryptographicHash>
#include <sstream>

namespace cluster {
namespace {

// "REVISION DIGEST\n"; false when the file is missing or cannot be read.
bool ReadSync(const std::string& path, int64_t& revision, std::string& digest) {
    std::string bytes;
    int error = 0;
    if (ReadWholeFile(path, 4096, bytes, error) != ReadStatus::Ok)
        return false;
    std::istringstream in(bytes);
    return static_cast<bool>(in >> revision >> digest);
}

} // namespace

std::string UsersDigest(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

SharedUsers::SharedUsers(EtcdClient& client, const std::string& key, std::string syncPath)
    : m_blob(client, key), m_syncPath(std::move(syncPath)) {}

void SharedUsers::Agree(const std::string& bytes, int64_t revision) {
    m_known = revision;
    m_started = true;
    m_edited = false;
    // A lost sync file only costs the next start its check for an edit made while stopped.
    SaveFileAtomically(m_syncPath, std::to_string(revision) + " " + UsersDigest(bytes) + "\n");
}

void SharedUsers::Adopted(const std::string& bytes) {
    Agree(bytes, m_known);
}

SharedUsers::Result SharedUsers::Publish(const std::string& bytes, int64_t expected) {
    Result result;
    bool conflict = false;
    int64_t revision = 0;
    const Status s = m_blob.Write(bytes, expected, conflict, revision);
    if (!s.IsOk()) {
        result.outcome = Outcome::Failed;
        result.error = s.message;
        return result;
    }
    if (!conflict) {
        Agree(bytes, revision);
        result.outcome = Outcome::Published;
        return result;
    }
    // Another instance wrote first: its list is the one every instance takes.
    const Status read = m_blob.Read(result.bytes, revision);
    if (!read.IsOk()) {
        result.outcome = Outcome::Failed;
        result.error = read.message;
        return result;
    }
    m_known = revision;
    m_started = true;
    m_edited = false;
    result.outcome = Outcome::Overtaken;
    return result;
}

SharedUsers::Result SharedUsers::First(const std::function<std::string()>& local) {
    Result result;
    std::string shared;
    int64_t revision = 0;
    const Status s = m_blob.Read(shared, revision);
    if (!s.IsOk()) {
        result.outcome = Outcome::Failed;
        result.error = s.message;
        return result;
    }
    const std::string mine = local();
    if (revision == 0) // the first instance of the cluster: its list is the shared one
        return Publish(mine, 0);
    int64_t syncedRevision = 0;
    std::string syncedDigest;
    const bool synced = ReadSync(m_syncPath, syncedRevision, syncedDigest);
    if (m_edited || (synced && syncedDigest != UsersDigest(mine)))
        return Publish(mine, synced ? syncedRevision : revision);
    if (shared == mine) {
        Agree(mine, revision);
        return result;
    }
    m_known = revision;
    m_started = true;
    result.outcome = Outcome::Adopt;
    result.bytes = std::move(shared);
    return result;
}

SharedUsers::Result SharedUsers::Sync(const std::function<std::string()>& local) {
    if (!m_started)
        return First(local);
    if (m_edited)
        return Publish(local(), m_known);
    Result result;
    int64_t revision = 0;
    Status s = m_blob.Revision(revision);
    if (s.IsOk() && revision == m_known)
        return result;
    std::string shared;
    if (s.IsOk())
        s = m_blob.Read(shared, revision);
    if (!s.IsOk()) {
        result.outcome = Outcome::Failed;
        result.error = s.message;
        return result;
    }
    if (shared == local()) {
        Agree(shared, revision);
        return result;
    }
    m_known = revision;
    result.outcome = Outcome::Adopt;
    result.bytes = std::move(shared);
    return result;
}

} // namespace cluster
