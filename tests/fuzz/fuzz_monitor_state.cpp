// The monitor's state file as a damaged disk or another program may leave it: the reader gives the
// same answer twice and keeps nothing of what it refuses; with its checksum made right (so that the
// reader's other checks are reached), what it reads is bounded by the bytes, and a list restored
// from it is written and read back whole.
#include "FuzzCheck.h"
#include "users/CUserList.h"
#include "users/MonitorState.h"

#include <zlib.h>

namespace {

bool Same(const monitorstate::State& a, const monitorstate::State& b) {
    if (a.SavedAt != b.SavedAt || a.KeptUntil != b.KeptUntil || a.Users.size() != b.Users.size())
        return false;
    const auto sameList = [](const std::vector<ReminderStru>& x,
                             const std::vector<ReminderStru>& y) {
        if (x.size() != y.size())
            return false;
        for (size_t i = 0; i < x.size(); ++i) {
            if (x[i].PageTime != y[i].PageTime || x[i].StartTime != y[i].StartTime ||
                x[i].EndTime != y[i].EndTime || x[i].TimeKey != y[i].TimeKey ||
                x[i].Text != y[i].Text)
                return false;
        }
        return true;
    };
    for (size_t i = 0; i < a.Users.size(); ++i) {
        const monitorstate::UserState &u = a.Users[i], &v = b.Users[i];
        if (u.MailboxName != v.MailboxName || u.PagerName != v.PagerName ||
            u.ScanInterval != v.ScanInterval || u.PageOnlyOOF != v.PageOnlyOOF ||
            u.NextScan != v.NextScan || u.ScanStatus != v.ScanStatus || u.OOFFlag != v.OOFFlag ||
            u.LastScanError != v.LastScanError || !sameList(u.Reminders, v.Reminders) ||
            !sameList(u.LateReminders, v.LateReminders))
            return false;
    }
    return true;
}

void Check(const CString& bytes) {
    monitorstate::State first, second;
    CString problem1, problem2;
    const bool ok = monitorstate::Decode(bytes, first, problem1);
    FUZZ_CHECK(monitorstate::Decode(bytes, second, problem2) == ok && problem1 == problem2 &&
                   Same(first, second),
               "the same bytes read twice gave different answers");
    if (!ok) {
        FUZZ_CHECK(first.Users.empty() && !problem1.empty(),
                   "a refusal kept users or said nothing");
        return;
    }
    // A user takes at least 39 bytes and a reminder 32: what is read is bounded by the bytes.
    size_t reminders = 0;
    for (const monitorstate::UserState& u : first.Users)
        reminders += u.Reminders.size() + u.LateReminders.size();
    FUZZ_CHECK(first.Users.size() * 39 + reminders * 32 <= bytes.size(),
               "more users or reminders than the bytes can hold");

    // Restored into the users it names, at the moment it was saved, and written again.
    CUserList list;
    for (const monitorstate::UserState& u : first.Users) {
        UserlistStru* user = list.CreateNoCodeUser();
        user->MailboxName = u.MailboxName;
        user->PagerName = u.PagerName;
        user->ScanInterval = u.ScanInterval;
        user->PageOnlyOOF = u.PageOnlyOOF ? 1 : 0;
    }
    const monitorstate::RestoreCounts counts =
        monitorstate::Restore(list, first, first.SavedAt, nullptr);
    FUZZ_CHECK(counts.users == static_cast<int>(first.Users.size()),
               "a user that the state names did not take its part");
    const CString written = monitorstate::Encode(list, first.SavedAt);
    monitorstate::State again;
    CString problem;
    FUZZ_CHECK(monitorstate::Decode(written, again, problem), "a restored list did not read back");
    FUZZ_CHECK(monitorstate::Encode(list, first.SavedAt) == written,
               "the same list was written twice differently");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CString bytes(reinterpret_cast<const char*>(data), size);
    Check(bytes);
    if (size >= 20) {
        // The checksum made right, so that the reader's other checks are reached.
        CString sealed = bytes;
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(sealed.data()),
                                static_cast<uInt>(sealed.size() - 4));
        for (int i = 0; i < 4; ++i)
            sealed[sealed.size() - 4 + size_t(i)] = static_cast<char>((crc >> (8 * i)) & 0xFF);
        Check(sealed);
    }
    return 0;
}
