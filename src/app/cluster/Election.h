// The election of the one active instance of a cluster, stepped from a periodic timer.
//
// The instances campaign for one key held on an etcd lease. Leadership is judged on the local
// clock, so that an instance that was stopped, or cut off from etcd, never believes that it
// still leads.
#pragma once

#include "app/cluster/EtcdClient.h"

#include <cstdint>
#include <functional>
#include <string>

namespace cluster {

enum class Role {
    NoCluster, // the last step did not get through (etcd out of reach, or refusing): pages nothing
    Standby,   // etcd reached, another instance (or no one yet) leads: pages nothing
    Active,    // this instance leads: the only one that pages
};
// "NO CLUSTER", "STANDBY", "ACTIVE".
const char* RoleName(Role role);

// Milliseconds on the clock that also counts while the machine is suspended (CLOCK_BOOTTIME):
// only differences mean anything. A suspended or stopped process finds on waking that its lease
// time has passed.
int64_t BootMilliseconds();

class Election {
public:
    struct Options {
        std::string candidate;  // this instance's name, the leader key's value; not empty
        int64_t ttlSeconds = 5; // the lease asked for (etcd raises it to its minimum, about 2 s)
        // The lease is believed to end this long before its TTL, counted from when the last
        // successful keep-alive was sent, has run out: room for clocks that run at slightly
        // different rates, and for the time between asking IsLeader() and acting on it.
        int64_t marginMs = 1000;
        std::function<int64_t()> clock = BootMilliseconds; // milliseconds, never going back
    };

    // Campaigns for `key` ("/orvane/site1/leader") through `client`, which must outlive this.
    Election(EtcdClient& client, std::string key, Options options);
    Election(const Election&) = delete;
    Election& operator=(const Election&) = delete;

    // One step, for a timer of about a second (the TTL must span several steps): renews this
    // instance's lease (asks for one when it has none, or when it ran out), reads who holds the
    // key, and campaigns for it when no one does. A standby keeps its own lease alive too, so
    // that it can take over in the step that finds the key gone. At most four requests; the
    // first that fails ends the step, so a step that cannot reach etcd costs at most one of the
    // client's operation bounds. Returns CurrentRole() after the step.
    Role Step();

    // Judged now, without asking etcd: the last step got through and found the key held on our
    // lease, and the lease's TTL counted from the sending of its last successful renewal, less
    // the margin, has not run out. False from the moment that time passes, however long ago the
    // last step was.
    bool IsLeader() const;
    // NoCluster when the last step did not get through (or none ran yet); Active when
    // IsLeader(); Standby otherwise.
    Role CurrentRole() const;

    // Our lease, 0 when we have none.
    int64_t LeaseId() const { return m_lease; }
    // The revision at which we took the key (it grows with every new leadership): 0 when we do
    // not hold it.
    int64_t LeadershipRevision() const { return m_won ? m_wonRevision : 0; }
    // The candidate holding the key when the last step reached etcd; empty when no one did.
    const std::string& Leader() const { return m_leader; }
    // Why the last step did not reach etcd, or what it was refused; empty after a clean step.
    const std::string& LastError() const { return m_error; }
    const std::string& Key() const { return m_key; }
    const std::string& Candidate() const { return m_options.candidate; }
    // Milliseconds of the clock until which the lease is believed alive; 0 when none.
    int64_t LeaseValidUntil() const { return m_lease ? m_validUntil : 0; }

    // Steps down: revokes our lease, which deletes the key, so that a standby takes over at its
    // next step instead of when the lease runs out. Bounded as a step is.
    void Resign();

private:
    bool RenewLease();
    void Observe(const KeyValue* holder);
    void Campaign();

    EtcdClient& m_client;
    std::string m_key;
    Options m_options;
    int64_t m_lease = 0;       // 0: none
    int64_t m_validUntil = 0;  // clock milliseconds; meaningful while m_lease != 0
    bool m_won = false;        // the key was held on our lease at the last step
    int64_t m_wonRevision = 0; // the key's create revision while m_won
    bool m_reached = false;    // the last step got through
    std::string m_leader;
    std::string m_error;
};

} // namespace cluster
