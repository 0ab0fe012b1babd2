// The Outlook object model served in process from the mail system (see docs/automation.md):
// Application, NameSpace, Recipient, MAPIFolder, Items, AppointmentItem, TaskItem and
// RecurrencePattern objects answering the dispatch identifiers of OutlookDispIds.h.
#pragma once

#include "Filter.h"
#include "OleTypes.h"
#include "mailsystem/MailSystem.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace automation {

// A new Application object; the caller owns its one reference. Throws std::bad_alloc only.
IDispatch* CreateOutlookApplication();

// How NameSpace.Logon reaches a mail system: the profile's name (empty: the default profile) to
// an open mail system, or null with a sentence in `error`.
using MailSystemOpener = std::function<std::shared_ptr<mail::MailSystem>(const std::string& profile,
                                                                         std::string& error)>;
// The production opener: the profile from the user's profile file, its directory opened with
// MailSystem::Open and its calendar server, if it names one, in front (mail::OpenMailSystem).
std::shared_ptr<mail::MailSystem> OpenProfileMailSystem(const std::string& profile,
                                                        std::string& error);

// The mail system that Logon would open for `profile` now (the production opener, or a test's):
// for the readers that prepare a session's reads on other threads, each with its own object.
std::shared_ptr<mail::MailSystem> OpenMailSystem(const std::string& profile, std::string& error);

// Tests: Logon uses `opener` instead while the scope lasts (scopes nest).
class ScopedMailSystemOpener {
public:
    explicit ScopedMailSystemOpener(MailSystemOpener opener);
    ~ScopedMailSystemOpener();
    ScopedMailSystemOpener(const ScopedMailSystemOpener&) = delete;
    ScopedMailSystemOpener& operator=(const ScopedMailSystemOpener&) = delete;

private:
    MailSystemOpener m_previous;
};

// The longest stretch of starts that one calendar Find asks the store for: 366 days.
inline constexpr int64_t kMaxFindSpan = 366 * 86400;

// The starts (seconds since 1970, inclusive) for which a calendar Find asks the store: the
// filter's [Start] bounds, a side left open set kMaxFindSpan from the other (from `now` on when
// both are open), and the whole cut to kMaxFindSpan after its beginning. from > to: nothing.
struct StartRange {
    int64_t from = 0;
    int64_t to = 0;
};
StartRange ExpansionRange(const RestrictionFilter& filter, int64_t now);

// Who a recipient name stands for in the address book: "EX:" (any case) and an address is the
// entry with exactly that address; any other name is the entry with exactly that display name or,
// when none has it, exactly that address. Found only when exactly one entry qualifies; Failed,
// with the book's sentence in `error`, when the book cannot be searched.
enum class Resolution { Found, NotFound, Ambiguous, Failed };
Resolution ResolveName(mail::AddressBook& book, const std::string& name, mail::AddressEntry& entry,
                       std::string& error);

// Descriptions of the dispatch errors the served objects raise.
inline constexpr const char* kNotLoggedOn =
    "The operation failed because Outlook is not logged on to a mail profile.";
inline constexpr const char* kObjectNotFound =
    "The operation failed. An object could not be found.";

} // namespace automation
