// The etcd client: failover between members, tokens, and the operations on leases and keys.
#include "app/cluster/EtcdClient.h"

#include "app/cluster/EtcdJson.h"

#include <QJsonDocument>
#include <chrono>
#include <cstdlib>

namespace cluster {
namespace {

using SteadyClock = std::chrono::steady_clock;

long MillisecondsLeft(SteadyClock::time_point deadline) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
            .count());
}

std::string Seconds(long ms) {
    if (ms % 1000 != 0)
        return std::to_string(ms) + " ms";
    return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// The token is gone (expired, or every token was dropped when authentication was switched off
// and on again), or belongs to an older state of the users and roles, or the server began asking
// for one: a new token may do.
bool TokenNeeded(int code, const std::string& message) {
    return code == Status::kUnauthenticated || Contains(message, "invalid auth token") ||
           Contains(message, "revision of auth store is old") ||
           Contains(message, "user name is empty");
}

Status Refusal(int code, std::string message) {
    Status s;
    s.kind = Status::Refused;
    s.code = code;
    s.message = std::move(message);
    return s;
}

// What came back when it was no JSON object: a web server or proxy that is not etcd, or an etcd
// too old for the /v3/ paths.
std::string NotTheGateway(const HttpAnswer& answer) {
    std::string start = answer.body.substr(0, 80);
    for (char& c : start) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    }
    if (answer.status == 404)
        return "does not offer etcd's v3 JSON gateway at /v3/ (etcd 3.4 or later is needed; HTTP "
               "404: " +
               start + ")";
    return "answered something other than etcd's JSON gateway (HTTP " +
           std::to_string(answer.status) + ": " + start + ")";
}

QJsonObject ObjectOf(const std::string& body, bool& ok) {
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    if (doc.isNull()) {
        // A stream answers with one object per line; only the first is ours.
        const size_t end = body.find('\n');
        if (end != std::string::npos)
            doc = QJsonDocument::fromJson(QByteArray::fromStdString(body.substr(0, end)), &error);
    }
    ok = doc.isObject();
    QJsonObject object = doc.object();
    if (object.value("result").isObject())
        object = object.value("result").toObject();
    return object;
}

Status Malformed(const std::string& member, const char* what) {
    return Refusal(0, "etcd member " + member + " sent " + what + " that cannot be read.");
}

} // namespace

void ApplyEnvironment(ClientConfig& config) {
    if (const char* ca = std::getenv("ORVANE_ETCD_CA_FILE"); ca && *ca)
        config.caFile = ca;
}

Op Op::Get(const std::string& key) {
    Op op;
    op.key = key;
    return op;
}

Op Op::GetPrefix(const std::string& prefix, bool keysOnly) {
    Op op = Get(prefix);
    op.rangeEnd = Prefix(prefix);
    op.keysOnly = keysOnly;
    return op;
}

Op Op::Put(const std::string& key, const std::string& value, int64_t lease) {
    Op op;
    op.kind = Kind::Put;
    op.key = key;
    op.value = value;
    op.lease = lease;
    return op;
}

Op Op::Delete(const std::string& key) {
    Op op;
    op.kind = Kind::Delete;
    op.key = key;
    return op;
}

Op Op::DeletePrefix(const std::string& prefix) {
    Op op = Delete(prefix);
    op.rangeEnd = Prefix(prefix);
    return op;
}

std::string Op::Prefix(const std::string& prefix) {
    std::string end = prefix;
    while (!end.empty()) {
        unsigned char& last = reinterpret_cast<unsigned char&>(end.back());
        if (last < 0xff) {
            ++last;
            return end;
        }
        end.pop_back();
    }
    return std::string(1, '\0'); // etcd's "every key from the start"
}

Compare Compare::Number(Target target, const std::string& key, Result result, int64_t number) {
    Compare c;
    c.target = target;
    c.key = key;
    c.result = result;
    c.number = number;
    return c;
}

Compare Compare::ValueIs(const std::string& key, Result result, const std::string& value) {
    Compare c;
    c.target = Value;
    c.key = key;
    c.result = result;
    c.value = value;
    return c;
}

EtcdClient::EtcdClient(ClientConfig config) : m_config(std::move(config)) {
    if (m_config.url.members.empty())
        m_config.url.members.push_back({"127.0.0.1", kDefaultEtcdPort});
}

