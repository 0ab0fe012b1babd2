// The fixture of the user dialog tests: a mail system with an address list made by the test, and
// the help topics the dialogs asked for.
#pragma once

#include "core/Help.h"
#include "paging/ExtendedMapi.h"
#include "support/MailFixture.h"
#include "users/DialogDriver.h"
#include "users/DialogRules.h"
#include "users/DlgUserList.h"
#include "users/DlgUserProps.h"
#include "users/GlobalAddressList.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace testing_support;

namespace user_dialogs_testing {

const char* const kStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
const char* const kOtherStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB";
const char* const kJosePager = "Jos\xe9 (Pager)"; // in the 8-bit code page, not UTF-8

inline std::string Dn(const std::string& user) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + user;
}

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The configuration of a user, for comparing lists.
struct Config {
    int code;
    std::string display, mailbox, server, pager;
    int interval, pageOnlyOOF;
    bool operator==(const Config&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Config& c) {
    return out << c.code << " " << c.display << " | " << c.mailbox << " | " << c.server << " | "
               << c.pager << " | " << c.interval << " | " << c.pageOnlyOOF;
}

inline Config ConfigOf(const UserlistStru& u) {
    return {u.Code,      u.DisplayName,  u.MailboxName, u.Server,
            u.PagerName, u.ScanInterval, u.PageOnlyOOF};
}

inline std::vector<Config> Configs(const CUserList& list) {
    std::vector<Config> configs;
    for (const auto& u : list.Users())
        configs.push_back(ConfigOf(*u));
    return configs;
}

inline UserlistStru* AddUser(CUserList& list, int code, const std::string& display,
                             const std::string& mailbox, const std::string& server,
                             const std::string& pager, int interval = 60, int pageOnlyOOF = 1) {
    UserlistStru* u = list.CreateNoCodeUser();
    u->Code = static_cast<int16_t>(code);
    u->DisplayName = display;
    u->MailboxName = mailbox;
    u->Server = server;
    u->PagerName = pager;
    u->ScanInterval = static_cast<int16_t>(interval);
    u->PageOnlyOOF = pageOnlyOOF;
    return u;
}

class RecordedHelp : public IHelp {
public:
    RecordedHelp() : m_previous(SetHelp(this)) {}
    ~RecordedHelp() override { SetHelp(m_previous); }
    void ShowContents() override { topics.push_back(-1); }
    void ShowSearch() override { topics.push_back(-2); }
    void ShowHowToUseHelp() override { topics.push_back(-3); }
    void ShowTopic(int id) override { topics.push_back(id); }
    std::vector<int> topics;

private:
    IHelp* m_previous;
};

class UserDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        mail.Add({"Ann Archer", Dn("aarcher"), kStore, "aarcher", ""});
        mail.Add({"Ann Archer (Pager)", Dn("aarcher-pager"), "", "", "5550101@pager.example.org"});
        mail.Add({"Bobby Smith", Dn("bsmith"), kStore, "bsmith", ""});
        mail.Add({"Bobby Smith (Pager)", Dn("bsmith-pager"), "", "", "5550102@pager.example.org"});
        mail.Add({"Chris Lee", Dn("clee1"), kStore, "clee1", ""});
        mail.Add({"Chris Lee", Dn("clee2"), kOtherStore, "clee2", ""});
        mail.Add({"bea brown", Dn("bbrown"), kOtherStore, "bbrown", ""});
        mail.Add({kJosePager, Dn("jose-pager"), "", "", "5550103@pager.example.org"});
        // The same mailbox address once more, on another store.
        mail.Add({"Ann Archer", Dn("aarcher"), kOtherStore, "aarcher2", ""});
        mail.UseProfile("Office");
        ASSERT_TRUE(GetGALContents(names, entries).Complete());
    }
    void TearDown() override { mapi_testing::ClearFailures(); }

    // Runs the properties dialog on `user` with the test's address list.
    int Properties(UserlistStru& user, std::function<void(DlgUserProps*)> act) {
        WhenShown<DlgUserProps> driver(std::move(act));
        DlgUserProps dialog(&user, names, entries);
        const int result = dialog.DoModal();
        EXPECT_TRUE(driver.Fired());
        return result;
    }

    MailFixture mail;
    GALNameList names;
    GALEntryList entries;
    QueuedMessageBoxes boxes; // any box that a test does not expect fails it
};

inline QComboBox* Mailbox(QWidget* d) {
    return Child<QComboBox>(d, "mailboxCombo");
}
inline QComboBox* Pager(QWidget* d) {
    return Child<QComboBox>(d, "pagerCombo");
}
inline QListWidget* UserBox(QWidget* d) {
    return Child<QListWidget>(d, "userList");
}
inline QLineEdit* Interval(QWidget* d) {
    return Child<QLineEdit>(d, "intervalEdit");
}

// The address-list entry of the mailbox combo box's selection, or null.
inline const GALEntryStru* MailboxEntry(QWidget* d) {
    QComboBox* combo = Mailbox(d);
    if (combo->currentIndex() < 0)
        return nullptr;
    return reinterpret_cast<const GALEntryStru*>(
        combo->itemData(combo->currentIndex(), Qt::UserRole + 1).value<quintptr>());
}

} // namespace user_dialogs_testing
