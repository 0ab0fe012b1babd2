// Reading the cluster's options and settings into the etcd client's configuration.
#include "app/cluster/ClusterSetup.h"

#include "core/Credentials.h"
#include "core/FileStamp.h"
#include "core/Settings.h"

#include <QSysInfo>
#include <cstring>
#include <unistd.h>

namespace cluster {
namespace {

std::string Choose(const std::optional<std::string>& option, const char* setting) {
    return option ? *option : Settings::GetProfileString(Settings::kPreferences, setting, "");
}

// Where a sentence says a value came from.
std::string Source(const std::optional<std::string>& option, const char* flag,
                   const char* setting) {
    return option ? std::string("--") + flag
                  : std::string("the setting ") + setting + " of " + Settings::kPreferences;
}

// The first line of `path` without its line end, or the credential it names.
bool ReadPassword(const std::string& path, std::string& password, std::string& error) {
    if (credentials::IsReference(path)) {
        CString secret, why;
        if (!credentials::Resolve(path, secret, why)) {
            error = why;
            return false;
        }
        password = secret;
        return true;
    }
    std::string bytes;
    int errorNumber = 0;
    constexpr size_t kLimit = 64 * 1024; // a password file, not a document
    if (ReadWholeFile(path, kLimit, bytes, errorNumber) != ReadStatus::Ok) {
        error = "the password file " + path + " cannot be read (" +
                (errorNumber ? std::strerror(errorNumber) : "it does not exist") + ")";
        return false;
    }
    password = bytes.substr(0, bytes.find('\n'));
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty()) {
        error = "the password file " + path + " has an empty first line";
        return false;
    }
    return true;
}

} // namespace

bool ChooseClusterConfig(const ClusterOptions& options, std::optional<ClientConfig>& config,
                         std::string& error) {
    config.reset();
    const std::string url = Choose(options.url, kClusterSetting);
    if (url.empty())
        return true;
    ClientConfig chosen;
    std::string why;
    if (!ParseClusterUrl(url, chosen.url, why)) {
        error = "The cluster named by " + Source(options.url, "cluster", kClusterSetting) +
                " cannot be used: " + why;
        return false;
    }
    chosen.user = Choose(options.user, kClusterUserSetting);
    const std::string passwordFile = Choose(options.passwordFile, kClusterPasswordFileSetting);
    if (chosen.user.empty() != passwordFile.empty()) {
        error = chosen.user.empty()
                    ? "A cluster password is given (" +
                          Source(options.passwordFile, "cluster-password-file",
                                 kClusterPasswordFileSetting) +
                          ") but no user (--cluster-user or the setting ClusterUser)."
                    : "The cluster user " + chosen.user + " is given without a password (" +
                          std::string("--cluster-password-file or the setting ") +
                          kClusterPasswordFileSetting + ").";
        return false;
    }
    if (!passwordFile.empty() && !ReadPassword(passwordFile, chosen.password, why)) {
        error = "The cluster's password cannot be read: " + why + ".";
        return false;
    }
    ApplyEnvironment(chosen);
    config = std::move(chosen);
    return true;
}

std::string CandidateName() {
    return QSysInfo::machineHostName().toStdString() + "/" + std::to_string(getpid());
}

} // namespace cluster
