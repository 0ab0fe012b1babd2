// Out-of-office states from a Sieve server in front of a mail system directory.
#include "mailsystem/OutOfOfficeServer.h"

#include "mailsystem/WrappedMailSystem.h"

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

class OutOfOfficeServerMailSystem final : public WrappedMailSystem {
public:
    OutOfOfficeServerMailSystem(std::shared_ptr<MailSystem> directory, sieve::SieveConfig config)
        : WrappedMailSystem(std::move(directory)), m_reader(std::move(config)) {}

    using MailSystem::ReadOutOfOffice;
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
    sieve::SieveOutOfOfficeReader m_reader;
};

} // namespace

std::shared_ptr<MailSystem> WithOutOfOfficeServer(std::shared_ptr<MailSystem> directory,
                                                  const sieve::SieveConfig& config) {
    return std::make_shared<OutOfOfficeServerMailSystem>(std::move(directory), config);
}

} // namespace mail
