// "orvane profile set --out-of-office ...": the options of the Sieve server a profile reads
// out-of-office states from.
#include "app/cli/CliProfileOutOfOffice.h"

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

} // namespace cli
