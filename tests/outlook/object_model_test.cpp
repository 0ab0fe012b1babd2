// The served object model through the typed wrappers, over an in-memory store: every member,
// both identifier sets, logon, name resolution, and the fault seam (folders and Find:
// object_model_find_test.cpp).
#include "ObjectModelFixture.h"

using namespace object_model_testing;

TEST_F(ObjectModel, EveryMemberOfTheTableThroughTheWrappers) {
    CallRecorder calls;
    Session s;
    _NameSpace again(s.app.GetNamespace("mapi"));
    EXPECT_EQ(again.m_lpDispatch, s.ns.m_lpDispatch); // one session per application

    _Items calendar = s.Items("EX:alice", olFolderCalendar);
    EXPECT_TRUE(calendar.GetIncludeRecurrences());
    _AppointmentItem first(calendar.Find(kWeek));
    ASSERT_NE(first.m_lpDispatch, nullptr);
    EXPECT_TRUE(first.GetReminderSet());
    EXPECT_EQ(first.GetSubject(), "Standup");
    EXPECT_EQ(first.GetLocation(), "");
    EXPECT_DOUBLE_EQ(first.GetStart(), DateOf(Local(2026, 3, 14, 9, 5)));
    EXPECT_DOUBLE_EQ(first.GetEnd(), DateOf(Local(2026, 3, 14, 9, 20)));
    EXPECT_EQ(first.GetReminderMinutesBeforeStart(), 10);
    EXPECT_FALSE(first.GetIsRecurring());

    _AppointmentItem second(calendar.FindNext());
    EXPECT_EQ(second.GetSubject(), "Budget review");
    EXPECT_EQ(second.GetLocation(), "Room 4");
    _AppointmentItem weekly(calendar.FindNext());
    EXPECT_TRUE(weekly.GetIsRecurring());
    RecurrencePattern pattern(weekly.GetRecurrencePattern());
    EXPECT_EQ(pattern.GetRecurrenceType(), olRecursWeekly);
    EXPECT_EQ(pattern.GetInterval(), 2);
    EXPECT_EQ(pattern.GetInstance(), 0);
    EXPECT_EQ(pattern.GetDayOfWeekMask(), 2 | 16);
    EXPECT_EQ(pattern.GetDayOfMonth(), 0);
    EXPECT_EQ(pattern.GetMonthOfYear(), 0);
    EXPECT_EQ(calendar.FindNext(), nullptr); // "Late" starts a minute after the week
    EXPECT_EQ(calendar.FindNext(), nullptr);

    _Items tasks = s.Items("EX:alice", olFolderTasks);
    _TaskItem report(tasks.Find(kTasksFilter));
    EXPECT_TRUE(report.GetReminderSet());
    EXPECT_EQ(report.GetSubject(), "Report");
    EXPECT_DOUBLE_EQ(report.GetReminderTime(), DateOf(Local(2026, 3, 14, 9, 5)));
    _TaskItem someday(tasks.FindNext());
    EXPECT_FALSE(someday.GetReminderSet());
    EXPECT_DOUBLE_EQ(someday.GetReminderTime(), kOleDateNone);
    EXPECT_EQ(tasks.FindNext(), nullptr);

    // Every call went out under the table's identifier, as a method or a property get.
    const std::vector<DISPID> expectItems = {
        kSortAlternate,     kIncludeRecurrences, kIncludeRecurrences, kFindAlternate,
        kFindNextAlternate, kFindNextAlternate,  kFindNextAlternate,  kFindNextAlternate,
        kSortAlternate,     kIncludeRecurrences, kFindAlternate,      kFindNextAlternate,
        kFindNextAlternate};
    EXPECT_EQ(calls.Members(ObjectKind::Items), expectItems);
    EXPECT_EQ(calls.Members(ObjectKind::NameSpace),
              (std::vector<DISPID>{kLogon, kCreateRecipient, kGetSharedDefaultFolder,
                                   kCreateRecipient, kGetSharedDefaultFolder}));
    EXPECT_EQ(calls.Members(ObjectKind::RecurrencePattern),
              (std::vector<DISPID>{kRecurrenceType, kInterval, kInstance, kDayOfWeekMask,
                                   kDayOfMonth, kMonthOfYear}));
    EXPECT_EQ(calls.Count(ObjectKind::Recipient, kResolve), 2);
    EXPECT_EQ(calls.Count(ObjectKind::Folder, kItems), 2);
    EXPECT_EQ(calls.Members(ObjectKind::Application),
              (std::vector<DISPID>{kGetNamespace, kGetNamespace}));
    for (const auto& call : calls.Calls()) {
        EXPECT_EQ(call.result, S_OK);
        if (call.kind == ObjectKind::TaskItem || call.kind == ObjectKind::RecurrencePattern ||
            call.member == kItems) {
            EXPECT_EQ(call.flags, DISPATCH_PROPERTYGET);
        }
    }
}

