// "orvane users": the user list of the working directory, for administrators without a display.
#include "app/CliUsers.h"

#include "app/ControlSocket.h"
#include "core/FileSystem.h"
#include "core/Text.h"
#include "core/WorkingDirectory.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <QJsonArray>
#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <sstream>

namespace cli {
namespace {

enum Option { DisplayName, Mailbox, Server, Pager, Interval, PageOnlyOOF, OptionCount };
const std::vector<std::string> kOptions = {
    "display-name", "mailbox", "server", "pager", "interval", "page-only-when-out-of-office"};

bool ParseWholeNumber(const std::string& text, long& value) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    errno = 0;
    value = std::strtol(text.c_str(), nullptr, 10);
    return errno == 0;
}

// Applies the given options to `user` with the rules of the properties dialog; false (and a
// message) when a value is refused. Nothing is changed unless every value is accepted.
bool ApplyOptions(const std::vector<OptionValue>& values, UserlistStru& user, std::ostream& err) {
    UserlistStru edited;
    CopyUserConfiguration(edited, user);

    const struct {
        Option option;
        CString* field;
    } strings[] = {{DisplayName, &edited.DisplayName},
                   {Mailbox, &edited.MailboxName},
                   {Server, &edited.Server},
                   {Pager, &edited.PagerName}};
    for (const auto& s : strings) {
        if (!values[s.option].present)
            continue;
        const std::string& text = values[s.option].value;
        if (HasControlCharacter(text)) {
            err << "orvane: --" << kOptions[s.option] << " must not contain control characters\n";
            return false;
        }
        *s.field = text;
    }
    const CString problem = CheckUserStrings(edited);
    if (!problem.empty()) {
        err << "orvane: " << problem << "\n";
        return false;
    }

    if (values[Interval].present) {
        long minutes = 0;
        if (!ParseWholeNumber(values[Interval].value, minutes)) {
            err << "orvane: --interval takes a whole number of minutes, not \""
                << EscapeField(values[Interval].value) << "\"\n";
            return false;
        }
        if (minutes > kMaxScanInterval) {
            err << "orvane: --interval " << values[Interval].value << " is too long; at most "
                << kMaxScanInterval << " minutes can be stored\n";
            return false;
        }
        edited.ScanInterval =
            static_cast<int16_t>(minutes < kMinScanInterval ? kMinScanInterval : minutes);
    }
    if (values[PageOnlyOOF].present) {
        const std::string& v = values[PageOnlyOOF].value;
        if (v != "yes" && v != "no") {
            err << "orvane: --page-only-when-out-of-office takes yes or no\n";
            return false;
        }
        edited.PageOnlyOOF = v == "yes" ? 1 : 0;
    }

    CopyUserConfiguration(user, edited);
    return true;
}

// Loads the working directory's list; false (with the reason on err) unless it was read whole.
bool LoadForCommand(CUserList& list, bool forChange, std::ostream& err) {
    const UserFileLoad load = list.LoadUsers();
    switch (load.status) {
    case UserFileLoad::Loaded:
    case UserFileLoad::Missing:
        return true;
    case UserFileLoad::Damaged:
        err << "orvane: " << load.message << "\n";
        if (forChange)
            err << "orvane: nothing was changed; repair or remove the file first\n";
        return false;
    default:
        err << "orvane: " << load.message << "\n";
        return false;
    }
}

UserlistStru* FindByCode(CUserList& list, const std::string& text, std::ostream& err) {
    long code = 0;
    if (!ParseWholeNumber(text, code) || code < 1 || code > 32767) {
        err << "orvane: \"" << EscapeField(text) << "\" is not a user code\n";
        return nullptr;
    }
    for (auto& user : list.Users()) {
        if (user->Code == code)
            return user.get();
    }
    err << "orvane: there is no user with code " << code << " in "
        << DATFileName(UserFile::kFileName) << "\n";
    return nullptr;
}

int List(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1) {
        err << "orvane: users list takes no arguments\n";
        return 2;
    }
    CUserList list;
    const bool whole = LoadForCommand(list, false, err);
    out << "code\tdisplay name\tmailbox\tserver\tpager name\tinterval\tpage only when out of "
           "office\n";
    for (const auto& u : list.Users()) {
        out << u->Code << '\t' << EscapeField(u->DisplayName) << '\t' << EscapeField(u->MailboxName)
            << '\t' << EscapeField(u->Server) << '\t' << EscapeField(u->PagerName) << '\t'
            << u->ScanInterval << '\t' << (u->PageOnlyOOF ? "yes" : "no") << '\n';
    }
    return whole ? 0 : 1;
}

