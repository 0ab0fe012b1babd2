// The JSON of etcd's v3 gateway: requests built from the client's types, answers read back.
//
// Keys and values travel in base64, 64-bit numbers as decimal strings, and the gateway leaves
// out every field that holds its default (0, false, empty).
#pragma once

#include "app/cluster/EtcdClient.h"

#include <QJsonObject>
#include <QJsonValue>
#include <string>

namespace cluster::json {

QString Base64(const std::string& bytes);
// The bytes of a base64 field; false when it is there but not base64. Absent: empty.
bool Bytes(const QJsonObject& object, const char* name, std::string& bytes);
// A 64-bit field written as a string ("123") or a number; 0 when absent or unreadable.
int64_t Int64(const QJsonObject& object, const char* name);
QString Int64Text(int64_t value);

QJsonObject RangeRequest(const Op& range);
QJsonObject PutRequest(const Op& put);
QJsonObject DeleteRequest(const Op& range);
QJsonObject TxnRequest(const Txn& txn);

// False when a key or value is not base64.
bool ReadKeyValue(const QJsonObject& object, KeyValue& kv);
bool ReadRange(const QJsonObject& object, RangeResult& result);
// The responses are those of the branch that ran, in its order.
bool ReadTxn(const QJsonObject& object, TxnResult& result);

// etcd's error in an answer: {"error": "...", "message": "...", "code": 5} from a unary call,
// {"error": {"grpc_code": 5, "message": "..."}} from a stream. False when there is none.
bool ReadError(const QJsonObject& object, int& code, std::string& message);

} // namespace cluster::json
