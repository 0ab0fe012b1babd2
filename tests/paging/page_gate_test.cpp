// The page gate of an instance that is one of several: what the paging pass does with each of
// the gate's verdicts, and what it tells the gate after a page was sent, dropped or failed.
#include "core/Settings.h"
#include "paging/CRemList.h"
#include "paging/PageGate.h"
#include "paging/SentPages.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"
#include "users/UserlistStru.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

// Answers from a table by page text (Go for a text it does not hold) and writes down every call.
class TableGate : public IPageGate {
public:
    std::map<std::string, Verdict> verdicts;
    std::vector<std::string> calls; // "claim TEXT", "done TEXT sent|dropped", "failed TEXT"
    std::map<std::string, std::string> identities; // text -> identity of every claim

    Verdict Claim(const PageDescription& page, const CTime&) override {
        const std::string text = TextOf(page);
        calls.push_back("claim " + text);
        identities[text] = page.Identity;
        const auto it = verdicts.find(text);
        return it == verdicts.end() ? Verdict::Go : it->second;
    }
    void Done(const PageDescription& page, const ReminderStru& reminder, PageOutcome outcome,
              const CTime&) override {
        EXPECT_EQ(reminder.Text, TextOf(page)) << "the reminder of the page";
        calls.push_back("done " + TextOf(page) + " " + PageOutcomeName(outcome));
    }
    void Failed(const PageDescription& page) override { calls.push_back("failed " + TextOf(page)); }

    // The test names each page after its reminder text; the description carries the identity,
    // which is what a gate keys on, and the page time.
    std::map<std::string, std::string> texts; // identity -> text
    std::string TextOf(const PageDescription& page) const {
        const auto it = texts.find(page.Identity);
        return it == texts.end() ? "?" : it->second;
    }
};

const char* const kPager = "Ann Archer (Pager)";
const char* const kMailbox = "aarcher";

CTime At(int hour, int minute, int second = 0) {
    return CTime(2026, 3, 2, hour, minute, second);
}

class PageGate : public testing::Test {
protected:
    ScopedTimeZone zone{"America/New_York"};
    MailFixture mail;
    CapturedEvents events;
    UserlistStru user;
    CRemList list;
    CSentPages sent;
    TableGate gate;
    const CTime now = At(10, 0);

    void SetUp() override {
        mail.Add({kPager, "/o=Quorvik/ou=Site/cn=Recipients/cn=aarcher-pager", "", "",
                  "5550101@pager.example.org"});
        mail.UseProfile("Paging");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "Paging");
        SetHours("0", "24");
        user.MailboxName = kMailbox;
        user.PagerName = kPager;
        user.LastPageCheck = now - CTimeSpan(1);
        sent.SetGate(&gate);
    }
    static void SetHours(const char* start, const char* end) {
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, start);
        Settings::WriteProfileString(Settings::kPreferences, Settings::kEndHour, end);
    }
    // Three reminders due ten seconds apart, "A" first, all remembered once paged.
    void AddThree() {
        int i = 0;
        for (const char* text : {"A", "B", "C"}) {
            const CTime pageTime = now - CTimeSpan(30 - 10 * i++);
            list.AddReminder(pageTime + timespans::kMinute, CTime(0), CTime(0), text);
        }
        list.SortList();
        for (const auto& r : list.GetRecords())
            gate.texts[PageIdentity(kMailbox, kPager, *r)] = r->Text;
    }
    std::vector<std::string> Remaining() const {
        std::vector<std::string> texts;
        for (const auto& r : list.GetRecords())
            texts.push_back(r->Text);
        return texts;
    }
};

} // namespace

