// The served object model through the typed wrappers, over an in-memory store: every member,
// both identifier sets, logon, name resolution, folders, Find and FindNext, and the fault seam.
#include "FakeMailSystem.h"
#include "core/Clock.h"
#include "outlook/automation/Faults.h"
#include "outlook/automation/OleDate.h"
#include "outlook/automation/OutlookObjects.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using automation::CallRecorder;
using automation::FaultScope;
using automation::ObjectKind;
using namespace outlook_id;
using outlook_test::Appointment;
using outlook_test::Local;

namespace {

constexpr const char* kWeek = "[Start] >= '03/14/26 09:05AM' AND [Start] <= '03/21/26 09:05AM'";
constexpr const char* kTasksFilter = "[ReminderTime] >= '03/14/26 09:05'";

DATE DateOf(int64_t instant) {
    DATE d = 0;
    EXPECT_TRUE(UnixTimeToVariantTime(instant, d));
    return d;
}

class ObjectModel : public outlook_test::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        Clock::Freeze(CTime(int32_t(now)));
        auto& alice = store->AddUser("Alice Smith", "alice");
        alice.appointments = {Appointment("Standup", Local(2026, 3, 14, 9, 5, 0), 15, 10),
                              Appointment("Budget review", Local(2026, 3, 16, 14, 0), 60, 15),
                              Appointment("Late", Local(2026, 3, 21, 9, 6, 0))};
        alice.appointments[1].location = "Room 4";
        mail::Appointment weekly = Appointment("Weekly", Local(2026, 3, 17, 10, 0), 30, 5);
        weekly.isRecurring = true;
        weekly.pattern = mail::RecurrencePattern{1, 2, 0, 2 | 16, 0, 0};
        alice.appointments.insert(alice.appointments.begin() + 2, weekly);
        mail::Task report{"Report", true, Local(2026, 3, 14, 9, 5, 0)};
        mail::Task old{"Old", true, Local(2026, 3, 14, 9, 4, 59)};
        mail::Task noReminder{"Someday", false, 0};
        alice.tasks = {report, old, noReminder};
        store->AddUser("Bob Jones", "bob").appointments = {
            Appointment("Bob's", Local(2026, 3, 15, 8, 0))};
        store->addressList.push_back(
            mail::AddressEntry{"Alice's pager", "alice-pager", "", "", "alice@pager.example"});
    }

    // A session logged on with `profile`, as the Outlook session opens one.
    struct Session {
        _Application app;
        _NameSpace ns;
        explicit Session(const char* profile = "Test", bool logon = true) {
            COleException error(S_OK);
            EXPECT_EQ(app.CreateDispatch("Outlook.Application", &error), 1);
            ns.AttachDispatch(app.GetNamespace("MAPI"));
            if (logon)
                ns.Logon(COleVariant(profile), COleVariant(""), COleVariant(true),
                         COleVariant(true));
        }
        ~Session() {
            if (ns.m_lpDispatch)
                ns.Logoff();
        }
        MAPIFolder Folder(const char* name, int32_t type) {
            Recipient recipient(ns.CreateRecipient(name));
            EXPECT_TRUE(recipient.Resolve()) << name;
            return MAPIFolder(ns.GetSharedDefaultFolder(recipient.m_lpDispatch, type));
        }
        _Items Items(const char* name, int32_t type) {
            _Items items(Folder(name, type).GetItems());
            items.Sort("[Start]", COleVariant(false));
            items.SetIncludeRecurrences(true);
            return items;
        }
    };

    // The subjects Find and FindNext give, under the chosen identifiers.
    static std::vector<std::string> Subjects(_Items& items, const char* filter,
                                             DISPID find = kFindAlternate,
                                             DISPID next = kFindNextAlternate, bool tasks = false) {
        std::vector<std::string> subjects;
        for (LPDISPATCH item = items.Find(filter, find); item; item = items.FindNext(next)) {
            if (tasks)
                subjects.push_back(_TaskItem(item).GetSubject());
            else
                subjects.push_back(_AppointmentItem(item).GetSubject());
        }
        return subjects;
    }

    testing_support::ScopedTimeZone zone{"America/New_York"};
    const int64_t now = Local(2026, 3, 14, 9, 5, 40);
};

using Names = std::vector<std::string>;

} // namespace

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
