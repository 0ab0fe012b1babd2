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
#include <string_view>
#include <unordered_map>
#include <vector>

namespace automation {

// A new Application object; the caller owns its one reference. Throws std::bad_alloc only.
IDispatch* CreateOutlookApplication();

// How NameSpace.Logon reaches a mail system: the profile's name (empty: the default profile) to
// an open mail system, or null with a sentence in `error`.
using MailSystemOpener = std::function<std::shared_ptr<mail::MailSystem>(const std::string& profile,
                                                                         std::string& error)>;
// The production opener: the profile from the user's profile file, its directory opened with
// MailSystem::Open.
std::shared_ptr<mail::MailSystem> OpenProfileMailSystem(const std::string& profile,
                                                        std::string& error);

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

// Who a recipient name stands for in the address list: "EX:" (any case) and an address is the
// entry with exactly that address; any other name is the entry with exactly that display name or,
// when none has it, exactly that address. Found only when exactly one entry qualifies.
enum class Resolution { Found, NotFound, Ambiguous };
Resolution ResolveName(const std::vector<mail::AddressEntry>& addressList, const std::string& name,
                       mail::AddressEntry& entry);

// ResolveName's rule over an address list indexed by address and by display name, so that a
// name is resolved without a walk of the whole list. Keeps the list alive.
class AddressIndex {
public:
    explicit AddressIndex(std::shared_ptr<const std::vector<mail::AddressEntry>> list);
    Resolution Resolve(const std::string& name, mail::AddressEntry& entry) const;
    const std::vector<mail::AddressEntry>* List() const { return m_list.get(); }

private:
    struct Matches {
        std::size_t first = 0; // the first entry in list order
        std::size_t count = 0;
    };
    using Map = std::unordered_map<std::string_view, Matches>;
    Resolution Look(const Map& map, std::string_view key, mail::AddressEntry& entry) const;

    std::shared_ptr<const std::vector<mail::AddressEntry>> m_list;
    Map m_byAddress;
    Map m_byDisplayName;
};

// The index of `list`: built once for each list and kept while that list is the latest one
// asked for (a mail system hands out the same list until its file changes). Thread-safe.
std::shared_ptr<const AddressIndex>
IndexOf(const std::shared_ptr<const std::vector<mail::AddressEntry>>& list);

// Descriptions of the dispatch errors the served objects raise.
inline constexpr const char* kNotLoggedOn =
    "The operation failed because Outlook is not logged on to a mail profile.";
inline constexpr const char* kObjectNotFound =
    "The operation failed. An object could not be found.";

} // namespace automation
