// A mail system that replaces part of another one: every call it does not override goes to the
// wrapped mail system, so that a call added to MailSystem reaches it without each wrapper
// forwarding it by hand.
#pragma once

#include "mailsystem/MailSystem.h"

#include <memory>

namespace mail {

class WrappedMailSystem : public MailSystem {
public:
    explicit WrappedMailSystem(std::shared_ptr<MailSystem> wrapped)
        : m_wrapped(std::move(wrapped)) {}

    const std::string& Directory() const override { return m_wrapped->Directory(); }
    bool AddressList(std::vector<AddressEntry>& entries, std::string& error) override {
        return m_wrapped->AddressList(entries, error);
    }
    bool FindByDisplayName(const std::string& name, std::vector<AddressEntry>& found,
                           std::string& error) override {
        return m_wrapped->FindByDisplayName(name, found, error);
    }
    bool FindByAddress(const std::string& address, std::vector<AddressEntry>& found,
                       std::string& error) override {
        return m_wrapped->FindByAddress(address, found, error);
    }
    std::string MailboxDirectory(const AddressEntry& entry) const override {
        return m_wrapped->MailboxDirectory(entry);
    }
    using MailSystem::ReadOutOfOffice;
    OutOfOffice ReadOutOfOffice(const AddressEntry& entry, OutOfOfficeNote& note) override {
        return m_wrapped->ReadOutOfOffice(entry, note);
    }
    bool FindAppointments(const AddressEntry& mailbox, int64_t from, int64_t to,
                          std::vector<Appointment>& out, std::string& error) override {
        return m_wrapped->FindAppointments(mailbox, from, to, out, error);
    }
    bool FindTasks(const AddressEntry& mailbox, std::vector<Task>& out,
                   std::string& error) override {
        return m_wrapped->FindTasks(mailbox, out, error);
    }
    void ReadAhead(const AddressEntry& mailbox, int64_t from, int64_t to) override {
        m_wrapped->ReadAhead(mailbox, from, to);
    }
    std::string OutboxDirectory() const override { return m_wrapped->OutboxDirectory(); }

private:
    std::shared_ptr<MailSystem> m_wrapped;
};

} // namespace mail
