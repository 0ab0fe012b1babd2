// The served object model's items over an in-memory store: folders, Find and FindNext with their
// filters, occurrences, arguments and members, and each item's own object.
#include "ObjectModelFixture.h"

using namespace object_model_testing;

TEST_F(ObjectModel, SharedFoldersAndHowOpeningThemFails) {
    Session s;
    auto expectDispatchError = [&](const char* name, int32_t type, const std::string& description) {
        Recipient recipient(s.ns.CreateRecipient(name));
        try {
            MAPIFolder(s.ns.GetSharedDefaultFolder(recipient.m_lpDispatch, type));
            ADD_FAILURE() << name << " opened";
        } catch (const COleDispatchException& e) {
            EXPECT_EQ(e.m_strDescription, description) << name;
        }
    };
    // An address-list entry without a mailbox, as a server answers for it.
    expectDispatchError("Alice's pager", olFolderCalendar, automation::kObjectNotFound);
    expectDispatchError(
        "EX:nobody", olFolderTasks,
        "The operation failed because the name \"EX:nobody\" could not be resolved.");
    expectDispatchError("EX:alice", 6,
                        "Only the Calendar and Tasks folders of another user can be opened.");
    // A recipient that was never resolved explicitly is resolved on the way.
    Recipient bob(s.ns.CreateRecipient("EX:bob"));
    MAPIFolder calendar(s.ns.GetSharedDefaultFolder(bob.m_lpDispatch, olFolderCalendar));
    _Items items(calendar.GetItems());
    EXPECT_EQ(Subjects(items, kWeek), (Names{"Bob's"}));
    // Anything but a recipient is the wrong type.
    try {
        s.ns.GetSharedDefaultFolder(calendar.m_lpDispatch, olFolderCalendar);
        ADD_FAILURE() << "no exception";
    } catch (const COleException& e) {
        EXPECT_EQ(e.m_sc, DISP_E_TYPEMISMATCH);
    }
}

TEST_F(ObjectModel, ADamagedCalendarFailsFindForThatMailboxOnly) {
    store->mailboxes["bob"].calendarError = "bob/calendar.ics: line 12: END:VEVENT without BEGIN.";
    store->mailboxes["bob"].tasksError = "bob/tasks.ics cannot be read: Permission denied";
    Session s;
    _Items bobCalendar = s.Items("EX:bob", olFolderCalendar);
    _Items bobTasks = s.Items("EX:bob", olFolderTasks);
    for (DISPID id : {kFindAlternate, kFindStandard}) {
        try {
            bobCalendar.Find(kWeek, id);
            ADD_FAILURE() << "no exception";
        } catch (const COleDispatchException& e) {
            EXPECT_EQ(e.m_strDescription, "bob/calendar.ics: line 12: END:VEVENT without BEGIN.");
        }
    }
    EXPECT_THROW(bobTasks.Find(kTasksFilter), COleDispatchException);
    EXPECT_EQ(bobCalendar.FindNext(), nullptr);
    _Items alice = s.Items("EX:alice", olFolderCalendar);
    EXPECT_EQ(Subjects(alice, kWeek).size(), 3u);
}

TEST_F(ObjectModel, MalformedFiltersAreDispatchErrors) {
    Session s;
    _Items items = s.Items("EX:alice", olFolderCalendar);
    try {
        items.Find("[Start] >= '03/14/26 09:05AM' OR [End] < '03/15/26'");
        ADD_FAILURE() << "no exception";
    } catch (const COleDispatchException& e) {
        EXPECT_EQ(e.m_strDescription,
                  "Cannot parse condition. Error at \"OR [End] < '03/15/26'\".");
    }
    EXPECT_TRUE(store->requested.empty()); // the store was not asked
    _Items tasks = s.Items("EX:alice", olFolderTasks);
    EXPECT_THROW(tasks.Find("[End] >= '03/14/26'"), COleDispatchException);
    EXPECT_THROW(items.Sort("[Bogus]", COleVariant(false)), COleDispatchException);
}

