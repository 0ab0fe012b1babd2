// The user list and user properties dialogs on the offscreen platform, over a mail system with
// an address list made by the test, driven with the mouse and keyboard.
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

namespace {

const char* const kStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
const char* const kOtherStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB";
const char* const kJosePager = "Jos\xe9 (Pager)"; // in the 8-bit code page, not UTF-8

std::string Dn(const std::string& user) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + user;
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The configuration of a user, for comparing lists.
struct Config {
    int code;
    std::string display, mailbox, server, pager;
    int interval, pageOnlyOOF;
    bool operator==(const Config&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Config& c) {
    return out << c.code << " " << c.display << " | " << c.mailbox << " | " << c.server << " | "
               << c.pager << " | " << c.interval << " | " << c.pageOnlyOOF;
}

Config ConfigOf(const UserlistStru& u) {
    return {u.Code,      u.DisplayName,  u.MailboxName, u.Server,
            u.PagerName, u.ScanInterval, u.PageOnlyOOF};
}

std::vector<Config> Configs(const CUserList& list) {
    std::vector<Config> configs;
    for (const auto& u : list.Users())
        configs.push_back(ConfigOf(*u));
    return configs;
}

UserlistStru* AddUser(CUserList& list, int code, const std::string& display,
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

QComboBox* Mailbox(QWidget* d) {
    return Child<QComboBox>(d, "mailboxCombo");
}
QComboBox* Pager(QWidget* d) {
    return Child<QComboBox>(d, "pagerCombo");
}
QListWidget* UserBox(QWidget* d) {
    return Child<QListWidget>(d, "userList");
}
QLineEdit* Interval(QWidget* d) {
    return Child<QLineEdit>(d, "intervalEdit");
}

// The address-list entry of the mailbox combo box's selection, or null.
const GALEntryStru* MailboxEntry(QWidget* d) {
    QComboBox* combo = Mailbox(d);
    if (combo->currentIndex() < 0)
        return nullptr;
    return reinterpret_cast<const GALEntryStru*>(
        combo->itemData(combo->currentIndex(), Qt::UserRole + 1).value<quintptr>());
}

} // namespace

TEST_F(UserDialogs, TheListShowsDisplayNamesSortedWithoutRegardToCaseAndEscapeCancels) {
    CUserList list;
    AddUser(list, 1, "Chris Lee", Dn("clee2"), kOtherStore, "Chris Lee (Pager)");
    AddUser(list, 2, "bea brown", Dn("bbrown"), kOtherStore, "x");
    AddUser(list, 3, "Zed", "/o=Gone/cn=zed", kStore, "y"); // no longer in the address list
    AddUser(list, 4, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)");
    const auto before = Configs(list);

    WhenShown<DlgUserList> driver([&](DlgUserList* d) {
        EXPECT_EQ(d->windowTitle(), "User List");
        EXPECT_EQ(d->Entries().size(), 9u);
        EXPECT_EQ(d->Names().size(), 9u);
        EXPECT_EQ(Items(UserBox(d)),
                  QStringList({"/o=Gone/cn=zed", "Ann Archer", "bea brown", "Chris Lee"}));
        EXPECT_FALSE(Enabled(d, "editButton"));
        EXPECT_FALSE(Enabled(d, "removeButton"));
        const struct {
            const char* name;
            const char* text;
        } buttons[] = {{"okButton", "&OK"},         {"cancelButton", "&Cancel"},
                       {"newButton", "&New..."},    {"editButton", "&Edit..."},
                       {"removeButton", "&Remove"}, {"helpButton", "&Help"}};
        for (const auto& b : buttons)
            EXPECT_EQ(Child<QPushButton>(d, b.name)->text(), b.text);
        EXPECT_EQ(Child<QGroupBox>(d, "configuredUsersGroup")->title(), "Configured Users");
        EXPECT_TRUE(Child<QPushButton>(d, "okButton")->isDefault());
        QTest::keyClick(d, Qt::Key_Escape);
    });
    DlgUserList dialog(&list);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(driver.Fired());
    EXPECT_EQ(Configs(list), before);
}

TEST_F(UserDialogs, NewEditAndRemoveThenOKHandTheEditedCopyBack) {
    CUserList list;
    AddUser(list, 1, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)");
    AddUser(list, 2, "Chris Lee", Dn("clee1"), kStore, "Chris Lee (Pager)");
    AddUser(list, 3, "Bobby Smith", Dn("bsmith"), kStore, "Bobby Smith (Pager)", 45, 0);
    boxes.Answer(IDYES);

    WhenShown<DlgUserList> driver([&](DlgUserList* d) {
        {
            WhenShown<DlgUserProps> add([](DlgUserProps* p) {
                Type(Mailbox(p), "bea");
                Choose(Pager(p), "Bobby Smith (Pager)");
                Click(p, "pageOnlyOOFCheck");
                Interval(p)->selectAll();
                QTest::keyClicks(Interval(p), "30");
                Click(p, "okButton");
            });
            Click(d, "newButton");
        }
        EXPECT_EQ(Items(UserBox(d)),
                  QStringList({"Ann Archer", "bea brown", "Bobby Smith", "Chris Lee"}));
        {
            Select(UserBox(d), {"Ann Archer"});
            WhenShown<DlgUserProps> edit([](DlgUserProps* p) {
                Interval(p)->selectAll();
                QTest::keyClicks(Interval(p), "14");
                Click(p, "okButton");
            });
            Click(d, "editButton");
        }
        Select(UserBox(d), {"Chris Lee"});
        Click(d, "removeButton");
        EXPECT_EQ(Items(UserBox(d)), QStringList({"Ann Archer", "bea brown", "Bobby Smith"}));
        EXPECT_FALSE(Enabled(d, "removeButton")) << "the refilled list has no selection";
        Click(d, "okButton");
    });
    DlgUserList dialog(&list);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(driver.Fired());

    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Are you sure you want to delete \"" + Dn("clee1") + "\" from the list?");
    EXPECT_EQ(boxes.Boxes()[0].caption, "Remove User");
    EXPECT_EQ(boxes.Boxes()[0].type, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(Configs(list),
              (std::vector<Config>{
                  {1, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)", 15, 1},
                  {3, "Bobby Smith", Dn("bsmith"), kStore, "Bobby Smith (Pager)", 45, 0},
                  {4, "bea brown", Dn("bbrown"), kOtherStore, "Bobby Smith (Pager)", 30, 0},
              }));
}

TEST_F(UserDialogs, CancelDropsEveryChangeAndACancelledNewFreesItsCode) {
    CUserList list;
    AddUser(list, 1, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)");
    AddUser(list, 2, "Chris Lee", Dn("clee1"), kStore, "Chris Lee (Pager)");
    list.NextCode = 3;
    const auto before = Configs(list);
    boxes.Answer(IDYES);

    WhenShown<DlgUserList> driver([&](DlgUserList* d) {
        {
            WhenShown<DlgUserProps> cancelled([](DlgUserProps* p) {
                Type(Mailbox(p), "bobby");
                Type(Pager(p), "x");
                Click(p, "cancelButton");
            });
            Click(d, "newButton");
        }
        EXPECT_EQ(UserBox(d)->count(), 2) << "a cancelled New adds nobody";
        {
            WhenShown<DlgUserProps> added([](DlgUserProps* p) {
                Type(Mailbox(p), "bobby");
                Type(Pager(p), "x");
                Click(p, "okButton");
            });
            Click(d, "newButton");
        }
        std::vector<int> codes;
        for (const auto& u : d->Working().Users())
            codes.push_back(u->Code);
        EXPECT_EQ(codes, (std::vector<int>{1, 2, 3})) << "the cancelled user's code is reused";

        Select(UserBox(d), {"Ann Archer", "Chris Lee"});
        Click(d, "removeButton");
        EXPECT_EQ(Items(UserBox(d)), QStringList({"Bobby Smith"}));
        Click(d, "cancelButton");
    });
    DlgUserList dialog(&list);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(driver.Fired());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Are you sure you want to remove the selected users from the list?");
    EXPECT_EQ(Configs(list), before);
    EXPECT_EQ(list.NextCode, 3);
}

TEST_F(UserDialogs, SelectionEnablesEditAndRemoveAndNoChangesNothing) {
    CUserList list;
    AddUser(list, 1, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)");
    AddUser(list, 2, "Chris Lee", Dn("clee1"), kStore, "Chris Lee (Pager)");
    AddUser(list, 3, "Bobby Smith", Dn("bsmith"), kStore, "Bobby Smith (Pager)");
    boxes.Answer(IDNO);
    boxes.Answer(IDNO);

    WhenShown<DlgUserList> driver([&](DlgUserList* d) {
        QListWidget* box = UserBox(d);
        const auto at = [box](int row) { return box->visualItemRect(box->item(row)).center(); };
        QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, at(0));
        EXPECT_TRUE(Enabled(d, "editButton"));
        EXPECT_TRUE(Enabled(d, "removeButton"));
        QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::ControlModifier, at(2));
        EXPECT_FALSE(Enabled(d, "editButton"));
        EXPECT_TRUE(Enabled(d, "removeButton"));

        // No to either question changes nothing, the selection included.
        Click(d, "removeButton");
        EXPECT_EQ(box->selectedItems().size(), 2);
        Select(box, {"Bobby Smith"});
        Click(d, "removeButton");
        EXPECT_EQ(box->count(), 3);
        EXPECT_EQ(box->selectedItems().size(), 1);

        // A double-click edits only while exactly one user is selected.
        Select(box, {"Ann Archer", "Chris Lee"});
        {
            WhenShown<DlgUserProps> never([](DlgUserProps* p) { p->reject(); });
            QTest::mouseDClick(box->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(2));
            EXPECT_FALSE(never.Fired());
        }
        {
            WhenShown<DlgUserProps> edit([](DlgUserProps* p) {
                EXPECT_EQ(Mailbox(p)->currentText(), "Bobby Smith");
                Click(p, "cancelButton");
            });
            QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, at(1));
            QTest::mouseDClick(box->viewport(), Qt::LeftButton, {}, at(1));
            EXPECT_TRUE(edit.Fired());
        }
        Click(d, "cancelButton");
    });
    DlgUserList dialog(&list);
    dialog.DoModal();
    EXPECT_TRUE(driver.Fired());
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Are you sure you want to remove the selected users from the list?");
    EXPECT_EQ(boxes.Boxes()[1].text,
              "Are you sure you want to delete \"" + Dn("bsmith") + "\" from the list?");
}

