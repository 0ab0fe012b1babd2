// The status snapshot and its terminal text.
#include "app/monitor/MonitorStatus.h"

#include "app/monitor/MonitorCycle.h"
#include "core/Text.h"
#include "users/CUserList.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <map>
#include <vector>

namespace status {
namespace {

constexpr const char* kDueFormat = "%m/%d/%y %H:%M";
constexpr const char* kTimeFormat = "%Y-%m-%d %H:%M:%S";

QString Q(const CString& text) {
    return QString::fromStdString(text);
}

CString S(const QJsonValue& value) {
    return value.toString().toStdString();
}

// Case-blind order of display names, as the list view sorts its rows; codes break ties.
std::vector<const UserlistStru*> InViewOrder(const CUserList& users) {
    std::vector<std::pair<QString, const UserlistStru*>> keyed; // each name converted once
    keyed.reserve(users.Users().size());
    for (const auto& user : users.Users())
        keyed.emplace_back(Q(user->DisplayName), user.get());
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        const int c = QString::compare(a.first, b.first, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.second->Code < b.second->Code;
    });
    std::vector<const UserlistStru*> order;
    order.reserve(keyed.size());
    for (const auto& k : keyed)
        order.push_back(k.second);
    return order;
}

QJsonObject Configuration(const UserlistStru& user, const Row& row) {
    return {{"code", user.Code},
            {"display_name", Q(row.displayName)},
            {"mailbox", Q(user.MailboxName)},
            {"pager_name", Q(row.pagerName)},
            {"office_flag", Q(row.officeFlag)},
            {"scan_time", user.ScanInterval},
            {"reminders", Q(row.reminders)},
            {"next_due", Q(row.nextDue)}};
}

// Characters as a terminal counts them: UTF-8 continuation bytes take no column.
size_t Columns(const CString& text) {
    size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

CString LastPageText(const QJsonValue& value) {
    if (!value.isObject())
        return CString();
    const QJsonObject page = value.toObject();
    CString text = S(page["time"]) + " " + S(page["outcome"]) + ": " + S(page["text"]);
    if (!S(page["event"]).empty())
        text += " (" + S(page["event"]) + ")";
    return text;
}

} // namespace

Row RowOf(const UserlistStru& user) {
    Row row;
    row.displayName = user.DisplayName;
    row.pagerName = user.PagerName;
    row.officeFlag = user.PageOnlyOOF == 0 ? "N/A" : user.OOFFlag != 0 ? "Out" : "In";
    row.scanTime = std::to_string(user.ScanInterval);
    if (user.ScanStatus == 1)
        row.reminders = std::to_string(user.Reminders.GetCount());
    else if (user.ScanStatus == 0)
        row.reminders = "ERROR";
    if (const ReminderStru* first = user.Reminders.GetHead())
        row.nextDue = (first->PageTime + timespans::kMinute).Format(kDueFormat);
    return row;
}

QJsonObject Snapshot(const CUserList& users, const CString& directory, CTime now, bool paused,
                     bool pendingEdit) {
    QJsonArray rows;
    for (const UserlistStru* user : InViewOrder(users)) {
        QJsonObject entry = Configuration(*user, RowOf(*user));
        entry["reminder_count"] = user->Reminders.GetCount();
        entry["scan_status"] = static_cast<int>(user->ScanStatus);
        if (user->LastPage.Present) {
            entry["last_page"] = QJsonObject{{"time", Q(user->LastPage.Time.Format(kTimeFormat))},
                                             {"text", Q(user->LastPage.Text)},
                                             {"outcome", PageOutcomeName(user->LastPage.Outcome)},
                                             {"event", Q(user->LastPage.Event)}};
        } else {
            entry["last_page"] = QJsonValue::Null;
        }
        entry["last_scan_error"] = Q(user->LastScanError);
        rows.append(entry);
    }
    return {{"directory", Q(directory)},
            {"time", Q(now.Format(kTimeFormat))},
            {"state", paused ? CMonitorCycle::kPausedText : CMonitorCycle::kMonitoringText},
            {"pending_edit", pendingEdit},
            {"users", rows}};
}

QJsonObject ConfigurationOnly(const CUserList& users, const CString& directory) {
    QJsonArray rows;
    for (const UserlistStru* user : InViewOrder(users)) {
        QJsonObject entry = Configuration(*user, RowOf(*user));
        entry["last_page"] = QJsonValue::Null;
        entry["last_scan_error"] = "";
        rows.append(entry);
    }
    return {{"directory", Q(directory)}, {"users", rows}};
}

bool Read(const CString& path, QJsonObject& snapshot, CString& problem) {
    problem.clear();
    QFile file(Q(path));
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = path + " cannot be read (" + file.errorString().toStdString() + ")";
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject() || !document.object()["users"].isArray()) {
        problem = path + " is damaged (" + error.errorString().toStdString() + ")";
        return false;
    }
    snapshot = document.object();
    return true;
}

