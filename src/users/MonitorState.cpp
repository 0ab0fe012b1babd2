// The monitor's state as bytes, and its restore into the user list.
#include "users/MonitorState.h"

#include "paging/SentPages.h"
#include "users/CUserList.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <tuple>
#include <zlib.h>

namespace monitorstate {
namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'S', 'T', 'A', 'T', 'E'};
constexpr size_t kHeaderSize = sizeof kMagic + 4 + 4;
constexpr size_t kChecksumSize = 4;
// No string of the state is longer: texts are cut at 1,000 bytes, user fields at 999, and the
// scan error is a sentence. A longer length is damage, and allocates nothing.
constexpr uint32_t kMaxString = 64 * 1024;
// The least bytes a reminder and a user take, so that a count beyond what is left is damage
// before anything is allocated for it.
constexpr size_t kMinReminder = 3 * 8 + 2 * 4;
constexpr size_t kMinUser = 2 * 4 + 2 + 1 + 8 + 4 + 4 + 4 + 4 + 4;

class Writer {
public:
    explicit Writer(CString& out) : m_out(out) {}
    void U8(uint8_t v) { m_out += static_cast<char>(v); }
    void U32(uint32_t v) {
        char b[4];
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        m_out.append(b, 4);
    }
    void I16(int16_t v) {
        const auto u = static_cast<uint16_t>(v);
        m_out += static_cast<char>(u & 0xFF);
        m_out += static_cast<char>(u >> 8);
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void I64(int64_t v) {
        char b[8];
        const auto u = static_cast<uint64_t>(v);
        for (int i = 0; i < 8; ++i)
            b[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
        m_out.append(b, 8);
    }
    void Time(CTime t) { I64(t.GetTime()); }
    void Str(const CString& s) {
        U32(static_cast<uint32_t>(s.size()));
        m_out += s;
    }
    void Reminder(const ReminderStru& r) {
        Time(r.PageTime);
        Time(r.StartTime);
        Time(r.EndTime);
        Str(r.TimeKey);
        Str(r.Text);
    }

private:
    CString& m_out;
};

// Every read checks that its bytes are there; the first fault is kept with its offset.
class Reader {
public:
    Reader(std::string_view bytes, size_t pos) : m_bytes(bytes), m_pos(pos) {}

    size_t Remaining() const { return m_bytes.size() - m_pos; }
    bool Failed() const { return !m_fault.empty(); }
    CString Fault() const {
        return "it is damaged at byte offset " + std::to_string(m_faultAt) + ": " + m_fault;
    }

    bool U8(uint8_t& v) {
        if (!Need(1))
            return false;
        v = static_cast<uint8_t>(m_bytes[m_pos++]);
        return true;
    }
    bool U32(uint32_t& v) {
        if (!Need(4))
            return false;
        v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<uint8_t>(m_bytes[m_pos + i]);
        m_pos += 4;
        return true;
    }
    bool I16(int16_t& v) {
        if (!Need(2))
            return false;
        v = static_cast<int16_t>(static_cast<uint16_t>(
            static_cast<uint8_t>(m_bytes[m_pos]) | static_cast<uint8_t>(m_bytes[m_pos + 1]) << 8));
        m_pos += 2;
        return true;
    }
    bool I32(int32_t& v) {
        uint32_t u;
        if (!U32(u))
            return false;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool Time(CTime& t) {
        if (!Need(8))
            return false;
        uint64_t u = 0;
        for (int i = 7; i >= 0; --i)
            u = (u << 8) | static_cast<uint8_t>(m_bytes[m_pos + i]);
        const auto v = static_cast<int64_t>(u);
        if (v < INT32_MIN || v > INT32_MAX)
            return Fail("a time of " + std::to_string(v) + " lies beyond the clock's range");
        m_pos += 8;
        t = CTime(static_cast<int32_t>(v));
        return true;
    }
    bool Str(CString& s) {
        uint32_t n;
        if (!U32(n))
            return false;
        if (n > kMaxString) {
            m_pos -= 4;
            return Fail("a string length of " + std::to_string(n) + " is over the " +
                        std::to_string(kMaxString) + " bytes of any string in it");
        }
        if (!Need(n))
            return false;
        s.assign(m_bytes.data() + m_pos, n);
        m_pos += n;
        return true;
    }
    // A count of items of at least `each` bytes, that what is left can hold.
    bool Count(uint32_t& n, size_t each, const char* what) {
        if (!U32(n))
            return false;
        const size_t left = Remaining();
        if (n > left / each) {
            m_pos -= 4;
            return Fail(std::to_string(n) + " " + what + " cannot fit in the " +
                        std::to_string(left) + " bytes that follow");
        }
        return true;
    }
    bool Reminder(ReminderStru& r) {
        return Time(r.PageTime) && Time(r.StartTime) && Time(r.EndTime) && Str(r.TimeKey) &&
               Str(r.Text);
    }
    bool Reminders(std::vector<ReminderStru>& list) {
        uint32_t n;
        if (!Count(n, kMinReminder, "reminders"))
            return false;
        list.resize(n);
        for (ReminderStru& r : list) {
            if (!Reminder(r))
                return false;
        }
        return true;
    }

private:
    bool Need(size_t n) { return Remaining() >= n || Fail("it ends inside a record"); }
    bool Fail(CString fault) {
        if (m_fault.empty()) {
            m_fault = std::move(fault);
            m_faultAt = m_pos;
        }
        return false;
    }

    std::string_view m_bytes;
    size_t m_pos;
    CString m_fault;
    size_t m_faultAt = 0;
};

uint32_t Checksum(std::string_view bytes) {
    // zlib takes lengths as uInt: a state of 4 GiB and more is summed in parts.
    uLong crc = crc32(0L, Z_NULL, 0);
    for (size_t at = 0; at < bytes.size();) {
        const size_t part = std::min<size_t>(bytes.size() - at, 1u << 30);
        crc =
            crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + at), static_cast<uInt>(part));
        at += part;
    }
    return static_cast<uint32_t>(crc);
}

uint32_t ReadU32(std::string_view bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return v;
}

using Key = std::tuple<CString, CString, int16_t, bool>;

Key KeyOf(const UserlistStru& user) {
    return {user.MailboxName, user.PagerName, user.ScanInterval, user.PageOnlyOOF != 0};
}
Key KeyOf(const UserState& user) {
    return {user.MailboxName, user.PagerName, user.ScanInterval, user.PageOnlyOOF};
}

} // namespace

