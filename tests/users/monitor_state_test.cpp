// The monitor's saved state: its bytes read back whole, every damage found, and the restore's
// rules (whose part is whose, which reminders fell due while stopped, what was paged meanwhile).
#include "paging/SentPages.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"
#include "users/MonitorState.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace testing_support;

namespace {

// Wednesday 3 June 2026, local time (UTC in these tests).
CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 6, 3, hour, minute, second);
}

UserlistStru* Add(CUserList& list, const char* mailbox, const char* pager, int interval = 15,
                  bool pageOnlyOOF = false) {
    UserlistStru* u = list.CreateUser();
    u->DisplayName = CString("User ") + mailbox;
    u->MailboxName = mailbox;
    u->PagerName = pager;
    u->ScanInterval = static_cast<int16_t>(interval);
    u->PageOnlyOOF = pageOnlyOOF ? 1 : 0;
    return u;
}

// An appointment from `start` for `minutes`, its alarm `lead` minutes before.
void Appointment(CRemList& list, CTime start, int minutes, int lead, const char* subject) {
    list.AddReminder(start - CTimeSpan(int64_t(lead) * 60), start,
                     start + CTimeSpan(int64_t(minutes) * 60), subject);
    list.SortList();
}
void Task(CRemList& list, CTime alarm, const char* subject) {
    list.AddReminder(alarm, CTime(0), CTime(0), subject);
    list.SortList();
}

std::vector<std::string> Texts(const CRemList& list) {
    std::vector<std::string> texts;
    for (const auto& r : list.GetRecords())
        texts.push_back(r->Text);
    return texts;
}

// A copy of the users' configuration, as a restart reads it from Users.dat.
void Reload(const CUserList& from, CUserList& to) {
    to.DeleteAllUsers();
    for (const auto& user : from.Users())
        to.CreateUser(user.get());
}

void SetU32(std::string& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
// Puts a correct checksum at the end, so that what is tested is the reader's other checks.
void Reseal(std::string& bytes) {
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                            static_cast<uInt>(bytes.size() - 4));
    SetU32(bytes, bytes.size() - 4, static_cast<uint32_t>(crc));
}

class MonitorState : public testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    CUserList before; // the monitor that saved
    CUserList after;  // the one that starts

    void SetUp() override {
        // Ann: an appointment, a task and a reminder left late by an earlier stop; a failed scan.
        UserlistStru* ann = Add(before, "ann", "Ann (Pager)");
        Appointment(ann->Reminders, At(10, 0), 30, 15, "Budget review");
        Task(ann->Reminders, At(11, 0), "Submit\ttimesheet\n");
        Appointment(ann->LateReminders, At(9, 0), 60, 5, "Left late");
        ann->NextScan = At(9, 15);
        ann->ScanStatus = 0;
        ann->LastScanError = "The calendar file /srv/mail/ann/calendar.ics is damaged.";
        // Bob pages only when out, and is out.
        UserlistStru* bob = Add(before, "bob", "Bob (Pager)", 60, true);
        bob->OOFFlag = 1;
        bob->ScanStatus = 1;
        bob->NextScan = At(9, 50);
        Appointment(bob->Reminders, At(12, 0), 60, 10, "Lunch with \xc3\xa9lise");
    }
};

} // namespace