void RestoreLastPages(CUserList& users, const QJsonObject& snapshot) {
    std::map<std::pair<int, CString>, LastPageStru> pages;
    for (const QJsonValue& value : snapshot["users"].toArray()) {
        const QJsonObject user = value.toObject();
        const QJsonObject page = user["last_page"].toObject();
        CTime time;
        if (page.isEmpty() || !ParseLocalTime(S(page["time"]), time))
            continue;
        LastPageStru last{true, time, S(page["text"]), PageOutcome::Sent, S(page["event"])};
        bool known = false;
        for (PageOutcome outcome :
             {PageOutcome::Sent, PageOutcome::Dropped, PageOutcome::Failed, PageOutcome::Expired}) {
            if (S(page["outcome"]) == PageOutcomeName(outcome)) {
                last.Outcome = outcome;
                known = true;
            }
        }
        if (known)
            pages[{user["code"].toInt(), S(user["mailbox"])}] = last;
    }
    if (pages.empty())
        return;
    for (auto& user : users.Users()) {
        const auto it = pages.find({user->Code, user->MailboxName});
        if (it != pages.end() && !user->LastPage.Present)
            user->LastPage = it->second;
    }
}

CString Format(const QJsonObject& snapshot) {
    std::vector<std::vector<CString>> lines = {{"Display Name", "Pager Name", "Office Flag",
                                                "Scan Time", "Reminders", "Next Due", "Last Page",
                                                "Last Scan Error"}};
    for (const QJsonValue& value : snapshot["users"].toArray()) {
        const QJsonObject user = value.toObject();
        lines.push_back({S(user["display_name"]), S(user["pager_name"]), S(user["office_flag"]),
                         std::to_string(user["scan_time"].toInt()), S(user["reminders"]),
                         S(user["next_due"]), LastPageText(user["last_page"]),
                         S(user["last_scan_error"])});
    }
    std::vector<size_t> widths(lines.front().size(), 0);
    for (auto& line : lines) {
        for (size_t i = 0; i < line.size(); ++i) {
            line[i] = EscapeField(line[i]);
            widths[i] = std::max(widths[i], Columns(line[i]));
        }
    }
    CString text;
    if (snapshot.contains("cluster")) {
        // "Cluster: STANDBY (this instance host/12; the leader host2/40)"
        text = "Cluster: " + S(snapshot["cluster"]) + " (this instance " +
               EscapeField(S(snapshot["cluster_instance"]));
        const CString leader = S(snapshot["cluster_leader"]);
        text += (leader.empty() ? CString("; no leader known")
                                : "; the leader " + EscapeField(leader)) +
                ")\n";
    }
    for (const auto& line : lines) {
        CString out;
        for (size_t i = 0; i < line.size(); ++i) {
            out += line[i];
            if (i + 1 < line.size())
                out += CString(widths[i] - Columns(line[i]) + 2, ' ');
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        text += out + "\n";
    }
    return text;
}

} // namespace status