EtcdClient::Stats EtcdClient::GetStats() const {
    Stats stats = m_stats;
    stats.connections = m_http.Connections();
    return stats;
}

HttpLimits EtcdClient::Limits(long budgetMs) const {
    HttpLimits limits;
    limits.totalTimeoutMs = std::max(1L, std::min(m_config.requestTimeoutMs, budgetMs));
    limits.connectTimeoutMs = std::min(m_config.connectTimeoutMs, limits.totalTimeoutMs);
    limits.caFile = m_config.caFile;
    return limits;
}

bool EtcdClient::Authenticate(size_t member, long budgetMs, std::string& failure, Status& refusal) {
    const std::string name = MemberName(m_config.url.members[member]);
    const QJsonObject request{{"name", QString::fromStdString(m_config.user)},
                              {"password", QString::fromStdString(m_config.password)}};
    const HttpAnswer answer = m_http.Post(
        MemberOrigin(m_config.url.members[member], m_config.url.tls), "/v3/auth/authenticate",
        QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString(), {}, Limits(budgetMs));
    ++m_stats.requests;
    ++m_stats.authentications;
    if (!answer.answered) {
        failure = answer.failure;
        return false;
    }
    bool ok = false;
    const QJsonObject object = ObjectOf(answer.body, ok);
    if (!ok) {
        failure = NotTheGateway(answer);
        return false;
    }
    int code = 0;
    std::string message;
    if (json::ReadError(object, code, message)) {
        if (Contains(message, "authentication is not enabled")) {
            m_token.clear(); // the cluster asks for no token: requests go without one
            return true;
        }
        if (code == Status::kUnavailable) {
            failure = "cannot check the user now (" + message + ")";
            return false;
        }
        m_current = member;
        refusal =
            Refusal(code, "etcd member " + name + " refused the user \"" + m_config.user + "\"" +
                              (Contains(message, "authentication failed")
                                   ? ": there is no such user or the password is wrong"
                                   : "") +
                              " (" + message + ").");
        return false;
    }
    m_token = object.value("token").toString().toStdString();
    if (m_token.empty()) {
        failure = "answered the authentication without a token";
        return false;
    }
    return true;
}

Status EtcdClient::Call(const char* path, const QJsonObject& request, QJsonObject& response) {
    const auto deadline =
        SteadyClock::now() + std::chrono::milliseconds(m_config.operationTimeoutMs);
    const std::string body = QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString();
    const std::vector<Member>& members = m_config.url.members;
    std::vector<std::string> failures;
    bool renewedToken = false;
    size_t tried = 0;
    while (tried < members.size()) {
        const size_t index = (m_current + tried) % members.size();
        const std::string name = MemberName(members[index]);
        if (MillisecondsLeft(deadline) <= 0) {
            failures.push_back(name + " was not asked: the " +
                               Seconds(m_config.operationTimeoutMs) +
                               " allowed for the request had run out");
            ++tried;
            continue;
        }
        if (!m_config.user.empty() && m_token.empty()) {
            std::string failure;
            Status refusal;
            if (!Authenticate(index, MillisecondsLeft(deadline), failure, refusal)) {
                if (!refusal.IsOk())
                    return refusal;
                failures.push_back(name + " " + failure);
                ++tried;
                continue;
            }
        }
        const HttpAnswer answer = m_http.Post(MemberOrigin(members[index], m_config.url.tls), path,
                                              body, m_token, Limits(MillisecondsLeft(deadline)));
        ++m_stats.requests;
        if (!answer.answered) {
            failures.push_back(name + " " + answer.failure);
            ++tried;
            continue;
        }
        bool ok = false;
        const QJsonObject object = ObjectOf(answer.body, ok);
        if (!ok) {
            failures.push_back(name + " " + NotTheGateway(answer));
            ++tried;
            continue;
        }
        int code = 0;
        std::string message;
        if (json::ReadError(object, code, message)) {
            if (!m_config.user.empty() && !renewedToken && TokenNeeded(code, message)) {
                m_token.clear(); // the same member again, with a new token
                renewedToken = true;
                continue;
            }
            if (code == Status::kUnavailable) {
                failures.push_back(name + " cannot serve it now (" + message + ")");
                ++tried;
                continue;
            }
            m_current = index;
            std::string why = message;
            if (code == Status::kPermissionDenied)
                why = "the user \"" + m_config.user + "\" may not use these keys (" + message + ")";
            else if (Contains(message, "user name is empty"))
                why = "the cluster asks for a user and password, and none is set (" + message + ")";
            return Refusal(code, "etcd member " + name + " refused the request: " + why + ".");
        }
        if (tried > 0)
            ++m_stats.failovers;
        m_current = index;
        response = object;
        return {};
    }
    Status s;
    s.kind = Status::Unreachable;
    s.message = "No member of the etcd cluster answered: ";
    for (size_t i = 0; i < failures.size(); ++i)
        s.message += (i ? "; " : "") + failures[i];
    s.message += ".";
    return s;
}

