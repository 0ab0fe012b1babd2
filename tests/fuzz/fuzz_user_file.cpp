// Users.dat as any other program or a damaged disk may leave it: the reader keeps the records
// before a fault, reads the same twice, and what it read is written back byte for byte when the
// file holds nothing the writer leaves out.
#include "FuzzCheck.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <cstring>
#include <vector>

namespace {

struct Fields {
    CString displayName, mailboxName, server, pagerName;
    int32_t pageOnlyOOF;
    int32_t scanInterval, code;
    bool operator==(const Fields&) const = default;
};

std::vector<Fields> Read(const CString& bytes, UserFile::DecodeResult& result) {
    CUserList list;
    result = UserFile::Decode(bytes, list);
    std::vector<Fields> users;
    for (const auto& u : list.Users())
        users.push_back({u->DisplayName, u->MailboxName, u->Server, u->PagerName, u->PageOnlyOOF,
                         u->ScanInterval, u->Code});
    return users;
}

// Whether the writer would produce exactly these bytes: every marker 1, every string ending at
// its zero byte, every code above 0, and no odd byte after the last record.
bool Canonical(const CString& bytes) {
    size_t pos = 0;
    auto u16 = [&](size_t at) {
        return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                     (static_cast<uint8_t>(bytes[at + 1]) << 8));
    };
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 2 || u16(pos) != 1)
            return false;
        pos += 2;
        for (int s = 0; s < 4; ++s) {
            const size_t length = u16(pos);
            pos += 2;
            for (size_t i = 0; i + 1 < length; ++i) {
                if (bytes[pos + i] == '\0')
                    return false;
            }
            if (bytes[pos + length - 1] != '\0')
                return false;
            pos += length;
        }
        pos += 4 + 2 + 2; // PageOnlyOOF, ScanInterval, Code
        if (static_cast<int16_t>(u16(pos - 2)) <= 0)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CString bytes(reinterpret_cast<const char*>(data), size);
    UserFile::DecodeResult first, second;
    const std::vector<Fields> users = Read(bytes, first);
    FUZZ_CHECK(Read(bytes, second) == users && second.damaged == first.damaged &&
                   second.offset == first.offset && second.reason == first.reason,
               "the same file read twice gave different users");
    FUZZ_CHECK(first.users == static_cast<int>(users.size()), "the count is not the users read");
    FUZZ_CHECK(UserFile::IsIntact(bytes) == !first.damaged,
               "the check and the reader disagree about damage");
    // Each record takes at least 22 bytes, so the users read are bounded by the file's size.
    FUZZ_CHECK(users.size() <= size / 22, "more users than the file can hold");
    for (const Fields& f : users) {
        for (const CString* s : {&f.displayName, &f.mailboxName, &f.server, &f.pagerName}) {
            FUZZ_CHECK(s->size() < static_cast<size_t>(UserFile::kMaxStoredLength),
                       "a string longer than the file may store");
            FUZZ_CHECK(std::memchr(s->data(), '\0', s->size()) == nullptr,
                       "a string read with a zero byte in it");
        }
    }
    if (first.damaged) {
        FUZZ_CHECK(first.offset <= size && !first.reason.empty(), "damage without a place");
        return 0;
    }

    // Written back: the records whose code the writer keeps, which read back the same.
    CUserList list;
    UserFile::Decode(bytes, list);
    const CString written = UserFile::Encode(list);
    if (Canonical(bytes))
        FUZZ_CHECK(written == bytes, "a file in the writer's own form is not written back as read");
    UserFile::DecodeResult again;
    std::vector<Fields> kept;
    for (const Fields& f : users) {
        if (f.code > 0)
            kept.push_back(f);
    }
    FUZZ_CHECK(Read(written, again) == kept && !again.damaged,
               "what was written does not read back as the users kept");
    return 0;
}
