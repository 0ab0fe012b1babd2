// The secrets of "orvane profile set": a password read from a file, or the name of a credential
// that the service manager provides ("credential:NAME"), and how a stored one is shown.
#pragma once

#include <iosfwd>
#include <string>

namespace cli {

// The value of a password option such as --password or --directory-password. "credential:NAME"
// is stored as it is and read from $CREDENTIALS_DIRECTORY/NAME at each use. Any other value is a
// password typed on the command line, taken only where `literalAllowed` (--password, which
// always took one); elsewhere the sentence points to `fileOption`, which keeps the password out
// of the process list. A value that begins with "credential:" without a file name after it is
// refused too: it cannot be told from a reference, so it can never be a stored password. False,
// with a message on `err` that never repeats the value.
bool TakeSecretOption(const std::string& option, const std::string& value, bool literalAllowed,
                      const std::string& fileOption, std::string& secret, std::ostream& err);

// A stored secret as "profile list" shows it: empty for none, the reference for a credential
// (its name is no secret), "set" for a password.
std::string DescribeSecret(const std::string& stored);

} // namespace cli
