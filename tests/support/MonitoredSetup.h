// A monitored directory for end-to-end tests: a mail system with users and pagers, calendars
// written as iCalendar files, Users.dat, a mail profile, and a monitor whose ticks the test
// drives on the test clock.
#pragma once

#include "app/monitor/MonitorCycle.h"
#include "app/monitor/UserListPasses.h"
#include "support/MailFixture.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"
#include "users/PassListener.h"

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// The window-system hooks of a monitor without a window; it records every scan and page.
class TickedMonitor : public CMonitorCycle, public IPassListener {
public:
    struct Page {
        std::string user, text, event;
        PageOutcome outcome;
        CTime when;
    };
    std::vector<Page> pages;
    std::vector<std::string> scans; // display names, in order
    int viewRefreshes = 0;

    TickedMonitor();
    // OnCreate, and this monitor listens to its live list.
    bool Create();
    void OnScan(const UserlistStru& user) override;
    void OnPage(const UserlistStru& user, const ReminderStru& reminder, const CTime& now,
                PageOutcome outcome, const CString& event) override;
    // The pages with this outcome, as "user: text".
    std::vector<std::string> With(PageOutcome outcome) const;
    UserlistStru* Find(const std::string& displayName);
    void SetStatusSavePeriod(std::chrono::seconds period) { m_StatusSavePeriod = period; }
    void SetStateSavePeriodMs(int64_t periodMs) { m_StateKeeper.SetPeriodMs(periodMs); }

protected:
    unsigned StartTimer(unsigned, unsigned) override { return 1; }
    void StopTimer(unsigned) override {}
    void RefreshView() override { ++viewRefreshes; }
    void SetModeText(const CString&) override {}
    void PostCloseRequest() override {}
    bool RunUserListDialog(CUserList&) override { return false; }

private:
    CUserListPasses m_passes;
};

// One appointment or task of a calendar file; times are local.
struct Item {
    std::string summary;
    CTime start;         // appointment start; 0 for a task
    int minutes = 30;    // appointment length
    int leadMinutes = 5; // appointment alarm before its start
    CTime reminder;      // task: the alarm's absolute time
};

class MonitoredSetup {
public:
    // Sets a frozen clock at `start` (the caller sets the zone first), an empty mail system with
    // the profile "Paging" (outbox transport unless `smtpUrl` is given) chosen by the "ProfileName"
    // setting, and a working directory of its own that the process moves into.
    explicit MonitoredSetup(CTime start, const std::string& smtpUrl = "");
    ~MonitoredSetup();

    // Adds a mailbox user (address list entry, folder, pager entry "NAME (Pager)" delivered to
    // `pagerAddress`) and appends it to Users.dat. `outOfOffice` writes the mailbox's flag.
    void AddUser(const std::string& name, const std::string& pagerAddress, int intervalMinutes = 15,
                 bool pageOnlyWhenOut = false, const std::string& outOfOffice = "");
    // Writes the user's calendar.ics (appointments) and tasks.ics (tasks) anew.
    void WriteItems(const std::string& name, const std::vector<Item>& items);
    void SetOutOfOffice(const std::string& name, const std::string& state);
    void UseSmtp(const std::string& url);

    static std::string MailboxOf(const std::string& name);
    static std::string PagerOf(const std::string& name) { return name + " (Pager)"; }
    // The page text of an appointment, as the reminder list builds it.
    static std::string TextOf(const Item& item);

    const std::string& Directory() const { return m_dir.Path(); }
    std::string File(const std::string& name) const { return m_dir.File(name); }
    MailFixture& Mail() { return m_mail; }

private:
    TempDir m_dir;
    MailFixture m_mail;
    std::unique_ptr<ScopedWorkingDirectory> m_cwd;
    std::vector<std::string> m_users;
};

// What the `orvane` program printed and how it ended.
struct ProgramResult {
    int code = -1; // the exit status; -1 when it did not end within the time allowed
    std::string out, err;
};
// Runs the built `orvane` with `args` in the current directory, with `environment` added to
// this process's, while this thread's event loop keeps running (so that a monitor of this
// process can answer it).
ProgramResult RunOrvane(const std::vector<std::string>& args,
                        const std::vector<std::pair<std::string, std::string>>& environment = {});
// The path of the built `orvane` program.
std::string OrvaneProgram();

// A page as a loopback SMTP server accepted it: the envelope recipients (joined with ","), the
// whole "Subject:" line and the body without its final line end.
struct Received {
    std::string to, subjectLine, body;
};
std::vector<Received> Parse(const std::vector<SmtpTestServer::Message>& messages);

} // namespace testing_support
