// The record of sent pages: what counts as the same page, how long it is kept, its file read
// back byte for byte, damaged lines and failed saves.
#include "core/FileSystem.h"
#include "paging/CRemList.h"
#include "paging/SentPages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

ReminderStru Reminder(CTime pageTime, const char* text, const char* timeKey = "0905") {
    ReminderStru r;
    r.PageTime = pageTime;
    r.Text = text;
    r.TimeKey = timeKey;
    r.StartTime = r.EndTime = pageTime;
    return r;
}

const CTime kPage(1780470240); // a page time; the record keeps the page two minutes past it

} // namespace

TEST(SentPages, APageCountsAsSentForItsMailboxPagerTimeKeyAndTextUntilItsMinuteHasPassed) {
    CSentPages record;
    const ReminderStru sent = Reminder(kPage, "09:10-09:40 Budget review");
    record.Record("/o=Q/cn=ann", "Ann (Pager)", sent, kPage);
    const struct {
        const char* why;
        const char* mailbox;
        const char* pager;
        ReminderStru reminder;
        CTime now;
        bool wasSent;
    } rows[] = {
        {"the same page at once", "/o=Q/cn=ann", "Ann (Pager)", sent, kPage, true},
        {"at the end of its reminder's minute", "/o=Q/cn=ann", "Ann (Pager)", sent,
         kPage + CTimeSpan(120), true},
        {"another mailbox", "/o=Q/cn=bob", "Ann (Pager)", sent, kPage, false},
        {"another pager of the same mailbox", "/o=Q/cn=ann", "Ann (Car)", sent, kPage, false},
        {"another text", "/o=Q/cn=ann", "Ann (Pager)", Reminder(kPage, "09:10-09:40 Budget"), kPage,
         false},
        {"another time key", "/o=Q/cn=ann", "Ann (Pager)",
         Reminder(kPage, "09:10-09:40 Budget review", "2105"), kPage, false},
        {"once the minute has passed", "/o=Q/cn=ann", "Ann (Pager)", sent, kPage + CTimeSpan(121),
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        CSentPages copy;
        copy.Record("/o=Q/cn=ann", "Ann (Pager)", sent, kPage);
        EXPECT_EQ(copy.WasSent(row.mailbox, row.pager, row.reminder, row.now), row.wasSent);
    }
    EXPECT_TRUE(record.WasSent("/o=Q/cn=ann", "Ann (Pager)", sent, kPage + CTimeSpan(60)));
    EXPECT_FALSE(record.WasSent("/o=Q/cn=ann", "Ann (Pager)", sent, kPage + CTimeSpan(121)));
    EXPECT_EQ(record.GetCount(), 0) << "a passed page is let go";
}

TEST(SentPages, TheFileKeepsEveryByteOfItsFieldsAndLeavesOutWhatHasPassed) {
    TempDir dir;
    const std::string path = dir.File(CSentPages::kFileName);
    CapturedEvents events;
    CSentPages record;
    record.Load(path, kPage); // missing: an empty record, no event
    const ReminderStru odd = Reminder(kPage, "tab\there, new\nline, back\\slash \x01\xe9");
    const ReminderStru later = Reminder(kPage + CTimeSpan(600), "Later");
    record.Record("mbx\tone", "pager\r", odd, kPage);
    record.Record("mbx", "pager", later, kPage);
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 4) << "two comments, two pages";
    EXPECT_NE(bytes.find("2026-06-03T07:06:00Z\tmbx\\tone\tpager\\r\t0905\ttab\\there, "
                         "new\\nline, back\\\\slash \\x01\xe9\n"),
              std::string::npos)
        << bytes;

    CSentPages read;
    read.Load(path, kPage);
    EXPECT_EQ(read.GetCount(), 2);
    EXPECT_TRUE(read.WasSent("mbx\tone", "pager\r", odd, kPage));
    EXPECT_TRUE(read.Encode() == bytes);
    read.Load(path, kPage + CTimeSpan(121));
    EXPECT_EQ(read.GetCount(), 1) << "the first page's minute has passed by then";
    EXPECT_TRUE(events.Texts().empty());
}

TEST(SentPages, DamagedLinesAreLeftOutWithOneEventAndTheRestIsKept) {
    TempDir dir;
    const std::string path = dir.File(CSentPages::kFileName);
    const std::string good = "2026-06-03T07:06:00Z\tmbx\tpager\t0905\tText\n";
    WriteFile(path, "# comment\n" + good + "2026-06-03T07:06:00Z\tmbx\tpager\t0905\n" +
                        "yesterday\tmbx\tpager\t0905\tText\n" +
                        "2026-06-03T07:06:00Z\tmbx\tpager\t0905\tbad \\q escape\n" +
                        "2026-06-03T07:06:00Z\tmbx\tpager\t0905\ttoo\tmany\n" +
                        "2026-06-03T07:06:00Z\tmbx\tpager\t0905\tcut \\x4\n");
    CapturedEvents events;
    CSentPages record;
    record.Load(path, kPage);
    EXPECT_EQ(record.GetCount(), 1);
    EXPECT_EQ(events.Texts(),
              std::vector<std::string>({"The record of sent pages " + path +
                                        " is damaged at line 3; the lines that could not be read "
                                        "were left out."}));
}

namespace {

class FailingRename : public IFileSystem {
public:
    bool fail = true;
    int Rename(const char* from, const char* to) override {
        if (fail) {
            errno = ENOSPC;
            return -1;
        }
        return IFileSystem::Rename(from, to);
    }
};

} // namespace

TEST(SentPages, AFailedSaveIsReportedOnceUntilASaveSucceedsAndThePageIsStillRemembered) {
    TempDir dir;
    FailingRename fs;
    IFileSystem* previous = SetFileSystem(&fs);
    CapturedEvents events;
    CSentPages record;
    record.Load(dir.File(CSentPages::kFileName), kPage);
    record.Record("mbx", "pager", Reminder(kPage, "One"), kPage);
    record.Record("mbx", "pager", Reminder(kPage, "Two"), kPage);
    EXPECT_TRUE(record.WasSent("mbx", "pager", Reminder(kPage, "One"), kPage));
    fs.fail = false;
    record.Record("mbx", "pager", Reminder(kPage, "Three"), kPage);
    fs.fail = true;
    record.Record("mbx", "pager", Reminder(kPage, "Four"), kPage);
    SetFileSystem(previous);
    const std::string event = "The record of sent pages " + dir.File(CSentPages::kFileName) +
                              " was not written (rename: No space left on device); a page sent "
                              "now may be sent again if Orvane restarts within a minute.";
    EXPECT_EQ(events.Texts(), std::vector<std::string>({event, event}));
}
