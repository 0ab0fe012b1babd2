// A one-mailbox mail system on disk for scan tests.
#include "ScanFixture.h"

#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressList.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace outlook_test {

ScanMailSystem::ScanMailSystem() {
    namespace fs = std::filesystem;
    std::vector<mail::AddressEntry> entries(2);
    entries[0].displayName = "Scanned User";
    entries[0].address = kMailbox;
    entries[0].homeStore = "/o=Quorvik/ou=Test/cn=Servers/cn=MAIL1";
    entries[0].mailbox = "scanned";
    entries[1].displayName = "Scanned User (Pager)";
    entries[1].address = "pager-scanned";
    entries[1].deliverTo = "5550100@pager.example.com";
    testing_support::WriteFile(m_dir.File(mail::kAddressListFileName),
                               mail::FormatAddressList(entries, "test"));
    m_mailbox = m_dir.File(std::string(mail::kMailboxesDirectoryName) + "/scanned");
    fs::create_directories(m_mailbox);
    fs::create_directories(m_dir.File(mail::kOutboxDirectoryName));

    mail::Profiles profiles;
    std::string error;
    mail::Profile profile;
    profile.name = kProfile;
    profile.mailSystem = m_dir.Path();
    profiles.Set(profile);
    EXPECT_TRUE(profiles.SetDefault(kProfile));
    EXPECT_TRUE(profiles.Save(error)) << error;
}

void ScanMailSystem::SetCalendar(const std::string& ics) {
    if (!ics.empty())
        testing_support::WriteFile(m_mailbox + "/" + mail::kCalendarFileName, ics);
}

void ScanMailSystem::SetTasks(const std::string& ics) {
    if (!ics.empty())
        testing_support::WriteFile(m_mailbox + "/" + mail::kTasksFileName, ics);
}

} // namespace outlook_test