TEST_F(ObjectModel, BothIdentifierSetsAnswerAlike) {
    Session s;
    const Names week = {"Standup", "Budget review", "Weekly"};
    struct Row {
        DISPID sort, find, next;
    };
    for (const Row& row : {Row{kSortAlternate, kFindAlternate, kFindNextAlternate},
                           Row{kSortStandard, kFindStandard, kFindNextStandard},
                           Row{kSortStandard, kFindAlternate, kFindNextStandard}}) {
        _Items items(s.Folder("EX:alice", olFolderCalendar).GetItems());
        items.SetIncludeRecurrences(true);
        items.Sort("[Start]", COleVariant(false), row.sort);
        EXPECT_EQ(Subjects(items, kWeek, row.find, row.next), week) << std::hex << row.find;
        items.Sort("[Start]", COleVariant(true), row.sort);
        EXPECT_EQ(Subjects(items, kWeek, row.find, row.next),
                  (Names{"Weekly", "Budget review", "Standup"}));
    }
}

TEST_F(ObjectModel, TheStandardIdentifierIsTriedAfterEitherKindOfFailure) {
    Session s;
    _Items items = s.Items("EX:alice", olFolderCalendar);
    {
        FaultScope faults;
        auto& find = faults.On(ObjectKind::Items, kFindAlternate)
                         .InFolder(olFolderCalendar)
                         .WithDispatchError("x");
        auto& next =
            faults.On(ObjectKind::Items, kFindNextAlternate).WithCallError(RPC_E_CALL_REJECTED);
        auto& sort = faults.On(ObjectKind::Items, kSortAlternate).WithDispatchError("");
        CallRecorder calls;
        items.Sort("[Start]", COleVariant(false));
        std::vector<std::string> found;
        for (LPDISPATCH item = items.Find(kWeek); item; item = items.FindNext())
            found.push_back(_AppointmentItem(item).GetSubject());
        EXPECT_EQ(found, (Names{"Standup", "Budget review", "Weekly"}));
        EXPECT_EQ(calls.Members(ObjectKind::Items),
                  (std::vector<DISPID>{kSortAlternate, kSortStandard, kFindAlternate, kFindStandard,
                                       kFindNextAlternate, kFindNextStandard, kFindNextAlternate,
                                       kFindNextStandard, kFindNextAlternate, kFindNextStandard}));
        EXPECT_EQ(find.Failed(), 1);
        EXPECT_EQ(next.Failed(), 3);
        EXPECT_EQ(sort.Failed(), 1);
        // The Tasks folder's Find is not selected by a Calendar fault.
        _Items tasks = s.Items("EX:alice", olFolderTasks);
        EXPECT_EQ(Subjects(tasks, kTasksFilter, kFindAlternate, kFindNextStandard, true),
                  (Names{"Report", "Someday"}));
        EXPECT_EQ(find.Failed(), 1);
    }
    // When both fail, the standard identifier's failure is the one that reaches the caller.
    {
        FaultScope faults;
        faults.On(ObjectKind::Items, kFindAlternate).WithDispatchError("alternate");
        faults.On(ObjectKind::Items, kFindStandard).WithCallError(E_FAIL);
        try {
            items.Find(kWeek);
            ADD_FAILURE() << "no exception";
        } catch (const COleException& e) {
            EXPECT_EQ(e.m_sc, E_FAIL);
        }
    }
    {
        FaultScope faults;
        faults.On(ObjectKind::Items, kSortAlternate).WithCallError(E_FAIL);
        faults.On(ObjectKind::Items, kSortStandard).WithDispatchError("standard");
        try {
            items.Sort("[Start]", COleVariant(false));
            ADD_FAILURE() << "no exception";
        } catch (const COleDispatchException& e) {
            EXPECT_EQ(e.m_strDescription, "standard");
        }
    }
    // With the scopes gone nothing fails.
    EXPECT_EQ(Subjects(items, kWeek).size(), 3u);
}

