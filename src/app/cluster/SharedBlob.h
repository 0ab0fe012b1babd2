// Bytes that every instance of a cluster shares (those of Users.dat), kept under one etcd key.
//
// Stored compressed, with the revision that tells an instance whether they changed since it
// last read them.
#pragma once

#include "app/cluster/EtcdClient.h"

#include <cstdint>
#include <string>

namespace cluster {

class SharedBlob {
public:
    static constexpr int64_t kAnyRevision = -1;

    // The bytes live at `key` ("/orvane/site1/users"). `client` must outlive this.
    SharedBlob(EtcdClient& client, std::string key);

    // The stored bytes' revision, 0 when none are stored. Only the revision travels, so this is
    // the cheap question to poll: read the bytes when it differs from the one last read.
    Status Revision(int64_t& revision);
    // The stored bytes and their revision; no bytes and revision 0 when none are stored.
    Status Read(std::string& bytes, int64_t& revision);
    // Stores `bytes` when the stored revision is still `expected` (0: nothing may be stored yet;
    // kAnyRevision: whatever is stored). Otherwise nothing is written and `conflict` is set: read
    // again and decide. `revision` is the new one. The compressed bytes must fit in one etcd
    // request (1.5 MiB unless its --max-request-bytes says more).
    Status Write(const std::string& bytes, int64_t expected, bool& conflict, int64_t& revision);

    const std::string& Key() const { return m_key; }
    // The size of the last write's compressed bytes, 0 before the first.
    size_t PackedBytes() const { return m_packedBytes; }

private:
    EtcdClient& m_client;
    std::string m_key;
    size_t m_packedBytes = 0;
};

} // namespace cluster
