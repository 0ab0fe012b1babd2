// Which etcd cluster a monitor joins, and as whom: the command line's options, else the settings
// "Cluster", "ClusterUser" and "ClusterPasswordFile" of "Preferences".
#pragma once

#include "app/cluster/EtcdClient.h"

#include <optional>
#include <string>

namespace cluster {

inline constexpr const char* kClusterSetting = "Cluster";
inline constexpr const char* kClusterUserSetting = "ClusterUser";
// A file whose first line is the password, or "credential:NAME" (a systemd credential).
inline constexpr const char* kClusterPasswordFileSetting = "ClusterPasswordFile";

// What the command line said; nullopt: the setting of the same meaning decides.
struct ClusterOptions {
    std::optional<std::string> url;          // --cluster; empty: no cluster
    std::optional<std::string> user;         // --cluster-user
    std::optional<std::string> passwordFile; // --cluster-password-file
};

// The client configuration for `options` over the settings. `config` is nullopt when no cluster
// is named (the monitor then runs alone, as without this feature). False, with a sentence in
// `error` naming the option or setting and the cause, for a URL that cannot be read, a password
// file that cannot be read or is empty, or a user without a password (and the other way round).
// The password is read here, once: it is never written to an error.
bool ChooseClusterConfig(const ClusterOptions& options, std::optional<ClientConfig>& config,
                         std::string& error);

// This instance's name in the election: "HOST/PID". Unique among the instances on one machine.
std::string CandidateName();

} // namespace cluster
