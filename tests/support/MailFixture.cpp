// Mail system directories and profiles for tests.
#include "support/MailFixture.h"

#include <algorithm>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {

MailFixture::MailFixture() : m_directory(m_dir.File("mail")) {
    EXPECT_EQ(mkdir(m_directory.c_str(), 0700), 0);
    EXPECT_EQ(mkdir((m_directory + "/mailboxes").c_str(), 0700), 0);
    EXPECT_EQ(mkdir(Outbox().c_str(), 0700), 0);
    WriteAddressList("# Test address list\n");
}

void MailFixture::Add(const mail::AddressEntry& entry, std::optional<std::string> outOfOffice) {
    m_entries.push_back(entry);
    std::string text = "# Test address list\n";
    for (const mail::AddressEntry& e : m_entries) {
        text += "\nDisplay-Name: " + e.displayName + "\nAddress: " + e.address + "\n";
        if (!e.homeStore.empty())
            text += "Home-Store: " + e.homeStore + "\n";
        if (!e.mailbox.empty())
            text += "Mailbox: " + e.mailbox + "\n";
        if (!e.deliverTo.empty())
            text += "Deliver-To: " + e.deliverTo + "\n";
    }
    WriteAddressList(text);
    if (!entry.mailbox.empty()) {
        const std::string folder = MailboxDirectory(entry.mailbox);
        mkdir(folder.c_str(), 0700);
        if (outOfOffice)
            WriteFile(folder + "/out-of-office", *outOfOffice);
    }
}

void MailFixture::WriteAddressList(const std::string& text) {
    WriteFile(m_directory + "/address-list.txt", text);
}

std::string MailFixture::MailboxDirectory(const std::string& folder) const {
    return m_directory + "/mailboxes/" + folder;
}

std::vector<std::string> MailFixture::OutboxMessages() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(Outbox().c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name[0] != '.' && name.compare(name.size() - 4, 4, ".eml") == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> messages;
    for (const std::string& name : names)
        messages.push_back(ReadFile(Outbox() + "/" + name));
    return messages;
}

void MailFixture::UseProfile(const std::string& name, const mail::TransportConfig& transport) {
    mail::Profiles profiles;
    profiles.Set({name, m_directory, transport, {}});
    ASSERT_TRUE(profiles.SetDefault(name));
    std::string error;
    ASSERT_TRUE(profiles.Save(error)) << error;
}

void MailFixture::AddProfile(const std::string& name, const std::string& mailSystem,
                             const mail::TransportConfig& transport) {
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    profiles.Set({name, mailSystem, transport, {}});
    ASSERT_TRUE(profiles.Save(error)) << error;
}

void MailFixture::UseOutOfOfficeServer(const std::string& name,
                                       const mail::sieve::SieveConfig& server) {
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    const mail::Profile* found = profiles.Find(name);
    ASSERT_NE(found, nullptr) << name;
    mail::Profile profile = *found;
    profile.outOfOffice = server;
    profiles.Set(profile);
    ASSERT_TRUE(profiles.Save(error)) << error;
}

void MailFixture::RemoveProfiles() {
    unlink(mail::Profiles::FilePath().c_str());
}

mail::TransportConfig SmtpTransport(const std::string& url) {
    mail::TransportConfig c;
    c.kind = mail::TransportConfig::Kind::Smtp;
    c.url = url;
    c.sender = "orvane@example.org";
    return c;
}

} // namespace testing_support
