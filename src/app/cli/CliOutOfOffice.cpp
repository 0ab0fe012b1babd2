// "orvane out-of-office": reads one mailbox's out-of-office state from the profile's mail system
// (its files or its Sieve server) and says what decided it.
#include "app/cli/CliOutOfOffice.h"

#include "core/Clock.h"
#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"

#include <ostream>

namespace cli {
namespace {

int RunOutOfOffice(const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<OptionValue> values;
    Args positional;
    if (!ParseOptions(args, 0, {"profile", "at"}, values, positional, err))
        return 2;
    if (positional.size() != 1 || positional[0].empty()) {
        err << "orvane: out-of-office takes one mailbox name (as stored in Users.dat); see "
               "orvane --help\n";
        return 2;
    }
    if (values[1].present) {
        CTime at;
        if (!ParseLocalTime(values[1].value, at)) {
            err << "orvane: --at takes a local time as \"YYYY-MM-DD HH:MM:SS\", not \""
                << EscapeField(values[1].value) << "\"\n";
            return 2;
        }
        Clock::Freeze(at);
    }
    const std::string& mailbox = positional[0];

    // The monitor's check logs on to the default profile; --profile chooses another.
    mail::Profiles profiles;
    std::string error;
    if (!profiles.Load(error)) {
        err << "orvane: " << error << "\n";
        return 1;
    }
    const std::string name = values[0].present ? values[0].value : std::string();
    const mail::Profile* profile = profiles.Find(name);
    if (!profile) {
        if (name.empty())
            err << "orvane: there is no default profile; choose one with: orvane profile set "
                   "NAME --default\n";
        else
            err << "orvane: there is no profile \"" << EscapeField(name) << "\"\n";
        return 1;
    }
    std::shared_ptr<mail::MailSystem> system =
        mail::MailSystem::OpenWithoutCalendarServer(*profile, error);
    if (!system) {
        err << "orvane: " << error << "\n";
        return 1;
    }
    std::vector<mail::AddressEntry> entries;
    if (!system->FindByAddress(mailbox, entries, error)) {
        err << "orvane: " << error << "\n";
        return 1;
    }
    const mail::AddressEntry* entry = nullptr;
    for (const mail::AddressEntry& e : entries) {
        if (!entry && e.address == mailbox && !e.mailbox.empty())
            entry = &e;
    }
    if (!entry) {
        err << "orvane: no entry of the address list of the profile \"" << profile->name
            << "\" has a mailbox with the address \"" << EscapeField(mailbox) << "\"\n";
        return 1;
    }

    mail::OutOfOfficeNote note;
    const mail::OutOfOffice state = system->ReadOutOfOffice(*entry, note);
    if (state == mail::OutOfOffice::In || state == mail::OutOfOffice::Out) {
        out << (state == mail::OutOfOffice::Out ? "out" : "in") << "\n";
        err << "orvane: " << note.why << "\n";
        return 0;
    }
    // What the monitor meets as a flag it cannot read: the user keeps the flag it had.
    err << "orvane: " << note.why << "\n";
    return 1;
}

} // namespace

const Command kOutOfOfficeCommand = {
    "out-of-office",
    "  out-of-office MAILBOX [--profile NAME] [--at \"YYYY-MM-DD HH:MM:SS\"]\n"
    "      Reads the out-of-office state of one mailbox (as stored in Users.dat) as the\n"
    "      monitor does and prints \"in\" or \"out\"; stderr says what decided (the\n"
    "      mailbox's out-of-office file, or the Sieve script and its vacation rule when\n"
    "      the profile names an out-of-office server). The profile defaults to the default\n"
    "      profile, which the monitor's check uses; --at reads as at that local time.\n"
    "      Exits 1, with the file or server and the cause on stderr, when the state\n"
    "      cannot be read or none is stored.\n",
    RunOutOfOffice,
};

} // namespace cli
