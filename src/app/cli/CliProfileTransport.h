// The --transport-... options of "orvane profile set": a web transport's request format, its
// token and the permission to use plain http:// beyond loopback.
#pragma once

#include "app/cli/Cli.h"
#include "mailsystem/transport/TransportConfig.h"

#include <iosfwd>

namespace cli {

struct WebTransportOptions {
    OptionValue format, tokenFile, token, insecure;
    bool Any() const {
        return format.present || tokenFile.present || token.present || insecure.present;
    }
};

// Moves --transport-format, --transport-token-file, --transport-token (credential:NAME only) and
// --transport-insecure and their values out
// of `args` (--transport itself stays). False, with a message on `err`, for an unknown
// --transport-... option or a missing value.
bool TakeWebTransportOptions(Args& args, WebTransportOptions& options, std::ostream& err);

// Sets `transport` to the value of --transport: "outbox", an SMTP URL or a web service's URL. A
// change of kind drops the settings of the old kind (SMTP credentials and STARTTLS, or a web
// service's format, token and permission), so none stays behind unused; a new web URL drops
// the permission for plain http://, which belongs to the URL it was given with.
void SetTransportUrl(const std::string& value, mail::TransportConfig& transport);

// Applies the options to `transport` (--transport-token-file "" removes the token;
// --transport-token takes credential:NAME, read at each page). Returns 0,
// or the exit code (1 or 2) after a message on `err`.
int ApplyWebTransportOptions(const WebTransportOptions& options, mail::TransportConfig& transport,
                             std::ostream& err);

} // namespace cli