TEST_F(ObjectModel, LogonSelectsTheProfileAndNamespaceCallsNeedIt) {
    {
        Session s("Nope", false);
        try {
            s.ns.Logon(COleVariant("Nope"), COleVariant(""), COleVariant(true), COleVariant(true));
            ADD_FAILURE() << "no exception";
        } catch (const COleDispatchException& e) {
            EXPECT_EQ(e.m_strDescription, "The mail profile \"Nope\" does not exist.");
        }
        // Without a session the namespace refuses as Outlook does, with a dispatch error.
        try {
            s.ns.CreateRecipient("EX:alice");
            ADD_FAILURE() << "no exception";
        } catch (const COleDispatchException& e) {
            EXPECT_EQ(e.m_strDescription, automation::kNotLoggedOn);
        }
        s.ns.Logoff(); // harmless without a logon
        s.ns.Logon(COleVariant(), COleVariant(), COleVariant(),
                   COleVariant()); // the default profile
        Recipient alice(s.ns.CreateRecipient("EX:alice"));
        EXPECT_TRUE(alice.Resolve());
        s.ns.Logoff();
        try {
            s.ns.GetSharedDefaultFolder(alice.m_lpDispatch, olFolderCalendar);
            ADD_FAILURE() << "no exception";
        } catch (const COleDispatchException& e) {
            EXPECT_EQ(e.m_strDescription, automation::kNotLoggedOn);
        }
    }
    Session empty(""); // an empty profile name is the default profile
    EXPECT_NO_THROW(Recipient(empty.ns.CreateRecipient("EX:bob")).Resolve());
}

TEST_F(ObjectModel, NamesResolveByAddressOrDisplayName) {
    std::vector<mail::AddressEntry> list = {
        {"Alice Smith", "alice", "", "alice", ""},   {"Bob Jones", "bjones", "", "bjones", ""},
        {"Bob Jones", "bjones2", "", "bjones2", ""}, {"Carol", "carol", "", "carol", ""},
        {"carol", "carol2", "", "carol2", ""},       {"Dan", "dan", "", "dan", ""},
        {"Dan's pager", "dan", "", "", "dan@pager"},
    };
    struct Row {
        const char* name;
        automation::Resolution result;
        const char* address;
    };
    using R = automation::Resolution;
    const Row rows[] = {
        {"EX:alice", R::Found, "alice"},
        {"ex:alice", R::Found, "alice"},
        {"EX:Alice", R::NotFound, ""},
        {"EX:", R::NotFound, ""},
        {"EX:Alice Smith", R::NotFound, ""},
        {"Alice Smith", R::Found, "alice"},
        {"alice", R::Found, "alice"},
        {"Bob Jones", R::Ambiguous, ""},
        {"EX:bjones", R::Found, "bjones"},
        {"Carol", R::Found, "carol"},
        {"carol", R::Found, "carol2"},
        {"EX:dan", R::Ambiguous, ""},
        {"Dan", R::Found, "dan"},
        {"Zed", R::NotFound, ""},
    };
    outlook_test::FakeMailSystem book;
    book.addressList = list;
    for (const Row& row : rows) {
        mail::AddressEntry entry;
        std::string error;
        EXPECT_EQ(automation::ResolveName(book, row.name, entry, error), row.result) << row.name;
        if (row.result == R::Found) {
            EXPECT_EQ(entry.address, row.address) << row.name;
        }
    }

    store->AddUser("Bob Jones", "bob2");
    Session s;
    EXPECT_TRUE(Recipient(s.ns.CreateRecipient("EX:bob")).Resolve());
    EXPECT_FALSE(Recipient(s.ns.CreateRecipient("Bob Jones")).Resolve()); // ambiguous
    EXPECT_FALSE(Recipient(s.ns.CreateRecipient("EX:nobody")).Resolve());
    Recipient alice(s.ns.CreateRecipient("EX:alice"));
    store->addressListError = "The address list cannot be read: line 3 has 2 fields.";
    try {
        alice.Resolve();
        ADD_FAILURE() << "no exception";
    } catch (const COleDispatchException& e) {
        EXPECT_EQ(e.m_strDescription, store->addressListError);
    }
}

