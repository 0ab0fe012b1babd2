// The claims and records that let exactly one leader send each page of a cluster.
//
// A claim is written before a page is sent, in a transaction that only the leader can make and
// only once per page; a record replaces the claim once the mail system has taken the page (or
// it was dropped outside the paging hours). A page goes: Claim, send, Record (or Release when the
// send failed). A claim without a record is a page that a leader took on and may or may not have
// sent before it stopped: a new leader pages it again only when the claim is older than the time
// one send may take, and then one duplicate is possible.
#pragma once

#include "app/cluster/Election.h"
#include "app/cluster/EtcdClient.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cluster {

class PageClaims {
public:
    // What a claim says, and where it stands.
    struct ClaimInfo {
        std::string candidate;   // the instance that claimed the page
        int64_t lease = 0;       // the lease it led on
        int64_t claimedAtMs = 0; // Unix milliseconds on the claimant's clock
        int64_t revision = 0;    // the claim's mod revision: names this claim for Release
    };

    enum class Outcome {
        Claimed,       // ours: send it
        NotLeader,     // we do not lead (judged locally, or etcd found the key not on our lease)
        ClaimedBefore, // another claim exists (`claim` tells whose and since when); no record
        Recorded,      // the page was sent or dropped before
        Failed,        // etcd not reached or refusing: `error` says why; send nothing
    };
    struct ClaimResult {
        Outcome outcome = Outcome::Failed;
        ClaimInfo claim;   // Claimed: ours; ClaimedBefore: the one found (revision 0: none)
        std::string error; // Failed: the sentence
    };

    // Keys: `root` + "claims/" + page key and `root` + "sent/" + page key, where `root` is
    // ClusterUrl::PagesRoot(). A page key is any bytes that name one page of one
    // reminder for one pager. `client` must outlive this.
    PageClaims(EtcdClient& client, std::string root);

    // Claims `pageKey` for us, in one transaction that succeeds only while `election`'s key is
    // held on our lease, no record of the page exists, and no claim exists, or, with `replacing`
    // not 0, the claim is still the one of that revision (a claim an earlier leader left, old
    // enough to be paged again). Asks etcd only while election.IsLeader(). A claim that turns out
    // to be ours already (a retried request that had gone through) is Claimed.
    ClaimResult Claim(const Election& election, const std::string& pageKey, int64_t nowUnixMs,
                      int64_t replacing = 0);

    // The mail system took the page, or it was dropped: `record` (bytes of the caller's) is
    // stored and the claim removed, in one transaction. Written whoever leads now: it tells what
    // happened.
    Status Record(const std::string& pageKey, const std::string& record);
    // The send failed: withdraws the claim of `claimRevision`, so that the page is tried again;
    // a claim that has changed since is left alone.
    Status Release(const std::string& pageKey, int64_t claimRevision);
    // Forgets a page whose reminder has passed: its record and any claim.
    Status Forget(const std::string& pageKey);

    // Claims that have no record, by page key, read together with the records at one revision.
    Status Unrecorded(std::map<std::string, ClaimInfo>& claims);
    // Every record, by page key.
    Status Records(std::map<std::string, std::string>& records);

    std::string ClaimKey(const std::string& pageKey) const { return m_root + "claims/" + pageKey; }
    std::string RecordKey(const std::string& pageKey) const { return m_root + "sent/" + pageKey; }

private:
    EtcdClient& m_client;
    std::string m_root;
};

} // namespace cluster