// The words of a change, checked for usage only: verb, option values, positional words.
struct ChangeWords {
    std::string verb;
    std::vector<OptionValue> values;
    Args positional;
};

int ParseChange(const Args& args, ChangeWords& words, std::ostream& err) {
    words.verb = args.empty() ? std::string() : args[0];
    const std::string& verb = words.verb;
    if (verb != "add" && verb != "set" && verb != "remove") {
        err << "orvane: users needs add, set or remove; see orvane --help\n";
        return 2;
    }
    if (!ParseOptions(args, 1, verb == "remove" ? std::vector<std::string>{} : kOptions,
                      words.values, words.positional, err))
        return 2;
    const size_t wantPositional = verb == "add" ? 0 : 1;
    if (words.positional.size() != wantPositional) {
        err << "orvane: users " << verb
            << (wantPositional ? " takes one user code" : " takes options only")
            << "; see orvane --help\n";
        return 2;
    }
    if (verb == "add") {
        for (Option required : {DisplayName, Mailbox, Server, Pager}) {
            if (!words.values[required].present) {
                err << "orvane: users add needs --" << kOptions[required] << "\n";
                return 2;
            }
        }
    }
    return 0;
}

// Hands the change to the monitor that runs in the directory, as its Users dialog would.
int HandToMonitor(const Args& args, std::ostream& out, std::ostream& err) {
    QJsonArray words;
    for (const std::string& word : args)
        words.append(QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size())));
    const control::AskResult asked =
        control::Ask(WorkingDirectory::Get(), {{"request", "users"}, {"args", words}}, 0, [&err] {
            err << "orvane: waiting for the running monitor to finish its cycle...\n";
            err.flush();
        });
    if (asked.outcome == control::AskResult::Refused) {
        err << "orvane: Orvane is monitoring the users of " << WorkingDirectory::Get()
            << ", but its control socket cannot be used (" << asked.problem
            << "); nothing was changed. Run this command as the user Orvane runs as\n";
        return 1;
    }
    if (asked.outcome != control::AskResult::Answered) {
        err << "orvane: Orvane is monitoring the users of " << WorkingDirectory::Get()
            << " but does not answer (" << asked.problem
            << "); nothing was changed. Try again, or stop it and edit the users then\n";
        return 1;
    }
    const QJsonObject& answer = asked.answer;
    out << answer["out"].toString().toLatin1().toStdString();
    err << answer["err"].toString().toLatin1().toStdString();
    if (!answer.contains("exit")) {
        err << "orvane: the running monitor did not understand the change ("
            << answer["error"].toString().toStdString() << "); nothing was changed\n";
        return 1;
    }
    const int exit = answer["exit"].toInt(1);
    if (exit == 0) {
        err << "orvane: handed to the running monitor"
            << (answer["paused"].toBool()
                    ? ", which is paused: it applies the change and saves Users.dat when "
                      "monitoring resumes\n"
                    : ", which applies the change and saves Users.dat at the start of its next "
                      "cycle\n");
    }
    return exit;
}