TEST_F(ObjectModel, TheFaultSeamSelectsCallsAndCountsThem) {
    {
        FaultScope faults;
        faults.OnCreate("Outlook.Application").WithCallError(REGDB_E_CLASSNOTREG).Times(1);
        _Application app;
        COleException error(S_OK);
        EXPECT_EQ(app.CreateDispatch("Outlook.Application", &error), 0);
        EXPECT_EQ(error.m_sc, REGDB_E_CLASSNOTREG);
        EXPECT_EQ(app.CreateDispatch("Outlook.Application", &error), 1); // only once
    }
    Session s;
    {
        FaultScope faults;
        auto& resolve =
            faults.On(ObjectKind::Recipient, kResolve).WithCallError(E_FAIL).ForMailbox("bob");
        EXPECT_TRUE(Recipient(s.ns.CreateRecipient("EX:alice")).Resolve());
        try {
            Recipient(s.ns.CreateRecipient("EX:bob")).Resolve();
            ADD_FAILURE() << "no exception";
        } catch (const COleException& e) {
            EXPECT_EQ(e.m_sc, E_FAIL);
            CString text;
            EXPECT_TRUE(e.GetSystemText(text));
            EXPECT_EQ(text, "Unspecified error");
        }
        EXPECT_EQ(resolve.Seen(), 1);
        EXPECT_EQ(resolve.Failed(), 1);
    }
    EXPECT_TRUE(Recipient(s.ns.CreateRecipient("EX:bob")).Resolve());
    {
        // Let two items through, fail the third's subject once, and any pattern member always.
        FaultScope faults;
        auto& subject = faults.On(ObjectKind::AppointmentItem, kSubject)
                            .InFolder(olFolderCalendar)
                            .WithDispatchError("no subject")
                            .After(2)
                            .Times(1);
        faults.On(ObjectKind::RecurrencePattern, automation::kAnyMember)
            .WithCallError(RPC_E_DISCONNECTED);
        _Items items = s.Items("EX:alice", olFolderCalendar);
        Names names;
        int failures = 0;
        for (LPDISPATCH p = items.Find(kWeek); p; p = items.FindNext()) {
            _AppointmentItem item(p);
            try {
                names.push_back(item.GetSubject());
            } catch (const COleDispatchException& e) {
                EXPECT_EQ(e.m_strDescription, "no subject");
                ++failures;
            }
            if (item.GetIsRecurring()) {
                RecurrencePattern pattern(item.GetRecurrencePattern());
                EXPECT_THROW(pattern.GetDayOfWeekMask(), COleException);
            }
        }
        EXPECT_EQ(names, (Names{"Standup", "Budget review"}));
        EXPECT_EQ(failures, 1);
        EXPECT_EQ(subject.Seen(), 3);
    }
    {
        // Nested scopes: the outer rule, added first, answers first; once spent, the inner one.
        FaultScope outer;
        outer.On(ObjectKind::AppointmentItem, kLocation).WithDispatchError("outer").Times(1);
        _Items items = s.Items("EX:alice", olFolderCalendar);
        _AppointmentItem item(items.Find(kWeek));
        {
            FaultScope inner;
            inner.On(ObjectKind::AppointmentItem, kLocation).WithCallError(E_ACCESSDENIED);
            EXPECT_THROW(item.GetLocation(), COleDispatchException);
            EXPECT_THROW(item.GetLocation(), COleException);
        }
        EXPECT_EQ(item.GetLocation(), "");
    }
    _Items items = s.Items("EX:alice", olFolderCalendar);
    EXPECT_EQ(Subjects(items, kWeek).size(), 3u);
}
