// "orvane users": the user list of the working directory, for administrators without a display.
#include "app/cli/CliUsers.h"

#include "app/monitor/ControlSocket.h"
#include "core/FileSystem.h"
#include "core/Text.h"
#include "core/WorkingDirectory.h"
#include "users/CUserList.h"
#include "users/UserFile.h"
#include "users/UserListEdit.h"

#include <QJsonArray>
#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <sstream>

namespace cli {
namespace {

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
    if (const int usage = CheckUserListChange(args, err))
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
