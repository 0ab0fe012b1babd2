// "orvane profile set --out-of-office ...": the Sieve server a profile reads out-of-office
// states from.
#include "app/cli/CliProfileOutOfOffice.h"

#include "app/cli/CliProfileDirectory.h"
#include "app/cli/CliSecrets.h"
#include "core/Text.h"

#include <ostream>

namespace cli {

bool TakeOutOfOfficeOptions(Args& args, OutOfOfficeOptions& options, std::ostream& err) {
    return TakePrefixedOptions(args, "--out-of-office",
                               {
                                   {"out-of-office", &options.url},
                                   {"out-of-office-user", &options.user},
                                   {"out-of-office-password-file", &options.passwordFile},
                                   {"out-of-office-password", &options.password},
                                   {"out-of-office-starttls", &options.startTls},
                                   {"out-of-office-login", &options.login},
                                   {"out-of-office-zone", &options.zone},
                               },
                               err);
}

int ApplyOutOfOfficeOptions(const OutOfOfficeOptions& options, mail::sieve::SieveConfig& server,
                            std::ostream& err) {
    if (!options.Any())
        return 0;
    for (const OptionValue* value : {&options.url, &options.user, &options.login, &options.zone}) {
        if (value->present && HasControlCharacter(value->value)) {
            err << "orvane: the --out-of-office options must not contain control characters\n";
            return 1;
        }
    }
    if (options.startTls.present && options.startTls.value != "yes" &&
        options.startTls.value != "no") {
        err << "orvane: --out-of-office-starttls takes yes or no\n";
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
        err << "orvane: give --out-of-office-password or --out-of-office-password-file, not both\n";
        return 2;
    }
    if (options.password.present &&
        !TakeSecretOption("out-of-office-password", options.password.value, false,
                          "out-of-office-password-file", server.password, err))
        return 1;
    if (options.passwordFile.present &&
        !ReadPasswordFile(options.passwordFile.value, server.password, err))
        return 1;
    if (options.startTls.present)
        server.startTls = options.startTls.value == "yes";
    if (options.login.present)
        server.login = std::string(TrimBlanks(options.login.value));
    if (options.zone.present)
        server.zone = std::string(TrimBlanks(options.zone.value));
    if (server.url.empty() &&
        (options.user.present || options.passwordFile.present || options.password.present ||
         options.startTls.present || options.login.present || options.zone.present)) {
        err << "orvane: the --out-of-office-... options apply to an out-of-office server; give "
               "--out-of-office sieve://HOST too\n";
        return 1;
    }
    const std::string problem = mail::sieve::CheckSieveConfig(server);
    if (!problem.empty()) {
        err << "orvane: " << problem << "\n";
        return 1;
    }
    return 0;
}

} // namespace cli
