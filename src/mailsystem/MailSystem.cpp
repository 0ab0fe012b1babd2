// A mail system directory: the address list, the mailbox folders and the outbox.
#include "mailsystem/MailSystem.h"

#include "core/FileStamp.h"
#include "mailsystem/OutOfOfficeServer.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/addressbook/AddressList.h"
#include "mailsystem/ical/CalendarCache.h"
#include "mailsystem/ldap/LdapAddressBook.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace mail {
namespace {

constexpr size_t kMaxStateFileSize = 4096;

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class DirectoryMailSystem final : public MailSystem {
public:
    DirectoryMailSystem(std::string directory, std::unique_ptr<AddressBook> book)
        : m_directory(std::move(directory)), m_book(std::move(book)) {}

    const std::string& Directory() const override { return m_directory; }
    bool AddressList(std::vector<AddressEntry>& entries, std::string& error) override {
        return m_book->AddressList(entries, error);
    }
    bool FindByDisplayName(const std::string& name, std::vector<AddressEntry>& found,
                           std::string& error) override {
        return m_book->FindByDisplayName(name, found, error);
    }
    bool FindByAddress(const std::string& address, std::vector<AddressEntry>& found,
                       std::string& error) override {
        return m_book->FindByAddress(address, found, error);
    }
    std::string MailboxDirectory(const AddressEntry& entry) const override;
    OutOfOffice ReadOutOfOffice(const AddressEntry& entry, OutOfOfficeNote& note) override;
    bool FindAppointments(const AddressEntry& mailbox, int64_t from, int64_t to,
                          std::vector<Appointment>& out, std::string& error) override;
    bool FindTasks(const AddressEntry& mailbox, std::vector<Task>& out,
                   std::string& error) override;
    void ReadAhead(const AddressEntry& mailbox, int64_t from, int64_t to) override;
    std::string OutboxDirectory() const override {
        return m_directory + "/" + kOutboxDirectoryName;
    }

private:
    // The mailbox folder, or empty with `error` set when the entry has none that exists.
    std::string ExistingMailbox(const AddressEntry& entry, std::string& error) const;

    std::string m_directory;
    std::unique_ptr<AddressBook> m_book;
};

std::string DirectoryMailSystem::MailboxDirectory(const AddressEntry& entry) const {
    if (!IsValidFolderName(entry.mailbox))
        return {};
    return m_directory + "/" + kMailboxesDirectoryName + "/" + entry.mailbox;
}

std::string DirectoryMailSystem::ExistingMailbox(const AddressEntry& entry,
                                                 std::string& error) const {
    const std::string folder = MailboxDirectory(entry);
    if (folder.empty()) {
        error = entry.mailbox.empty()
                    ? entry.displayName + " has no mailbox in the mail system " + m_directory + "."
                    : "\"" + entry.mailbox + "\" is not a valid mailbox folder name.";
        return {};
    }
    if (!IsDirectory(folder)) {
        error = "The mailbox folder " + folder + " of " + entry.displayName + " does not exist.";
        return {};
    }
    return folder;
}

OutOfOffice DirectoryMailSystem::ReadOutOfOffice(const AddressEntry& entry, OutOfOfficeNote& note) {
    note = OutOfOfficeNote{};
    const std::string folder = ExistingMailbox(entry, note.why);
    if (folder.empty()) {
        note.failure = OutOfOfficeNote::Failure::NoMailbox;
        return OutOfOffice::Unreadable;
    }
    const std::string path = folder + "/" + kOutOfOfficeFileName;
    std::string bytes;
    FileStamp stamp;
    int readError = 0;
    switch (ReadWholeFile(path, kMaxStateFileSize, bytes, stamp, readError)) {
    case ReadStatus::Missing:
        note.why = "The mailbox folder " + folder + " holds no " + kOutOfOfficeFileName +
                   " file, so no out-of-office state is stored.";
        return OutOfOffice::Missing;
    case ReadStatus::Failed:
        note.why = "The file " + path + " cannot be read: " +
                   (readError == EFBIG
                        ? "it is larger than " + std::to_string(kMaxStateFileSize) + " bytes"
                        : std::string(std::strerror(readError))) +
                   ".";
        note.failure = OutOfOfficeNote::Failure::Damaged;
        return OutOfOffice::Unreadable;
    case ReadStatus::Ok:
        break;
    }
    const OutOfOffice state = ParseOutOfOffice(bytes);
    switch (state) {
    case OutOfOffice::Out:
        note.why = "The file " + path + " says out.";
        break;
    case OutOfOffice::In:
        note.why = "The file " + path + " says in.";
        break;
    case OutOfOffice::Missing:
        note.why = "The file " + path + " holds nothing but comments, so no state is stored.";
        break;
    case OutOfOffice::Unreadable:
        note.why = "The file " + path + " holds neither \"out\" nor \"in\" (nor yes or no, " +
                   "true or false, on or off, 1 or 0) as its one word.";
        note.failure = OutOfOfficeNote::Failure::Damaged;
        break;
    }
    return state;
}

bool DirectoryMailSystem::FindAppointments(const AddressEntry& mailbox, int64_t from, int64_t to,
                                           std::vector<Appointment>& out, std::string& error) {
    out.clear();
    const std::string folder = ExistingMailbox(mailbox, error);
    if (folder.empty())
        return false;
    // Ranges reach at most some 35,000 years either way, so that margins added to them stay
    // far from overflowing.
    constexpr int64_t kFarthest = int64_t(1) << 40;
    from = std::max(from, -kFarthest);
    to = std::min(to, kFarthest);
    if (from > to)
        return true;
    const calendar::Window window{from, to};
    // Both files may hold events and tasks (as some programs export them together). Each file's
    // occurrences come ordered by start; the second file's are merged in after equal starts.
    size_t firstFile = 0;
    for (const char* name : {kCalendarFileName, kTasksFileName}) {
        const cache::Status status = cache::WithFile(
            folder + "/" + name, &window,
            [&](const calendar::FileContents& contents) {
                calendar::AppendAppointments(contents, from, to, out);
            },
            error);
        if (status == cache::Status::Failed) {
            out.clear();
            return false;
        }
        if (name == kCalendarFileName)
            firstFile = out.size();
    }
    std::inplace_merge(
        out.begin(), out.begin() + std::ptrdiff_t(firstFile), out.end(),
        [](const Appointment& a, const Appointment& b) { return a.start < b.start; });
    return true;
}

void DirectoryMailSystem::ReadAhead(const AddressEntry& mailbox, int64_t from, int64_t to) {
    const std::string folder = MailboxDirectory(mailbox);
    if (folder.empty() || !IsDirectory(folder))
        return; // FindAppointments says why
    constexpr int64_t kFarthest = int64_t(1) << 40;
    from = std::max(from, -kFarthest);
    to = std::min(to, kFarthest);
    if (from > to)
        return;
    for (const char* name : {kCalendarFileName, kTasksFileName})
        cache::ReadAhead(folder + "/" + name, calendar::Window{from, to});
}

bool DirectoryMailSystem::FindTasks(const AddressEntry& mailbox, std::vector<Task>& out,
                                    std::string& error) {
    out.clear();
    const std::string folder = ExistingMailbox(mailbox, error);
    if (folder.empty())
        return false;
    for (const char* name : {kTasksFileName, kCalendarFileName}) {
        const cache::Status status = cache::WithFile(
            folder + "/" + name, nullptr,
            [&](const calendar::FileContents& contents) {
                out.insert(out.end(), contents.tasks.begin(), contents.tasks.end());
            },
            error);
        if (status == cache::Status::Failed) {
            out.clear();
            return false;
        }
    }
    return true;
}

// The mail system directory as an absolute path without a trailing "/"; empty, with `error`,
// when it is no directory.
std::string CheckedDirectory(const std::string& directory, std::string& error) {
    if (directory.empty()) {
        error = "No mail system directory is given.";
        return {};
    }
    std::error_code ec;
    std::string path = std::filesystem::absolute(directory, ec).lexically_normal().string();
    if (ec)
        path = directory;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = "The mail system directory " + path + " cannot be opened: " + std::strerror(errno) +
                ".";
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + " is not a directory, so it cannot be a mail system.";
        return {};
    }
    return path;
}

