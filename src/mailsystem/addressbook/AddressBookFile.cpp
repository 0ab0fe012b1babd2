// The address book kept in the mail system's address-list.txt.
#include "core/FileStamp.h"
#include "mailsystem/addressbook/AddressBook.h"
#include "mailsystem/addressbook/AddressList.h"

#include <cstring>

namespace mail {
namespace {

constexpr size_t kMaxAddressListSize = 64u << 20;

class FileAddressBook final : public AddressBook {
public:
    explicit FileAddressBook(std::string path) : m_path(std::move(path)) {}

    bool AddressList(std::vector<AddressEntry>& entries, std::string& error) override {
        if (!Load(error)) {
            entries.clear();
            return false;
        }
        entries = m_entries;
        return true;
    }

    bool FindByDisplayName(const std::string& name, std::vector<AddressEntry>& found,
                           std::string& error) override {
        return Select(&AddressEntry::displayName, name, found, error);
    }

    bool FindByAddress(const std::string& address, std::vector<AddressEntry>& found,
                       std::string& error) override {
        return Select(&AddressEntry::address, address, found, error);
    }

private:
    // Reads the file unless it is unchanged since the last reading.
    bool Load(std::string& error) {
        if (m_loaded && Unchanged(m_path, m_stamp))
            return true;
        m_loaded = false;
        m_entries.clear();
        std::string bytes;
        FileStamp stamp;
        int readError = 0;
        switch (ReadWholeFile(m_path, kMaxAddressListSize, bytes, stamp, readError)) {
        case ReadStatus::Missing:
            error = "The mail system " + m_path.substr(0, m_path.rfind('/')) +
                    " has no address list (" + kAddressListFileName + ").";
            return false;
        case ReadStatus::Failed:
            error = "The address list " + m_path + " cannot be read: " +
                    (readError == EFBIG ? std::string("it is larger than 64 MiB")
                                        : std::strerror(readError)) +
                    ".";
            return false;
        case ReadStatus::Ok:
            break;
        }
        std::vector<AddressEntry> entries;
        if (!ParseAddressList(bytes, m_path, entries, error)) {
            error += ".";
            return false;
        }
        m_entries = std::move(entries);
        m_stamp = stamp;
        m_loaded = true;
        return true;
    }

    bool Select(std::string AddressEntry::*field, const std::string& value,
                std::vector<AddressEntry>& found, std::string& error) {
        found.clear();
        if (!Load(error))
            return false;
        for (const AddressEntry& e : m_entries) {
            if (e.*field == value)
                found.push_back(e);
        }
        return true;
    }

    std::string m_path;
    FileStamp m_stamp;
    bool m_loaded = false;
    std::vector<AddressEntry> m_entries;
};

} // namespace

std::unique_ptr<AddressBook> NewFileAddressBook(const std::string& path) {
    return std::make_unique<FileAddressBook>(path);
}

} // namespace mail