TEST_F(ObjectModel, FindAsksTheStoreForTheFiltersStartsAndHonoursTheItemsSettings) {
    Session s;
    _Items items(s.Folder("EX:alice", olFolderCalendar).GetItems());
    // IncludeRecurrences starts false: no master items are served, so a series shows nothing.
    EXPECT_FALSE(items.GetIncludeRecurrences());
    EXPECT_EQ(Subjects(items, kWeek), (Names{"Standup", "Budget review"}));
    ASSERT_EQ(store->requested.size(), 1u);
    EXPECT_EQ(store->requested[0].from, Local(2026, 3, 14, 9, 5));
    EXPECT_EQ(store->requested[0].to, Local(2026, 3, 21, 9, 5, 59));

    items.SetIncludeRecurrences(true);
    // Without [Start] bounds the store is asked from now on: the item at 09:05:00 is not seen.
    EXPECT_EQ(Subjects(items, "[Subject] <> 'x'"), (Names{"Budget review", "Weekly", "Late"}));
    EXPECT_EQ(store->requested[1].from, now);
    EXPECT_EQ(store->requested[1].to, now + automation::kMaxFindSpan);

    items.Sort("[Subject]", COleVariant(false));
    EXPECT_EQ(Subjects(items, kWeek), (Names{"Budget review", "Standup", "Weekly"}));
    items.Sort("[End]", COleVariant(true));
    EXPECT_EQ(Subjects(items, kWeek), (Names{"Weekly", "Budget review", "Standup"}));
    // Sorting starts the search over: FindNext has nothing until the next Find.
    LPDISPATCH found = items.Find(kWeek);
    ASSERT_NE(found, nullptr);
    automation::Release(found);
    items.Sort("[Start]", COleVariant(false));
    EXPECT_EQ(items.FindNext(), nullptr);
    // Contradictory bounds find nothing without asking the store.
    const std::size_t asked = store->requested.size();
    EXPECT_EQ(items.Find("[Start] > '03/20/26' AND [Start] < '03/15/26'"), nullptr);
    EXPECT_EQ(store->requested.size(), asked);
}

TEST_F(ObjectModel, OccurrencesAcrossDaylightSavingReadAsTheirLocalTimes) {
    // A daily 09:00 series in New York over the change of 8 March 2026.
    auto& carol = store->AddUser("Carol", "carol");
    for (int day = 6; day <= 10; ++day) {
        mail::Appointment a = Appointment("Daily", Local(2026, 3, day, 9, 0), 30, 15);
        a.isRecurring = true;
        a.pattern = mail::RecurrencePattern{0, 1, 0, 0, 0, 0};
        carol.appointments.push_back(a);
    }
    Session s;
    _Items items = s.Items("EX:carol", olFolderCalendar);
    int day = 6;
    for (LPDISPATCH p =
             items.Find("[Start] >= '03/06/26 12:00AM' AND [Start] <= '03/10/26 11:59PM'");
         p; p = items.FindNext(), ++day) {
        _AppointmentItem item(p);
        const DATE start = item.GetStart();
        OleLocalTime local;
        ASSERT_TRUE(VariantTimeToLocalTime(start, local));
        EXPECT_EQ(local.day, day);
        EXPECT_EQ(local.hour, 9);
        EXPECT_EQ(local.minute, 0);
        WORD dosDate = 0, dosTime = 0;
        ASSERT_EQ(VariantTimeToDosDateTime(start, &dosDate, &dosTime), 1);
        EXPECT_EQ(DosDateTimeToCTime(dosDate, dosTime)->GetTime(), Local(2026, 3, day, 9, 0));
    }
    EXPECT_EQ(day, 11);
    // The 24 hours from 09:00 EST on the 7th end at 10:00 EDT on the 8th: a filter in local
    // minutes still finds the 8th's 09:00.
    EXPECT_EQ(Subjects(items, "[Start] >= '03/08/26 09:00' AND [Start] <= '03/08/26 09:00'"),
              (Names{"Daily"}));
}