std::shared_ptr<MailSystem> OpenWith(const std::string& path, std::unique_ptr<AddressBook> book) {
    auto system = std::make_shared<DirectoryMailSystem>(path, std::move(book));
    // The local transport delivers here; a read-only mail system simply has none yet, which
    // the transport reports when it is used.
    mkdir(system->OutboxDirectory().c_str(), 0777);
    return system;
}

} // namespace

std::shared_ptr<MailSystem> MailSystem::Open(const std::string& directory, std::string& error) {
    const std::string path = CheckedDirectory(directory, error);
    if (path.empty())
        return nullptr;
    std::unique_ptr<AddressBook> book = NewFileAddressBook(path + "/" + kAddressListFileName);
    // A mail system without a readable address list is refused at once.
    std::vector<AddressEntry> entries;
    if (!book->AddressList(entries, error))
        return nullptr;
    return OpenWith(path, std::move(book));
}

std::shared_ptr<MailSystem> MailSystem::OpenWithoutCalendarServer(const Profile& profile,
                                                                  std::string& error) {
    std::shared_ptr<MailSystem> system;
    if (profile.ldap.url.empty()) {
        system = Open(profile.mailSystem, error);
    } else {
        const std::string path = CheckedDirectory(profile.mailSystem, error);
        if (path.empty())
            return nullptr;
        std::unique_ptr<AddressBook> book =
            NewLdapAddressBook(profile.ldap, CurrentLdapLimits(), error);
        if (!book)
            return nullptr;
        system = OpenWith(path, std::move(book));
    }
    if (!system || profile.outOfOffice.url.empty())
        return system;
    // Like the LDAP directory, the Sieve server is not contacted before the first reading.
    const std::string problem = sieve::CheckSieveConfig(profile.outOfOffice);
    if (!problem.empty()) {
        error = "The out-of-office server of the profile \"" + profile.name +
                "\" cannot be used: " + problem;
        return nullptr;
    }
    return WithOutOfOfficeServer(std::move(system), profile.outOfOffice);
}

} // namespace mail