TEST_F(MonitorState, WhatIsEncodedDecodesToTheSameUsersAndReminders) {
    const std::string bytes = monitorstate::Encode(before, At(9, 30));
    EXPECT_EQ(bytes.substr(0, 8), "ORVSTATE");
    monitorstate::State state;
    CString problem;
    ASSERT_TRUE(monitorstate::Decode(bytes, state, problem)) << problem;
    EXPECT_EQ(state.SavedAt, At(9, 30));
    EXPECT_EQ(state.KeptUntil, CTime(2026, 6, 4, 9, 30, 0));
    ASSERT_EQ(state.Users.size(), 2u);
    auto it = before.Users().begin();
    for (const monitorstate::UserState& u : state.Users) {
        const UserlistStru& b = **it++;
        SCOPED_TRACE(b.MailboxName);
        EXPECT_EQ(u.MailboxName, b.MailboxName);
        EXPECT_EQ(u.PagerName, b.PagerName);
        EXPECT_EQ(u.ScanInterval, b.ScanInterval);
        EXPECT_EQ(u.PageOnlyOOF, b.PageOnlyOOF != 0);
        EXPECT_EQ(u.NextScan, b.NextScan);
        EXPECT_EQ(u.ScanStatus, b.ScanStatus);
        EXPECT_EQ(u.OOFFlag, b.OOFFlag);
        EXPECT_EQ(u.LastScanError, b.LastScanError);
        for (const auto& [saved, list] : {std::pair{&u.Reminders, &b.Reminders},
                                          std::pair{&u.LateReminders, &b.LateReminders}}) {
            ASSERT_EQ(saved->size(), size_t(list->GetCount()));
            size_t i = 0;
            for (const auto& r : list->GetRecords()) {
                const ReminderStru& s = (*saved)[i++];
                EXPECT_EQ(s.PageTime, r->PageTime);
                EXPECT_EQ(s.StartTime, r->StartTime);
                EXPECT_EQ(s.EndTime, r->EndTime);
                EXPECT_EQ(s.TimeKey, r->TimeKey);
                EXPECT_EQ(s.Text, r->Text);
            }
        }
    }
    // An empty list is a state too.
    CUserList none;
    ASSERT_TRUE(monitorstate::Decode(monitorstate::Encode(none, At(9, 0)), state, problem));
    EXPECT_TRUE(state.Users.empty());
}

TEST_F(MonitorState, EveryCutAndEveryChangedByteIsFoundAndNothingIsKept) {
    const std::string bytes = monitorstate::Encode(before, At(9, 30));
    monitorstate::State state;
    CString problem;
    for (size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_FALSE(monitorstate::Decode(bytes.substr(0, n), state, problem)) << n;
        EXPECT_TRUE(state.Users.empty());
    }
    for (size_t at = 0; at < bytes.size(); ++at) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x20);
        EXPECT_FALSE(monitorstate::Decode(changed, state, problem)) << at;
        EXPECT_FALSE(problem.empty());
    }
    EXPECT_FALSE(monitorstate::Decode(bytes + "x", state, problem));
    EXPECT_EQ(problem, "it is damaged: it is " + std::to_string(bytes.size() + 1) +
                           " bytes long where " + std::to_string(bytes.size()) + " were written");
}

TEST_F(MonitorState, ForeignFilesOtherFormatsAndInconsistentContentsAreNamed) {
    const std::string good = monitorstate::Encode(before, At(9, 30));
    // Offsets: saved-at at 16, kept-until at 24, the user count at 32, Ann's mailbox length at 36.
    const struct {
        const char* name;
        std::function<std::string()> bytes;
        std::string problem;
    } rows[] = {
        {"empty", [] { return std::string(); }, "it is not a state file of Orvane's monitor"},
        {"a user file",
         [] {
             return std::string("\x01\x00\x04\x00"
                                "Ann",
                                7);
         },
         "it is not a state file of Orvane's monitor"},
        {"a header alone", [&] { return good.substr(0, 14); },
         "it is damaged: it ends inside its header"},
        {"a newer format",
         [&] {
             std::string b = good;
             SetU32(b, 8, 2);
             Reseal(b);
             return b;
         },
         "it is of format 2, which this Orvane (format 1) does not read"},
        {"a user count beyond the bytes",
         [&] {
             std::string b = good;
             SetU32(b, 32, 0x40000000);
             Reseal(b);
             return b;
         },
         "it is damaged at byte offset 32: 1073741824 users cannot fit in the " +
             std::to_string(good.size() - 4 - 36) + " bytes that follow"},
        {"a string length over any string's",
         [&] {
             std::string b = good;
             SetU32(b, 36, 70000);
             Reseal(b);
             return b;
         },
         "it is damaged at byte offset 36: a string length of 70000 is over the 65536 bytes of "
         "any string in it"},
        {"a saved-at beyond the clock",
         [&] {
             std::string b = good;
             b[16 + 4] = 1; // 2^32 and more seconds
             Reseal(b);
             return b;
         },
         "it is damaged at byte offset 16: a time of " +
             std::to_string(int64_t(At(9, 30).GetTime()) + (int64_t(1) << 32)) +
             " lies beyond the clock's range"},
        {"one user fewer than counted",
         [&] {
             std::string b = good;
             SetU32(b, 32, 3);
             Reseal(b);
             return b;
         },
         "it is damaged at byte offset " + std::to_string(good.size() - 4) +
             ": it ends inside a record"},
        {"one user more than counted",
         [&] {
             std::string b = good;
             SetU32(b, 32, 1);
             Reseal(b);
             return b;
         },
         ""}, // checked below: bytes follow the last user
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        monitorstate::State state;
        CString problem;
        EXPECT_FALSE(monitorstate::Decode(row.bytes(), state, problem));
        if (!row.problem.empty())
            EXPECT_EQ(problem, row.problem);
        else
            EXPECT_NE(problem.find("bytes follow the last user"), CString::npos) << problem;
        EXPECT_TRUE(state.Users.empty());
    }
}

