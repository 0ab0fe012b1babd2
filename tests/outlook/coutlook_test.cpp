// The Outlook session and the scan against a real mail system, with failures made on demand:
// every logged text, what the user's status becomes, and that every object is released.
#include "ScanFixture.h"
#include "core/Clock.h"
#include "core/StatusText.h"
#include "outlook/COutlook.h"
#include "outlook/automation/ComRuntime.h"
#include "outlook/automation/Faults.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;
using automation::FaultScope;
using automation::ObjectKind;
using outlook_test::ScanMailSystem;

namespace {

const std::string kUser = std::string("EX:") + ScanMailSystem::kMailbox;

// Two appointments and two tasks, all with reminders to come on 1 June 2026 (UTC).
const char* kCalendar = R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//Orvane tests//EN
BEGIN:VEVENT
UID:a1
SUMMARY:First meeting
DTSTART:20260601T100000Z
DTEND:20260601T110000Z
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT15M
END:VALARM
END:VEVENT
BEGIN:VEVENT
UID:a2
SUMMARY:Second meeting
DTSTART:20260601T140000Z
DTEND:20260601T150000Z
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT15M
END:VALARM
END:VEVENT
END:VCALENDAR
)";

const char* kTasks = R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//Orvane tests//EN
BEGIN:VTODO
UID:t1
SUMMARY:File the report
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER;VALUE=DATE-TIME:20260601T160000Z
END:VALARM
END:VTODO
BEGIN:VTODO
UID:t2
SUMMARY:Far in the future
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER;VALUE=DATE-TIME:20400101T090000Z
END:VALARM
END:VTODO
END:VCALENDAR
)";

class RecordingStatus : public IStatusText {
public:
    RecordingStatus() : m_previous(SetStatusText(this)) {}
    ~RecordingStatus() override { SetStatusText(m_previous); }
    void SetMessageText(const CString& text) override { texts.push_back(text); }
    std::vector<std::string> texts;

private:
    IStatusText* m_previous;
};

class COutlookTest : public testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    ScanMailSystem mail;
    CapturedEvents events;
    size_t objectsBefore = automation::LiveObjects();
    size_t badReleasesBefore = automation::InvalidReleases();

    void SetUp() override {
        mail.SetCalendar(kCalendar);
        mail.SetTasks(kTasks);
        Clock::Freeze(CTime(2026, 6, 1, 9, 0, 0));
    }
    void TearDown() override {
        EXPECT_EQ(automation::LiveObjects(), objectsBefore) << "an object was not released";
        EXPECT_EQ(automation::InvalidReleases(), badReleasesBefore)
            << "an object was released twice";
    }

    // One session, one user; the subjects of the reminders in list order.
    std::vector<std::string> Scan(int& status, const std::string& user = kUser,
                                  const std::string& profile = ScanMailSystem::kProfile) {
        CRemList list;
        status = -1;
        COutlook outlook(profile);
        outlook.GetUserReminders(user, list, &status);
        std::vector<std::string> texts;
        for (const auto& r : list.GetRecords())
            texts.push_back(r->Text);
        return texts;
    }
};

const std::vector<std::string> kAll = {"10:00-11:00 First meeting", "02:00-03:00 Second meeting",
                                       "File the report"};

} // namespace

TEST_F(COutlookTest, ReadsBothFoldersAndShowsTheMailboxWhileItIsOpen) {
    RecordingStatus status;
    int result;
    EXPECT_EQ(Scan(result), kAll);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(status.texts, std::vector<std::string>({kUser, "Ready"}));
    // The task beyond January 2038 cannot be held as a time: one event, no page at once.
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_EQ(events.Texts()[0], "The item Far in the future of user " + kUser +
                                     " has a date that cannot be handled; it gives no reminder.");
}

TEST_F(COutlookTest, OutlookThatCannotBeCreatedFailsEveryUserAfterOneEvent) {
    FaultScope faults;
    faults.OnCreate("Outlook.Application").WithCallError(REGDB_E_CLASSNOTREG);
    RecordingStatus status;
    CRemList list;
    list.AddReminder(CTime(2000000000), CTime(0), CTime(0), "left by the caller");
    int first = -1, second = -1;
    {
        COutlook outlook(ScanMailSystem::kProfile);
        EXPECT_FALSE(outlook.HasNamespace());
        outlook.GetUserReminders(kUser, list, &first);
        outlook.GetUserReminders("EX:another", list, &second);
    }
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(events.Texts(), std::vector<std::string>(
                                  {"Unable to load Microsoft Outlook.  Class not registered"}));
    EXPECT_EQ(status.texts, std::vector<std::string>({kUser, "EX:another"}))
        << "no Ready after a failed open";
}

