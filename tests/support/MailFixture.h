// A mail system directory and mail profiles made for one test, written as a person would.
#pragma once

#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "support/TestSupport.h"

#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class MailFixture {
public:
    // An empty mail system (address list, mailboxes/, outbox/) in a fresh directory.
    MailFixture();

    // Adds an entry to the address list file. An entry with a mailbox gets its folder, and an
    // out-of-office file holding `outOfOffice` when that is given.
    void Add(const mail::AddressEntry& entry,
             std::optional<std::string> outOfOffice = std::nullopt);
    // Rewrites the address list file with exactly `text`.
    void WriteAddressList(const std::string& text);

    const std::string& Directory() const { return m_directory; }
    std::string MailboxDirectory(const std::string& folder) const;
    std::string Outbox() const { return m_directory + "/outbox"; }
    // The messages in the outbox (files whose names end in ".eml"), oldest name first.
    std::vector<std::string> OutboxMessages() const;

    // Replaces the user's profiles with one profile for this mail system (the default).
    void UseProfile(const std::string& name, const mail::TransportConfig& transport = {});
    // Adds another profile; it does not become the default.
    void AddProfile(const std::string& name, const std::string& mailSystem,
                    const mail::TransportConfig& transport = {});
    // Has the profile `name` read out-of-office states from `server` (empty URL: the files).
    static void UseOutOfOfficeServer(const std::string& name,
                                     const mail::sieve::SieveConfig& server);
    // Removes the profiles file altogether.
    static void RemoveProfiles();

private:
    TempDir m_dir;
    std::string m_directory;
    std::vector<mail::AddressEntry> m_entries;
};

// An SMTP transport configuration for `url` with a fixed sender.
mail::TransportConfig SmtpTransport(const std::string& url);

} // namespace testing_support
