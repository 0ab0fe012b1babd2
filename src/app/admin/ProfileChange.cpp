// A change of a mail profile: checked, applied and saved under the profiles' lock.
#include "app/admin/ProfileChange.h"

#include "app/admin/ProfileSecrets.h"
#include "core/Text.h"
#include "mailsystem/MailSystem.h"

#include <cstring>
#include <filesystem>

namespace admin {
namespace {

// Takes the profiles' lock and reads them; false, with the reason, when either fails.
bool LoadForChange(FileLock& lock, mail::Profiles& profiles, std::string& error) {
    if (!LockProfiles(lock, error))
        return false;
    if (!profiles.Load(error)) {
        error += "\nnothing was changed; repair or remove the file first";
        return false;
    }
    return true;
}

ChangeResult Refused(int code, std::string error) {
    ChangeResult result;
    result.code = code;
    result.error = std::move(error);
    return result;
}

// The transport's own options of `change` applied to `t`; 0 or the refusal's code.
int ApplyTransport(const ProfileChange& change, mail::TransportConfig& t, std::string& error) {
    if (change.transport.present)
        SetTransportUrl(change.transport.value, t);
    if (change.startTls.present) {
        const std::string& v = change.startTls.value;
        if (v != "yes" && v != "no") {
            error = "--starttls takes yes or no";
            return 2;
        }
        t.startTls = v == "yes";
    }
    if (change.user.present)
        t.user = change.user.value;
    if (change.password.present && !TakeSecretOption("password", change.password.value, true,
                                                     "password-file", t.password, error))
        return 1;
    if (change.passwordFile.present &&
        !ReadPasswordFile(change.passwordFile.value, t.password, error))
        return 1;
    if (change.passwordTyped.present &&
        !TakeTypedPassword("SMTP password", change.passwordTyped.value, t.password, error))
        return 1;
    if (change.sender.present)
        t.sender = change.sender.value;
    if (t.kind != mail::TransportConfig::Kind::Smtp &&
        (change.startTls.present || change.user.present || change.password.present ||
         change.passwordFile.present || change.passwordTyped.present)) {
        error = "--starttls, --user and --password apply to an SMTP transport; give "
                "--transport smtp://HOST too";
        return 1;
    }
    if (const int code = ApplyWebTransportOptions(change.web, t, error); code != 0)
        return code;
    error = mail::CheckTransport(t);
    return error.empty() ? 0 : 1;
}

} // namespace

int ApplyProfileChange(const std::string& name, const mail::Profile* existing,
                       const ProfileChange& change, mail::Profile& profile, std::string& error) {
    if (existing) {
        profile = *existing;
    } else {
        if (!change.mailSystem.present) {
            error = "the new profile \"" + name + "\" needs --mail-system DIR";
            return 2;
        }
        profile = mail::Profile();
        profile.name = name;
    }
    if (change.mailSystem.present) {
        if (change.mailSystem.value.empty()) {
            error = "--mail-system needs a directory";
            return 1;
        }
        std::error_code ec;
        profile.mailSystem =
            std::filesystem::absolute(change.mailSystem.value, ec).lexically_normal().string();
        while (profile.mailSystem.size() > 1 && profile.mailSystem.back() == '/')
            profile.mailSystem.pop_back();
    }
    if (const int code = ApplyTransport(change, profile.transport, error); code != 0)
        return code;
    if (const int code = ApplyDirectoryOptions(change.directory, profile.ldap, error); code != 0)
        return code;
    if (const int code = ApplyCalendarOptions(change.calendars, profile.calendars, error);
        code != 0)
        return code;
    return ApplyOutOfOfficeOptions(change.outOfOffice, profile.outOfOffice, error);
}

std::string CheckChange(const std::string& name, const ProfileChange& change) {
    if (change.password.present && (change.passwordFile.present || change.passwordTyped.present))
        return "give either --password or --password-file";
    if (std::string problem = mail::CheckProfileName(name); !problem.empty())
        return problem;
    const std::pair<const OptionValue*, const char*> checked[] = {
        {&change.mailSystem, "mail-system"},
        {&change.transport, "transport"},
        {&change.user, "user"},
        {&change.password, "password"},
        {&change.sender, "sender"}};
    for (const auto& [value, option] : checked) {
        if (value->present && HasControlCharacter(value->value))
            return std::string("--") + option + " must not contain control characters";
    }
    return "";
}

ChangeResult SetProfile(const std::string& name, const ProfileChange& change) {
    if (change.password.present && (change.passwordFile.present || change.passwordTyped.present))
        return Refused(2, CheckChange(name, change));
    if (std::string problem = CheckChange(name, change); !problem.empty())
        return Refused(1, problem);

    FileLock lock;
    mail::Profiles profiles;
    std::string error;
    if (!LoadForChange(lock, profiles, error))
        return Refused(1, error);
    mail::Profile profile;
    if (const int code = ApplyProfileChange(name, profiles.Find(name), change, profile, error);
        code != 0)
        return Refused(code, error);

    profiles.Set(profile);
    if (change.makeDefault)
        profiles.SetDefault(name);
    if (!profiles.Save(error))
        return Refused(1, error);
    ChangeResult result;
    if (change.mailSystem.present || (change.directory.url.present && profile.ldap.url.empty())) {
        std::string why;
        if (!mail::MailSystem::OpenWithoutCalendarServer(profile, why))
            result.warnings.push_back(why);
    }
    if (change.directory.Any() && change.tryDirectory) {
        if (std::string problem = DirectoryProblem(profile); !problem.empty())
            result.warnings.push_back(problem);
    }
    result.nowDefault =
        profiles.DefaultName() == name && (change.makeDefault || profiles.All().size() == 1);
    return result;
}

ChangeResult RemoveProfile(const std::string& name) {
    FileLock lock;
    mail::Profiles profiles;
    std::string error;
    if (!LoadForChange(lock, profiles, error))
        return Refused(1, error);
    const bool wasDefault = profiles.DefaultName() == name;
    if (!profiles.Remove(name))
        return Refused(1, "there is no profile \"" + EscapeField(name) + "\"");
    if (!profiles.Save(error))
        return Refused(1, error);
    ChangeResult result;
    if (wasDefault && !profiles.All().empty())
        result.warnings.push_back("There is no default profile now; choose one with: orvane "
                                  "profile set NAME --default");
    return result;
}

ChangeResult SetDefaultProfile(const std::string& name) {
    FileLock lock;
    mail::Profiles profiles;
    std::string error;
    if (!LoadForChange(lock, profiles, error))
        return Refused(1, error);
    if (!profiles.SetDefault(name))
        return Refused(1, "there is no profile \"" + EscapeField(name) + "\"");
    if (!profiles.Save(error))
        return Refused(1, error);
    ChangeResult result;
    result.nowDefault = true;
    return result;
}

// The lock lies beside the profiles file, which saves replace (a lock on it would be lost).
bool LockProfiles(FileLock& lock, std::string& error) {
    const std::string path = mail::Profiles::FilePath();
    const std::string directory = path.substr(0, path.rfind('/'));
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    int code = 0;
    switch (lock.TryLock(directory + "/Orvane-profiles.lock", FileLock::Exclusive, &code)) {
    case FileLock::Locked:
        return true;
    case FileLock::Busy:
        error = "another orvane profile command is changing the profiles; try again";
        return false;
    case FileLock::Unavailable:
        error = "the profiles in " + directory + " cannot be locked: " + std::strerror(code);
        return false;
    }
    return false;
}

} // namespace admin
