// The global address list file: blocks of "Field: value" lines, one block per entry.
#pragma once

#include "mailsystem/addressbook/AddressBook.h"
#include "mailsystem/model/Items.h"

#include <string>
#include <string_view>
#include <vector>

namespace mail {

// The field names, as written by FormatAddressList (read without regard to case).
inline constexpr const char* kFieldDisplayName = "Display-Name";
inline constexpr const char* kFieldAddress = "Address";
inline constexpr const char* kFieldHomeStore = "Home-Store";
inline constexpr const char* kFieldMailbox = "Mailbox";
inline constexpr const char* kFieldDeliverTo = "Deliver-To";

// Reads an address list. Entries are separated by blank lines; lines starting with "#" are
// comments. Display-Name and Address are required; the others may be left out. False, with a
// sentence naming `fileName` and the line, when the text is malformed; `entries` then holds
// nothing.
bool ParseAddressList(std::string_view text, const std::string& fileName,
                      std::vector<AddressEntry>& entries, std::string& error);

// The text of an address list holding `entries`, after `comment` (lines that become "# "
// comments). Values must hold no line ends.
std::string FormatAddressList(const std::vector<AddressEntry>& entries, std::string_view comment);

} // namespace mail
