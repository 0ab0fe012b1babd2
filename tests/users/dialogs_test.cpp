// The user list and user properties dialogs on the offscreen platform, over a mail system with
// an address list made by the test, driven with the mouse and keyboard.
#include "UserDialogsFixture.h"

using namespace user_dialogs_testing;

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
