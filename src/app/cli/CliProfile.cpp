// "orvane profile": lists, sets and removes the mail profiles of the current user.
#include "app/cli/CliProfile.h"

#include "app/admin/ProfileChange.h"
#include "app/admin/ProfileSecrets.h"
#include "app/cli/CliProfileCalendars.h"
#include "app/cli/CliProfileDirectory.h"
#include "app/cli/CliProfileOutOfOffice.h"
#include "app/cli/CliProfileTransport.h"
#include "core/FileSystem.h"
#include "core/Text.h"
#include "mailsystem/Profiles.h"

#include <algorithm>
#include <ostream>

namespace cli {
namespace {

enum Option { MailSystem, Transport, StartTls, User, Password, PasswordFile, Sender, OptionCount };
const std::vector<std::string> kOptions = {"mail-system", "transport",     "starttls", "user",
                                           "password",    "password-file", "sender"};

// Removes every "--NAME" word from `args` (a flag without a value); true when there was one.
bool TakeFlag(Args& args, const std::string& name) {
    bool found = false;
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--" + name) {
            it = args.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

int List(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1) {
        err << "orvane: profile list takes no arguments\n";
        return 2;
    }
    mail::Profiles profiles;
    std::string error;
    if (!profiles.Load(error)) {
        err << "orvane: " << error << "\n";
        return 1;
    }
    out << "name\tdefault\tmail system\ttransport\tuser\tpassword\tsender\taddress "
           "list\tdirectory user\tcalendars\tcalendar user\tcalendar password\tout of "
           "office\tout-of-office password\n";
    for (const mail::Profile& p : profiles.All()) {
        out << EscapeField(p.name) << '\t' << (p.name == profiles.DefaultName() ? "yes" : "no")
            << '\t' << EscapeField(p.mailSystem) << '\t'
            << EscapeField(mail::DescribeTransport(p.transport)) << '\t'
            << EscapeField(p.transport.user) << '\t'
            << admin::DescribeSecret(p.transport.token.empty() ? p.transport.password
                                                               : p.transport.token)
            << '\t' << EscapeField(p.transport.sender) << '\t'
            << EscapeField(mail::DescribeLdap(p.ldap)) << '\t' << EscapeField(p.ldap.user) << '\t'
            << EscapeField(mail::DescribeCalendarServer(p.calendars)) << '\t'
            << EscapeField(p.calendars.user) << '\t' << admin::DescribeSecret(p.calendars.password)
            << '\t'
            << EscapeField(p.outOfOffice.url.empty()
                               ? std::string("directory")
                               : mail::sieve::DescribeSieveConfig(p.outOfOffice))
            << '\t' << admin::DescribeSecret(p.outOfOffice.password) << '\n';
    }
    return 0;
}

// Writes a refusal or failure of the profile rules, each of its lines as one message.
void PrintError(const std::string& error, std::ostream& err) {
    size_t begin = 0;
    while (begin <= error.size()) {
        const size_t end = std::min(error.find('\n', begin), error.size());
        err << "orvane: " << error.substr(begin, end - begin) << "\n";
        begin = end + 1;
    }
}

int Set(Args args, std::ostream& out, std::ostream& err) {
    admin::ProfileChange change;
    change.makeDefault = TakeFlag(args, "default");
    if (!TakeDirectoryOptions(args, change.directory, err))
        return 2;
    if (!TakeCalendarOptions(args, change.calendars, err))
        return 2;
    if (!TakeWebTransportOptions(args, change.web, err))
        return 2;
    if (!TakeOutOfOfficeOptions(args, change.outOfOffice, err))
        return 2;
    std::vector<OptionValue> values;
    Args positional;
    if (!ParseOptions(args, 1, kOptions, values, positional, err))
        return 2;
    if (positional.size() != 1) {
        err << "orvane: profile set takes one profile name; see orvane --help\n";
        return 2;
    }
    change.mailSystem = values[MailSystem];
    change.transport = values[Transport];
    change.startTls = values[StartTls];
    change.user = values[User];
    change.password = values[Password];
    change.passwordFile = values[PasswordFile];
    change.sender = values[Sender];
    const std::string& name = positional[0];
    const admin::ChangeResult result = admin::SetProfile(name, change);
    if (result.code != 0) {
        PrintError(result.error, err);
        return result.code;
    }
    for (const std::string& warning : result.warnings)
        err << "orvane: warning: " << warning << "\n";
    if (result.nowDefault)
        out << "\"" << name << "\" is the default profile.\n";
    return 0;
}

int Remove(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << "orvane: profile remove takes one profile name\n";
        return 2;
    }
    const admin::ChangeResult result = admin::RemoveProfile(args[1]);
    if (result.code != 0) {
        PrintError(result.error, err);
        return result.code;
    }
    for (const std::string& note : result.warnings)
        out << note << "\n";
    return 0;
}

int RunProfile(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "orvane: profile needs list, set or remove; see orvane --help\n";
        return 2;
    }
    if (args[0] == "list")
        return List(args, out, err);
    if (args[0] == "set")
        return Set(args, out, err);
    if (args[0] == "remove")
        return Remove(args, out, err);
    err << "orvane: unknown profile command \"" << EscapeField(args[0])
        << "\"; see orvane --help\n";
    return 2;
}

} // namespace

bool LockProfiles(FileLock& lock, std::ostream& err) {
    std::string error;
    if (admin::LockProfiles(lock, error))
        return true;
    err << "orvane: " << error << "\n";
    return false;
}

