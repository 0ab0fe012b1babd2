// "orvane profile set --directory ...": the LDAP directory a profile reads its address list from.
#include "app/CliProfileDirectory.h"

#include "core/Text.h"
#include "mailsystem/MailSystem.h"

#include <ostream>

namespace cli {
namespace {

const char* const kPrefix = "--directory";

} // namespace

bool TakeDirectoryOptions(Args& args, DirectoryOptions& options, std::ostream& err) {
    const std::pair<const char*, OptionValue DirectoryOptions::*> names[] = {
        {"directory", &DirectoryOptions::url},
        {"directory-user", &DirectoryOptions::user},
        {"directory-password-file", &DirectoryOptions::passwordFile},
        {"directory-filter", &DirectoryOptions::filter},
        {"directory-map", &DirectoryOptions::map},
        {"directory-starttls", &DirectoryOptions::startTls},
    };
    Args rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.rfind(kPrefix, 0) != 0) {
            rest.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name =
            word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        OptionValue DirectoryOptions::*member = nullptr;
        for (const auto& [known, field] : names) {
            if (name == known)
                member = field;
        }
        if (!member) {
            err << "orvane: unknown option --" << name << "\n";
            return false;
        }
        if (equals != std::string::npos) {
            options.*member = {true, word.substr(equals + 1)};
        } else if (i + 1 < args.size()) {
            options.*member = {true, args[++i]};
        } else {
            err << "orvane: option --" << name << " needs a value\n";
            return false;
        }
    }
    args = std::move(rest);
    return true;
}

int ApplyDirectoryOptions(const DirectoryOptions& options, mail::DirectoryConfig& directory,
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
            directory = mail::DirectoryConfig{};
        } else {
            directory.url = url;
        }
    }
    if (options.user.present) {
        directory.user = std::string(TrimBlanks(options.user.value));
        if (directory.user.empty())
            directory.password.clear(); // anonymous
    }
    if (options.passwordFile.present &&
        !ReadPasswordFile(options.passwordFile.value, directory.password, err))
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
        (options.user.present || options.passwordFile.present || options.filter.present ||
         options.map.present || options.startTls.present)) {
        err << "orvane: the --directory-... options apply to a directory; give --directory "
               "ldap[s]://HOST/BASE-DN too\n";
        return 1;
    }
    const std::string problem = mail::CheckDirectory(directory);
    if (!problem.empty()) {
        err << "orvane: " << problem << "\n";
        return 1;
    }
    return 0;
}

void WarnIfDirectoryFails(const mail::Profile& profile, std::ostream& err) {
    if (profile.directory.url.empty())
        return;
    std::string error;
    std::shared_ptr<mail::MailSystem> system = mail::MailSystem::Open(profile, error);
    std::vector<mail::AddressEntry> found;
    // A search that matches nothing still needs the connection, TLS and the bind.
    if (system && system->FindByAddress("orvane-profile-check", found, error))
        return;
    err << "orvane: warning: " << error << "\n";
}

} // namespace cli
