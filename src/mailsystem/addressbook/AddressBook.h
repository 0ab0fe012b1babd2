// The global address list, wherever it is kept: the mail system's address-list.txt or an LDAP
// directory (ldap/LdapAddressBook.h). Every reader of the address list goes through this interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace mail {

struct AddressEntry;

// The address list file's name in a mail system directory.
inline constexpr const char* kAddressListFileName = "address-list.txt";

class AddressBook {
public:
    virtual ~AddressBook() = default;

    // The whole address list in the source's order (file order, or the directory's, stable
    // between reads). False, with a sentence in `error` naming the source and the cause, when it
    // cannot be read whole; `entries` is then empty: a part is never handed out as the whole.
    virtual bool AddressList(std::vector<AddressEntry>& entries, std::string& error) = 0;

    // The entries whose display name equals `name` exactly (byte for byte), in list order. A
    // name matches no entry or one, or several (an ambiguous name). False, with a sentence in
    // `error`, when the source cannot be searched.
    virtual bool FindByDisplayName(const std::string& name, std::vector<AddressEntry>& found,
                                   std::string& error) = 0;
    // The entries whose address equals `address` exactly, as FindByDisplayName.
    virtual bool FindByAddress(const std::string& address, std::vector<AddressEntry>& found,
                               std::string& error) = 0;
};

// The address list file at `path` (AddressList.h), read again whenever it changes.
std::unique_ptr<AddressBook> NewFileAddressBook(const std::string& path);

} // namespace mail
