// The user list that the instances of a cluster share: Users.dat's bytes under the cluster's
// users key, published after an edit on any instance and taken by the others.
#pragma once

#include "app/cluster/SharedBlob.h"

#include <cstdint>
#include <functional>
#include <string>

namespace cluster {

class SharedUsers {
public:
    // Beside Users.dat: the revision and the SHA-256 of the bytes this instance last agreed with
    // the cluster on, so that an edit of Users.dat made while no monitor ran here (`orvane
    // users` writes the file then) is published at the next start rather than overwritten.
    static constexpr const char* kSyncFileName = "Users.dat.cluster";

    enum class Outcome {
        InStep,    // nothing to do: the shared list is the local one
        Published, // the local list was written to the cluster
        Adopt,     // another instance's list is to replace the local one: `bytes`
        Overtaken, // the local edit met another instance's, written first: `bytes` replace it
        Failed,    // etcd out of reach or refusing: `error`; tried again at the next call
    };
    struct Result {
        Outcome outcome = Outcome::InStep;
        std::string bytes; // Adopt, Overtaken: the shared Users.dat
        std::string error; // Failed
    };

    // `syncPath` is kSyncFileName in the monitor's directory.
    SharedUsers(EtcdClient& client, const std::string& key, std::string syncPath);

    // The local list was edited (and saved): it is published at the next Sync.
    void MarkEdited() { m_edited = true; }
    // One exchange, once a tick while etcd is reached: the first call agrees on a list (the
    // shared one, or the local one when none is shared yet or it was edited since the last
    // agreement); later ones publish a local edit, or read the shared list when its revision
    // moved. `local` gives the bytes of the local list, asked for only when they are compared.
    Result Sync(const std::function<std::string()>& local);
    // The local list now holds what Adopt or Overtaken gave.
    void Adopted(const std::string& bytes);
    // The revision agreed on last; 0 before the first agreement.
    int64_t Revision() const { return m_known; }

private:
    Result First(const std::function<std::string()>& local);
    Result Publish(const std::string& bytes, int64_t expected);
    void Agree(const std::string& bytes, int64_t revision);

    SharedBlob m_blob;
    std::string m_syncPath;
    bool m_started = false; // the first agreement was reached
    bool m_edited = false;  // a local edit waits to be published
    int64_t m_known = 0;    // the shared revision the local list agrees with
};

// Hex SHA-256 of `bytes`, as the sync file holds it.
std::string UsersDigest(const std::string& bytes);

} // namespace cluster
