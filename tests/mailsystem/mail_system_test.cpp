// The mail system directory: opening it, the address list file, folder names, out-of-office
// states.
#include "mailsystem/addressbook/AddressList.h"
#include "support/MailTestSupport.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace mail_test;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(AddressListTest, ReadsBlocksOfFieldsWithCommentsAndDuplicates) {
    const std::string text = "\xEF\xBB\xBF# The address list\r\n"
                             "Display-Name: Alice Archer\r\n"
                             "Address: /o=Org/cn=aarcher\r\n"
                             "Home-Store: /o=Org/cn=MAIL1\r\n"
                             "Mailbox: aarcher\r\n"
                             "\r\n\r\n"
                             "# a pager\n"
                             "display-name:Alice Archer (Pager)\n"
                             "ADDRESS :  /o=Org/cn=aarcher-pager  \n"
                             "deliver-to: 5550101@pager.example\n"
                             "   \n"
                             "Display-Name: Alice Archer\n"
                             "# comments may sit inside an entry\n"
                             "Address: alice@elsewhere.example\n"
                             "Home-Store:\n";
    std::vector<mail::AddressEntry> entries;
    std::string error;
    ASSERT_TRUE(mail::ParseAddressList(text, "list", entries, error)) << error;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].displayName, "Alice Archer");
    EXPECT_EQ(entries[0].address, "/o=Org/cn=aarcher");
    EXPECT_EQ(entries[0].homeStore, "/o=Org/cn=MAIL1");
    EXPECT_EQ(entries[0].mailbox, "aarcher");
    EXPECT_EQ(entries[0].deliverTo, "");
    EXPECT_EQ(entries[1].displayName, "Alice Archer (Pager)");
    EXPECT_EQ(entries[1].address, "/o=Org/cn=aarcher-pager");
    EXPECT_EQ(entries[1].deliverTo, "5550101@pager.example");
    EXPECT_EQ(entries[1].mailbox, "");
    EXPECT_EQ(entries[2].displayName, "Alice Archer"); // the same display name again: allowed
    EXPECT_EQ(entries[2].homeStore, "");

    // What FormatAddressList writes reads back the same.
    std::vector<mail::AddressEntry> again;
    ASSERT_TRUE(
        mail::ParseAddressList(mail::FormatAddressList(entries, "one\ntwo"), "list", again, error))
        << error;
    ASSERT_EQ(again.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(again[i].displayName, entries[i].displayName);
        EXPECT_EQ(again[i].address, entries[i].address);
        EXPECT_EQ(again[i].homeStore, entries[i].homeStore);
        EXPECT_EQ(again[i].mailbox, entries[i].mailbox);
        EXPECT_EQ(again[i].deliverTo, entries[i].deliverTo);
    }
    ASSERT_TRUE(mail::ParseAddressList("", "list", entries, error));
    EXPECT_TRUE(entries.empty());
}

