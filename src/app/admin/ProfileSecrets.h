// The secrets of a mail profile as an administrator gives them: a password read from a file or
// typed into a password field, or the name of a credential that the service manager provides
// ("credential:NAME"), and how a stored one is shown.
#pragma once

#include <string>

namespace admin {

// The value of a password option such as --password or --directory-password. "credential:NAME"
// is stored as it is and read from $CREDENTIALS_DIRECTORY/NAME at each use. Any other value is a
// password typed on the command line, taken only where `literalAllowed` (--password, which
// always took one); elsewhere the sentence points to `fileOption`, which keeps the password out
// of the process list. A value that begins with "credential:" without a file name after it is
// refused too: it cannot be told from a reference, so it can never be a stored password. False,
// with a sentence in `error` that never repeats the value.
bool TakeSecretOption(const std::string& option, const std::string& value, bool literalAllowed,
                      const std::string& fileOption, std::string& secret, std::string& error);

// The password a password file holds: its first line without a CR at its end. False, with the
// sentence in `error`, when the file cannot be read, its first line is empty, or the password
// begins with "credential:" (it would name a credential rather than be a password).
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);

// A password typed into a password field, stored exactly as a password file holding it would
// store it (its first line, without a CR at its end). "credential:NAME" names a credential, as
// the password options take it. False, with a sentence naming `field`, for an empty password or
// a reference without a name.
bool TakeTypedPassword(const std::string& field, const std::string& typed, std::string& secret,
                       std::string& error);

// A stored secret as "profile list" shows it: empty for none, the reference for a credential
// (its name is no secret), "set" for a password.
std::string DescribeSecret(const std::string& stored);

} // namespace admin
