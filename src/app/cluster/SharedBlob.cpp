// The shared bytes, compressed and written in a transaction on the revision last seen.
//
// The stored value is Qt's qCompress: a 4-byte big-endian length, then the zlib stream.
#include "app/cluster/SharedBlob.h"

#include <QByteArray>

namespace cluster {
namespace {

// Beyond this many bytes a blob is packed fast rather than small: a monitor state of ten
// thousand users (12 MB) costs 1.6 s of the tick's thread at zlib's best and 0.09 s at its
// fastest, for 2.4 against 3.5 MB.
constexpr size_t kPackFastFromBytes = 1u << 20;

// User lists are names and addresses that repeat their parts: they shrink several times over,
// which keeps a list of ten thousand users well inside etcd's request limit.
std::string Compress(const std::string& bytes) {
    const int level = bytes.size() > kPackFastFromBytes ? 1 : 9;
    const QByteArray packed = qCompress(
        QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())), level);
    return packed.toStdString();
}

// Larger than any user list: a damaged length is refused before memory is set aside for it.
constexpr uint32_t kMaxUnpackedBytes = 256u << 20;

bool Uncompress(const std::string& stored, std::string& bytes) {
    bytes.clear();
    if (stored.size() < 4)
        return false;
    const auto* b = reinterpret_cast<const unsigned char*>(stored.data());
    const uint32_t length =
        uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    if (length > kMaxUnpackedBytes)
        return false;
    const bool empty = length == 0;
    const QByteArray plain =
        qUncompress(QByteArray::fromRawData(stored.data(), static_cast<qsizetype>(stored.size())));
    if (plain.isEmpty() && !empty)
        return false;
    bytes = plain.toStdString();
    return true;
}

} // namespace

SharedBlob::SharedBlob(EtcdClient& client, std::string key)
    : m_client(client), m_key(std::move(key)) {}

Status SharedBlob::Revision(int64_t& revision) {
    revision = 0;
    Op get = Op::Get(m_key);
    get.keysOnly = true;
    RangeResult range;
    const Status s = m_client.Range(get, range);
    if (s.IsOk() && !range.kvs.empty())
        revision = range.kvs.front().modRevision;
    return s;
}

Status SharedBlob::Read(std::string& bytes, int64_t& revision) {
    bytes.clear();
    revision = 0;
    RangeResult range;
    Status s = m_client.Range(Op::Get(m_key), range);
    if (!s.IsOk() || range.kvs.empty())
        return s;
    if (!Uncompress(range.kvs.front().value, bytes)) {
        s.kind = Status::Refused;
        s.message = "The shared copy at " + m_key + " in etcd is damaged (it cannot be unpacked).";
        return s;
    }
    revision = range.kvs.front().modRevision;
    return s;
}

Status SharedBlob::Write(const std::string& bytes, int64_t expected, bool& conflict,
                         int64_t& revision) {
    conflict = false;
    revision = 0;
    const std::string packed = Compress(bytes);
    m_packedBytes = packed.size();
    Txn txn;
    if (expected != kAnyRevision)
        txn.compare.push_back(Compare::Number(Compare::Mod, m_key, Compare::Equal, expected));
    txn.success.push_back(Op::Put(m_key, packed));
    txn.failure.push_back(Op::Get(m_key));
    TxnResult result;
    Status s = m_client.Transaction(txn, result);
    if (!s.IsOk()) {
        if (s.message.find("request is too large") != std::string::npos)
            s.message += " The shared copy, compressed to " + std::to_string(packed.size()) +
                         " bytes, is more than etcd takes in one request (--max-request-bytes).";
        return s;
    }
    if (result.succeeded) {
        revision = result.revision;
        return s;
    }
    // These very bytes already stored: a retried write whose first try went through unseen.
    const RangeResult* stored = result.results.empty() ? nullptr : &result.results[0].range;
    if (stored && !stored->kvs.empty() && stored->kvs[0].value == packed)
        revision = stored->kvs[0].modRevision;
    else
        conflict = true;
    return s;
}

} // namespace cluster
