// Monitored directories for end-to-end tests.
#include "support/MonitoredSetup.h"

#include "core/Clock.h"
#include "core/Settings.h"
#include "users/UserFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace testing_support {

TickedMonitor::TickedMonitor() {
    m_MonitorLockAttempts = 1;
    SetPasses(&m_passes);
}

bool TickedMonitor::Create() {
    if (!OnCreate())
        return false;
    SetPassListener(this);
    return true;
}

void TickedMonitor::OnScan(const UserlistStru& user) {
    scans.push_back(user.DisplayName);
}

void TickedMonitor::OnPage(const UserlistStru& user, const ReminderStru& reminder, const CTime& now,
                           PageOutcome outcome, const CString& event) {
    pages.push_back({user.DisplayName, reminder.Text, event, outcome, now});
}

std::vector<std::string> TickedMonitor::With(PageOutcome outcome) const {
    std::vector<std::string> out;
    for (const Page& p : pages) {
        if (p.outcome == outcome)
            out.push_back(p.user + ": " + p.text);
    }
    return out;
}

UserlistStru* TickedMonitor::Find(const std::string& displayName) {
    for (auto& user : LiveUsers().Users()) {
        if (user->DisplayName == displayName)
            return user.get();
    }
    return nullptr;
}

MonitoredSetup::MonitoredSetup(CTime start, const std::string& smtpUrl) {
    Clock::Freeze(start);
    std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
    UseSmtp(smtpUrl);
    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Paging");
    m_cwd = std::make_unique<ScopedWorkingDirectory>(m_dir.Path());
}

MonitoredSetup::~MonitoredSetup() = default;

void MonitoredSetup::UseSmtp(const std::string& url) {
    m_mail.UseProfile("Paging", url.empty() ? mail::TransportConfig{} : SmtpTransport(url));
}

std::string MonitoredSetup::MailboxOf(const std::string& name) {
    std::string folder;
    for (char c : name)
        folder += c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folder;
}

void MonitoredSetup::AddUser(const std::string& name, const std::string& pagerAddress,
                             int intervalMinutes, bool pageOnlyWhenOut,
                             const std::string& outOfOffice) {
    const std::string folder = MailboxOf(name);
    const std::string address = "/o=Quorvik/ou=Site/cn=Recipients/cn=" + folder;
    const std::string store = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
    m_mail.Add({name, address, store, folder, ""},
               outOfOffice.empty() ? std::nullopt : std::optional<std::string>(outOfOffice));
    m_mail.Add({PagerOf(name), address + "-pager", "", "", pagerAddress});
    m_users.push_back(name);

    CUserList list;
    list.LoadUsers();
    UserlistStru* user = list.CreateUser();
    ASSERT_TRUE(user);
    user->DisplayName = name;
    user->MailboxName = address;
    user->Server = store;
    user->PagerName = PagerOf(name);
    user->ScanInterval = static_cast<int16_t>(intervalMinutes);
    user->PageOnlyOOF = pageOnlyWhenOut ? 1 : 0;
    ASSERT_EQ(list.SaveUsers(), UserFileSave::Saved);
}

void MonitoredSetup::SetOutOfOffice(const std::string& name, const std::string& state) {
    WriteFile(m_mail.MailboxDirectory(MailboxOf(name)) + "/out-of-office", state + "\n");
}

std::string MonitoredSetup::TextOf(const Item& item) {
    return item.start.Format("%I:%M-") +
           (item.start + CTimeSpan(item.minutes * 60)).Format("%I:%M ") + item.summary;
}

void MonitoredSetup::WriteItems(const std::string& name, const std::vector<Item>& items) {
    const char* local = "%Y%m%dT%H%M%S";
    std::string events, tasks;
    int uid = 0;
    for (const Item& item : items) {
        const std::string id = "UID:item-" + std::to_string(++uid) + "\r\n";
        if (item.start != CTime(0)) {
            events += "BEGIN:VEVENT\r\n" + id + "SUMMARY:" + item.summary +
                      "\r\nDTSTART:" + item.start.Format(local) +
                      "\r\nDTEND:" + (item.start + CTimeSpan(item.minutes * 60)).Format(local) +
                      "\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT" +
                      std::to_string(item.leadMinutes) + "M\r\nEND:VALARM\r\nEND:VEVENT\r\n";
        } else {
            tasks += "BEGIN:VTODO\r\n" + id + "SUMMARY:" + item.summary +
                     "\r\nDUE:" + (item.reminder + timespans::kHour).Format(local) +
                     "\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;VALUE=DATE-TIME:" +
                     item.reminder.FormatGmt("%Y%m%dT%H%M%SZ") + "\r\nEND:VALARM\r\nEND:VTODO\r\n";
        }
    }
    const std::string head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\n";
    const std::string folder = m_mail.MailboxDirectory(MailboxOf(name));
    WriteFile(folder + "/calendar.ics", head + events + "END:VCALENDAR\r\n");
    WriteFile(folder + "/tasks.ics", head + tasks + "END:VCALENDAR\r\n");
}

std::string OrvaneProgram() {
    // Built beside the test programs; ctest names the directory.
    const char* bin = std::getenv("ORVANE_BUILD_BIN");
    if (bin && *bin)
        return std::string(bin) + "/orvane";
    return QCoreApplication::applicationDirPath().toStdString() + "/orvane";
}

ProgramResult RunOrvane(const std::vector<std::string>& args,
                        const std::vector<std::pair<std::string, std::string>>& environment) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : environment)
        env.insert(QString::fromStdString(name), QString::fromStdString(value));
    process.setProcessEnvironment(env);
    QStringList arguments;
    for (const std::string& a : args)
        arguments << QString::fromStdString(a);
    process.start(QString::fromStdString(OrvaneProgram()), arguments);
    ProgramResult result;
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << OrvaneProgram();
        return result;
    }
    QElapsedTimer waited;
    waited.start();
    while (process.state() != QProcess::NotRunning && waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "orvane did not end";
    } else {
        result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

std::vector<Received> Parse(const std::vector<SmtpTestServer::Message>& messages) {
    std::vector<Received> out;
    for (const SmtpTestServer::Message& m : messages) {
        Received r;
        for (const std::string& to : m.recipients)
            r.to += (r.to.empty() ? "" : ",") + to;
        const size_t subject = m.data.find("\r\nSubject:");
        if (subject != std::string::npos)
            r.subjectLine =
                m.data.substr(subject + 2, m.data.find("\r\n", subject + 2) - subject - 2);
        const size_t body = m.data.find("\r\n\r\n");
        if (body != std::string::npos) {
            r.body = m.data.substr(body + 4);
            while (!r.body.empty() && (r.body.back() == '\n' || r.body.back() == '\r'))
                r.body.pop_back();
        }
        out.push_back(r);
    }
    return out;
}

} // namespace testing_support
