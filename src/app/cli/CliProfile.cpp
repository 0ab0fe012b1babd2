// "orvane profile": lists, sets and removes the mail profiles of the current user.
#include "app/cli/CliProfile.h"

#include "app/cli/CliProfileCalendars.h"
#include "app/cli/CliProfileDirectory.h"
#include "app/cli/CliProfileOutOfOffice.h"
#include "app/cli/CliProfileTransport.h"
#include "app/cli/CliSecrets.h"
#include "core/Credentials.h"
#include "core/FileSystem.h"
#include "core/Text.h"
#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sys/stat.h>

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
            << DescribeSecret(p.transport.token.empty() ? p.transport.password : p.transport.token)
            << '\t' << EscapeField(p.transport.sender) << '\t'
            << EscapeField(mail::DescribeLdap(p.ldap)) << '\t' << EscapeField(p.ldap.user) << '\t'
            << EscapeField(mail::DescribeCalendarServer(p.calendars)) << '\t'
            << EscapeField(p.calendars.user) << '\t' << DescribeSecret(p.calendars.password) << '\t'
            << EscapeField(p.outOfOffice.url.empty()
                               ? std::string("directory")
                               : mail::sieve::DescribeSieveConfig(p.outOfOffice))
            << '\t' << DescribeSecret(p.outOfOffice.password) << '\n';
    }
    return 0;
}

} // namespace

bool ReadPasswordFile(const std::string& path, std::string& password, std::ostream& err) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err << "orvane: the password file " << path << " cannot be read\n";
        return false;
    }
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty()) {
        err << "orvane: the password file " << path << " holds no password on its first line\n";
        return false;
    }
    if (credentials::IsReference(password)) {
        password.clear();
        err << "orvane: the password in " << path << " begins with \"" << credentials::kPrefix
            << "\", which would name a credential rather than be a password; name a credential "
               "with the password option itself (such as --password credential:NAME)\n";
        return false;
    }
    return true;
}

