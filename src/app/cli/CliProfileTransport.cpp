// "orvane profile set --transport URL --transport-...": how a profile's pages leave.
#include "app/cli/CliProfileTransport.h"

#include "app/cli/CliProfileDirectory.h"
#include "app/cli/CliSecrets.h"

#include <ostream>

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
                             std::ostream& err) {
    if (!options.Any())
        return 0;
    if (transport.kind != mail::TransportConfig::Kind::Web) {
        err << "orvane: --transport-format, --transport-token(-file) and --transport-insecure "
               "apply "
               "to a web transport; give --transport https://HOST[/PATH] too\n";
        return 1;
    }
    if (options.format.present && !mail::ParseWebFormat(options.format.value, transport.format)) {
        err << "orvane: --transport-format takes json, ntfy or gotify\n";
        return 2;
    }
    if (options.insecure.present) {
        const std::string& v = options.insecure.value;
        if (v != "yes" && v != "no") {
            err << "orvane: --transport-insecure takes yes or no\n";
            return 2;
        }
        transport.insecure = v == "yes";
    }
    if (options.token.present && options.tokenFile.present) {
        err << "orvane: give --transport-token or --transport-token-file, not both\n";
        return 2;
    }
    if (options.token.present && !TakeSecretOption("transport-token", options.token.value, false,
                                                   "transport-token-file", transport.token, err))
        return 1;
    if (options.tokenFile.present) {
        if (options.tokenFile.value.empty())
            transport.token.clear();
        else if (!ReadPasswordFile(options.tokenFile.value, transport.token, err))
            return 1;
    }
    return 0;
}

} // namespace cli
