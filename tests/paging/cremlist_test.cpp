// The reminder list: page texts and keys, the duplicate rule, the order of paging.
#include "paging/CRemList.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using testing_support::ScopedTimeZone;

namespace {

std::vector<std::string> Texts(const CRemList& list) {
    std::vector<std::string> texts;
    for (const auto& r : list.GetRecords())
        texts.push_back(r->Text);
    return texts;
}

} // namespace

TEST(CRemList, BuildsTextsAndKeysOnTheTwelveAndTwentyFourHourClocks) {
    ScopedTimeZone zone("America/New_York");
    const struct {
        int startHour, startMinute, endHour, endMinute;
        const char* text;
        const char* key;
    } rows[] = {
        {14, 0, 15, 30, "02:00-03:30 Budget review", "1400"},
        {0, 15, 1, 0, "12:15-01:00 Budget review", "0015"},
        {12, 15, 13, 0, "12:15-01:00 Budget review", "1215"},
        {23, 45, 0, 15, "11:45-12:15 Budget review", "2345"},
        {9, 5, 9, 5, "09:05-09:05 Budget review", "0905"},
    };
    for (const auto& row : rows) {
        CRemList list;
        const CTime start(2026, 6, 1, row.startHour, row.startMinute, 0);
        const CTime end = start + CTimeSpan(0, (row.endHour - row.startHour + 24) % 24,
                                            row.endMinute - row.startMinute, 0);
        const CTime reminder = start - CTimeSpan(0, 0, 15, 0);
        list.AddReminder(reminder, start, end, "Budget review");
        ASSERT_EQ(list.GetCount(), 1);
        const ReminderStru* r = list.GetHead();
        EXPECT_EQ(r->Text, row.text);
        EXPECT_EQ(r->TimeKey, row.key);
        EXPECT_EQ(r->PageTime, reminder - timespans::kMinute);
        EXPECT_EQ(r->StartTime, start);
        EXPECT_EQ(r->EndTime, end);
    }
}

TEST(CRemList, AnItemWithoutStartIsPagedByItsSubjectAlone) {
    ScopedTimeZone zone("Europe/Berlin");
    CRemList list;
    const CTime reminder(2026, 6, 1, 9, 30, 0);
    list.AddReminder(reminder, CTime(0), CTime(0), "Send the report");
    const ReminderStru* r = list.GetHead();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Text, "Send the report");
    EXPECT_EQ(r->PageTime, CTime(2026, 6, 1, 9, 29, 0));
    EXPECT_EQ(r->StartTime, r->PageTime);
    EXPECT_EQ(r->EndTime, r->PageTime);
    EXPECT_EQ(r->TimeKey, "0929");
}

TEST(CRemList, TextsAreThoseOfLocalTimeAcrossADaylightSavingChange) {
    ScopedTimeZone zone("America/New_York");
    // 2026-11-01 01:30 happens twice; the second one is EST. A meeting at 03:00 EST that day is
    // written with the wall clock, whatever the offset was when its reminder fell due.
    CRemList list;
    const CTime start(2026, 11, 1, 3, 0, 0);
    list.AddReminder(start - CTimeSpan(0, 2, 0, 0), start, start + timespans::kHour,
                     "After the change");
    EXPECT_EQ(list.GetHead()->Text, "03:00-04:00 After the change");
    // Two hours of seconds back is the change itself (01:00 EST); a minute before it is 01:59 EDT.
    EXPECT_EQ(list.GetHead()->PageTime.Format("%H%M"), "0159");
}

TEST(CRemList, RejectsOnlyRecordsEqualInAllFiveFields) {
    ScopedTimeZone zone("UTC");
    const CTime start(2026, 6, 1, 10, 0, 0);
    const CTime end = start + timespans::kHour;
    const CTime reminder = start - CTimeSpan(0, 0, 15, 0);
    CRemList list;
    list.AddReminder(reminder, start, end, "Standup");
    list.AddReminder(reminder, start, end, "Standup");
    EXPECT_EQ(list.GetCount(), 1) << "the same item twice";
    list.AddReminder(reminder, start, end, "standup");
    EXPECT_EQ(list.GetCount(), 2) << "subjects compare case-sensitively";
    list.AddReminder(reminder, start, end + timespans::kMinute, "Standup");
    EXPECT_EQ(list.GetCount(), 3) << "a different end";
    list.AddReminder(reminder - timespans::kMinute, start, end, "Standup");
    EXPECT_EQ(list.GetCount(), 4) << "a different page time";
    list.AddReminder(reminder, CTime(0), CTime(0), "Standup");
    EXPECT_EQ(list.GetCount(), 5) << "a task with the same subject";
    list.AddReminder(reminder, CTime(0), CTime(0), "Standup");
    EXPECT_EQ(list.GetCount(), 5);
    ReminderStru probe = *list.GetHead();
    EXPECT_EQ(list.IsReminderDuplicate(&probe), 1);
    probe.TimeKey = "0000";
    EXPECT_EQ(list.IsReminderDuplicate(&probe), 0);
}