namespace {

// Takes the profiles' lock and reads them; false, with the reason on err, when either fails.
bool LoadForChange(FileLock& lock, mail::Profiles& profiles, std::ostream& err) {
    if (!LockProfiles(lock, err))
        return false;
    std::string error;
    if (!profiles.Load(error)) {
        err << "orvane: " << error
            << "\norvane: nothing was changed; repair or remove the file first\n";
        return false;
    }
    return true;
}

int Set(Args args, std::ostream& out, std::ostream& err) {
    const bool makeDefault = TakeFlag(args, "default");
    DirectoryOptions directory;
    if (!TakeDirectoryOptions(args, directory, err))
        return 2;
    CalendarOptions calendars;
    if (!TakeCalendarOptions(args, calendars, err))
        return 2;
    WebTransportOptions web;
    if (!TakeWebTransportOptions(args, web, err))
        return 2;
    OutOfOfficeOptions outOfOffice;
    if (!TakeOutOfOfficeOptions(args, outOfOffice, err))
        return 2;
    std::vector<OptionValue> values;
    Args positional;
    if (!ParseOptions(args, 1, kOptions, values, positional, err))
        return 2;
    if (positional.size() != 1) {
        err << "orvane: profile set takes one profile name; see orvane --help\n";
        return 2;
    }
    if (values[Password].present && values[PasswordFile].present) {
        err << "orvane: give either --password or --password-file\n";
        return 2;
    }
    const std::string& name = positional[0];
    const std::string nameProblem = mail::CheckProfileName(name);
    if (!nameProblem.empty()) {
        err << "orvane: " << nameProblem << "\n";
        return 1;
    }
    for (Option option : {MailSystem, Transport, User, Password, Sender}) {
        if (values[option].present && HasControlCharacter(values[option].value)) {
            err << "orvane: --" << kOptions[option] << " must not contain control characters\n";
            return 1;
        }
    }

    FileLock lock;
    mail::Profiles profiles;
    if (!LoadForChange(lock, profiles, err))
        return 1;
    mail::Profile profile;
    if (const mail::Profile* existing = profiles.Find(name)) {
        profile = *existing;
    } else {
        if (!values[MailSystem].present) {
            err << "orvane: the new profile \"" << name << "\" needs --mail-system DIR\n";
            return 2;
        }
        profile.name = name;
    }

    if (values[MailSystem].present) {
        if (values[MailSystem].value.empty()) {
            err << "orvane: --mail-system needs a directory\n";
            return 1;
        }
        std::error_code ec;
        profile.mailSystem =
            std::filesystem::absolute(values[MailSystem].value, ec).lexically_normal().string();
        while (profile.mailSystem.size() > 1 && profile.mailSystem.back() == '/')
            profile.mailSystem.pop_back();
    }
    mail::TransportConfig& t = profile.transport;
    // No stale credentials stay behind in a profile that no longer uses them.
    if (values[Transport].present)
        SetTransportUrl(values[Transport].value, t);
    if (values[StartTls].present) {
        const std::string& v = values[StartTls].value;
        if (v != "yes" && v != "no") {
            err << "orvane: --starttls takes yes or no\n";
            return 2;
        }
        t.startTls = v == "yes";
    }
    if (values[User].present)
        t.user = values[User].value;
    if (values[Password].present &&
        !TakeSecretOption(kOptions[Password], values[Password].value, true, kOptions[PasswordFile],
                          t.password, err))
        return 1;
    if (values[PasswordFile].present &&
        !ReadPasswordFile(values[PasswordFile].value, t.password, err))
        return 1;
    if (values[Sender].present)
        t.sender = values[Sender].value;
    if (t.kind != mail::TransportConfig::Kind::Smtp &&
        (values[StartTls].present || values[User].present || values[Password].present ||
         values[PasswordFile].present)) {
        err << "orvane: --starttls, --user and --password apply to an SMTP transport; give "
               "--transport smtp://HOST too\n";
        return 1;
    }
    if (const int code = ApplyWebTransportOptions(web, t, err); code != 0)
        return code;
    const std::string transportProblem = mail::CheckTransport(t);
    if (!transportProblem.empty()) {
        err << "orvane: " << transportProblem << "\n";
        return 1;
    }
    if (const int code = ApplyDirectoryOptions(directory, profile.ldap, err); code != 0)
        return code;
    if (const int code = ApplyCalendarOptions(calendars, profile.calendars, err); code != 0)
        return code;
    if (const int code = ApplyOutOfOfficeOptions(outOfOffice, profile.outOfOffice, err); code != 0)
        return code;

    profiles.Set(profile);
    if (makeDefault)
        profiles.SetDefault(name);
    std::string error;
    if (!profiles.Save(error)) {
        err << "orvane: " << error << "\n";
        return 1;
    }
    if (values[MailSystem].present || (directory.url.present && profile.ldap.url.empty())) {
        std::string why;
        if (!mail::MailSystem::OpenWithoutCalendarServer(profile, why))
            err << "orvane: warning: " << why << "\n";
    }
    if (directory.Any())
        WarnIfDirectoryFails(profile, err);
    if (profiles.DefaultName() == name && (makeDefault || profiles.All().size() == 1))
        out << "\"" << name << "\" is the default profile.\n";
    return 0;
}

int Remove(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << "orvane: profile remove takes one profile name\n";
        return 2;
    }
    FileLock lock;
    mail::Profiles profiles;
    if (!LoadForChange(lock, profiles, err))
        return 1;
    const bool wasDefault = profiles.DefaultName() == args[1];
    if (!profiles.Remove(args[1])) {
        err << "orvane: there is no profile \"" << EscapeField(args[1]) << "\"\n";
        return 1;
    }
    std::string error;
    if (!profiles.Save(error)) {
        err << "orvane: " << error << "\n";
        return 1;
    }
    if (wasDefault && !profiles.All().empty())
        out << "There is no default profile now; choose one with: orvane profile set NAME "
               "--default\n";
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

// The lock lies beside the profiles file, which saves replace (a lock on it would be lost).
bool LockProfiles(FileLock& lock, std::ostream& err) {
    const std::string path = mail::Profiles::FilePath();
    const std::string directory = path.substr(0, path.rfind('/'));
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    int error = 0;
    switch (lock.TryLock(directory + "/Orvane-profiles.lock", FileLock::Exclusive, &error)) {
    case FileLock::Locked:
        return true;
    case FileLock::Busy:
        err << "orvane: another orvane profile command is changing the profiles; try again\n";
        return false;
    case FileLock::Unavailable:
        err << "orvane: the profiles in " << directory
            << " cannot be locked: " << std::strerror(error) << "\n";
        return false;
    }
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
