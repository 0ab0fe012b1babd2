// The fixture of the object model tests: a session over an in-memory store, and dates.
#pragma once

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

namespace object_model_testing {

constexpr const char* kWeek = "[Start] >= '03/14/26 09:05AM' AND [Start] <= '03/21/26 09:05AM'";
constexpr const char* kTasksFilter = "[ReminderTime] >= '03/14/26 09:05'";

inline DATE DateOf(int64_t instant) {
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

} // namespace object_model_testing
