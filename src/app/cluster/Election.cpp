// The campaign for the leader key: lease, observation and the transaction that takes the key.
#include "app/cluster/Election.h"

#include <ctime>

namespace cluster {

const char* RoleName(Role role) {
    switch (role) {
    case Role::NoCluster:
        return "NO CLUSTER";
    case Role::Standby:
        return "STANDBY";
    case Role::Active:
        return "ACTIVE";
    }
    return "NO CLUSTER";
}

int64_t BootMilliseconds() {
    timespec now = {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

Election::Election(EtcdClient& client, std::string key, Options options)
    : m_client(client), m_key(std::move(key)), m_options(std::move(options)) {
    if (!m_options.clock)
        m_options.clock = BootMilliseconds;
}

bool Election::IsLeader() const {
    return m_reached && m_won && m_lease != 0 && m_options.clock() < m_validUntil;
}

Role Election::CurrentRole() const {
    if (!m_reached)
        return Role::NoCluster;
    return IsLeader() ? Role::Active : Role::Standby;
}

// The lease lives at least its TTL from the moment etcd renewed it, which is after the request
// went out: counting from the sending never overestimates it.
bool Election::RenewLease() {
    const int64_t sent = m_options.clock();
    if (m_lease != 0) {
        int64_t ttl = 0;
        const Status s = m_client.KeepAlive(m_lease, ttl);
        if (s.IsOk()) {
            m_validUntil = sent + ttl * 1000 - m_options.marginMs;
            return true;
        }
        if (s.kind != Status::Refused || s.code != Status::kNotFound) {
            m_error = s.message;
            return false;
        }
        // It ran out while we were away (stopped, cut off): whatever we held went with it.
        m_lease = 0;
        m_won = false;
    }
    Lease lease;
    const Status s = m_client.Grant(m_options.ttlSeconds, lease);
    if (!s.IsOk()) {
        m_error = s.message;
        return false;
    }
    m_lease = lease.id;
    m_validUntil = sent + lease.ttlSeconds * 1000 - m_options.marginMs;
    return true;
}

void Election::Observe(const KeyValue* holder) {
    if (!holder) {
        m_leader.clear();
        m_won = false;
        return;
    }
    m_leader = holder->value;
    // Ours only on our lease: a key of an earlier run under the same name is not.
    m_won = holder->lease == m_lease && holder->value == m_options.candidate;
    if (m_won)
        m_wonRevision = holder->createRevision;
}

void Election::Campaign() {
    Txn txn;
    txn.compare.push_back(Compare::Absent(m_key));
    txn.success.push_back(Op::Put(m_key, m_options.candidate, m_lease));
    txn.failure.push_back(Op::Get(m_key));
    TxnResult result;
    const Status s = m_client.Transaction(txn, result);
    if (!s.IsOk()) {
        // Asked again at the next step; the key may be ours if the put went through unseen.
        m_error = s.message;
        m_reached = false;
        m_won = false;
        return;
    }
    if (result.succeeded) {
        m_leader = m_options.candidate;
        m_won = true;
        m_wonRevision = result.revision;
        return;
    }
    const RangeResult& held = result.results.empty() ? RangeResult{} : result.results[0].range;
    Observe(held.kvs.empty() ? nullptr : &held.kvs[0]);
}

Role Election::Step() {
    m_error.clear();
    if (m_options.candidate.empty()) {
        m_error = "The instance has no name to stand for election with.";
        m_reached = false;
        return CurrentRole();
    }
    if (!RenewLease()) {
        m_reached = false;
        return CurrentRole();
    }
    RangeResult held;
    const Status s = m_client.Range(Op::Get(m_key), held);
    if (!s.IsOk()) {
        m_error = s.message;
        m_reached = false;
        m_won = false;
        return CurrentRole();
    }
    m_reached = true;
    Observe(held.kvs.empty() ? nullptr : &held.kvs[0]);
    if (held.kvs.empty())
        Campaign();
    return CurrentRole();
}

void Election::Resign() {
    if (m_lease != 0) {
        const Status s = m_client.Revoke(m_lease);
        if (!s.IsOk())
            m_error = s.message; // the lease then runs out on its own
    }
    m_lease = 0;
    m_won = false;
    m_validUntil = 0;
    if (m_leader == m_options.candidate)
        m_leader.clear();
}

} // namespace cluster
