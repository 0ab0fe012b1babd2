// The profiles file as a person may edit it: the same answer twice, and every file that was read
// written back so that it reads the same profiles and writes the same bytes again (passwords and
// names with any bytes survive the quoting).
#include "FuzzCheck.h"
#include "mailsystem/Profiles.h"

namespace {

bool Same(const mail::Profiles& a, const mail::Profiles& b) {
    if (a.DefaultName() != b.DefaultName() || a.All().size() != b.All().size())
        return false;
    for (size_t i = 0; i < a.All().size(); ++i) {
        const mail::Profile& p = a.All()[i];
        const mail::Profile& q = b.All()[i];
        if (p.name != q.name || p.mailSystem != q.mailSystem ||
            p.transport.kind != q.transport.kind || p.transport.url != q.transport.url ||
            p.transport.startTls != q.transport.startTls || p.transport.user != q.transport.user ||
            p.transport.password != q.transport.password ||
            p.transport.sender != q.transport.sender || p.transport.format != q.transport.format ||
            p.transport.token != q.transport.token || p.transport.insecure != q.transport.insecure ||
            !(p.outOfOffice == q.outOfOffice))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    mail::Profiles profiles, again;
    std::string error, errorAgain;
    const bool ok = profiles.Parse(text, "profiles", error);
    FUZZ_CHECK(again.Parse(text, "profiles", errorAgain) == ok && error == errorAgain &&
                   Same(profiles, again),
               "the same file read twice differs");
    if (!ok) {
        FUZZ_CHECK(profiles.All().empty() && profiles.DefaultName().empty(),
                   "a refused file left profiles behind");
        FUZZ_CHECK(error.rfind("profiles, line ", 0) == 0,
                   "a refusal that names no line: " + error);
        return 0;
    }
    for (const mail::Profile& p : profiles.All()) {
        FUZZ_CHECK(mail::CheckProfileName(p.name).empty(), "a profile name that cannot be saved");
        FUZZ_CHECK(mail::CheckTransport(p.transport).empty(), "a transport that cannot be saved");
        FUZZ_CHECK(mail::sieve::CheckSieveConfig(p.outOfOffice).empty(),
                   "an out-of-office server that cannot be saved");
        FUZZ_CHECK(profiles.Find(p.name) != nullptr, "a profile read that cannot be found");
    }
    std::string written;
    FUZZ_CHECK(profiles.Format(written, error), "a file that was read cannot be written: " + error);
    mail::Profiles reread;
    FUZZ_CHECK(reread.Parse(written, "profiles", error),
               "a file that was written cannot be read: " + error);
    FUZZ_CHECK(Same(profiles, reread), "the profiles written back read differently");
    std::string rewritten;
    FUZZ_CHECK(reread.Format(rewritten, error) && rewritten == written,
               "the profiles written back are not written the same again");
    return 0;
}
