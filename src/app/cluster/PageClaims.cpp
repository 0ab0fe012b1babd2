// Claims and records of pages as etcd transactions.
#include "app/cluster/PageClaims.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <set>

namespace cluster {
namespace {

std::string EncodeClaim(const PageClaims::ClaimInfo& claim) {
    const QJsonObject o{{"candidate", QString::fromStdString(claim.candidate)},
                        {"lease", QString::number(claim.lease)},
                        {"claimedAt", QString::number(claim.claimedAtMs)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

// A claim whose value cannot be read keeps its revision, so that it can still be replaced.
PageClaims::ClaimInfo DecodeClaim(const KeyValue& kv) {
    PageClaims::ClaimInfo claim;
    claim.revision = kv.modRevision;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(kv.value)).object();
    claim.candidate = o.value("candidate").toString().toStdString();
    claim.lease = o.value("lease").toString().toLongLong();
    claim.claimedAtMs = o.value("claimedAt").toString().toLongLong();
    return claim;
}

const KeyValue* First(const TxnResult& result, size_t op) {
    if (op >= result.results.size() || result.results[op].range.kvs.empty())
        return nullptr;
    return &result.results[op].range.kvs.front();
}

} // namespace

PageClaims::PageClaims(EtcdClient& client, std::string root)
    : m_client(client), m_root(std::move(root)) {}

PageClaims::ClaimResult PageClaims::Claim(const Election& election, const std::string& pageKey,
                                          int64_t nowUnixMs, int64_t replacing) {
    ClaimResult result;
    if (!election.IsLeader()) {
        result.outcome = Outcome::NotLeader;
        return result;
    }
    ClaimInfo ours;
    ours.candidate = election.Candidate();
    ours.lease = election.LeaseId();
    ours.claimedAtMs = nowUnixMs;

    Txn txn;
    txn.compare.push_back(
        Compare::Number(Compare::Lease, election.Key(), Compare::Equal, election.LeaseId()));
    txn.compare.push_back(
        replacing ? Compare::Number(Compare::Mod, ClaimKey(pageKey), Compare::Equal, replacing)
                  : Compare::Absent(ClaimKey(pageKey)));
    txn.compare.push_back(Compare::Absent(RecordKey(pageKey)));
    txn.success.push_back(Op::Put(ClaimKey(pageKey), EncodeClaim(ours)));
    txn.failure = {Op::Get(election.Key()), Op::Get(ClaimKey(pageKey)),
                   Op::Get(RecordKey(pageKey))};
    TxnResult answer;
    const Status s = m_client.Transaction(txn, answer);
    if (!s.IsOk()) {
        result.error = s.message;
        return result;
    }
    if (answer.succeeded) {
        result.outcome = Outcome::Claimed;
        result.claim = ours;
        result.claim.revision = answer.revision;
        return result;
    }
    const KeyValue* leader = First(answer, 0);
    const KeyValue* claim = First(answer, 1);
    if (First(answer, 2)) {
        result.outcome = Outcome::Recorded;
        return result;
    }
    if (!leader || leader->lease != election.LeaseId()) {
        result.outcome = Outcome::NotLeader;
        return result;
    }
    if (claim) {
        result.claim = DecodeClaim(*claim);
        if (result.claim.candidate == ours.candidate && result.claim.lease == ours.lease) {
            result.outcome = Outcome::Claimed;
            return result;
        }
    }
    result.outcome = Outcome::ClaimedBefore;
    return result;
}

Status PageClaims::Record(const std::string& pageKey, const std::string& record) {
    Txn txn;
    txn.success = {Op::Put(RecordKey(pageKey), record), Op::Delete(ClaimKey(pageKey))};
    TxnResult answer;
    return m_client.Transaction(txn, answer);
}

Status PageClaims::Release(const std::string& pageKey, int64_t claimRevision) {
    Txn txn;
    txn.compare.push_back(
        Compare::Number(Compare::Mod, ClaimKey(pageKey), Compare::Equal, claimRevision));
    txn.success.push_back(Op::Delete(ClaimKey(pageKey)));
    TxnResult answer;
    return m_client.Transaction(txn, answer);
}

Status PageClaims::Forget(const std::string& pageKey) {
    Txn txn;
    txn.success = {Op::Delete(RecordKey(pageKey)), Op::Delete(ClaimKey(pageKey))};
    TxnResult answer;
    return m_client.Transaction(txn, answer);
}

Status PageClaims::Unrecorded(std::map<std::string, ClaimInfo>& claims) {
    claims.clear();
    const std::string claimRoot = m_root + "claims/";
    const std::string recordRoot = m_root + "sent/";
    Txn txn;
    txn.success = {Op::GetPrefix(claimRoot), Op::GetPrefix(recordRoot, true)};
    TxnResult answer;
    const Status s = m_client.Transaction(txn, answer);
    if (!s.IsOk() || answer.results.size() != 2)
        return s;
    std::set<std::string> recorded;
    for (const KeyValue& kv : answer.results[1].range.kvs)
        recorded.insert(kv.key.substr(recordRoot.size()));
    for (const KeyValue& kv : answer.results[0].range.kvs) {
        std::string pageKey = kv.key.substr(claimRoot.size());
        if (!recorded.count(pageKey))
            claims.emplace(std::move(pageKey), DecodeClaim(kv));
    }
    return s;
}

Status PageClaims::Records(std::map<std::string, std::string>& records) {
    records.clear();
    const std::string recordRoot = m_root + "sent/";
    RangeResult range;
    const Status s = m_client.Range(Op::GetPrefix(recordRoot), range);
    for (const KeyValue& kv : range.kvs)
        records.emplace(kv.key.substr(recordRoot.size()), kv.value);
    return s;
}

} // namespace cluster
