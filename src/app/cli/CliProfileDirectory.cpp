// "orvane profile set --directory ...": the LDAP directory a profile reads its address list from.
#include "app/cli/CliProfileDirectory.h"

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

} // namespace cli
