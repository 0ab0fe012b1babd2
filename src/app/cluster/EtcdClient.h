// A client of etcd v3 through its JSON gateway: leases, reads, writes and transactions.
//
// etcd 3.4 and later (paths under /v3/). Requests fail over between the cluster's members, each
// operation is bounded in time, and the client authenticates by user and password and verifies
// the members' certificates.
#pragma once

#include "app/cluster/ClusterUrl.h"
#include "app/cluster/EtcdHttp.h"

#include <QJsonObject>
#include <cstdint>
#include <string>
#include <vector>

namespace cluster {

struct ClientConfig {
    ClusterUrl url;
    std::string user;     // empty: no authentication
    std::string password; // never written to an event, a log line or an error sentence
    std::string caFile;   // etcds://: a CA bundle to trust instead of the system's
    // Bounds, in milliseconds. The client is called from a one-second timer: a member that does
    // not answer must cost that timer little, and the next member is tried in what is left.
    long connectTimeoutMs = 500;    // one connection to one member
    long requestTimeoutMs = 1000;   // one request to one member
    long operationTimeoutMs = 2000; // one operation, over all the members it tries
};

// ORVANE_ETCD_CA_FILE, when set, names the CA bundle (as ORVANE_LDAP_CA_FILE does for the
// directory).
void ApplyEnvironment(ClientConfig& config);

// What came of an operation.
struct Status {
    enum Kind {
        Ok,
        Unreachable, // no member answered in time (or every one that did had no quorum)
        Refused,     // a member answered with an error of etcd's
    };
    Kind kind = Ok;
    int code = 0; // when Refused: etcd's (gRPC) code, one of the constants below
    // When not Ok: a sentence naming the member(s) and the cause; never holds the password.
    std::string message;

    bool IsOk() const { return kind == Ok; }
    static constexpr int kInvalidArgument = 3;
    static constexpr int kNotFound = 5; // also: a lease that no longer exists
    static constexpr int kPermissionDenied = 7;
    static constexpr int kFailedPrecondition = 9;
    static constexpr int kOutOfRange = 11;  // a revision compacted away, or still to come
    static constexpr int kUnavailable = 14; // no leader, no quorum, timed out inside etcd
    static constexpr int kUnauthenticated = 16;
};

struct KeyValue {
    std::string key, value; // bytes
    int64_t createRevision = 0;
    int64_t modRevision = 0;
    int64_t version = 0; // writes since it was created
    int64_t lease = 0;   // 0: none
};

struct RangeResult {
    int64_t revision = 0; // the store's revision the answer was read at
    std::vector<KeyValue> kvs;
    int64_t count = 0; // keys in the range (more than kvs.size() with a limit or keysOnly)
    bool more = false;
};

// One operation inside a transaction, or on its own.
struct Op {
    enum class Kind { Range, Put, Delete };
    Kind kind = Kind::Range;
    std::string key;
    std::string rangeEnd;  // empty: the key alone; see Prefix()
    std::string value;     // Put
    int64_t lease = 0;     // Put: the lease to attach, 0 none
    bool keysOnly = false; // Range: no values travel (revisions and leases do)
    int64_t revision = 0;  // Range: the keys as they were at this revision; 0 as they are

    static Op Get(const std::string& key);
    static Op GetPrefix(const std::string& prefix, bool keysOnly = false);
    static Op Put(const std::string& key, const std::string& value, int64_t lease = 0);
    static Op Delete(const std::string& key);
    static Op DeletePrefix(const std::string& prefix);
    // The range end that makes [prefix, end) every key beginning with `prefix`.
    static std::string Prefix(const std::string& prefix);
};

// A condition of a transaction on one key. A key that does not exist has create, mod and
// version 0 and lease 0; a value compare on it fails whatever the result asked for.
struct Compare {
    enum Target { Version, Create, Mod, Value, Lease };
    enum Result { Equal, Greater, Less, NotEqual };
    Target target = Version;
    Result result = Equal;
    std::string key;
    int64_t number = 0; // Version, Create, Mod, Lease
    std::string value;  // Value

