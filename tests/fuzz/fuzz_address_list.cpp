// The global address list as people type it: the same answer twice, entries that keep the
// reader's promises, and a list that was read written back so that it reads the same and writes
// the same bytes again.
#include "FuzzCheck.h"
#include "core/Text.h"
#include "mailsystem/addressbook/AddressList.h"

namespace {

bool Same(const std::vector<mail::AddressEntry>& a, const std::vector<mail::AddressEntry>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].displayName != b[i].displayName || a[i].address != b[i].address ||
            a[i].homeStore != b[i].homeStore || a[i].mailbox != b[i].mailbox ||
            a[i].deliverTo != b[i].deliverTo)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<mail::AddressEntry> entries, again;
    std::string error, errorAgain;
    const bool ok = mail::ParseAddressList(text, "list", entries, error);
    FUZZ_CHECK(mail::ParseAddressList(text, "list", again, errorAgain) == ok &&
                   Same(entries, again) && error == errorAgain,
               "the same list read twice differs");
    if (!ok) {
        FUZZ_CHECK(entries.empty() && error.rfind("list, line ", 0) == 0,
                   "a refused list keeps entries or names no line: " + error);
        return 0;
    }
    for (const mail::AddressEntry& e : entries) {
        FUZZ_CHECK(!e.displayName.empty() && !e.address.empty(),
                   "an entry without name or address");
        for (const std::string* value :
             {&e.displayName, &e.address, &e.homeStore, &e.mailbox, &e.deliverTo}) {
            FUZZ_CHECK(!HasControlCharacter(*value), "a value with a control character");
            FUZZ_CHECK(TrimBlanks(*value) == *value, "a value with blanks at an end");
        }
        FUZZ_CHECK(e.mailbox.empty() || mail::IsValidFolderName(e.mailbox),
                   "a mailbox that is not a folder inside mailboxes/");
    }
    const std::string written = mail::FormatAddressList(entries, "written back");
    std::vector<mail::AddressEntry> reread;
    FUZZ_CHECK(mail::ParseAddressList(written, "list", reread, error),
               "a list that was read cannot be read once written: " + error);
    FUZZ_CHECK(Same(entries, reread), "a list written back reads differently");
    FUZZ_CHECK(mail::FormatAddressList(reread, "written back") == written,
               "a list written back is not written the same again");
    return 0;
}
