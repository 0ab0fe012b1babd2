// One monitor's membership of a cluster: its election, stepped once a tick, and the gate at which
// its paging pass claims every page, so that exactly one instance sends each.
#pragma once

#include "app/cluster/Election.h"
#include "app/cluster/EtcdClient.h"
#include "app/cluster/PageClaims.h"
#include "core/Clock.h"
#include "paging/PageGate.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace cluster {

class Node : public IPageGate {
public:
    struct Options {
        std::string candidate;  // this instance's name in the election (CandidateName())
        int64_t ttlSeconds = 5; // the election's lease
        // A claim that another leader left without a record is paged again once it is older
        // than this: the longest one send may take (the transport's limits), after which that
        // leader's send has either reached the mail system or failed. Milliseconds.
        int64_t maybeSentAfterMs = 40000;
        // Unix milliseconds of the monitor's clock, for the claims' and records' times.
        std::function<int64_t()> unixMs = Clock::NowMilliseconds;
    };

    Node(ClientConfig config, Options options);
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // One step, once a tick before the passes: the election's step, then, while etcd answers,
    // the records that could not be written before, and while this instance leads, once a
    // minute, the forgetting of records whose reminders can no longer be paged. Returns the
    // role after the step.
    Role Step();
    // Judged now, on the local clock: whether this instance may page.
    bool IsLeader() const { return m_election.IsLeader(); }
    Role CurrentRole() const { return m_election.CurrentRole(); }
    const Election& GetElection() const { return m_election; }
    // Steps down at a stop, so that a standby takes over at once.
    void Resign() { m_election.Resign(); }

    EtcdClient& Client() { return m_client; }
    const ClusterUrl& Url() const { return m_client.Config().url; }
    // Records that the mail system took but etcd has not been told of yet (it was out of reach).
    size_t RecordsOwed() const { return m_owed.size(); }

    Verdict Claim(const PageDescription& page, const CTime& now) override;
    void Done(const PageDescription& page, const ReminderStru& reminder, PageOutcome outcome,
              const CTime& now) override;
    void Failed(const PageDescription& page) override;

private:
    void PayOwedRecords();
    void ForgetPassedRecords();

    EtcdClient m_client;
    Election m_election;
    PageClaims m_claims;
    Options m_options;
    std::map<std::string, int64_t> m_ours; // our claims by identity: their revisions
    std::vector<std::pair<std::string, std::string>> m_owed; // identity, record, in order
    std::set<std::string> m_later; // answered Later in this step: not asked again until the next
    bool m_blocked = false;        // etcd failed a claim in this step: nothing more is claimed
    int64_t m_nextSweepMs = 0;     // unix milliseconds; 0: at the next step that leads
};

} // namespace cluster
