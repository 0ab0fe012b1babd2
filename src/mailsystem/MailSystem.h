// A mail system on disk: the global address list, one folder per mailbox, and the outbox.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace mail {

// One entry of the global address list.
struct AddressEntry {
    std::string displayName;  // PR_DISPLAY_NAME
    std::string address;      // PR_EMAIL_ADDRESS; for a mailbox, the name users store as MailboxName
    std::string homeStore;    // PR_EMS_AB_HOME_MDB: distinguished name of the home message store
    std::string mailbox;      // the entry's folder under mailboxes/; empty when it has no mailbox
    std::string deliverTo;    // where mail for the entry is delivered (a pager gateway's address);
                              // empty: to `address`
};

// The out-of-office state of a mailbox as stored.
enum class OutOfOffice { In, Out, Missing /* no state stored */, Unreadable };

// A mail system directory (see docs/mailsystem.md). Thread-compatible; every read goes to the
// files again unless the files are unchanged since the last read.
class MailSystem {
public:
    virtual ~MailSystem() = default;

    // Opens `directory`; null, with a sentence in `error`, when it holds no readable address list.
    static std::shared_ptr<MailSystem> Open(const std::string& directory, std::string& error);

    virtual const std::string& Directory() const = 0;

    // The address list in file order. False, with `error`, when it cannot be read.
    virtual bool AddressList(std::vector<AddressEntry>& entries, std::string& error) = 0;

    // The entries whose display name equals `name` exactly (byte for byte).
    virtual std::vector<AddressEntry> FindByDisplayName(const std::string& name) = 0;
    // The entries whose address equals `address` exactly.
    virtual std::vector<AddressEntry> FindByAddress(const std::string& address) = 0;

    // The mailbox folder of an entry with a mailbox; empty when it has none.
    virtual std::string MailboxDirectory(const AddressEntry& entry) const = 0;
    virtual OutOfOffice ReadOutOfOffice(const AddressEntry& entry) = 0;

    // Where the local transport delivers: one message a file, renamed into place when whole.
    virtual std::string OutboxDirectory() const = 0;
};

}  // namespace mail
