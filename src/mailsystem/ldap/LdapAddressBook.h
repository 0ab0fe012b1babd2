// The address book read from an LDAP directory.
#pragma once

#include "mailsystem/addressbook/AddressBook.h"
#include "mailsystem/ldap/LdapSettings.h"

#include <memory>
#include <string>

namespace mail {

// The directory `config` names (LdapSettings.h). Connects at the first request and keeps the
// connection for the next ones; a failure to reach the server or to bind fails every request
// at once for a minute after, so that a pass over many users does not wait on a dead server
// once per user. Null, with a sentence in `error`, when the configuration cannot work.
std::unique_ptr<AddressBook> NewLdapAddressBook(const LdapConfig& config, const LdapLimits& limits,
                                                std::string& error);

} // namespace mail
