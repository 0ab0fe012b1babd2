// Secrets given to the service by its service manager: "credential:NAME" read from
// $CREDENTIALS_DIRECTORY/NAME at each use.
#pragma once

#include "CString.h"

// systemd's LoadCredential= and LoadCredentialEncrypted= put each credential in a file of its
// own, in a directory that only the service can read and whose path it passes in the
// environment variable CREDENTIALS_DIRECTORY. A setting that holds "credential:NAME" instead of
// a secret keeps the secret out of every file Orvane writes: it is read again at each use, so a
// credential replaced by a restart of the unit applies without any edit.
namespace credentials {

inline constexpr const char* kPrefix = "credential:";
inline constexpr const char* kDirectoryVariable = "CREDENTIALS_DIRECTORY";

// Whether `value` names a credential rather than holding a secret itself. So a secret held in
// a setting can never itself begin with "credential:": such a value is always a reference.
bool IsReference(const CString& value);
// Whether `value` is a reference whose name can name a credential's file (not empty, not "." or
// "..", no "/"): what Resolve will look for rather than refuse.
bool IsWellFormedReference(const CString& value);

// The secret that `value` stands for. A value that is not a reference is the secret itself. A
// reference is read now from the credential's file: its first line, without the line end ("\n"
// or "\r\n"), as --password-file reads a password file. False, with a sentence in `error` that
// names the credential (never the secret), when CREDENTIALS_DIRECTORY is not set, when the file
// is missing or cannot be read, or when its first line is empty; and with one that repeats
// nothing of `value` when it is not well formed (it may be a mistyped secret).
bool Resolve(const CString& value, CString& secret, CString& error);

} // namespace credentials
