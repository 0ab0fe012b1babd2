// The out-of-office file: the same answer twice, comments and blank lines change nothing, case
// changes nothing, and the state read is the state that "echo out" or "echo in" writes.
#include "FuzzCheck.h"
#include "mailsystem/MailSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using mail::OutOfOffice;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const OutOfOffice state = mail::ParseOutOfOffice(text);
    FUZZ_CHECK(mail::ParseOutOfOffice(text) == state, "the same file read twice differs");
    FUZZ_CHECK(mail::ParseOutOfOffice("# written by hand\n\n" + text + "\n# end\n") == state,
               "comments and blank lines around the state changed it");
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    // Upper case changes a comment's text only, and a word's case does not count.
    FUZZ_CHECK(mail::ParseOutOfOffice(upper) == state, "the case of the word changed the state");
    if (state == OutOfOffice::Out || state == OutOfOffice::In) {
        const std::string written = state == OutOfOffice::Out ? "out\n" : "in\n";
        FUZZ_CHECK(mail::ParseOutOfOffice(written) == state, "the state does not read back");
    }
    return 0;
}