TEST(CRemList, SortsByPageTimeKeepingTheOrderOfEqualTimes) {
    ScopedTimeZone zone("UTC");
    CRemList list;
    list.SortList();
    EXPECT_TRUE(list.IsEmpty());
    const CTime ten(2026, 6, 1, 10, 0, 0), nine(2026, 6, 1, 9, 0, 0);
    list.AddReminder(ten, CTime(0), CTime(0), "first ten");
    list.SortList();
    EXPECT_EQ(Texts(list), std::vector<std::string>({"first ten"}));
    list.AddReminder(nine, CTime(0), CTime(0), "nine");
    list.AddReminder(ten, CTime(0), CTime(0), "second ten");
    list.AddReminder(ten, CTime(0), CTime(0), "third ten");
    list.AddReminder(nine - timespans::kDay, CTime(0), CTime(0), "yesterday");
    list.SortList();
    EXPECT_EQ(Texts(list), std::vector<std::string>(
                               {"yesterday", "nine", "first ten", "second ten", "third ten"}));
}

TEST(CRemList, DeletesOnlyRecordsItHoldsAndClearsToEmpty) {
    CRemList list, other;
    list.AddReminder(CTime(1000000), CTime(0), CTime(0), "a");
    list.AddReminder(CTime(2000000), CTime(0), CTime(0), "b");
    other.AddReminder(CTime(3000000), CTime(0), CTime(0), "c");
    list.DeleteReminder(other.GetHead());
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(other.GetCount(), 1) << "a record of another list is left alone";
    list.DeleteReminder(nullptr);
    EXPECT_EQ(list.GetCount(), 2);
    list.DeleteReminder(list.GetHead());
    EXPECT_EQ(Texts(list), std::vector<std::string>({"b"}));
    list.ClearList();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetHead(), nullptr);
}

// A rescan clears the list and adds every record again: what was taken out, cleared or refused
// as a duplicate leaves nothing behind that the next additions could be mistaken for.
TEST(CRemList, RecordsTakenOutClearedOrRefusedLeaveNoTraceInLaterAdditions) {
    ScopedTimeZone zone("UTC");
    const CTime start(2026, 6, 1, 10, 0, 0), end(2026, 6, 1, 11, 0, 0);
    CRemList list;
    list.AddReminder(start, start, end, "a");
    list.AddReminder(start, start, end, "b");
    list.DeleteReminder(list.GetHead());
    list.AddReminder(start, start, end, "a");
    EXPECT_EQ(Texts(list), std::vector<std::string>({"10:00-11:00 b", "10:00-11:00 a"}));
    list.AddReminder(start, start, end, "b");
    EXPECT_EQ(list.GetCount(), 2) << "still a duplicate after another record went";

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        list.ClearList();
        EXPECT_TRUE(list.IsEmpty());
        list.AddReminder(start, CTime(0), CTime(0),
                         "a task with a much longer subject than before");
        list.AddReminder(start, CTime(0), CTime(0),
                         "a task with a much longer subject than before");
        list.AddReminder(start + timespans::kHour, start, end, "b");
        EXPECT_EQ(Texts(list),
                  std::vector<std::string>(
                      {"a task with a much longer subject than before", "10:00-11:00 b"}));
        const ReminderStru& task = *list.GetHead();
        EXPECT_EQ(task.StartTime, task.PageTime) << "no start kept from an earlier record";
        EXPECT_EQ(task.TimeKey, task.PageTime.Format("%H%M"));
    }
}

