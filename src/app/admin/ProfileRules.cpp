// The rules of each concern of a mail profile: the address-list directory, the calendar server,
// the out-of-office server and the web transport.
#include "app/admin/ProfileRules.h"

#include "app/admin/ProfileSecrets.h"
#include "core/Text.h"
#include "mailsystem/MailSystem.h"

namespace admin {
namespace {

// Applies one concern's password options to `secret`: a credential reference or a literal
// (`password`, literal allowed only where `literalAllowed`), a file, or a typed password.
bool ApplySecret(const OptionValue& password, const OptionValue& passwordFile,
                 const OptionValue& typed, const std::string& option, bool literalAllowed,
                 const std::string& fileOption, const std::string& field, std::string& secret,
                 std::string& error) {
    if (passwordFile.present && !ReadPasswordFile(passwordFile.value, secret, error))
        return false;
    if (password.present &&
        !TakeSecretOption(option, password.value, literalAllowed, fileOption, secret, error))
        return false;
    if (typed.present && !TakeTypedPassword(field, typed.value, secret, error))
        return false;
    return true;
}

bool TakeYesNo(const OptionValue& value, bool& flag) {
    if (value.value != "yes" && value.value != "no")
        return false;
    flag = value.value == "yes";
    return true;
}

} // namespace

int ApplyDirectoryOptions(const DirectoryOptions& options, mail::LdapConfig& directory,
                          std::string& error) {
    if (!options.Any())
        return 0;
    for (const OptionValue* value : {&options.url, &options.user, &options.filter, &options.map}) {
        if (value->present && HasControlCharacter(value->value)) {
            error = "the --directory options must not contain control characters";
            return 1;
        }
    }
    if (options.url.present) {
        const std::string url(TrimBlanks(options.url.value));
        if (url.empty())
            directory = mail::LdapConfig{}; // back to address-list.txt: no credentials stay behind
        else
            directory.url = url;
    }
    if (options.user.present) {
        directory.user = std::string(TrimBlanks(options.user.value));
        if (directory.user.empty())
            directory.password.clear(); // anonymous
    }
    if (options.passwordFile.present && options.password.present) {
        error = "give either --directory-password or --directory-password-file";
        return 2;
    }
    if (!ApplySecret(options.password, options.passwordFile, options.passwordTyped,
                     "directory-password", false, "directory-password-file", "directory password",
                     directory.password, error))
        return 1;
    if (options.filter.present)
        directory.filter = mail::NormalizeFilter(options.filter.value);
    if (options.map.present)
        directory.map = std::string(TrimBlanks(options.map.value));
    if (options.startTls.present && !TakeYesNo(options.startTls, directory.startTls)) {
        error = "--directory-starttls takes yes or no";
        return 2;
    }
    if (directory.url.empty() &&
        (options.user.present || options.passwordFile.present || options.password.present ||
         options.passwordTyped.present || options.filter.present || options.map.present ||
         options.startTls.present)) {
        error = "the --directory-... options apply to a directory; give --directory "
                "ldap[s]://HOST/BASE-DN too";
        return 1;
    }
    error = mail::CheckLdap(directory);
    return error.empty() ? 0 : 1;
}

int ApplyCalendarOptions(const CalendarOptions& options, mail::CalendarServerConfig& calendars,
                         std::string& error) {
    if (!options.Any())
        return 0;
    for (const OptionValue* value : {&options.url, &options.user}) {
        if (value->present && HasControlCharacter(value->value)) {
            error = "the --calendar options must not contain control characters";
            return 1;
        }
    }
    if (options.url.present) {
        const std::string url(TrimBlanks(options.url.value));
        if (url.empty())
            calendars = mail::CalendarServerConfig(); // no credentials stay behind
        else
            calendars.urlTemplate = url;
    }
    if (options.user.present) {
        calendars.user = std::string(TrimBlanks(options.user.value));
        if (calendars.user.empty())
            calendars.password.clear();
    }
    if (options.passwordFile.present && options.password.present) {
        error = "give either --calendar-password or --calendar-password-file";
        return 2;
    }
    if (!ApplySecret(options.password, options.passwordFile, options.passwordTyped,
                     "calendar-password", false, "calendar-password-file", "calendar password",
                     calendars.password, error))
        return 1;
    if (!calendars.Used() && (!calendars.user.empty() || !calendars.password.empty())) {
        error = "--calendar-user and --calendar-password-file apply to a calendar server; give "
                "--calendars URL too";
        return 1;
    }
    error = mail::CheckCalendarServer(calendars);
    return error.empty() ? 0 : 1;
}

int ApplyOutOfOfficeOptions(const OutOfOfficeOptions& options, mail::sieve::SieveConfig& server,
                            std::string& error) {
    if (!options.Any())
        return 0;
    for (const OptionValue* value : {&options.url, &options.user, &options.login, &options.zone}) {
        if (value->present && HasControlCharacter(value->value)) {
            error = "the --out-of-office options must not contain control characters";
            return 1;
        }
    }
    bool startTls = true;
    if (options.startTls.present && !TakeYesNo(options.startTls, startTls)) {
        error = "--out-of-office-starttls takes yes or no";
        return 2;
    }
    if (options.url.present) {
        const std::string url(TrimBlanks(options.url.value));
        if (url.empty())
            server = mail::sieve::SieveConfig(); // back to the files: no credentials stay behind
        else
            server.url = url;
    }
    if (options.user.present) {
        server.user = std::string(TrimBlanks(options.user.value));
        if (server.user.empty())
            server.password.clear();
    }
    if (options.password.present && options.passwordFile.present) {
        error = "give --out-of-office-password or --out-of-office-password-file, not both";
        return 2;
    }
    if (!ApplySecret(options.password, options.passwordFile, options.passwordTyped,
                     "out-of-office-password", false, "out-of-office-password-file",
                     "out-of-office password", server.password, error))
        return 1;
    if (options.startTls.present)
        server.startTls = startTls;
    if (options.login.present)
        server.login = std::string(TrimBlanks(options.login.value));
    if (options.zone.present)
        server.zone = std::string(TrimBlanks(options.zone.value));
    if (server.url.empty() &&
        (options.user.present || options.passwordFile.present || options.password.present ||
         options.passwordTyped.present || options.startTls.present || options.login.present ||
         options.zone.present)) {
        error = "the --out-of-office-... options apply to an out-of-office server; give "
                "--out-of-office sieve://HOST too";
        return 1;
    }
    error = mail::sieve::CheckSieveConfig(server);
    return error.empty() ? 0 : 1;
}

void SetTransportUrl(const std::string& value, mail::TransportConfig& transport) {
    const mail::TransportConfig::Kind kind = mail::TransportKindOf(value);
    if (kind != transport.kind) {
        mail::TransportConfig fresh;
        fresh.kind = kind;
        fresh.sender = transport.sender;
        transport = fresh;
    }
    transport.url = kind == mail::TransportConfig::Kind::Outbox ? std::string() : value;
    transport.insecure = false;
}

int ApplyWebTransportOptions(const WebTransportOptions& options, mail::TransportConfig& transport,
                             std::string& error) {
    if (!options.Any())
        return 0;
    if (transport.kind != mail::TransportConfig::Kind::Web) {
        error = "--transport-format, --transport-token(-file) and --transport-insecure apply "
                "to a web transport; give --transport https://HOST[/PATH] too";
        return 1;
    }
    if (options.format.present && !mail::ParseWebFormat(options.format.value, transport.format)) {
        error = "--transport-format takes json, ntfy or gotify";
        return 2;
    }
    if (options.insecure.present && !TakeYesNo(options.insecure, transport.insecure)) {
        error = "--transport-insecure takes yes or no";
        return 2;
    }
    if (options.token.present && options.tokenFile.present) {
        error = "give --transport-token or --transport-token-file, not both";
        return 2;
    }
    if (options.token.present && !TakeSecretOption("transport-token", options.token.value, false,
                                                   "transport-token-file", transport.token, error))
        return 1;
    if (options.tokenFile.present) {
        if (options.tokenFile.value.empty())
            transport.token.clear();
        else if (!ReadPasswordFile(options.tokenFile.value, transport.token, error))
            return 1;
    }
    if (options.tokenTyped.present &&
        !TakeTypedPassword("token", options.tokenTyped.value, transport.token, error))
        return 1;
    return 0;
}

std::string DirectoryProblem(const mail::Profile& profile) {
    if (profile.ldap.url.empty())
        return "";
    std::string error;
    std::shared_ptr<mail::MailSystem> system =
        mail::MailSystem::OpenWithoutCalendarServer(profile, error);
    std::vector<mail::AddressEntry> found;
    // A search that matches nothing still needs the connection, TLS and the bind.
    if (system && system->FindByAddress("orvane-profile-check", found, error))
        return "";
    return error;
}

} // namespace admin
