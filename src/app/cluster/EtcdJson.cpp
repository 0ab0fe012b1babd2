// Building the gateway's requests and reading its answers.
#include "app/cluster/EtcdJson.h"

#include <QByteArray>
#include <QJsonArray>

namespace cluster::json {
namespace {

const char* TargetName(Compare::Target target) {
    switch (target) {
    case Compare::Version:
        return "VERSION";
    case Compare::Create:
        return "CREATE";
    case Compare::Mod:
        return "MOD";
    case Compare::Value:
        return "VALUE";
    case Compare::Lease:
        return "LEASE";
    }
    return "VERSION";
}

const char* ResultName(Compare::Result result) {
    switch (result) {
    case Compare::Equal:
        return "EQUAL";
    case Compare::Greater:
        return "GREATER";
    case Compare::Less:
        return "LESS";
    case Compare::NotEqual:
        return "NOT_EQUAL";
    }
    return "EQUAL";
}

// The field of the compare's target that holds what is compared with.
const char* TargetField(Compare::Target target) {
    switch (target) {
    case Compare::Version:
        return "version";
    case Compare::Create:
        return "create_revision";
    case Compare::Mod:
        return "mod_revision";
    case Compare::Value:
        return "value";
    case Compare::Lease:
        return "lease";
    }
    return "version";
}

QJsonObject Operation(const Op& op) {
    switch (op.kind) {
    case Op::Kind::Range:
        return {{"request_range", RangeRequest(op)}};
    case Op::Kind::Put:
        return {{"request_put", PutRequest(op)}};
    case Op::Kind::Delete:
        return {{"request_delete_range", DeleteRequest(op)}};
    }
    return {};
}

} // namespace

QString Base64(const std::string& bytes) {
    return QString::fromLatin1(
        QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64());
}

bool Bytes(const QJsonObject& object, const char* name, std::string& bytes) {
    bytes.clear();
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    bytes.assign(decoded.decoded.constData(), static_cast<size_t>(decoded.decoded.size()));
    return true;
}

int64_t Int64(const QJsonObject& object, const char* name) {
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isString()) {
        bool ok = false;
        const qlonglong n = value.toString().toLongLong(&ok);
        return ok ? n : 0;
    }
    if (value.isDouble())
        return value.toInteger();
    return 0;
}

QString Int64Text(int64_t value) {
    return QString::number(value);
}

QJsonObject RangeRequest(const Op& range) {
    QJsonObject o{{"key", Base64(range.key)}};
    if (!range.rangeEnd.empty())
        o.insert("range_end", Base64(range.rangeEnd));
    if (range.keysOnly)
        o.insert("keys_only", true);
    if (range.revision != 0)
        o.insert("revision", Int64Text(range.revision));
    return o;
}

QJsonObject PutRequest(const Op& put) {
    QJsonObject o{{"key", Base64(put.key)}, {"value", Base64(put.value)}};
    if (put.lease != 0)
        o.insert("lease", Int64Text(put.lease));
    return o;
}

QJsonObject DeleteRequest(const Op& range) {
    QJsonObject o{{"key", Base64(range.key)}};
    if (!range.rangeEnd.empty())
        o.insert("range_end", Base64(range.rangeEnd));
    return o;
}

QJsonObject TxnRequest(const Txn& txn) {
    QJsonArray compare, success, failure;
    for (const Compare& c : txn.compare) {
        QJsonObject o{{"target", TargetName(c.target)},
                      {"result", ResultName(c.result)},
                      {"key", Base64(c.key)}};
        if (c.target == Compare::Value)
            o.insert(TargetField(c.target), Base64(c.value));
        else
            o.insert(TargetField(c.target), Int64Text(c.number));
        compare.append(o);
    }
    for (const Op& op : txn.success)
        success.append(Operation(op));
    for (const Op& op : txn.failure)
        failure.append(Operation(op));
    return {{"compare", compare}, {"success", success}, {"failure", failure}};
}

bool ReadKeyValue(const QJsonObject& object, KeyValue& kv) {
    kv.createRevision = Int64(object, "create_revision");
    kv.modRevision = Int64(object, "mod_revision");
    kv.version = Int64(object, "version");
    kv.lease = Int64(object, "lease");
    return Bytes(object, "key", kv.key) && Bytes(object, "value", kv.value);
}

bool ReadRange(const QJsonObject& object, RangeResult& result) {
    result = RangeResult{};
    result.revision = Int64(object.value("header").toObject(), "revision");
    result.count = Int64(object, "count");
    result.more = object.value("more").toBool();
    for (const QJsonValue& v : object.value("kvs").toArray()) {
        KeyValue kv;
        if (!ReadKeyValue(v.toObject(), kv))
            return false;
        result.kvs.push_back(std::move(kv));
    }
    return true;
}

bool ReadTxn(const QJsonObject& object, TxnResult& result) {
    result = TxnResult{};
    result.succeeded = object.value("succeeded").toBool();
    result.revision = Int64(object.value("header").toObject(), "revision");
    for (const QJsonValue& v : object.value("responses").toArray()) {
        const QJsonObject response = v.toObject();
        OpResult op;
        if (response.contains("response_range")) {
            if (!ReadRange(response.value("response_range").toObject(), op.range))
                return false;
        } else if (response.contains("response_delete_range")) {
            op.deleted = Int64(response.value("response_delete_range").toObject(), "deleted");
        }
        result.results.push_back(std::move(op));
    }
    return true;
}

bool ReadError(const QJsonObject& object, int& code, std::string& message) {
    const QJsonValue error = object.value("error");
    if (error.isUndefined() || error.isNull() || (error.isString() && error.toString().isEmpty()))
        return false;
    if (error.isObject()) {
        const QJsonObject e = error.toObject();
        code = e.value("grpc_code").toInt();
        message = e.value("message").toString().toStdString();
    } else {
        code = object.value("code").toInt();
        message = object.value("message").toString(error.toString()).toStdString();
    }
    if (message.empty())
        message = "an error without words (code " + std::to_string(code) + ")";
    return true;
}

} // namespace cluster::json