const Command kProfileCommand = {
    "profile",
    "  profile list\n"
    "      Lists the mail profiles, one a line, fields separated by tabs: name, whether\n"
    "      it is the default (yes or no), mail system directory, transport, SMTP user,\n"
    "      whether a password is set (or the credential:NAME it is read from), sender,\n"
    "      address list, directory user, where the calendars are read (directory, or the\n"
    "      calendar server's URL template), calendar user, whether a calendar password\n"
    "      is set (or its credential:NAME), where the out-of-office states are read\n"
    "      (directory, or the Sieve server with its administrator) and whether its\n"
    "      password is set (or its credential:NAME). Passwords are never shown. The\n"
    "      password field says \"set\" for a web transport's token too.\n"
    "  profile set NAME [--mail-system DIR] [--transport outbox|URL] [--default]\n"
    "                   [--starttls yes|no] [--user NAME] [--password-file FILE]\n"
    "                   [--password TEXT] [--sender ADDRESS]\n"
    "      Adds or changes a profile. A new profile needs --mail-system; the transport\n"
    "      is outbox (messages are written to the mail system's outbox/) or an SMTP\n"
    "      server as smtp://HOST[:PORT] or smtps://HOST[:PORT]. --starttls yes requires\n"
    "      STARTTLS on smtp://. --password-file reads the password from the first line\n"
    "      of FILE, so that it does not appear in the process list. --password\n"
    "      credential:NAME stores no password: it is read from $CREDENTIALS_DIRECTORY/NAME\n"
    "      (systemd's LoadCredential=) each time it is needed; the --directory- and\n"
    "      --calendar-password options take credential:NAME the same way. The first profile\n"
    "      and a profile given --default become the default, which an empty profile\n"
    "      name (the \"ProfileName\" preference's default) selects.\n"
    "  profile set NAME --transport https://HOST[:PORT][/PATH]\n"
    "                   [--transport-format json|ntfy|gotify] [--transport-token-file FILE]\n"
    "                   [--transport-token credential:NAME]\n"
    "                   [--transport-insecure yes|no]\n"
    "      Sends each page as one HTTP request to a web service: ntfy (the text to\n"
    "      URL/TOPIC), Gotify (to URL/message) or any webhook (json, the default, posts\n"
    "      {\"to\", \"text\", \"page_time\", \"reminder_time\", \"user\", \"id\"}). The pager\n"
    "      entry's Deliver-To names the ntfy topic, the Gotify application (gotify:TOKEN)\n"
    "      or the json \"to\". --transport-token-file reads a bearer or application token\n"
    "      from the first line of FILE (\"\" removes it). Certificates are always\n"
    "      verified; http:// is refused beyond loopback unless --transport-insecure yes.\n"
    "      See docs/mapi.md.\n"
    "  profile set NAME --directory ldap[s]://HOST[:PORT]/BASE-DN\n"
    "                   [--directory-user BIND-DN] [--directory-password-file FILE]\n"
    "                   [--directory-password credential:NAME]\n"
    "                   [--directory-filter FILTER] [--directory-starttls yes|no]\n"
    "                   [--directory-map openldap|active-directory|FIELD=ATTRIBUTE,...]\n"
    "      Reads the profile's address list from an LDAP directory instead of the mail\n"
    "      system's address-list.txt (--directory \"\" returns to the file). ldaps://\n"
    "      is TLS from the first byte; ldap:// upgrades with StartTLS unless\n"
    "      --directory-starttls no. Certificates are always verified. Without a user the\n"
    "      bind is anonymous. The map says which attribute gives each field (Display-Name,\n"
    "      Address, Home-Store, Mailbox, Deliver-To); see docs/mailsystem.md.\n"
    "  profile set NAME --calendars URL-TEMPLATE [--calendar-user NAME]\n"
    "                   [--calendar-password-file FILE]\n"
    "                   [--calendar-password credential:NAME]\n"
    "      Reads every mailbox's calendars and task lists from a CalDAV server instead of\n"
    "      the mail system's mailboxes/ (--calendars \"\" returns to the files). {mailbox}\n"
    "      in the URL stands for the address list's Mailbox field and gives that\n"
    "      mailbox's calendar home, as in http://127.0.0.1:5232/{mailbox}/ for Radicale;\n"
    "      see docs/calendar-servers.md.\n"
    "  profile set NAME --out-of-office sieve://HOST[:PORT] [--out-of-office-user USER]\n"
    "                   [--out-of-office-password-file FILE]\n"
    "                   [--out-of-office-password credential:NAME]\n"
    "                   [--out-of-office-starttls yes|no] [--out-of-office-login TEMPLATE]\n"
    "                   [--out-of-office-zone ZONE]\n"
    "      Reads every mailbox's out-of-office state from its Sieve vacation rule over\n"
    "      ManageSieve (port 4190 by default) instead of the mailbox's out-of-office file\n"
    "      (--out-of-office \"\" returns to the files). USER is an administrator (a Dovecot\n"
    "      master user, a Cyrus admin) who logs in once and acts as each user, whose login\n"
    "      is TEMPLATE with {mailbox} standing for the address list's Mailbox field\n"
    "      (default {mailbox}). STARTTLS is required unless --out-of-office-starttls no;\n"
    "      certificates are always verified. ZONE (such as Europe/Berlin) is the mail\n"
    "      server's, for dates that name none (default the local zone); see\n"
    "      docs/mailsystem.md.\n"
    "  profile remove NAME\n"
    "      Removes a profile. The profiles are kept in\n"
    "      $XDG_CONFIG_HOME/Quorvik/Orvane-profiles.conf, readable by its owner only.\n",
    RunProfile,
};

} // namespace cli
