// What may change in each concern of a mail profile (the mail system's directory, how pages
// leave, the address list, the calendars, the out-of-office states), and the refusals: the one
// set of rules behind "orvane profile set" and the window's profile editor.
#pragma once

#include "core/CommandOptions.h"
#include "mailsystem/Profiles.h"

#include <string>

namespace admin {

using options::OptionValue;

// Each field is one option of "orvane profile set"; absent fields change nothing. A
// `...Typed` field is a secret typed into a password field, stored as a password file holding
// it would store it (ProfileSecrets.h); the command line never sets one.

struct DirectoryOptions {
    OptionValue url, user, passwordFile, password, passwordTyped, filter, map, startTls;
    bool Any() const {
        return url.present || user.present || passwordFile.present || password.present ||
               passwordTyped.present || filter.present || map.present || startTls.present;
    }
};

struct CalendarOptions {
    OptionValue url, user, passwordFile, password, passwordTyped;
    bool Any() const {
        return url.present || user.present || passwordFile.present || password.present ||
               passwordTyped.present;
    }
};

struct OutOfOfficeOptions {
    OptionValue url, user, passwordFile, password, passwordTyped, startTls, login, zone;
    bool Any() const {
        return url.present || user.present || passwordFile.present || password.present ||
               passwordTyped.present || startTls.present || login.present || zone.present;
    }
};

struct WebTransportOptions {
    OptionValue format, tokenFile, token, tokenTyped, insecure;
    bool Any() const {
        return format.present || tokenFile.present || token.present || tokenTyped.present ||
               insecure.present;
    }
};

// Each Apply... changes its part of a profile by `options`. 0 on success; otherwise the exit
// code of the command line's refusal (2 for a malformed value, 1 for one the rules refuse), with
// one sentence in `error` that never repeats a secret. On a refusal the part may be half changed:
// callers work on a copy.
int ApplyDirectoryOptions(const DirectoryOptions& options, mail::LdapConfig& directory,
                          std::string& error);
int ApplyCalendarOptions(const CalendarOptions& options, mail::CalendarServerConfig& calendars,
                         std::string& error);
int ApplyOutOfOfficeOptions(const OutOfOfficeOptions& options, mail::sieve::SieveConfig& server,
                            std::string& error);
int ApplyWebTransportOptions(const WebTransportOptions& options, mail::TransportConfig& transport,
                             std::string& error);

// Points the transport at `value` ("outbox", or an smtp://, smtps:// or https:// URL). A change
// of kind starts afresh, keeping only the sender, so that no stale credentials stay behind.
void SetTransportUrl(const std::string& value, mail::TransportConfig& transport);

// Why the profile's address-list directory cannot be searched now (connection, TLS, bind);
// empty when it can or the profile reads address-list.txt.
std::string DirectoryProblem(const mail::Profile& profile);

} // namespace admin