TEST_F(COutlookTest, NamespaceAndLogonFailures) {
    {
        FaultScope faults;
        faults.On(ObjectKind::Application, outlook_id::kGetNamespace)
            .WithDispatchError("No namespace today");
        int status;
        EXPECT_TRUE(Scan(status).empty());
        EXPECT_EQ(status, 0);
    }
    {
        // An unknown profile: the logon fails, the session goes on and its calls fail on their own.
        int status;
        EXPECT_TRUE(Scan(status, kUser, "No such profile").empty());
        EXPECT_EQ(status, 0);
    }
    const auto texts = events.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Error opening Outlook namespace.  No namespace today");
    EXPECT_EQ(texts[1].rfind("Unable to open a MAPI sesson.  ", 0), 0u) << texts[1];
    EXPECT_NE(texts[1].find("No such profile"), std::string::npos) << texts[1];
    EXPECT_EQ(texts[2].rfind("Error opening Outlook user " + kUser + ".  ", 0), 0u) << texts[2];
}

TEST_F(COutlookTest, ACallErrorAtLogonLeavesTheConstructorCleanly) {
    FaultScope faults;
    faults.On(ObjectKind::NameSpace, outlook_id::kLogon).WithCallError(RPC_E_DISCONNECTED);
    EXPECT_THROW(COutlook outlook(ScanMailSystem::kProfile), COleException);
    // TearDown checks that the application and namespace were released.
}

TEST_F(COutlookTest, UsersThatCannotBeOpenedAreReportedByTheirOwnMessages) {
    const struct {
        ObjectKind kind;
        DISPID member;
        int folder;
        bool dispatchError;
        std::string text;
    } rows[] = {
        {ObjectKind::NameSpace, outlook_id::kCreateRecipient, 0, true,
         "Error opening Outlook user " + kUser + ".  bad name"},
        {ObjectKind::Recipient, outlook_id::kResolve, 0, true,
         "Error resolving " + kUser + ".  bad name"},
        {ObjectKind::Recipient, outlook_id::kResolve, 0, false,
         "Error resolving " + kUser + ". Unspecified error"},
        {ObjectKind::NameSpace, outlook_id::kGetSharedDefaultFolder, 9, true,
         "Error obtaining Outlook Calendar folder for user " + kUser + ".  bad name"},
        {ObjectKind::NameSpace, outlook_id::kGetSharedDefaultFolder, 9, false,
         "Error obtaining Outlook Calendar folder for user " + kUser + ". Unspecified error"},
        {ObjectKind::NameSpace, outlook_id::kGetSharedDefaultFolder, 13, true,
         "Error obtaining Outlook Tasks folder for user " + kUser + ".  bad name"},
    };
    for (const auto& row : rows) {
        CapturedEvents local;
        FaultScope faults;
        automation::Fault& fault = faults.On(row.kind, row.member);
        if (row.kind == ObjectKind::NameSpace && row.member == outlook_id::kGetSharedDefaultFolder)
            fault.After(row.folder == 13 ? 1 : 0).Times(1); // the Calendar is asked for first
        if (row.dispatchError)
            fault.WithDispatchError("bad name");
        else
            fault.WithCallError(E_FAIL);
        int status;
        EXPECT_TRUE(Scan(status).empty()) << row.text;
        EXPECT_EQ(status, 0) << row.text;
        EXPECT_EQ(local.Texts(), std::vector<std::string>({row.text}));
    }
    int status;
    Scan(status, "EX:nobody");
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(events.Texts().empty());
    EXPECT_EQ(events.Texts().back(), "Failed to resolve EX:nobody.");
}

TEST_F(COutlookTest, CallErrorsTheSessionLetsPassReachTheCaller) {
    for (auto [kind, member, folder] :
         {std::tuple{ObjectKind::NameSpace, outlook_id::kCreateRecipient, 0},
          std::tuple{ObjectKind::NameSpace, outlook_id::kGetSharedDefaultFolder, 0},
          std::tuple{ObjectKind::Items, outlook_id::kFindStandard, 13},
          std::tuple{ObjectKind::AppointmentItem, outlook_id::kSubject, 9}}) {
        FaultScope faults;
        automation::Fault& fault = faults.On(kind, member).WithCallError(RPC_E_DISCONNECTED);
        if (kind == ObjectKind::NameSpace && member == outlook_id::kGetSharedDefaultFolder)
            fault.After(1); // the Tasks folder, asked for after the Calendar
        if (kind == ObjectKind::Items)
            faults.On(ObjectKind::Items, outlook_id::kFindAlternate)
                .InFolder(13)
                .WithCallError(E_FAIL);
        if (folder)
            fault.InFolder(folder);
        CRemList list;
        int status = -1;
        COutlook outlook(ScanMailSystem::kProfile);
        EXPECT_THROW(outlook.GetUserReminders(kUser, list, &status), COleException) << member;
        EXPECT_EQ(status, -1) << "the status is not written";
        if (kind == ObjectKind::Items) {
            EXPECT_EQ(list.GetCount(), 2) << "the Calendar's reminders stay";
        }
    }
}