int Change(const Args& args, std::ostream& out, std::ostream& err) {
    ChangeWords words;
    if (const int usage = ParseChange(args, words, err))
        return usage;

    // Held for the whole edit: a monitor starting meanwhile waits; one already running gets the
    // change handed over instead, since it would overwrite the file with its next save.
    FileLock monitor;
    if (monitor.TryLock(DATFileName(UserFile::kMonitorLockFileName), FileLock::Exclusive) ==
        FileLock::Busy)
        return HandToMonitor(args, out, err);

    CUserList list;
    if (!LoadForCommand(list, true, err))
        return 1;
    std::ostringstream added; // the new code, printed once the file holds it
    if (const int refused = ChangeUserList(list, args, added, err))
        return refused;
    if (list.SaveUsers() != UserFileSave::Saved) {
        err << "orvane: " << DATFileName(UserFile::kFileName) << " was not changed\n";
        return 1;
    }
    out << added.str();
    return 0;
}

int RunUsers(const Args& args, std::ostream& out, std::ostream& err) {
    if (!WorkingDirectory::Capture()) {
        err << "orvane: the current directory cannot be read\n";
        return 1;
    }
    if (args.empty()) {
        err << "orvane: users needs list, add, set or remove; see orvane users --help\n";
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << "Usage:\n" << kUsersCommand.usage;
        return 0;
    }
    if (args[0] == "list")
        return List(args, out, err);
    if (args[0] == "add" || args[0] == "set" || args[0] == "remove")
        return Change(args, out, err);
    err << "orvane: unknown users command \"" << args[0] << "\"; see orvane users --help\n";
    return 2;
}

} // namespace

int ChangeUserList(CUserList& list, const Args& args, std::ostream& out, std::ostream& err) {
    ChangeWords words;
    if (const int usage = ParseChange(args, words, err))
        return usage;
    // Edited on a copy, so that a refused value leaves the list as it was.
    CUserList edited;
    edited = list;
    UserlistStru* user = nullptr;
    if (words.verb == "add") {
        CString whyNot;
        user = edited.CreateUser(whyNot);
        if (!user) {
            err << "orvane: " << whyNot << "\n";
            return 1;
        }
        if (!ApplyOptions(words.values, *user, err))
            return 1;
    } else {
        user = FindByCode(edited, words.positional[0], err);
        if (!user)
            return 1;
        if (words.verb == "set") {
            if (!ApplyOptions(words.values, *user, err))
                return 1;
        } else {
            edited.DeleteUser(user);
            user = nullptr;
        }
    }
    if (user)
        out << (words.verb == "add" ? std::to_string(user->Code) + "\n" : std::string());
    list = edited;
    return 0;
}

const Command kUsersCommand = {
    "users",
    "  users list\n"
    "      Lists the users of Users.dat in the current directory, one a line, fields\n"
    "      separated by tabs: code, display name, mailbox, server, pager name, interval\n"
    "      and whether to page only when out of office (yes or no).\n"
    "  users add --display-name TEXT --mailbox TEXT --server TEXT --pager TEXT\n"
    "            [--interval MINUTES] [--page-only-when-out-of-office yes|no]\n"
    "      Appends a user with the next free code and prints the code. The interval\n"
    "      defaults to 60 minutes (below 15 counts as 15; at most 32767), paging only\n"
    "      when out of office to yes. Texts hold at most 999 characters.\n"
    "  users set CODE [the options of add]\n"
    "      Changes the given fields of one user.\n"
    "  users remove CODE\n"
    "      Removes one user.\n"
    "      While Orvane monitors the directory, the changing commands hand the change to\n"
    "      it (as its Users dialog would): it applies the change and saves Users.dat at\n"
    "      the start of its next cycle. They refuse when the monitor does not answer.\n"
    "      \"orvane address-list [TEXT]\" shows the exact strings to give: an entry's\n"
    "      address and home store for --mailbox and --server, a pager entry's display\n"
    "      name for --pager.\n",
    RunUsers,
};

} // namespace cli
