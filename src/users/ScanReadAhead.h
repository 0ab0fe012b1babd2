// The scan pass's read-ahead: keeps the pool of reading threads at the size "ReadThreads" asks
// for and hands it the mailboxes of the users the pass will reach next, a bounded number ahead.
#pragma once

#include "core/CString.h"
#include "core/CTime.h"
#include "outlook/ReadAhead.h"

#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

struct UserlistStru;

class ScanReadAhead {
public:
    // Mailboxes read ahead and not scanned yet, per thread: what bounds the memory a read-ahead
    // holds beyond what the scans keep anyway (each one mailbox's parsed calendar and tasks).
    static constexpr size_t kAheadPerThread = 8;

    // At the start of a scan pass at `now`, with "ReadThreads" read now: starts, resizes or ends
    // the pool (1 thread: none, the pass reads every calendar itself), and drops what the last
    // pass queued and no worker took. False when there is no pool.
    bool BeginPass(const CString& profile, CTime now);
    // Queues the mailboxes of the users `order[next]` onwards, in that order, until as many
    // distinct mailboxes as the bound allows are read ahead and not yet scanned.
    void TopUp(const std::vector<UserlistStru*>& order, size_t next);
    // The scan of `user` begins: its mailbox no longer counts against the bound.
    void Scanning(const UserlistStru& user);
    // The pool, while there is one (tests and benchmarks wait on it).
    outlook::ReadAheadPool* Pool() { return m_pool.get(); }

private:
    std::unique_ptr<outlook::ReadAheadPool> m_pool;
    std::string m_profile;
    uint64_t m_session = 0; // moves on when the profile changes, and every minute
    CTime m_sessionStart;
    int64_t m_from = 0, m_to = 0;            // the starts this pass's calendar searches ask for
    std::unordered_set<std::string> m_ahead; // mailboxes queued in this pass, not yet scanned
    size_t m_cursor = 0;                     // where TopUp goes on in this pass's order
};
