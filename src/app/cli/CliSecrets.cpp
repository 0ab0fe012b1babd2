// Secrets given to "orvane profile set".
#include "app/cli/CliSecrets.h"

#include "core/Credentials.h"
#include "core/Text.h"

#include <ostream>

namespace cli {

bool TakeSecretOption(const std::string& option, const std::string& value, bool literalAllowed,
                      const std::string& fileOption, std::string& secret, std::ostream& err) {
    if (HasControlCharacter(value)) {
        err << "orvane: --" << option << " must not contain control characters\n";
        return false;
    }
    if (credentials::IsReference(value) && !credentials::IsWellFormedReference(value)) {
        err << "orvane: --" << option << " " << credentials::kPrefix
            << "... does not name a credential: the name after \"" << credentials::kPrefix
            << "\" must be a file name (not empty, not . or .., without /). A password cannot "
               "begin with \""
            << credentials::kPrefix << "\"\n";
        return false;
    }
    if (!credentials::IsReference(value) && !literalAllowed) {
        err << "orvane: --" << option << " takes " << credentials::kPrefix
            << "NAME, a credential that the service manager provides; give a password itself "
               "with --"
            << fileOption << " FILE, so that it does not appear in the process list\n";
        return false;
    }
    secret = value;
    return true;
}

std::string DescribeSecret(const std::string& stored) {
    if (stored.empty())
        return "";
    return credentials::IsReference(stored) ? EscapeField(stored) : "set";
}

} // namespace cli