CString Encode(const CUserList& users, CTime savedAt) {
    const CTime keptUntil = savedAt + kHorizon;
    // The kept reminders of each list: a prefix, since the lists are in page-time order.
    const auto kept = [keptUntil](const CRemList& list, bool all, size_t* bytes) {
        uint32_t n = 0;
        for (const auto& r : list.GetRecords()) {
            if (!all && r->PageTime > keptUntil)
                break;
            ++n;
            if (bytes)
                *bytes += kMinReminder + r->TimeKey.size() + r->Text.size();
        }
        return n;
    };
    size_t size = kHeaderSize + 8 + 8 + 4 + kChecksumSize;
    for (const auto& user : users.Users()) {
        size += kMinUser + user->MailboxName.size() + user->PagerName.size() +
                user->LastScanError.size();
        kept(user->Reminders, false, &size);
        kept(user->LateReminders, true, &size);
    }
    CString out;
    out.reserve(size);
    Writer w(out);
    out.append(kMagic, sizeof kMagic);
    w.U32(kVersion);
    w.U32(0); // the payload's length, once known
    w.Time(savedAt);
    w.Time(keptUntil);
    w.U32(static_cast<uint32_t>(users.Users().size()));
    for (const auto& record : users.Users()) {
        const UserlistStru& user = *record;
        w.Str(user.MailboxName);
        w.Str(user.PagerName);
        w.I16(user.ScanInterval);
        w.U8(user.PageOnlyOOF != 0 ? 1 : 0);
        w.Time(user.NextScan);
        w.I32(user.ScanStatus);
        w.I32(user.OOFFlag);
        w.Str(user.LastScanError);
        for (const CRemList* list : {&user.Reminders, &user.LateReminders}) {
            const uint32_t n = kept(*list, list == &user.LateReminders, nullptr);
            w.U32(n);
            auto r = list->GetRecords().begin();
            for (uint32_t i = 0; i < n; ++i, ++r)
                w.Reminder(**r);
        }
    }
    const auto payload = static_cast<uint32_t>(out.size() - kHeaderSize);
    for (int i = 0; i < 4; ++i)
        out[sizeof kMagic + 4 + static_cast<size_t>(i)] =
            static_cast<char>((payload >> (8 * i)) & 0xFF);
    w.U32(Checksum(out));
    return out;
}

