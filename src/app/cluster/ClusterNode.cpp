// The cluster member's election step and its page gate over etcd's claims and records.
#include "app/cluster/ClusterNode.h"

#include "core/CTime.h"
#include "paging/CRemList.h"
#include "paging/EventLog.h"
#include "paging/LatePages.h"
#include "paging/SentPages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace cluster {
namespace {

constexpr int64_t kSweepPeriodMs = 60000;

// A record: what became of the page, when, by whom, and until when it matters (a reminder
// collected again later is another page). Seconds since 1970.
std::string EncodeRecord(PageOutcome outcome, int64_t at, int64_t keepUntil,
                         const std::string& by) {
    const QJsonObject o{{"outcome", PageOutcomeName(outcome)},
                        {"at", QString::number(at)},
                        {"keepUntil", QString::number(keepUntil)},
                        {"by", QString::fromStdString(by)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

// 0 when the record cannot be read: such a record is forgotten at the next sweep.
int64_t KeepUntilOf(const std::string& record) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(record))
        .object()
        .value("keepUntil")
        .toString()
        .toLongLong();
}

} // namespace

Node::Node(ClientConfig config, Options options)
    : m_client(std::move(config)),
      m_election(m_client, m_client.Config().url.LeaderKey(),
                 Election::Options{options.candidate, options.ttlSeconds}),
      m_claims(m_client, m_client.Config().url.PagesRoot()), m_options(std::move(options)) {}

Role Node::Step() {
    m_later.clear();
    m_blocked = false;
    const Role role = m_election.Step();
    if (role == Role::NoCluster)
        return role;
    PayOwedRecords(); // standing by too: a record tells what happened, whoever leads now
    if (role != Role::Active)
        return role;
    ForgetPassedRecords();
    return m_election.CurrentRole();
}

IPageGate::Verdict Node::Claim(const PageDescription& page, const CTime&) {
    if (m_blocked || !m_election.IsLeader())
        return Verdict::Stop;
    const std::string key = page.Identity;
    if (m_later.count(key))
        return Verdict::Later;
    PageClaims::ClaimResult r = m_claims.Claim(m_election, key, m_options.unixMs());
    if (r.outcome == PageClaims::Outcome::ClaimedBefore && r.claim.revision &&
        m_options.unixMs() - r.claim.claimedAtMs > m_options.maybeSentAfterMs) {
        // Left by a leader that stopped between its claim and its record: it may have sent the
        // page or not. Paged again, so that none is lost; one duplicate is possible.
        const std::string claimant = r.claim.candidate;
        r = m_claims.Claim(m_election, key, m_options.unixMs(), r.claim.revision);
        if (r.outcome == PageClaims::Outcome::Claimed)
            LogEvent(EventLog::kEventId,
                     ("The page " + key + " for " + page.UserName +
                      " was claimed by the instance " + claimant +
                      ", which stopped leading before it recorded whether it sent it; it is sent "
                      "again, so it may arrive twice (with the same Message-ID).")
                         .c_str());
    }
    switch (r.outcome) {
    case PageClaims::Outcome::Claimed:
        m_ours[key] = r.claim.revision;
        return Verdict::Go;
    case PageClaims::Outcome::Recorded:
        return Verdict::Handled;
    case PageClaims::Outcome::ClaimedBefore:
        m_later.insert(key);
        return Verdict::Later;
    case PageClaims::Outcome::NotLeader:
        return Verdict::Stop;
    case PageClaims::Outcome::Failed:
        m_blocked = true; // one time-out per tick at most; the election's step tells the rest
        return Verdict::Stop;
    }
    return Verdict::Stop;
}

void Node::Done(const PageDescription& page, const ReminderStru& reminder, PageOutcome outcome,
                const CTime& now) {
    const std::string key = page.Identity;
    m_ours.erase(key);
    // A leader's published state may hold the reminder for a while after it was paged, and a
    // leader that restores it pages it late until LateUntil: the record must last as long.
    const int64_t keepUntil =
        std::max(CSentPages::KeepUntil(reminder), paging::LateUntil(reminder)).GetTime();
    m_owed.emplace_back(key,
                        EncodeRecord(outcome, now.GetTime(), keepUntil, m_election.Candidate()));
    PayOwedRecords();
}

void Node::Failed(const PageDescription& page) {
    const auto it = m_ours.find(page.Identity);
    if (it == m_ours.end())
        return;
    // Not withdrawn when etcd is out of reach: the claim then ages into "maybe sent", and the
    // next leader tries the page again after the time limit, as it would a lost record.
    m_claims.Release(it->first, it->second);
    m_ours.erase(it);
}

void Node::PayOwedRecords() {
    // Written whoever leads: a record says what happened, and must not wait for leadership.
    size_t paid = 0;
    for (; paid < m_owed.size(); ++paid) {
        if (!m_claims.Record(m_owed[paid].first, m_owed[paid].second).IsOk()) {
            m_blocked = true; // out of reach: claim nothing more before the next step
            break;
        }
    }
    m_owed.erase(m_owed.begin(), m_owed.begin() + static_cast<long>(paid));
}

void Node::ForgetPassedRecords() {
    const int64_t nowMs = m_options.unixMs();
    if (nowMs < m_nextSweepMs)
        return;
    m_nextSweepMs = nowMs + kSweepPeriodMs;
    std::map<std::string, std::string> records;
    if (!m_claims.Records(records).IsOk())
        return;
    for (const auto& [key, record] : records) {
        if (KeepUntilOf(record) * 1000 < nowMs)
            m_claims.Forget(key);
    }
}

} // namespace cluster