TEST_F(COutlookTest, TheStandardIdentifierIsTriedWhenTheAlternateOneFails) {
    FaultScope faults;
    faults.On(ObjectKind::Items, outlook_id::kSortAlternate).WithDispatchError("");
    faults.On(ObjectKind::Items, outlook_id::kFindAlternate).WithCallError(DISP_E_MEMBERNOTFOUND);
    faults.On(ObjectKind::Items, outlook_id::kFindNextAlternate).WithDispatchError("old Outlook");
    automation::CallRecorder calls;
    int status;
    EXPECT_EQ(Scan(status), kAll);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(calls.Count(ObjectKind::Items, outlook_id::kFindStandard), 2); // Calendar and Tasks
    EXPECT_EQ(calls.Count(ObjectKind::Items, outlook_id::kSortStandard), 2);
}

TEST_F(COutlookTest, AFailedCalendarSearchStopsTheScanBeforeTheTasks) {
    for (bool dispatchError : {true, false}) {
        CapturedEvents local;
        FaultScope faults;
        for (DISPID id : {outlook_id::kFindAlternate, outlook_id::kFindStandard}) {
            automation::Fault& f = faults.On(ObjectKind::Items, id).InFolder(9);
            if (dispatchError)
                f.WithDispatchError("The calendar cannot be searched.");
            else
                f.WithCallError(E_FAIL);
        }
        automation::CallRecorder calls;
        int status;
        EXPECT_TRUE(Scan(status).empty());
        EXPECT_EQ(status, 0);
        const std::string expected =
            "Error reading Calendar folder for user " + kUser + "." +
            (dispatchError ? "  The calendar cannot be searched." : " Unspecified error");
        EXPECT_EQ(local.Texts(), std::vector<std::string>({expected}));
        EXPECT_EQ(calls.Count(ObjectKind::TaskItem, outlook_id::kReminderSet), 0)
            << "no task is looked at";
    }
}

TEST_F(COutlookTest, AFailedTasksSearchKeepsTheCalendarsReminders) {
    FaultScope faults;
    faults.On(ObjectKind::Items, outlook_id::kFindAlternate).InFolder(13).WithDispatchError("a");
    faults.On(ObjectKind::Items, outlook_id::kFindStandard)
        .InFolder(13)
        .WithDispatchError("Tasks are gone.");
    RecordingStatus pane;
    int status;
    EXPECT_EQ(Scan(status), std::vector<std::string>(kAll.begin(), kAll.begin() + 2));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(events.Texts(), std::vector<std::string>({"Error reading Tasks folder for user " +
                                                        kUser + ".  Tasks are gone."}));
    EXPECT_EQ(pane.texts.back(), "Ready");
}

TEST_F(COutlookTest, AFindNextFailingUnderBothIdentifiersEndsThatFolderWithAnEvent) {
    FaultScope faults;
    faults.On(ObjectKind::Items, outlook_id::kFindNextAlternate).InFolder(9).WithCallError(E_FAIL);
    faults.On(ObjectKind::Items, outlook_id::kFindNextStandard).InFolder(9).WithCallError(E_FAIL);
    int status;
    EXPECT_EQ(Scan(status), std::vector<std::string>({kAll[0], kAll[2]}));
    EXPECT_EQ(status, 0) << "the Calendar was not read to its end";
    ASSERT_GE(events.Texts().size(), 1u);
    EXPECT_EQ(events.Texts()[0], "Error reading the next item of the Calendar folder for user " +
                                     kUser + ". Unspecified error");
}

TEST_F(COutlookTest, ItemsWhoseReminderOrPatternCannotBeReadAreSkipped) {
    {
        FaultScope faults;
        faults.On(ObjectKind::AppointmentItem, outlook_id::kReminderSet)
            .Times(1)
            .WithCallError(E_FAIL);
        faults.On(ObjectKind::TaskItem, outlook_id::kReminderSet).Times(1).WithDispatchError("x");
        int status;
        EXPECT_EQ(Scan(status), std::vector<std::string>({kAll[1]}));
        EXPECT_EQ(status, 1);
    }
    {
        // A recurring appointment whose reminder has passed reads its pattern; a failure there
        // gives no reminder for it and the scan goes on.
        mail.SetCalendar(R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//Orvane tests//EN
BEGIN:VEVENT
UID:r1
SUMMARY:Daily
DTSTART:20260501T090500Z
DTEND:20260501T093000Z
RRULE:FREQ=DAILY
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT15M
END:VALARM
END:VEVENT
END:VCALENDAR
)");
        FaultScope faults;
        faults.On(ObjectKind::RecurrencePattern, outlook_id::kRecurrenceType)
            .Times(1)
            .WithCallError(E_FAIL);
        int status;
        const auto texts = Scan(status);
        EXPECT_EQ(status, 1);
        ASSERT_EQ(texts.size(), 7u) << "today's occurrence is skipped, the next six are found";
    }
}
