// "orvane profile set --directory ...": the LDAP directory a profile reads its address list from.
#include "app/cli/CliProfileDirectory.h"

#include "app/cli/CliSecrets.h"
#include "core/Text.h"
#include "mailsystem/MailSystem.h"

#include <ostream>

namespace cli {
bool TakeDirectoryOptions(Args& args, DirectoryOptions& options, std::ostream& err) {
    return TakePrefixedOptions(args, "--directory",
                               {
                                   {"directory", &options.url},
                                   {"directory-user", &options.user},
                                   {"directory-password-file", &options.passwordFile},
                                   {"directory-password", &options.password},
                                   {"directory-filter", &options.filter},
                                   {"directory-map", &options.map},
                                   {"directory-starttls", &options.startTls},
                               },
                               err);
}

int ApplyDirectoryOptions(const DirectoryOptions& options, mail::LdapConfig& directory,
                          std::ostream& err) {
    if (!options.Any())
        return 0;
    for (const OptionValue* value : {&options.url, &options.user, &options.filter, &options.map}) {
        if (value->present && HasControlCharacter(value->value)) {
            err << "orvane: the --directory options must not contain control characters\n";
            return 1;
        }
    }
    if (options.url.present) {
        const std::string url(TrimBlanks(options.url.value));
        if (url.empty()) {
            // Back to address-list.txt: no credentials stay behind.
            directory = mail::LdapConfig{};
        } else {
            directory.url = url;
        }
    }
    if (options.user.present) {
        directory.user = std::string(TrimBlanks(options.user.value));
        if (directory.user.empty())
            directory.password.clear(); // anonymous
    }
    if (options.passwordFile.present && options.password.present) {
        err << "orvane: give either --directory-password or --directory-password-file\n";
        return 2;
    }
    if (options.passwordFile.present &&
        !ReadPasswordFile(options.passwordFile.value, directory.password, err))
        return 1;
    if (options.password.present &&
        !TakeSecretOption("directory-password", options.password.value, false,
                          "directory-password-file", directory.password, err))
        return 1;
    if (options.filter.present)
        directory.filter = mail::NormalizeFilter(options.filter.value);
    if (options.map.present)
        directory.map = std::string(TrimBlanks(options.map.value));
    if (options.startTls.present) {
        const std::string& v = options.startTls.value;
        if (v != "yes" && v != "no") {
            err << "orvane: --directory-starttls takes yes or no\n";
            return 2;
        }
        directory.startTls = v == "yes";
    }
    if (directory.url.empty() &&
        (options.user.present || options.passwordFile.present || options.password.present ||
         options.filter.present || options.map.present || options.startTls.present)) {
        err << "orvane: the --directory-... options apply to a directory; give --directory "
               "ldap[s]://HOST/BASE-DN too\n";
        return 1;
    }
    const std::string problem = mail::CheckLdap(directory);
    if (!problem.empty()) {
        err << "orvane: " << problem << "\n";
        return 1;
    }
    return 0;
}

void WarnIfDirectoryFails(const mail::Profile& profile, std::ostream& err) {
    if (profile.ldap.url.empty())
        return;
    std::string error;
    std::shared_ptr<mail::MailSystem> system =
        mail::MailSystem::OpenWithoutCalendarServer(profile, error);
    std::vector<mail::AddressEntry> found;
    // A search that matches nothing still needs the connection, TLS and the bind.
    if (system && system->FindByAddress("orvane-profile-check", found, error))
        return;
    err << "orvane: warning: " << error << "\n";
}

} // namespace cli