TEST_F(MonitorState, AUserTakesItsPartOnlyWhileMailboxPagerIntervalAndOptionAreUnchanged) {
    const struct {
        const char* name;
        std::function<void(UserlistStru&)> edit;
        bool restored;
    } rows[] = {
        {"unchanged", [](UserlistStru&) {}, true},
        {"renamed and moved to another store, codes changed",
         [](UserlistStru& u) {
             u.DisplayName = "Someone else";
             u.Server = "/o=Other";
             u.Code = 77;
         },
         true},
        {"another pager", [](UserlistStru& u) { u.PagerName = "Ann's new pager"; }, false},
        {"another mailbox", [](UserlistStru& u) { u.MailboxName = "ann2"; }, false},
        {"another interval", [](UserlistStru& u) { u.ScanInterval = 30; }, false},
        {"paged only when out now", [](UserlistStru& u) { u.PageOnlyOOF = 1; }, false},
    };
    const std::string bytes = monitorstate::Encode(before, At(9, 30));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Reload(before, after);
        UserlistStru& ann = *after.Users().front();
        row.edit(ann);
        monitorstate::State state;
        CString problem;
        ASSERT_TRUE(monitorstate::Decode(bytes, state, problem));
        const monitorstate::RestoreCounts counts =
            monitorstate::Restore(after, state, At(9, 30), nullptr);
        EXPECT_EQ(counts.users, row.restored ? 2 : 1) << "Bob is restored either way";
        EXPECT_EQ(ann.Reminders.GetCount(), row.restored ? 2 : 0);
        EXPECT_EQ(ann.LateReminders.GetCount(), row.restored ? 1 : 0);
        EXPECT_EQ(ann.ScanStatus, row.restored ? 0 : -1);
        EXPECT_EQ(ann.LastScanError, row.restored ? before.Users().front()->LastScanError : "");
        EXPECT_EQ(ann.NextScan, row.restored ? At(9, 15) : CTime(0));
        const UserlistStru& bob = *after.Users().back();
        EXPECT_EQ(bob.OOFFlag, 1);
        EXPECT_EQ(bob.ScanStatus, 1);
        EXPECT_EQ(bob.NextScan, At(9, 30)) << "due at the start at the latest";
        EXPECT_EQ(Texts(bob.Reminders),
                  std::vector<std::string>({"12:00-01:00 Lunch with \xc3\xa9lise"}));
    }
}

TEST_F(MonitorState, UsersWithEqualRecordsTakeTheSavedPartsInOrderEachOnce) {
    CUserList saved;
    for (const char* subject : {"First", "Second"}) {
        UserlistStru* u = Add(saved, "shared", "Pager");
        Appointment(u->Reminders, At(10, 0), 30, 5, subject);
    }
    monitorstate::State state;
    CString problem;
    ASSERT_TRUE(monitorstate::Decode(monitorstate::Encode(saved, At(9, 0)), state, problem));
    Reload(saved, after);
    Add(after, "shared", "Pager"); // a third with the same record gets nothing
    EXPECT_EQ(monitorstate::Restore(after, state, At(9, 0), nullptr).users, 2);
    std::vector<std::vector<std::string>> texts;
    for (const auto& u : after.Users())
        texts.push_back(Texts(u->Reminders));
    EXPECT_EQ(texts, (std::vector<std::vector<std::string>>{
                         {"10:00-10:30 First"}, {"10:00-10:30 Second"}, {}}));
}