TEST_F(ObjectModel, ArgumentsAndMembersAreChecked) {
    Session s;
    struct Row {
        COleDispatchDriver* object;
        DISPID member;
        WORD flags;
        std::vector<COleVariant> args;
        HRESULT expected;
    };
    Recipient alice(s.ns.CreateRecipient("EX:alice"));
    MAPIFolder folder(s.ns.GetSharedDefaultFolder(alice.m_lpDispatch, olFolderCalendar));
    _Items items(folder.GetItems());
    _AppointmentItem item(items.Find(kWeek));
    std::vector<Row> rows;
    rows.push_back({&s.app, kGetNamespace, DISPATCH_METHOD, {}, DISP_E_PARAMNOTOPTIONAL});
    rows.push_back(
        {&s.app, kGetNamespace, DISPATCH_METHOD, {COleVariant(int32_t(1))}, DISP_E_TYPEMISMATCH});
    rows.push_back({&s.app,
                    kGetNamespace,
                    DISPATCH_METHOD,
                    {COleVariant("MAPI"), COleVariant("x")},
                    DISP_E_BADPARAMCOUNT});
    rows.push_back(
        {&s.app, kGetNamespace, DISPATCH_METHOD, {COleVariant("Other")}, DISP_E_EXCEPTION});
    rows.push_back({&s.app, 0x7777, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND});
    rows.push_back(
        {&s.ns, kLogon, DISPATCH_METHOD, {COleVariant(int32_t(3))}, DISP_E_TYPEMISMATCH});
    rows.push_back({&s.ns, kCreateRecipient, DISPATCH_METHOD, {}, DISP_E_PARAMNOTOPTIONAL});
    rows.push_back({&s.ns, kCreateRecipient, DISPATCH_METHOD, {COleVariant("")}, DISP_E_EXCEPTION});
    rows.push_back({&s.ns,
                    kGetSharedDefaultFolder,
                    DISPATCH_METHOD,
                    {COleVariant(alice.m_lpDispatch)},
                    DISP_E_PARAMNOTOPTIONAL});
    rows.push_back({&s.ns,
                    kGetSharedDefaultFolder,
                    DISPATCH_METHOD,
                    {COleVariant(DispatchPtr()), COleVariant(int32_t(9))},
                    DISP_E_TYPEMISMATCH});
    rows.push_back({&alice, kResolve, DISPATCH_METHOD, {COleVariant(true)}, DISP_E_BADPARAMCOUNT});
    rows.push_back(
        {&alice, kResolve, DISPATCH_PROPERTYPUT, {COleVariant(true)}, DISP_E_MEMBERNOTFOUND});
    rows.push_back(
        {&folder, kItems, DISPATCH_PROPERTYPUT, {COleVariant(true)}, DISP_E_MEMBERNOTFOUND});
    rows.push_back(
        {&items, kIncludeRecurrences, DISPATCH_PROPERTYPUT, {}, DISP_E_PARAMNOTOPTIONAL});
    rows.push_back({&items,
                    kIncludeRecurrences,
                    DISPATCH_PROPERTYPUT,
                    {COleVariant("yes")},
                    DISP_E_TYPEMISMATCH});
    rows.push_back({&items,
                    kSortStandard,
                    DISPATCH_METHOD,
                    {COleVariant("[Start]"), COleVariant("no")},
                    DISP_E_TYPEMISMATCH});
    rows.push_back({&items, kFindStandard, DISPATCH_METHOD, {}, DISP_E_PARAMNOTOPTIONAL});
    rows.push_back(
        {&items, kFindNextStandard, DISPATCH_METHOD, {COleVariant(true)}, DISP_E_BADPARAMCOUNT});
    rows.push_back(
        {&item, kSubject, DISPATCH_PROPERTYPUT, {COleVariant("x")}, DISP_E_MEMBERNOTFOUND});
    rows.push_back({&item, kReminderTime, DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND});
    rows.push_back({&item,
                    kGetRecurrencePattern,
                    DISPATCH_PROPERTYPUT,
                    {COleVariant(true)},
                    DISP_E_MEMBERNOTFOUND});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        HRESULT got = S_OK;
        try {
            rows[i].object->InvokeHelper(rows[i].member, rows[i].flags, rows[i].args);
        } catch (const COleException& e) {
            got = e.m_sc;
        } catch (const COleDispatchException&) {
            got = DISP_E_EXCEPTION;
        }
        EXPECT_EQ(got, rows[i].expected) << "row " << i;
    }
}

TEST_F(ObjectModel, EachItemIsANewObjectThatItsHolderReleases) {
    Session s;
    _Items items = s.Items("EX:alice", olFolderCalendar);
    const std::size_t before = automation::LiveObjects();
    {
        _AppointmentItem first(items.Find(kWeek));
        _AppointmentItem second(items.FindNext());
        RecurrencePattern p1(_AppointmentItem(items.FindNext()).GetRecurrencePattern());
        EXPECT_NE(first.m_lpDispatch, second.m_lpDispatch);
        EXPECT_EQ(automation::LiveObjects(), before + 3); // the third item is gone, its pattern not
    }
    EXPECT_EQ(automation::LiveObjects(), before);
}
