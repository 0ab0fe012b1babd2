// End to end on the offscreen platform: a user added through Configure, Users... while the demo
// is monitored is applied at the next cycle, saved to Users.dat, scanned and paged.
#include "app/cli/Cli.h"
#include "app/gui/PageWindow.h"
#include "app/monitor/UserListPasses.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "paging/ExtendedMapi.h"
#include "support/TestSupport.h"
#include "users/DialogDriver.h"
#include "users/DlgUserList.h"
#include "users/DlgUserProps.h"

#include <QCheckBox>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace testing_support;

namespace {

// The "To:" field and body of every message in an outbox folder.
std::vector<std::pair<std::string, std::string>> Pages(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> pages;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.' || name.size() < 5 || name.compare(name.size() - 4, 4, ".eml") != 0)
            continue;
        const std::string text = ReadFile(entry.path().string());
        const size_t to = text.find("\r\nTo: ");
        const size_t body = text.find("\r\n\r\n");
        if (to == std::string::npos || body == std::string::npos) {
            ADD_FAILURE() << text;
            continue;
        }
        std::string content = text.substr(body + 4);
        if (content.size() >= 2 && content.compare(content.size() - 2, 2, "\r\n") == 0)
            content.resize(content.size() - 2);
        pages.emplace_back(text.substr(to + 6, text.find("\r\n", to + 2) - to - 6), content);
    }
    return pages;
}

const UserlistStru* Find(const CUserList& list, const std::string& displayName) {
    for (const auto& u : list.Users()) {
        if (u->DisplayName == displayName)
            return u.get();
    }
    return nullptr;
}

} // namespace

TEST(UserDialogEndToEnd, AUserAddedWhileMonitoringIsSavedScannedAndPagedFromTheNextCycle) {
    ScopedTimeZone zone("Europe/Berlin");
    TempDir dir;
    std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quorvik");
    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Demo");
    // The demo's third user, Chen Wei, has a budget review whose page falls due at 09:03.
    const CTime created(2026, 6, 3, 9, 0, 30);
    Clock::Freeze(created);
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"demo", "init", dir.Path()}, out, err), 0) << err.str();
    ScopedWorkingDirectory cwd(dir.Path());
    {
        CUserList users;
        users.LoadUsers();
        users.DeleteUser(const_cast<UserlistStru*>(Find(users, "Chen Wei")));
        ASSERT_EQ(users.SaveUsers(), UserFileSave::Saved);
    }
    QueuedMessageBoxes boxes; // none is expected

    CUserListPasses passes;
    CPageWindow window;
    ASSERT_TRUE(window.Create());
    window.SetPasses(&passes);
    window.OnTimer();
    ASSERT_EQ(window.LiveUsers().GetCount(), 11);
    Clock::Advance(10);

    WhenShown<DlgUserList> driver([&](DlgUserList* d) {
        // Monitoring goes on while the dialog is open, on the live list only.
        window.OnTimer();
        EXPECT_EQ(window.LiveUsers().GetCount(), 11);
        WhenShown<DlgUserProps> add([](DlgUserProps* p) {
            Type(Child<QComboBox>(p, "mailboxCombo"), "Chen Wei");
            Choose(Child<QComboBox>(p, "pagerCombo"), "Chen Wei (Pager)");
            Child<QCheckBox>(p, "pageOnlyOOFCheck")->setChecked(false);
            Click(p, "okButton");
        });
        Click(d, "newButton");
        EXPECT_TRUE(add.Fired());
        EXPECT_EQ(Child<QListWidget>(d, "userList")->count(), 12);
        Click(d, "okButton");
    });
    window.OnConfigureUsers();
    EXPECT_TRUE(driver.Fired());
    ASSERT_TRUE(window.HasPendingList());
    EXPECT_EQ(Find(window.LiveUsers(), "Chen Wei"), nullptr) << "not before the next cycle";

    // The next cycle applies the list, saves it and scans the new user.
    window.OnTimer();
    EXPECT_FALSE(window.HasPendingList());
    const UserlistStru* chen = Find(window.LiveUsers(), "Chen Wei");
    ASSERT_NE(chen, nullptr);
    EXPECT_EQ(chen->ScanStatus, 1);
    EXPECT_GT(chen->Reminders.GetCount(), 0);
    {
        CUserList saved;
        ASSERT_EQ(saved.LoadUsers().status, UserFileLoad::Loaded);
        EXPECT_EQ(saved.GetCount(), 12);
        const UserlistStru* stored = Find(saved, "Chen Wei");
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->MailboxName, "/o=Quorvik/ou=Demo/cn=Recipients/cn=cwei");
        EXPECT_EQ(
            stored->Server,
            "/o=Quorvik/ou=Demo/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB");
        EXPECT_EQ(stored->PagerName, "Chen Wei (Pager)");
        EXPECT_EQ(stored->PageOnlyOOF, 0);
        EXPECT_EQ(stored->ScanInterval, 60);
    }

    // Ticks ten seconds apart up to 09:03:30: his page leaves then.
    while (Clock::Now() < CTime(2026, 6, 3, 9, 3, 30)) {
        Clock::Advance(10);
        window.OnTimer();
    }
    const CTime start(2026, 6, 3, 9, 9, 0);
    const std::string budget = start.Format("%I:%M-") +
                               (start + CTimeSpan(30 * 60)).Format("%I:%M ") +
                               "Budget review (Room 2.14)";
    int toChen = 0;
    for (const auto& [to, body] : Pages(dir.File("mail/outbox"))) {
        if (to == "\"Chen Wei (Pager)\" <5550103@pager.demo.orvane.example>") {
            ++toChen;
            EXPECT_EQ(body, budget);
        }
    }
    EXPECT_EQ(toChen, 1);
    window.close();
    EXPECT_EQ(boxes.Boxes().size(), 0u);
}
