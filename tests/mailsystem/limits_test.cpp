// What others write, at sizes nobody should: each file is refused or read within its limit, with
// a sentence that says which limit, and never costs memory beyond it.
#include "mailsystem/addressbook/AddressList.h"
#include "mailsystem/ical/CalendarCache.h"
#include "support/MailTestSupport.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace mail_test;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// A file of `size` bytes that takes no room on disk (nothing but a hole).
void MakeSparseFile(const std::string& path, off_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

} // namespace

TEST(Limits, FilesPastTheirLimitAreRefusedWithTheLimitNamed) {
    TempDir dir;
    auto mail = MakeMailSystem(dir.Path(), {"alice"});
    ASSERT_TRUE(mail);
    mail::cache::Clear();
    MakeSparseFile(CalendarPath(dir.Path(), "alice"), (256 << 20) + 1);
    std::vector<mail::Appointment> found;
    std::string error;
    EXPECT_FALSE(mail->FindAppointments(Entry("alice"), 0, 1 << 30, found, error));
    EXPECT_NE(error.find("larger than 256 MiB"), std::string::npos) << error;

    MakeSparseFile(dir.File("address-list.txt"), (64 << 20) + 1);
    std::vector<mail::AddressEntry> entries;
    EXPECT_FALSE(mail->AddressList(entries, error));
    EXPECT_NE(error.find("larger than 64 MiB"), std::string::npos) << error;
    EXPECT_TRUE(entries.empty());
}

TEST(Limits, AMillionLineAddressListIsReadWhole) {
    std::string text;
    text.reserve(48 << 20);
    const int kEntries = 250000; // four lines and a blank one each: 1,250,000 lines
    for (int i = 0; i < kEntries; ++i) {
        const std::string n = std::to_string(i);
        text += "Display-Name: User " + n + "\nAddress: /o=Quorvik/cn=u" + n +
                "\nHome-Store: /o=Quorvik/cn=MAIL" + std::to_string(i % 7) + "\nMailbox: u" + n +
                "\n\n";
    }
    std::vector<mail::AddressEntry> entries;
    std::string error;
    ASSERT_TRUE(mail::ParseAddressList(text, "list", entries, error)) << error;
    ASSERT_EQ(entries.size(), size_t(kEntries));
    EXPECT_EQ(entries.back().displayName, "User 249999");
    EXPECT_EQ(entries.back().mailbox, "u249999");
}

TEST(Limits, DeeplyNestedComponentsAreDamageNotRecursion) {
    TempDir dir;
    auto mail = MakeMailSystem(dir.Path(), {"alice"});
    ASSERT_TRUE(mail);
    mail::cache::Clear();
    std::string nested;
    for (int i = 0; i < 100000; ++i)
        nested += "BEGIN:X-DEEP\n";
    WriteFile(CalendarPath(dir.Path(), "alice"), Calendar(nested));
    std::vector<mail::Appointment> found;
    std::string error;
    EXPECT_FALSE(mail->FindAppointments(Entry("alice"), 0, 1 << 30, found, error));
    EXPECT_NE(error.find("nests components too deeply"), std::string::npos) << error;
}

TEST(Limits, ATenMegabyteSubjectIsCutBeforeLibicalParsesIt) {
    testing_support::ScopedTimeZone utc("UTC");
    TempDir dir;
    auto mail = MakeMailSystem(dir.Path(), {"alice"});
    ASSERT_TRUE(mail);
    mail::cache::Clear();
    // Folded as calendar programs write it, and in one line.
    std::string folded = "SUMMARY:";
    for (int i = 0; i < (10 << 20) / 74; ++i)
        folded += std::string(74, 'f') + "\n ";
    const std::string subject(10 << 20, 's');
    WriteFile(CalendarPath(dir.Path(), "alice"),
              Calendar("BEGIN:VEVENT\nUID:big\nDTSTART:20260314T150000Z\nSUMMARY:" + subject +
                       "\nEND:VEVENT\nBEGIN:VEVENT\nUID:small\nDTSTART:20260314T160000Z\n"
                       "SUMMARY:Budget review\nEND:VEVENT\nBEGIN:VEVENT\nUID:folded\n"
                       "DTSTART:20260314T170000Z\n" +
                       folded + "\nEND:VEVENT\n"));
    std::vector<mail::Appointment> found;
    std::string error;
    ASSERT_TRUE(mail->FindAppointments(Entry("alice"), Utc("2026-03-14 00:00"),
                                       Utc("2026-03-15 00:00"), found, error))
        << error;
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].subject, std::string(64 * 1024 - 8, 's')) << "cut at 64 KiB, name included";
    EXPECT_EQ(found[1].subject, "Budget review");
    EXPECT_EQ(found[2].subject, std::string(found[2].subject.size(), 'f'));
    EXPECT_LT(found[2].subject.size(), 64u * 1024);
    EXPECT_GT(found[2].subject.size(), 60u * 1024);
}
