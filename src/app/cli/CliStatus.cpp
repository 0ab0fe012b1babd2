// "orvane status": the running monitor's view of its users, or the state it saved last.
#include "app/cli/CliStatus.h"

#include "app/monitor/ControlSocket.h"
#include "app/monitor/MonitorStatus.h"
#include "core/FileSystem.h"
#include "core/WorkingDirectory.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <QJsonDocument>
#include <ostream>

namespace cli {
namespace {

CString S(const QJsonValue& value) {
    return value.toString().toStdString();
}

int RunStatus(const Args& args, std::ostream& out, std::ostream& err) {
    std::vector<OptionValue> values;
    Args positional;
    Args words;
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json")
            json = true;
        else
            words.push_back(a);
    }
    if (!ParseOptions(words, 0, {}, values, positional, err))
        return 2;
    if (!positional.empty()) {
        err << "orvane: status takes no arguments but --json; see orvane --help\n";
        return 2;
    }
    if (!WorkingDirectory::Capture()) {
        err << "orvane: the current directory cannot be read\n";
        return 1;
    }
    const CString directory = WorkingDirectory::Get();

    // A shared hold of the monitor's lock succeeds only when no monitor runs; it is let go at
    // once, so that a monitor starting now is not kept waiting.
    bool monitored = false;
    {
        FileLock probe;
        monitored = probe.TryLock(DATFileName(UserFile::kMonitorLockFileName), FileLock::Shared) ==
                    FileLock::Busy;
    }

    QJsonObject snapshot;
    CString source, notice;
    int exit = 0;
    CString unanswered;
    if (monitored) {
        const control::AskResult asked =
            control::Ask(directory, {{"request", "status"}}, 0, [&err] {
                err << "orvane: waiting for the running monitor to finish its cycle...\n";
                err.flush();
            });
        if (asked.outcome == control::AskResult::Answered && asked.answer["users"].isArray()) {
            snapshot = asked.answer;
            source = "monitor";
            notice = "Orvane is monitoring " + directory + " (" + S(snapshot["state"]) + ") at " +
                     S(snapshot["time"]) +
                     (snapshot["pending_edit"].toBool()
                          ? "; a change of the users waits for its next cycle."
                          : ".");
        } else {
            unanswered = asked.outcome == control::AskResult::Answered
                             ? " but does not answer (its answer could not be read)"
                         : asked.outcome == control::AskResult::Refused
                             ? ", but its control socket cannot be used (" + asked.problem +
                                   "; run this command as the user Orvane runs as)"
                             : " but does not answer (" + asked.problem + ")";
            exit = 1;
        }
    }
    if (source.empty()) {
        CString problem;
        const CString state = monitored ? "Orvane is monitoring " + directory + unanswered
                                        : "Orvane is not monitoring " + directory;
        if (status::Read(DATFileName(status::kFileName), snapshot, problem)) {
            source = "saved";
            notice = state + "; this is the state it saved at " + S(snapshot["saved_at"]) + ".";
        } else {
            if (!problem.empty())
                exit = 1;
            CUserList users;
            const UserFileLoad load = users.LoadUsers();
            if (load.status != UserFileLoad::Loaded && load.status != UserFileLoad::Missing) {
                err << "orvane: " << load.message << "\n";
                exit = 1;
            }
            snapshot = status::ConfigurationOnly(users, directory);
            source = "file";
            notice = state + (problem.empty() ? "; it saved no state here" : "; " + problem) +
                     ". These are the users of " + DATFileName(UserFile::kFileName) +
                     ", not scanned.";
        }
    }

    if (json) {
        snapshot["source"] = QString::fromStdString(source);
        snapshot["notice"] = QString::fromStdString(notice);
        out << QJsonDocument(snapshot).toJson(QJsonDocument::Indented).toStdString();
    } else {
        out << notice << "\n" << status::Format(snapshot);
    }
    return exit;
}

} // namespace

const Command kStatusCommand = {
    "status",
    "  status [--json]\n"
    "      Shows what the monitor of the current directory shows in its window: per user\n"
    "      the display name, pager name, office flag, scan time, reminders and next due\n"
    "      time, with the user's latest page (sent, dropped outside the paging hours, or\n"
    "      failed and why) and the last scan's error. Asks the running monitor; when none\n"
    "      runs, shows the state it saved last, and says so in the first line. --json\n"
    "      prints one JSON object instead (\"source\": monitor, saved or file). Exits 1\n"
    "      when a running monitor does not answer.\n",
    RunStatus,
};

} // namespace cli