TEST_F(PageGate, EachVerdictSendsRemovesKeepsOrStops) {
    using V = IPageGate::Verdict;
    const struct {
        const char* why;
        std::map<std::string, V> verdicts;
        int left;                        // reminders that left the list
        size_t pages;                    // messages in the outbox
        std::vector<std::string> remain; // texts still in the list
        std::vector<std::string> calls;
        int recorded; // pages in the local record afterwards
    } rows[] = {
        {"every page ours",
         {},
         3,
         3,
         {},
         {"claim A", "done A sent", "claim B", "done B sent", "claim C", "done C sent"},
         3},
        {"B sent by another instance: removed without a page and without a record of ours",
         {{"B", V::Handled}},
         3,
         2,
         {},
         {"claim A", "done A sent", "claim B", "claim C", "done C sent"},
         3},
        {"B claimed by another instance: kept, and asked again at the next walk from the head",
         {{"B", V::Later}},
         2,
         2,
         {"B"},
         {"claim A", "done A sent", "claim B", "claim C", "done C sent", "claim B"},
         2},
        {"not the leader any more: nothing is sent, the walk ends at once",
         {{"A", V::Stop}},
         0,
         0,
         {"A", "B", "C"},
         {"claim A"},
         0},
        {"leadership lost after the first page",
         {{"B", V::Stop}},
         1,
         1,
         {"B", "C"},
         {"claim A", "done A sent", "claim B"},
         1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        list.ClearList();
        gate.calls.clear();
        gate.verdicts = row.verdicts;
        const size_t before = mail.OutboxMessages().size();
        CSentPages record; // a fresh record each row: the gate alone decides
        record.SetGate(&gate);
        AddThree();
        EXPECT_EQ(list.PageReminders(now, PagingFields(user), &record), row.left);
        EXPECT_EQ(mail.OutboxMessages().size() - before, row.pages);
        EXPECT_EQ(Remaining(), row.remain);
        EXPECT_EQ(gate.calls, row.calls);
        // Sent here, or by another instance: either way remembered, so a rescan asks no more.
        EXPECT_EQ(record.GetCount(), row.recorded);
    }
    EXPECT_TRUE(events.Texts().empty());
}

TEST_F(PageGate, ADroppedPageIsDoneAsDroppedAndAFailedSendIsHandedBack) {
    AddThree();
    SetHours("11", "12"); // 10:00 lies outside: every due page is dropped, each claimed first
    EXPECT_EQ(list.PageReminders(now, PagingFields(user), &sent), 3);
    EXPECT_EQ(gate.calls,
              (std::vector<std::string>{"claim A", "done A dropped", "claim B", "done B dropped",
                                        "claim C", "done C dropped"}));
    EXPECT_TRUE(mail.OutboxMessages().empty());

    SetHours("0", "24");
    gate.calls.clear();
    user.PagerName = "Nobody (Pager)"; // not in the address book: the send fails
    list.AddReminder(now + timespans::kMinute, CTime(0), CTime(0), "D");
    for (const auto& r : list.GetRecords())
        gate.texts[PageIdentity(kMailbox, "Nobody (Pager)", *r)] = r->Text;
    EXPECT_EQ(list.PageReminders(now, PagingFields(user), &sent), 0);
    EXPECT_EQ(gate.calls, (std::vector<std::string>{"claim D", "failed D"}));
    EXPECT_EQ(Remaining(), std::vector<std::string>{"D"}) << "kept for the next call";
    EXPECT_EQ(events.Texts().size(), 1u) << "the failed send's event";
}

TEST_F(PageGate, TheIdentityClaimedIsTheOneThePageCarries) {
    AddThree();
    EXPECT_EQ(list.PageReminders(now, PagingFields(user), &sent), 3);
    ASSERT_EQ(gate.identities.size(), 3u);
    std::vector<std::string> messages = mail.OutboxMessages();
    for (const auto& [text, identity] : gate.identities) {
        EXPECT_EQ(identity.size(), 32u) << text;
        int carrying = 0;
        for (const std::string& message : messages)
            carrying += message.find(identity) != std::string::npos ? 1 : 0;
        EXPECT_EQ(carrying, 1) << "the Message-ID of " << text << " is made from " << identity;
    }
}