    static Compare Number(Target target, const std::string& key, Result result, int64_t number);
    static Compare ValueIs(const std::string& key, Result result, const std::string& value);
    static Compare Absent(const std::string& key) { return Number(Create, key, Equal, 0); }
};

struct Txn {
    std::vector<Compare> compare;
    std::vector<Op> success, failure;
};

struct OpResult {
    RangeResult range;   // Range
    int64_t deleted = 0; // Delete
};

struct TxnResult {
    bool succeeded = false;        // every compare held: `success` ran, else `failure`
    int64_t revision = 0;          // the store's revision after the transaction
    std::vector<OpResult> results; // one per operation of the branch that ran
};

struct Lease {
    int64_t id = 0;
    int64_t ttlSeconds = 0; // as granted (etcd may raise a short TTL to its minimum)
};

// Requests go to the member that answered last, and on to the next when it does not answer
// or answers that it has no quorum; each member is tried at most once per operation. Not
// thread-safe: one client belongs to one thread.
//
// Operations that write are retried on another member after a timeout, when the first member
// may have carried them out: the callers make them safe to repeat (puts and deletes are; a
// transaction should recognise its own earlier success in its failure branch).
class EtcdClient {
public:
    // A configuration that names no member speaks to 127.0.0.1:2379.
    explicit EtcdClient(ClientConfig config);
    EtcdClient(const EtcdClient&) = delete;
    EtcdClient& operator=(const EtcdClient&) = delete;

    const ClientConfig& Config() const { return m_config; }

    Status Grant(int64_t ttlSeconds, Lease& lease);
    // Renews the lease; `ttlSeconds` is what it has again. A lease that no longer exists (it ran
    // out or was revoked) is Refused with kNotFound.
    Status KeepAlive(int64_t id, int64_t& ttlSeconds);
    // Ends the lease and deletes its keys. A lease that no longer exists is fine.
    Status Revoke(int64_t id);
    // Seconds left, -1 when the lease no longer exists; `granted` the TTL it was granted with.
    Status TimeToLive(int64_t id, int64_t& ttlSeconds, int64_t& granted);

    // A linearizable read (from the cluster's leader, never stale) of one key or a range.
    Status Range(const Op& range, RangeResult& result);
    Status Put(const std::string& key, const std::string& value, int64_t lease = 0,
               int64_t* revision = nullptr);
    Status Delete(const Op& range, int64_t* deleted = nullptr);
    Status Transaction(const Txn& txn, TxnResult& result);
    // Drops the history before `revision` (every write keeps the old value until then, and etcd
    // refuses writes once its store is full): reads at an earlier revision are refused after.
    Status Compact(int64_t revision);

    // The member that answered last (where the next request goes first).
    const Member& CurrentMember() const { return m_config.url.members[m_current]; }
    // What the client has done so far.
    struct Stats {
        uint64_t requests = 0;        // sent to a member, authentications included
        uint64_t connections = 0;     // opened (kept ones are reused)
        uint64_t authentications = 0; // tokens asked for
        uint64_t failovers = 0;       // operations that went on to another member
    };
    Stats GetStats() const;

private:
    // Sends `request` to `path` ("/v3/kv/range"), failing over between the members, and gives
    // the answer's object (a stream's first result) in `response`.
    Status Call(const char* path, const QJsonObject& request, QJsonObject& response);
    // Asks member `member` for a token within `budgetMs`; false with `failure` set when it could
    // not, `refusal` set when etcd refused the user (then no other member is asked).
    bool Authenticate(size_t member, long budgetMs, std::string& failure, Status& refusal);
    HttpLimits Limits(long budgetMs) const;

    ClientConfig m_config;
    HttpSession m_http;
    size_t m_current = 0; // index into m_config.url.members
    std::string m_token;  // empty: none yet (or none needed); never written anywhere
    Stats m_stats;
};

} // namespace cluster
