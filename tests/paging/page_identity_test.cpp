// Page identities: the same for the same reminder and pager wherever and whenever computed,
// different for anything that makes another page, and the description a page is sent with.
#include "paging/CRemList.h"
#include "paging/PageIdentity.h"

#include <gtest/gtest.h>
#include <set>

namespace {

ReminderStru Reminder(int64_t pageTime, const char* timeKey, const char* text) {
    ReminderStru r;
    r.PageTime = CTime(pageTime);
    r.TimeKey = timeKey;
    r.Text = text;
    r.StartTime = r.EndTime = r.PageTime;
    return r;
}

const char* const kMailbox = "/o=Quorvik/ou=Site/cn=Recipients/cn=aarcher";
const char* const kPager = "Ann Archer (Pager)";
constexpr int64_t kPageTime = 1772459940; // 2026-03-02 13:59:00 UTC

} // namespace

TEST(PageIdentity, StableForOnePageAndDistinctForEveryOther) {
    const ReminderStru base = Reminder(kPageTime, "0900", "09:00-09:30 Stand-up");
    const CString id = PageIdentity(kMailbox, kPager, base);
    // SHA-256 of the length-prefixed fields, computed apart from this code: the identity must
    // not change between versions or machines, or a cluster's members would disagree.
    EXPECT_EQ(id, "220ac492a588fc0f5c3635e720f282bc");
    EXPECT_EQ(PageIdentity(kMailbox, kPager, Reminder(kPageTime, "0900", "09:00-09:30 Stand-up")),
              id);

    const struct {
        const char* change;
        CString mailbox, pager;
        ReminderStru reminder;
    } others[] = {
        {"another mailbox", "/o=Quorvik/ou=Site/cn=Recipients/cn=bbaker", kPager, base},
        {"another pager", kMailbox, "Ann Archer (Phone)", base},
        {"a second later", kMailbox, kPager, Reminder(kPageTime + 1, "0900", base.Text.c_str())},
        {"the next day", kMailbox, kPager, Reminder(kPageTime + 86400, "0900", base.Text.c_str())},
        {"another time key", kMailbox, kPager, Reminder(kPageTime, "0901", base.Text.c_str())},
        {"another text", kMailbox, kPager, Reminder(kPageTime, "0900", "09:00-09:30 Stand-up!")},
        // Fields never run together: moving a byte from one to the next changes the identity.
        {"a byte moved between mailbox and pager", CString(kMailbox) + "A",
         CString(kPager).substr(1), base},
        {"a byte moved between time key and text", kMailbox, kPager,
         Reminder(kPageTime, "09000", "9:00-09:30 Stand-up")},
    };
    std::set<CString> seen = {id};
    for (const auto& other : others) {
        SCOPED_TRACE(other.change);
        const CString otherId = PageIdentity(other.mailbox, other.pager, other.reminder);
        EXPECT_EQ(otherId.size(), 32u);
        EXPECT_EQ(otherId.find_first_not_of("0123456789abcdef"), CString::npos) << otherId;
        EXPECT_TRUE(seen.insert(otherId).second) << "the same identity as another page";
    }
}

TEST(PageIdentity, ADescriptionNamesTheUserBothTimesAndTheIdentity) {
    const ReminderStru r = Reminder(kPageTime, "0900", "09:00-09:30 Stand-up");
    const PageDescription page = DescribePage("Ann Archer", kMailbox, kPager, r);
    EXPECT_EQ(page.UserName, "Ann Archer");
    EXPECT_EQ(page.PageTime.GetTime(), kPageTime);
    EXPECT_EQ(page.ReminderTime.GetTime(), kPageTime + 60) << "a page falls due a minute early";
    EXPECT_EQ(page.Identity, PageIdentity(kMailbox, kPager, r));
}