Status EtcdClient::Grant(int64_t ttlSeconds, Lease& lease) {
    QJsonObject response;
    Status s = Call("/v3/lease/grant", {{"TTL", json::Int64Text(ttlSeconds)}}, response);
    if (!s.IsOk())
        return s;
    lease.id = json::Int64(response, "ID");
    lease.ttlSeconds = json::Int64(response, "TTL");
    if (lease.id == 0 || lease.ttlSeconds <= 0)
        return Malformed(MemberName(CurrentMember()), "a lease");
    return s;
}

Status EtcdClient::KeepAlive(int64_t id, int64_t& ttlSeconds) {
    QJsonObject response;
    Status s = Call("/v3/lease/keepalive", {{"ID", json::Int64Text(id)}}, response);
    if (!s.IsOk())
        return s;
    // A lease that is gone is answered without a TTL.
    ttlSeconds = json::Int64(response, "TTL");
    if (ttlSeconds <= 0)
        return Refusal(Status::kNotFound, "The lease " + std::to_string(id) +
                                              " has run out or was revoked (etcd member " +
                                              MemberName(CurrentMember()) + ").");
    return s;
}

Status EtcdClient::Revoke(int64_t id) {
    QJsonObject response;
    Status s = Call("/v3/lease/revoke", {{"ID", json::Int64Text(id)}}, response);
    if (s.kind == Status::Refused && s.code == Status::kNotFound)
        return {};
    return s;
}

Status EtcdClient::TimeToLive(int64_t id, int64_t& ttlSeconds, int64_t& granted) {
    QJsonObject response;
    Status s = Call("/v3/lease/timetolive", {{"ID", json::Int64Text(id)}}, response);
    if (!s.IsOk())
        return s;
    // -1 for a lease that is gone; the gateway leaves out a TTL of 0 (one that is just ending).
    ttlSeconds = json::Int64(response, "TTL");
    granted = json::Int64(response, "grantedTTL");
    return s;
}

Status EtcdClient::Range(const Op& range, RangeResult& result) {
    QJsonObject response;
    Status s = Call("/v3/kv/range", json::RangeRequest(range), response);
    if (s.IsOk() && !json::ReadRange(response, result))
        return Malformed(MemberName(CurrentMember()), "keys");
    return s;
}

Status EtcdClient::Put(const std::string& key, const std::string& value, int64_t lease,
                       int64_t* revision) {
    QJsonObject response;
    Status s = Call("/v3/kv/put", json::PutRequest(Op::Put(key, value, lease)), response);
    if (s.IsOk() && revision)
        *revision = json::Int64(response.value("header").toObject(), "revision");
    return s;
}

Status EtcdClient::Delete(const Op& range, int64_t* deleted) {
    QJsonObject response;
    Status s = Call("/v3/kv/deleterange", json::DeleteRequest(range), response);
    if (s.IsOk() && deleted)
        *deleted = json::Int64(response, "deleted");
    return s;
}

Status EtcdClient::Transaction(const Txn& txn, TxnResult& result) {
    QJsonObject response;
    Status s = Call("/v3/kv/txn", json::TxnRequest(txn), response);
    if (s.IsOk() && !json::ReadTxn(response, result))
        return Malformed(MemberName(CurrentMember()), "a transaction's answer");
    return s;
}

Status EtcdClient::Compact(int64_t revision) {
    QJsonObject response;
    return Call("/v3/kv/compaction", {{"revision", json::Int64Text(revision)}}, response);
}

} // namespace cluster
