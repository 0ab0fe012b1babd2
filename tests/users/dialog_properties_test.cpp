// The user properties dialog on the offscreen platform: what OK may change, intervals and limits,
// a missing address list, the keyboard, and whole captions.
#include "UserDialogsFixture.h"

using namespace user_dialogs_testing;

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
