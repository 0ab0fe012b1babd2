// "orvane address-list": prints the global address list through the user dialogs' Extended MAPI
// steps, so that an administrator without a display finds the exact strings for "users add".
#include "app/cli/CliAddressList.h"

#include "paging/EventLog.h"
#include "users/DialogRules.h"
#include "users/GlobalAddressList.h"

#include <cstdio>
#include <functional>
#include <ostream>
#include <vector>

namespace cli {
namespace {

std::string CodeText(HRESULT code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(static_cast<uint32_t>(code)));
    return buffer;
}

// Whether `text` occurs in the entry's display name or address, ignoring case.
bool Matches(const GALEntryStru& entry, const QString& text) {
    return ToDisplayText(entry.DisplayName).contains(text, Qt::CaseInsensitive) ||
           ToDisplayText(entry.Address).contains(text, Qt::CaseInsensitive);
}

int RunAddressList(const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<OptionValue> values;
    Args positional;
    if (!ParseOptions(args, 0, {"profile"}, values, positional, err))
        return 2;
    if (positional.size() > 1) {
        err << "orvane: address-list takes at most one text to look for; see orvane --help\n";
        return 2;
    }
    if (values[0].present && values[0].value.empty()) {
        err << "orvane: --profile needs a profile name\n";
        return 2;
    }
    const CString profile = values[0].present ? values[0].value : CString();
    const QString wanted = positional.empty() ? QString() : ToDisplayText(positional[0]);

    GALNameList names;
    GALEntryList entries;
    // The read's result code says which call failed; the events written meanwhile say why (the
    // address-list file's fault, or the directory that could not be reached).
    std::vector<CString> causes;
    std::function<void(const EventLog::Entry&)> previous;
    previous = EventLog::SetObserver([&](const EventLog::Entry& entry) {
        if (!entry.strings.empty())
            causes.push_back(entry.strings.front());
        if (previous)
            previous(entry);
    });
    const GALReadResult read = GetGALContents(names, entries, profile);
    EventLog::SetObserver(previous);

    out << "display name\taddress\thome store\n";
    for (const auto& entry : entries) {
        if (!wanted.isEmpty() && !Matches(*entry, wanted))
            continue;
        out << EscapeField(entry->DisplayName) << '\t' << EscapeField(entry->Address) << '\t'
            << EscapeField(entry->Server) << '\n';
    }
    if (read.Complete())
        return 0;

    err << "orvane: the global address list could not be read"
        << (entries.empty() ? "" : " to its end") << ": " << read.failedCall
        << " failed with error code " << CodeText(read.code) << "\n";
    for (const CString& cause : causes)
        err << "orvane: " << EscapeField(cause) << "\n";
    if (std::string(read.failedCall) == "MAPILogonEx") {
        if (profile.empty())
            err << "orvane: is there a default mail profile, and can its mail system be opened? "
                   "See orvane profile list\n";
        else
            err << "orvane: is there a mail profile named \"" << EscapeField(profile)
                << "\", and can its mail system be opened? See orvane profile list\n";
    }
    return 1;
}

} // namespace

const Command kAddressListCommand = {
    "address-list",
    "  address-list [--profile NAME] [TEXT]\n"
    "      Prints the global address list exactly as the User List dialog reads it, one\n"
    "      entry a line in the list's order, fields separated by tabs: display name,\n"
    "      address and home store (empty for a pager). With TEXT, only the entries whose\n"
    "      display name or address contains it, ignoring case. The address and home store\n"
    "      of a user's entry are what \"users add\" takes as --mailbox and --server, the\n"
    "      display name of a pager entry what it takes as --pager. The profile defaults\n"
    "      to the default mail profile, as the dialog's.\n",
    RunAddressList,
};

} // namespace cli