TEST_F(MonitorState, RemindersDueBetweenTheSaveAndTheStartAreLateUnlessThePagingRecordHasThem) {
    // Saved at 09:30; page times 09:20 (due before the save and still waiting: a failed send),
    // 09:40, 09:45 (paged between the save and the stop) and 10:30 (still to come at 10:00).
    CUserList saved;
    UserlistStru* ann = Add(saved, "ann", "Ann (Pager)");
    Appointment(ann->Reminders, At(9, 26), 60, 5, "Waiting since 09:20");
    Appointment(ann->Reminders, At(9, 46), 60, 5, "Due at 09:40");
    Appointment(ann->Reminders, At(9, 51), 60, 5, "Paged at 09:45");
    Task(ann->Reminders, At(10, 31), "Due at 10:30");
    Task(ann->LateReminders, At(9, 1), "Late since an earlier stop");
    CSentPages record; // in memory, as the monitor had it at the stop
    for (const auto& r : ann->Reminders.GetRecords()) {
        if (r->Text.find("Paged at") != CString::npos)
            record.Record(ann->MailboxName, ann->PagerName, *r, At(9, 45));
    }
    monitorstate::State state;
    CString problem;
    ASSERT_TRUE(monitorstate::Decode(monitorstate::Encode(saved, At(9, 30)), state, problem));

    const struct {
        const char* name;
        CTime start;
        std::vector<std::string> reminders, late;
    } rows[] = {
        {"started at 10:00",
         At(10, 0),
         {"09:26-10:26 Waiting since 09:20", "Due at 10:30"},
         {"Late since an earlier stop", "09:46-10:46 Due at 09:40"}},
        {"started at 09:40:00: due in the start's second, not late",
         At(9, 40),
         {"09:26-10:26 Waiting since 09:20", "09:46-10:46 Due at 09:40",
          "09:51-10:51 Paged at 09:45", "Due at 10:30"},
         {"Late since an earlier stop"}},
        {"started before the save (a clock set back): nothing is late but what was",
         At(9, 0),
         {"09:26-10:26 Waiting since 09:20", "09:46-10:46 Due at 09:40",
          "09:51-10:51 Paged at 09:45", "Due at 10:30"},
         {"Late since an earlier stop"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Reload(saved, after);
        const monitorstate::RestoreCounts counts =
            monitorstate::Restore(after, state, row.start, &record);
        const UserlistStru& restored = *after.Users().front();
        EXPECT_EQ(Texts(restored.Reminders), row.reminders);
        EXPECT_EQ(Texts(restored.LateReminders), row.late);
        EXPECT_EQ(counts.reminders, int(row.reminders.size()));
        EXPECT_EQ(counts.late, int(row.late.size()));
    }
}

TEST_F(MonitorState, RemindersAreKeptForADayAheadAndLateOnesAllWithTheirLimitInTheState) {
    UserlistStru& ann = *before.Users().front();
    // A day after the save (09:30) is kept, a second more is not; the late list is kept whole.
    Task(ann.Reminders, CTime(2026, 6, 4, 9, 31, 0), "A day ahead");
    Task(ann.Reminders, CTime(2026, 6, 4, 9, 31, 1), "A day and a second ahead");
    Task(ann.LateReminders, At(8, 1), "Late since 08:00");
    monitorstate::State state;
    CString problem;
    ASSERT_TRUE(monitorstate::Decode(monitorstate::Encode(before, At(9, 30)), state, problem));
    std::vector<std::string> kept, late;
    for (const ReminderStru& r : state.Users.front().Reminders)
        kept.push_back(r.Text);
    for (const ReminderStru& r : state.Users.front().LateReminders)
        late.push_back(r.Text);
    EXPECT_EQ(kept, std::vector<std::string>(
                        {"10:00-10:30 Budget review", "Submit\ttimesheet\n", "A day ahead"}));
    EXPECT_EQ(late, std::vector<std::string>({"Late since 08:00", "09:00-10:00 Left late"}));
}
