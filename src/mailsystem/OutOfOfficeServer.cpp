// Out-of-office states from a Sieve server in front of a mail system directory.
#include "mailsystem/OutOfOfficeServer.h"

namespace mail {
namespace {

using Failure = sieve::SieveOutOfOfficeReader::Failure;

OutOfOfficeNote::Failure NoteFailure(Failure failure) {
    switch (failure) {
    case Failure::Unreachable:
        return OutOfOfficeNote::Failure::Unreachable;
    case Failure::Refused:
        return OutOfOfficeNote::Failure::Refused;
    case Failure::NoSuchUser:
        return OutOfOfficeNote::Failure::NoMailbox;
    case Failure::Script:
        return OutOfOfficeNote::Failure::Damaged;
    }
    return OutOfOfficeNote::Failure::Unreachable;
}

class OutOfOfficeServerMailSystem final : public MailSystem {
public:
    OutOfOfficeServerMailSystem(std::shared_ptr<MailSystem> directory, sieve::SieveConfig config)
        : m_directory(std::move(directory)), m_reader(std::move(config)) {}

    const std::string& Directory() const override { return m_directory->Directory(); }
    bool AddressList(std::vector<AddressEntry>& entries, std::string& error) override {
        return m_directory->AddressList(entries, error);
    }
    bool FindByDisplayName(const std::string& name, std::vector<AddressEntry>& found,
                           std::string& error) override {
        return m_directory->FindByDisplayName(name, found, error);
    }
    bool FindByAddress(const std::string& address, std::vector<AddressEntry>& found,
                       std::string& error) override {
        return m_directory->FindByAddress(address, found, error);
    }
    std::string MailboxDirectory(const AddressEntry& entry) const override {
        return m_directory->MailboxDirectory(entry);
    }
    bool FindAppointments(const AddressEntry& mailbox, int64_t from, int64_t to,
                          std::vector<Appointment>& out, std::string& error) override {
        return m_directory->FindAppointments(mailbox, from, to, out, error);
    }
    void ReadAhead(const AddressEntry& mailbox, int64_t from, int64_t to) override {
        m_directory->ReadAhead(mailbox, from, to);
    }
    bool FindTasks(const AddressEntry& mailbox, std::vector<Task>& out,
                   std::string& error) override {
        return m_directory->FindTasks(mailbox, out, error);
    }
    std::string OutboxDirectory() const override { return m_directory->OutboxDirectory(); }

    OutOfOffice ReadOutOfOffice(const AddressEntry& entry, OutOfOfficeNote& note) override {
        note = OutOfOfficeNote{};
        if (entry.mailbox.empty()) {
            note.why = entry.displayName + " has no mailbox, so it has no out-of-office state.";
            note.failure = OutOfOfficeNote::Failure::NoMailbox;
            return OutOfOffice::Unreadable;
        }
        sieve::Verdict verdict;
        Failure failure = Failure::Unreachable;
        if (!m_reader.Read(entry.mailbox, verdict, note.why, failure)) {
            note.failure = NoteFailure(failure);
            return OutOfOffice::Unreadable;
        }
        note.why = verdict.reason;
        return verdict.out ? OutOfOffice::Out : OutOfOffice::In;
    }

private:
    std::shared_ptr<MailSystem> m_directory;
    sieve::SieveOutOfOfficeReader m_reader;
};

} // namespace

std::shared_ptr<MailSystem> WithOutOfOfficeServer(std::shared_ptr<MailSystem> directory,
                                                  const sieve::SieveConfig& config) {
    return std::make_shared<OutOfOfficeServerMailSystem>(std::move(directory), config);
}

} // namespace mail
