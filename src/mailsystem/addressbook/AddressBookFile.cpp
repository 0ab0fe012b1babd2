// The address book kept in the mail system's address-list.txt.
#include "core/FileStamp.h"
#include "mailsystem/addressbook/AddressBook.h"
#include "mailsystem/addressbook/AddressList.h"

#include <cstring>
#include <unordered_map>
#include <vector>

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
        return Select(m_byDisplayName, name, found, error);
    }

    bool FindByAddress(const std::string& address, std::vector<AddressEntry>& found,
                       std::string& error) override {
        return Select(m_byAddress, address, found, error);
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
        m_byAddress.clear();
        m_byDisplayName.clear();
        for (size_t i = 0; i < m_entries.size(); ++i) {
            m_byAddress[m_entries[i].address].push_back(i);
            m_byDisplayName[m_entries[i].displayName].push_back(i);
        }
        m_stamp = stamp;
        m_loaded = true;
        return true;
    }

    // Positions in m_entries, in file order, by the exact bytes of one field.
    using Index = std::unordered_map<std::string, std::vector<size_t>>;

    // The entries whose field is exactly `value`, in file order: a look-up, not a walk of the
    // list, since every scan and every page looks a name up in lists of many thousands.
    bool Select(const Index& index, const std::string& value, std::vector<AddressEntry>& found,
                std::string& error) {
        found.clear();
        if (!Load(error))
            return false;
        if (auto hit = index.find(value); hit != index.end()) {
            for (size_t i : hit->second)
                found.push_back(m_entries[i]);
        }
        return true;
    }

    std::string m_path;
    FileStamp m_stamp;
    bool m_loaded = false;
    std::vector<AddressEntry> m_entries;
    Index m_byAddress, m_byDisplayName; // rebuilt with m_entries
};

} // namespace

std::unique_ptr<AddressBook> NewFileAddressBook(const std::string& path) {
    return std::make_unique<FileAddressBook>(path);
}

} // namespace mail