TEST_F(UserDialogs, OKIsEnabledOnlyWithAMailboxAndATypedOrChosenPager) {
    UserlistStru user; // a new user
    const int result = Properties(user, [](DlgUserProps* p) {
        EXPECT_EQ(p->windowTitle(), "User Properties");
        EXPECT_EQ(Mailbox(p)->currentIndex(), -1);
        EXPECT_EQ(Pager(p)->currentIndex(), -1) << "an empty pager name selects nothing";
        EXPECT_EQ(Pager(p)->currentText(), "");
        EXPECT_FALSE(Enabled(p, "okButton"));
        Choose(Mailbox(p), "bea brown");
        EXPECT_FALSE(Enabled(p, "okButton")) << "no pager yet";
        Type(Pager(p), "z");
        EXPECT_TRUE(Enabled(p, "okButton"));
        QTest::keyClick(Pager(p)->lineEdit(), Qt::Key_Backspace);
        EXPECT_EQ(Pager(p)->currentText(), "");
        EXPECT_FALSE(Enabled(p, "okButton")) << "cleared, and no pager item selected";
        Choose(Pager(p), "Ann Archer (Pager)");
        EXPECT_TRUE(Enabled(p, "okButton"));
        Mailbox(p)->lineEdit()->selectAll();
        QTest::keyClick(Mailbox(p)->lineEdit(), Qt::Key_Delete);
        EXPECT_EQ(Mailbox(p)->currentIndex(), -1);
        EXPECT_FALSE(Enabled(p, "okButton")) << "no mailbox selected";
        QTest::keyClick(p, Qt::Key_Return);
        EXPECT_TRUE(p->isVisible()) << "Return does nothing while OK is disabled";
        Type(Mailbox(p), "a");
        EXPECT_EQ(Mailbox(p)->currentText(), "Ann Archer");
        const int items = Mailbox(p)->count();
        QTest::keyClick(Mailbox(p)->lineEdit(), Qt::Key_Return); // Return in a box is OK too
        EXPECT_EQ(Mailbox(p)->count(), items) << "Return adds no item";
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(ConfigOf(user),
              (Config{0, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)", 60, 1}));
}

TEST_F(UserDialogs, TypingSelectsByThePrefixRuleAndCompletesWithTheItemsOwnName) {
    UserlistStru user;
    Properties(user, [](DlgUserProps* p) {
        QComboBox* pager = Pager(p);
        Type(pager, "bo");
        EXPECT_EQ(pager->currentText(), "Bobby Smith");
        EXPECT_EQ(pager->currentIndex(), pager->findText("Bobby Smith"));
        EXPECT_EQ(pager->lineEdit()->selectedText(), "bby Smith");
        Type(pager, "BBY SMITH (");
        EXPECT_EQ(pager->currentText(), "Bobby Smith (Pager)") << "the item's own case";
        // Deleting the completion leaves what was typed, and brings nothing back.
        QTest::keyClick(pager->lineEdit(), Qt::Key_Delete);
        EXPECT_EQ(pager->currentText(), "Bobby Smith (");
        EXPECT_EQ(pager->currentIndex(), -1);
        QTest::keyClick(pager->lineEdit(), Qt::Key_Backspace);
        EXPECT_EQ(pager->currentText(), "Bobby Smith ");
        Type(pager, "q");
        EXPECT_EQ(pager->currentText(), "Bobby Smith q");
        EXPECT_EQ(pager->currentIndex(), -1);

        // Duplicate names: the first in the address list's order.
        Type(Mailbox(p), "chris");
        ASSERT_NE(MailboxEntry(p), nullptr);
        EXPECT_EQ(MailboxEntry(p)->Address, Dn("clee1"));
        Click(p, "okButton");
    });
    EXPECT_EQ(user.PagerName, "Bobby Smith q");
    EXPECT_EQ(user.MailboxName, Dn("clee1"));

    Properties(user, [](DlgUserProps* p) {
        QComboBox* pager = Pager(p);
        pager->lineEdit()->selectAll();
        Type(pager, "Bob");
        QTest::keyClick(pager->lineEdit(), Qt::Key_Delete);
        Click(p, "okButton");
    });
    EXPECT_EQ(user.PagerName, "Bob") << "a typed name that begins a listed one stays as typed";

    Properties(user, [](DlgUserProps* p) {
        Pager(p)->lineEdit()->selectAll();
        Type(Pager(p), "jos");
        EXPECT_EQ(Pager(p)->currentText(), QString::fromUtf8("Jos\xc3\xa9 (Pager)"));
        Click(p, "okButton");
    });
    EXPECT_EQ(user.PagerName, kJosePager) << "the entry's own bytes, not their display";
}

TEST_F(UserDialogs, OpeningAndOKNeverChangesWhomAUserIsPagedAtOrItsMailbox) {
    const struct {
        const char* what;
        std::string mailbox, server, pager;
        bool pagerListed; // the pager name is an item of the address list as it is
        std::string shownMailbox;
    } cases[] = {
        {"a listed pager", Dn("aarcher"), kStore, "Ann Archer (Pager)", true, "Ann Archer"},
        {"a name that only begins a listed one", Dn("bsmith"), kStore, "Bob", false, "Bobby Smith"},
        {"a listed name but for case", Dn("bsmith"), kStore, "bobby smith (pager)", false,
         "Bobby Smith"},
        {"an unlisted name", Dn("bbrown"), kOtherStore, "Nobody Known", false, "bea brown"},
        {"a name in the code page", Dn("bbrown"), kOtherStore, kJosePager, true, "bea brown"},
        // Two entries named Chris Lee, and two of the same address on two stores: the user's
        // own entry is preselected, not the first of its name.
        {"the second of two display names", Dn("clee2"), kOtherStore, "x", false, "Chris Lee"},
        {"the first of two display names", Dn("clee1"), kStore, "x", false, "Chris Lee"},
        {"an address on its second store", Dn("aarcher"), kOtherStore, "x", false, "Ann Archer"},
        {"an address on its first store", Dn("aarcher"), kStore, "x", false, "Ann Archer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UserlistStru user;
        user.Code = 7;
        user.DisplayName = c.shownMailbox;
        user.MailboxName = c.mailbox;
        user.Server = c.server;
        user.PagerName = c.pager;
        user.ScanInterval = 90;
        user.PageOnlyOOF = 0;
        const Config before = ConfigOf(user);
        EXPECT_EQ(Properties(user,
                             [&](DlgUserProps* p) {
                                 EXPECT_EQ(Pager(p)->count(), static_cast<int>(names.size()) +
                                                                  (c.pagerListed ? 0 : 1));
                                 EXPECT_EQ(Pager(p)->currentText(), ToDisplayText(c.pager));
                                 EXPECT_GE(Pager(p)->currentIndex(), 0);
                                 EXPECT_EQ(Mailbox(p)->currentText(), Q(c.shownMailbox));
                                 ASSERT_NE(MailboxEntry(p), nullptr);
                                 EXPECT_EQ(MailboxEntry(p)->Server, c.server);
                                 EXPECT_EQ(Interval(p)->text(), "90");
                                 EXPECT_FALSE(Child<QCheckBox>(p, "pageOnlyOOFCheck")->isChecked());
                                 EXPECT_TRUE(Enabled(p, "okButton"));
                                 Click(p, "okButton");
                             }),
                  IDOK);
        EXPECT_EQ(ConfigOf(user), before);
    }
}

TEST_F(UserDialogs, IntervalsAreRaisedToFifteenAndWhatTheFileCannotHoldIsRefused) {
    const struct {
        const char* typed;
        int stored; // 0: refused with a message
    } intervals[] = {{"14", 15},       {"15", 15},   {"60", 60},   {"", 15},           {"0", 15},
                     {"32767", 32767}, {"32768", 0}, {"99999", 0}, {"12a34567", 12345}};
    for (const auto& i : intervals) {
        SCOPED_TRACE(i.typed);
        UserlistStru user;
        user.MailboxName = Dn("aarcher");
        user.Server = kStore;
        user.PagerName = "Ann Archer (Pager)";
        const Config before = ConfigOf(user);
        if (!i.stored)
            boxes.Answer(IDOK);
        Properties(user, [&](DlgUserProps* p) {
            Interval(p)->selectAll();
            QTest::keyClick(Interval(p), Qt::Key_Delete);
            QTest::keyClicks(Interval(p), i.typed);
            Click(p, "okButton");
            if (!i.stored) {
                EXPECT_TRUE(p->isVisible()) << "the dialog stays for a correction";
                EXPECT_EQ(p->focusWidget(), Interval(p));
                Click(p, "cancelButton");
            }
        });
        if (i.stored) {
            EXPECT_EQ(user.ScanInterval, i.stored);
        } else {
            EXPECT_EQ(ConfigOf(user), before);
            ASSERT_FALSE(boxes.Boxes().empty());
            EXPECT_EQ(boxes.Boxes().back().caption, "User Properties");
            EXPECT_EQ(boxes.Boxes().back().text,
                      "The scan interval can be at most 32767 minutes (about 22 days); " +
                          std::string(i.typed) + " minutes cannot be stored.");
        }
    }

    for (size_t length : {999u, 1000u}) {
        SCOPED_TRACE(length);
        UserlistStru user;
        user.MailboxName = Dn("aarcher");
        if (length > 999)
            boxes.Answer(IDOK);
        Properties(user, [&](DlgUserProps* p) {
            QTest::keyClicks(Pager(p)->lineEdit(), QString(static_cast<qsizetype>(length), 'p'));
            Click(p, "okButton");
            if (p->isVisible())
                Click(p, "cancelButton");
        });
        EXPECT_EQ(user.PagerName.size(), length > 999 ? 0u : length);
    }
    EXPECT_EQ(boxes.Boxes().back().text,
              "The pager name is 1000 characters long; at most 999 characters can be stored.");
}

TEST_F(UserDialogs, WithoutAReadableAddressListTheDialogsStillWork) {
    CUserList list;
    AddUser(list, 1, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)", 60, 1);
    AddUser(list, 2, "Chris Lee", Dn("clee1"), kStore, "Chris Lee (Pager)");
    const struct {
        const char* operation;
        int skip;
        bool listed; // the address list was read all the same
    } failures[] = {
        {"MAPIInitialize", 0, false},        {"MAPILogonEx", 0, false},
        {"IAddrBook::OpenEntry", 0, false},  {"IMAPITable::Restrict", 0, false},
        {"IAddrBook::OpenEntry", 1, false},  {"IABContainer::GetContentsTable", 0, false},
        {"IMAPITable::QueryRows", 1, false}, {"IMAPITable::QueryRows", 2, true},
        {"IMAPISession::Logoff", 0, true},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(std::string(f.operation) + " after " + std::to_string(f.skip));
        mapi_testing::FailCall(f.operation, MAPI_E_CALL_FAILED, f.skip);
        WhenShown<DlgUserList> driver([&](DlgUserList* d) {
            EXPECT_EQ(d->Entries().size(), f.listed ? 9u : 0u);
            EXPECT_EQ(Items(UserBox(d)), f.listed
                                             ? QStringList({"Ann Archer", "Chris Lee"})
                                             : QStringList({Q(Dn("aarcher")), Q(Dn("clee1"))}));
            Click(d, "cancelButton");
        });
        DlgUserList dialog(&list);
        dialog.DoModal();
        mapi_testing::ClearFailures();
        EXPECT_EQ(mapi_testing::LiveObjects(), 0u);
        EXPECT_EQ(mapi_testing::LiveBuffers(), 0u);
    }

    // Editing then: one empty choice of mailbox, and the stored pager name beside an empty one.
    MailFixture::RemoveProfiles();
    WhenShown<DlgUserList> driver([&](DlgUserList* d) {
        Select(UserBox(d), {Q(Dn("aarcher"))});
        WhenShown<DlgUserProps> edit([](DlgUserProps* p) {
            EXPECT_EQ(Items(Mailbox(p)), QStringList({""}));
            EXPECT_EQ(Mailbox(p)->currentIndex(), -1);
            EXPECT_EQ(Items(Pager(p)), QStringList({"", "Ann Archer (Pager)"}));
            EXPECT_EQ(Pager(p)->currentIndex(), 1);
            EXPECT_FALSE(Enabled(p, "okButton"));
            Mailbox(p)->setCurrentIndex(0); // the empty choice
            EXPECT_TRUE(Enabled(p, "okButton"));
            Click(p, "pageOnlyOOFCheck");
            Interval(p)->selectAll();
            QTest::keyClicks(Interval(p), "20");
            Click(p, "okButton");
        });
        Click(d, "editButton");
        Click(d, "okButton");
    });
    DlgUserList dialog(&list);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(ConfigOf(*list.Users().front()),
              (Config{1, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)", 20, 0}));
    EXPECT_TRUE(boxes.Boxes().empty()) << "an unreadable address list is never reported";
}

TEST_F(UserDialogs, KeyboardAcceleratorsTabOrderAndHelp) {
    CUserList list;
    AddUser(list, 1, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer (Pager)");
    RecordedHelp help;
    WhenShown<DlgUserList> driver([&](DlgUserList* d) {
        // The template's tab order; Edit and Remove are skipped while disabled.
        EXPECT_EQ(TabOrder(d, Child<QPushButton>(d, "okButton"), 5),
                  QStringList({"cancelButton", "userList", "newButton", "helpButton", "okButton"}));
        Click(d, "helpButton");
        ASSERT_TRUE(Activate(d));
        QTest::keyClick(d, Qt::Key_F1);
        {
            WhenShown<DlgUserProps> add([&](DlgUserProps* p) {
                EXPECT_EQ(p->focusWidget(), Mailbox(p)) << "the mailbox has the focus";
                EXPECT_EQ(TabOrder(p, Mailbox(p), 5),
                          QStringList({"pagerCombo", "pageOnlyOOFCheck", "intervalEdit",
                                       "cancelButton", "helpButton"}))
                    << "OK is skipped while disabled";
                Click(p, "helpButton");
                ASSERT_TRUE(Activate(p));
                QTest::keyClick(p, Qt::Key_F1);
                QTest::keyClick(p, Qt::Key_Escape);
            });
            // A button's accelerator clicks it after showing it pressed for a moment.
            ASSERT_TRUE(Activate(d));
            QTest::keyClick(d, Qt::Key_N, Qt::AltModifier);
            EXPECT_TRUE(QTest::qWaitFor([&] { return add.Fired(); })) << "Alt+N is New...";
        }
        EXPECT_EQ(UserBox(d)->count(), 1);
        ASSERT_TRUE(Activate(d));
        QTest::keyClick(d, Qt::Key_O, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !d->isVisible(); })) << "Alt+O is OK";
    });
    DlgUserList dialog(&list);
    EXPECT_EQ(dialog.DoModal(), IDOK) << "Alt+O is OK";
    EXPECT_EQ(help.topics, (std::vector<int>{kHelpContextUserList, kHelpContextUserList,
                                             kHelpContextUserProps, kHelpContextUserProps}));
}

TEST_F(UserDialogs, EveryCaptionIsWholeAndNoControlsOverlap) {
    CUserList list;
    UserlistStru* user = AddUser(list, 1, "Ann Archer", Dn("aarcher"), kStore, "Ann Archer");
    const auto check = [](QWidget* dialog, const QStringList& texts) {
        QStringList seen;
        const QList<QWidget*> controls = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* w : controls) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(w))
                text = label->text();
            else if (auto* button = qobject_cast<QAbstractButton*>(w))
                text = button->text();
            else if (auto* group = qobject_cast<QGroupBox*>(w))
                text = group->title();
            if (!text.isEmpty()) {
                seen.append(text);
                EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(QString(text).remove('&')))
                    << text.toStdString() << " is cut off";
            }
            EXPECT_TRUE(dialog->rect().contains(w->geometry())) << text.toStdString();
            for (QWidget* other : controls) {
                if (other != w && !qobject_cast<QGroupBox*>(w) &&
                    !qobject_cast<QGroupBox*>(other)) {
                    EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                        << w->objectName().toStdString() << text.toStdString() << " overlaps "
                        << other->objectName().toStdString();
                }
            }
        }
        seen.sort();
        QStringList expected = texts;
        expected.sort();
        EXPECT_EQ(seen, expected);
    };
    DlgUserList userList(&list);
    userList.show();
    check(&userList,
          {"Configured Users", "&OK", "&Cancel", "&New...", "&Edit...", "&Remove", "&Help"});
    DlgUserProps properties(user, names, entries, &userList);
    properties.show();
    check(&properties,
          {"Mailbox Name", "Pager Name", "Page only when out of office", "Scan schedule file every",
           "minutes for new reminders.", "&OK", "&Cancel", "&Help"});
    properties.reject();
    userList.reject();
}
