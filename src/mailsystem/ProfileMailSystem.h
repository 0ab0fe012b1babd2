// The mail system a profile names: its directory, and, when the profile names a calendar
// server, every mailbox's calendars and task lists read from that server instead.
#pragma once

#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/caldav/CalendarServer.h"
#include "mailsystem/caldav/DavClient.h"

#include <memory>
#include <string>

namespace mail {

// Opens the profile's whole mail system: MailSystem::OpenWithoutCalendarServer (with the address
// book the profile names), with the profile's calendar server, if any, in front of it. Null,
// with a sentence in `error`, when either cannot be used.
std::shared_ptr<MailSystem> OpenWithCalendarServer(const Profile& profile, std::string& error);

// `directory` with its appointments and tasks read from `server` (which must pass
// CheckCalendarServer, and whose password is the secret itself: OpenWithCalendarServer reads a
// credential first): each mailbox's calendar home is the server's URL template with the
// entry's Mailbox field. The address book, out-of-office states and outbox stay the
// directory's. One object is one session (one scan pass): it reads each calendar home at most
// once, and a server that could not be reached is not tried again for later mailboxes.
std::shared_ptr<MailSystem> WithCalendarServer(std::shared_ptr<MailSystem> directory,
                                               const CalendarServerConfig& server,
                                               const dav::Limits& limits);

} // namespace mail
