// A mail system whose out-of-office states come from the Sieve server its profile names: each
// user's vacation rule, read over ManageSieve, instead of the mailbox folder's file.
#pragma once

#include "mailsystem/MailSystem.h"
#include "mailsystem/sieve/SieveOutOfOffice.h"

#include <memory>

namespace mail {

// `directory` with every mailbox's out-of-office state read from the Sieve server of `config`
// (which must pass sieve::CheckSieveConfig): the entry's Mailbox field makes the login (the
// config's template), and the user is out when the active script would answer a message
// arriving now with a vacation reply. The address book, calendars and outbox stay the
// directory's. The connection to the server is kept between readings, also by later objects
// (sieve::SieveOutOfOfficeReader).
std::shared_ptr<MailSystem> WithOutOfOfficeServer(std::shared_ptr<MailSystem> directory,
                                                  const sieve::SieveConfig& config);

} // namespace mail