TEST(CRemListLimits, ATextLongerThanAPageCanCarryIsCutOnACharacterWithAnEvent) {
    testing_support::ScopedTimeZone zone("UTC");
    testing_support::CapturedEvents events;
    CRemList list;
    const CTime start(2026, 3, 14, 14, 0, 0);
    // Two-byte characters, so that the cut falls inside one unless it steps back.
    std::string subject;
    for (int i = 0; i < 5'000'000; ++i)
        subject += "\xC3\xA9";
    list.AddReminder(start - CTimeSpan(900), start, start + CTimeSpan(3600), subject);
    list.AddReminder(start - CTimeSpan(900), start, start + CTimeSpan(3600), subject);
    list.AddReminder(start - CTimeSpan(900), start, start + CTimeSpan(3600), "Budget review");
    ASSERT_EQ(list.GetCount(), 2) << "the cut text is still a duplicate of itself";
    const std::string text = list.GetHead()->Text;
    EXPECT_LE(text.size(), 1000u);
    EXPECT_GE(text.size(), 998u);
    EXPECT_EQ(text.substr(0, 12), "02:00-03:00 ");
    EXPECT_EQ((text.size() - 12) % 2, 0u) << "a character was cut in half";
    ASSERT_EQ(events.Texts().size(), 2u);
    EXPECT_EQ(events.Texts()[0], "The text of the reminder due at 03/14/26 13:44 is 10000012 bytes "
                                 "long; its page carries the first 1000 bytes.");
}

TEST(CRemList, TheHeadPageTimeFollowsEveryChangeOfTheFirstRecord) {
    // The paging pass passes over a user whose head page time lies ahead: it must always be the
    // first record's, or a due reminder would never be paged.
    const CTime never(INT32_MAX);
    CRemList list;
    EXPECT_EQ(list.HeadPageTime(), never);
    const auto expectHead = [&](const char* after) {
        SCOPED_TRACE(after);
        EXPECT_EQ(list.HeadPageTime(), list.GetHead() ? list.GetHead()->PageTime : never);
    };
    list.AddReminder(CTime(5000060), CTime(0), CTime(0), "later");
    expectHead("the first record added");
    list.AddReminder(CTime(1000060), CTime(0), CTime(0), "earlier");
    expectHead("a second record added at the tail");
    list.SortList();
    expectHead("sorting");
    EXPECT_EQ(list.HeadPageTime(), CTime(1000000));
    list.DeleteReminder(list.GetHead());
    expectHead("deleting the head");
    list.ClearList();
    expectHead("clearing");
}

TEST(CRemList, TheFingerprintFollowsTheRecordsNotTheirOrderAndRestoredRecordsKeepTheirFields) {
    ScopedTimeZone zone("UTC");
    const CTime nine(2026, 6, 1, 9, 0, 0);
    const auto fill = [&](CRemList& list, const std::vector<std::string>& subjects) {
        for (const std::string& subject : subjects)
            list.AddReminder(nine, nine + CTimeSpan(600), nine + CTimeSpan(1200), subject);
    };
    CRemList ab, ba, abb, a, abc;
    fill(ab, {"A", "B"});
    fill(ba, {"B", "A"});
    fill(abb, {"A", "B", "B"}); // the duplicate is not added
    fill(a, {"A"});
    fill(abc, {"A", "B", "C"});
    EXPECT_EQ(ab.Fingerprint(), ba.Fingerprint());
    EXPECT_EQ(ab.Fingerprint(), abb.Fingerprint());
    for (const CRemList* other : {&a, &abc})
        EXPECT_NE(ab.Fingerprint(), other->Fingerprint());
    // The same records again after a clear (a rescan that found what the list held).
    const uint64_t before = abc.Fingerprint();
    abc.ClearList();
    EXPECT_NE(abc.Fingerprint(), before);
    fill(abc, {"C", "A", "B"});
    EXPECT_EQ(abc.Fingerprint(), before);
    // One paged: another fingerprint.
    abc.DeleteReminder(abc.GetHead());
    EXPECT_NE(abc.Fingerprint(), before);

    // A restored record keeps its text, though its times would build another one today.
    ReminderStru saved = *ab.GetHead();
    saved.Text = "09:10-09:20 Built under another zone";
    CRemList restored;
    restored.AppendReminder(saved);
    restored.AppendReminder(saved); // equal: not added
    restored.AppendReminder(*ab.GetHead());
    EXPECT_EQ(Texts(restored),
              std::vector<std::string>({"09:10-09:20 Built under another zone", "09:10-09:20 A"}));
    EXPECT_EQ(restored.HeadPageTime(), nine - CTimeSpan(60));
}