TEST(AddressListTest, MalformedListsNameTheFileTheLineAndTheFault) {
    const struct {
        const char* text;
        const char* says;
    } rows[] = {
        {"Display-Name: A\nAdress: a\n", "/x/address-list.txt, line 2: unknown field \"Adress\""},
        {"Display-Name: A\nAddress: a\nAddress: b\n",
         "line 3: the entry has a second Address field"},
        {"Display-Name: A\n\nAddress: a\n",
         "line 1: the entry beginning here has no Address field"},
        {"Address: a\n", "line 1: the entry beginning here has no Display-Name field"},
        {"Display-Name: A\nAddress: a\nMailbox: ../b\n",
         "line 3: \"../b\" cannot be a mailbox folder"},
        {"Display-Name: A\nAddress: a\nMailbox: x/y\n", "line 3"},
        {"Display-Name: A\nAddress:\n", "line 2: Address may not be empty"},
        {"Display-Name: A\n  Address: a\n", "line 2: a line may not begin with a blank"},
        {"Display-Name A\n", "line 1: expected \"Field: value\""},
        {"Display-Name: A\x01\n", "line 1: the value holds a control character"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        std::vector<mail::AddressEntry> entries{mail::AddressEntry{}};
        std::string error;
        EXPECT_FALSE(mail::ParseAddressList(row.text, "/x/address-list.txt", entries, error));
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
        EXPECT_TRUE(entries.empty());
    }
}

TEST(AddressListTest, FolderNamesCannotLeaveTheMailboxesDirectory) {
    for (const char* good : {"aarcher", "Alice Archer", "x.y", "a..b", "ünïcode", "-dash"})
        EXPECT_TRUE(mail::IsValidFolderName(good)) << good;
    for (const std::string& bad :
         {std::string(""), std::string("."), std::string(".."), std::string(".hidden"),
          std::string("a/b"), std::string("../up"), std::string("a\\b"), std::string("tab\t"),
          std::string("nul\0x", 5), std::string(256, 'a')})
        EXPECT_FALSE(mail::IsValidFolderName(bad)) << bad;
    EXPECT_TRUE(mail::IsValidFolderName(std::string(255, 'a')));
}

TEST(MailSystemTest, OpeningNeedsADirectoryWithAReadableAddressList) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(mail::MailSystem::Open(dir.File("absent"), error));
    EXPECT_NE(error.find(dir.File("absent")), std::string::npos) << error;
    WriteFile(dir.File("plain"), "x");
    EXPECT_FALSE(mail::MailSystem::Open(dir.File("plain"), error));
    EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
    EXPECT_FALSE(mail::MailSystem::Open(dir.Path(), error));
    EXPECT_NE(error.find("has no address list (address-list.txt)"), std::string::npos) << error;
    WriteFile(dir.File("address-list.txt"), "Display-Name: A\n");
    EXPECT_FALSE(mail::MailSystem::Open(dir.Path(), error));
    EXPECT_NE(error.find(dir.File("address-list.txt") + ", line 1"), std::string::npos) << error;
    EXPECT_FALSE(mail::MailSystem::Open("", error));

    WriteFile(dir.File("address-list.txt"), "");
    auto system = mail::MailSystem::Open(dir.Path() + "/./", error);
    ASSERT_TRUE(system) << error;
    EXPECT_EQ(system->Directory(), dir.Path());
    EXPECT_EQ(system->OutboxDirectory(), dir.Path() + "/outbox");
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() + "/outbox"));
}

TEST(MailSystemTest, LooksUpEntriesAndSeesTheListChange) {
    TempDir dir;
    auto system = MakeMailSystem(dir.Path(), {"one", "two"});
    ASSERT_TRUE(system);
    std::string error;
    const auto byName = [&](const std::string& name) {
        std::vector<mail::AddressEntry> found;
        EXPECT_TRUE(system->FindByDisplayName(name, found, error)) << error;
        return found.size();
    };
    std::vector<mail::AddressEntry> found;
    EXPECT_EQ(byName("User one"), 1u);
    EXPECT_EQ(byName("user one"), 0u); // exact, byte for byte
    EXPECT_TRUE(system->FindByAddress("/o=Test/cn=two", found, error)) << error;
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(system->MailboxDirectory(Entry("two")), dir.Path() + "/mailboxes/two");
    mail::AddressEntry escaping = Entry("two");
    escaping.mailbox = "..";
    EXPECT_EQ(system->MailboxDirectory(escaping), "");

    std::vector<mail::AddressEntry> entries = {Entry("one"), Entry("one"), Entry("three")};
    entries[1].address = "/o=Test/cn=one-again";
    WriteFile(dir.File("address-list.txt"), mail::FormatAddressList(entries, ""));
    EXPECT_EQ(byName("User one"), 2u); // ambiguous: both are reported
    EXPECT_EQ(byName("User two"), 0u);
    std::vector<mail::AddressEntry> all;
    ASSERT_TRUE(system->AddressList(all, error)) << error;
    EXPECT_EQ(all.size(), 3u);

    WriteFile(dir.File("address-list.txt"), "broken\n");
    EXPECT_FALSE(system->AddressList(all, error));
    EXPECT_TRUE(all.empty());
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    // A list that cannot be read fails the lookups too, with the same sentence.
    std::string lookupError;
    EXPECT_FALSE(system->FindByAddress("/o=Test/cn=three", found, lookupError));
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(lookupError, error);
}

