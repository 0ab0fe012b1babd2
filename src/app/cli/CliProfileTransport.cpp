// "orvane profile set --transport URL --transport-...": how a profile's pages leave.
#include "app/cli/CliProfileTransport.h"

namespace cli {

bool TakeWebTransportOptions(Args& args, WebTransportOptions& options, std::ostream& err) {
    return TakePrefixedOptions(args, "--transport-",
                               {
                                   {"transport-format", &options.format},
                                   {"transport-token-file", &options.tokenFile},
                                   {"transport-token", &options.token},
                                   {"transport-insecure", &options.insecure},
                               },
                               err);
}

} // namespace cli