bool Decode(std::string_view bytes, State& state, CString& problem) {
    state = State();
    if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        problem = "it is not a state file of Orvane's monitor";
        return false;
    }
    if (bytes.size() < kHeaderSize + kChecksumSize) {
        problem = "it is damaged: it ends inside its header";
        return false;
    }
    const uint32_t version = ReadU32(bytes, sizeof kMagic);
    if (version != kVersion) {
        problem = "it is of format " + std::to_string(version) + ", which this Orvane (format " +
                  std::to_string(kVersion) + ") does not read";
        return false;
    }
    const uint32_t payload = ReadU32(bytes, sizeof kMagic + 4);
    if (uint64_t(payload) + kHeaderSize + kChecksumSize != bytes.size()) {
        problem = "it is damaged: it is " + std::to_string(bytes.size()) + " bytes long where " +
                  std::to_string(uint64_t(payload) + kHeaderSize + kChecksumSize) + " were written";
        return false;
    }
    const size_t end = kHeaderSize + payload;
    if (Checksum(bytes.substr(0, end)) != ReadU32(bytes, end)) {
        problem = "it is damaged: its checksum does not match its contents";
        return false;
    }

    Reader in(bytes.substr(0, end), kHeaderSize);
    uint32_t users = 0;
    if (in.Time(state.SavedAt) && in.Time(state.KeptUntil) && in.Count(users, kMinUser, "users")) {
        state.Users.resize(users);
        for (UserState& u : state.Users) {
            uint8_t option = 0;
            if (!(in.Str(u.MailboxName) && in.Str(u.PagerName) && in.I16(u.ScanInterval) &&
                  in.U8(option) && in.Time(u.NextScan) && in.I32(u.ScanStatus) &&
                  in.I32(u.OOFFlag) && in.Str(u.LastScanError) && in.Reminders(u.Reminders) &&
                  in.Reminders(u.LateReminders)))
                break;
            u.PageOnlyOOF = option != 0;
        }
    }
    if (!in.Failed() && in.Remaining() != 0) {
        problem =
            "it is damaged: " + std::to_string(in.Remaining()) + " bytes follow the last user";
        state = State();
        return false;
    }
    if (in.Failed()) {
        problem = in.Fault();
        state = State();
        return false;
    }
    return true;
}

RestoreCounts Restore(CUserList& users, const State& state, CTime now, CSentPages* sent) {
    RestoreCounts counts;
    // The saved users by whose they are; equal records take their parts in order.
    std::map<Key, std::deque<const UserState*>> saved;
    for (const UserState& u : state.Users)
        saved[KeyOf(u)].push_back(&u);
    const CTime sentSince = std::min(state.SavedAt, now);

    for (const auto& record : users.Users()) {
        UserlistStru& user = *record;
        const auto found = saved.find(KeyOf(user));
        if (found == saved.end() || found->second.empty())
            continue;
        const UserState& part = *found->second.front();
        found->second.pop_front();

        user.NextScan = std::min(part.NextScan, now);
        user.ScanStatus = part.ScanStatus;
        user.OOFFlag = part.OOFFlag;
        user.LastScanError = part.LastScanError;
        user.Reminders.ClearList();
        user.LateReminders.ClearList();
        const auto put = [&](const ReminderStru& r, bool late) {
            if (r.PageTime < now && sent &&
                sent->WasSent(user.MailboxName, user.PagerName, r, sentSince)) {
                ++counts.sentMeanwhile;
                return;
            }
            // Due between the save and now: nobody paged it.
            late = late || (state.SavedAt < r.PageTime && r.PageTime < now);
            (late ? user.LateReminders : user.Reminders).AppendReminder(r);
        };
        for (const ReminderStru& r : part.Reminders)
            put(r, false);
        for (const ReminderStru& r : part.LateReminders)
            put(r, true);
        user.Reminders.SortList();
        user.LateReminders.SortList();
        ++counts.users;
        counts.reminders += user.Reminders.GetCount();
        counts.late += user.LateReminders.GetCount();
    }
    counts.keptUntil = state.KeptUntil;
    if (counts.late || now > state.KeptUntil)
        users.AwaitLatePages(now > state.KeptUntil ? state.KeptUntil : CTime());
    return counts;
}

} // namespace monitorstate