TEST(MailSystemTest, OutOfOfficeStates) {
    TempDir dir;
    auto system = MakeMailSystem(dir.Path(), {"box"});
    ASSERT_TRUE(system);
    const std::string path = dir.Path() + "/mailboxes/box/out-of-office";
    EXPECT_EQ(system->ReadOutOfOffice(Entry("box")), mail::OutOfOffice::Missing);
    const struct {
        const char* text;
        mail::OutOfOffice state;
    } rows[] = {
        {"out\n", mail::OutOfOffice::Out},
        {"in", mail::OutOfOffice::In},
        {"  OUT \r\n", mail::OutOfOffice::Out},
        {"# set by hand\nyes\n", mail::OutOfOffice::Out},
        {"no", mail::OutOfOffice::In},
        {"true", mail::OutOfOffice::Out},
        {"off", mail::OutOfOffice::In},
        {"1", mail::OutOfOffice::Out},
        {"0", mail::OutOfOffice::In},
        {"", mail::OutOfOffice::Missing},
        {"# nothing\n\n", mail::OutOfOffice::Missing},
        {"maybe", mail::OutOfOffice::Unreadable},
        {"out\nin\n", mail::OutOfOffice::Unreadable},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        WriteFile(path, row.text);
        EXPECT_EQ(system->ReadOutOfOffice(Entry("box")), row.state);
    }
    // What decided, or why nothing could be read, with the kind of failure.
    using Failure = mail::OutOfOfficeNote::Failure;
    mail::AddressEntry pager = Entry("box");
    pager.mailbox.clear();
    const struct {
        const char* text; // null: the file is a directory
        mail::AddressEntry entry;
        mail::OutOfOffice state;
        std::string why;
        Failure failure;
    } notes[] = {
        {"out\n", Entry("box"), mail::OutOfOffice::Out, "The file " + path + " says out.",
         Failure::None},
        {"no\n", Entry("box"), mail::OutOfOffice::In, "The file " + path + " says in.",
         Failure::None},
        {"# nothing\n", Entry("box"), mail::OutOfOffice::Missing,
         "The file " + path + " holds nothing but comments, so no state is stored.", Failure::None},
        {"maybe", Entry("box"), mail::OutOfOffice::Unreadable,
         "The file " + path + " holds neither \"out\" nor \"in\"", Failure::Damaged},
        {nullptr, Entry("box"), mail::OutOfOffice::Unreadable,
         "The file " + path + " cannot be read: Is a directory.", Failure::Damaged},
        {nullptr, Entry("absent"), mail::OutOfOffice::Unreadable,
         "The mailbox folder " + dir.Path() + "/mailboxes/absent of ", Failure::NoMailbox},
        {nullptr, pager, mail::OutOfOffice::Unreadable, " has no mailbox in the mail system ",
         Failure::NoMailbox},
    };
    for (const auto& row : notes) {
        SCOPED_TRACE(row.why);
        std::filesystem::remove(path);
        if (row.text)
            WriteFile(path, row.text);
        else
            std::filesystem::create_directory(path);
        mail::OutOfOfficeNote note;
        EXPECT_EQ(system->ReadOutOfOffice(row.entry, note), row.state);
        EXPECT_NE(note.why.find(row.why), std::string::npos) << note.why;
        EXPECT_EQ(note.failure, row.failure);
    }
    std::filesystem::remove(path);
    mail::OutOfOfficeNote note;
    EXPECT_EQ(system->ReadOutOfOffice(Entry("box"), note), mail::OutOfOffice::Missing);
    EXPECT_EQ(note.why, "The mailbox folder " + dir.Path() +
                            "/mailboxes/box holds no out-of-office file, so no out-of-office "
                            "state is stored.");
}

} // namespace
