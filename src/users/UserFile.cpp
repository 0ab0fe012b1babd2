// Users.dat: reading, checking and safe rewriting.
#include "users/UserFile.h"

#include "core/Clock.h"
#include "core/FileStamp.h"
#include "core/FileSystem.h"
#include "core/MessageBoxes.h"
#include "core/WorkingDirectory.h"
#include "paging/EventLog.h"
#include "users/CUserList.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UserFile {
namespace {

void PutInt16(CString& out, int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
}

void PutInt32(CString& out, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((u >> shift) & 0xFF);
}

void PutString(CString& out, const CString& s) {
    PutInt16(out, static_cast<int16_t>(s.size() + 1));
    out += s;
    out += '\0';
}

// Reads records field by field; every read checks that its bytes are there.
class Reader {
public:
    explicit Reader(const CString& bytes) : m_bytes(bytes) {}

    size_t Remaining() const { return m_bytes.size() - m_pos; }
    uint64_t Position() const { return m_pos; }

    bool Int16(int16_t& v) {
        if (Remaining() < 2)
            return Fault("the file ends inside a record");
        const auto lo = static_cast<uint8_t>(m_bytes[m_pos]);
        const auto hi = static_cast<uint8_t>(m_bytes[m_pos + 1]);
        v = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
        m_pos += 2;
        return true;
    }

    bool Int32(int32_t& v) {
        if (Remaining() < 4)
            return Fault("the file ends inside a record");
        uint32_t u = 0;
        for (int i = 3; i >= 0; --i)
            u = (u << 8) | static_cast<uint8_t>(m_bytes[m_pos + i]);
        v = static_cast<int32_t>(u);
        m_pos += 4;
        return true;
    }

    // A length-prefixed string; `out` null only checks it.
    bool String(CString* out) {
        int16_t length;
        if (!Int16(length))
            return false;
        if (length < 1 || length > kMaxStoredLength) {
            m_pos -= 2; // the fault is the length field itself
            return Fault("a string length of " + std::to_string(length) + " lies outside 1 to " +
                         std::to_string(kMaxStoredLength));
        }
        if (Remaining() < static_cast<size_t>(length))
            return Fault("the file ends inside a record");
        if (out) {
            const char* start = m_bytes.data() + m_pos;
            const void* zero = std::memchr(start, '\0', static_cast<size_t>(length));
            const size_t n =
                zero ? static_cast<const char*>(zero) - start : static_cast<size_t>(length);
            out->assign(start, n);
        }
        m_pos += static_cast<size_t>(length);
        return true;
    }

    const CString& Reason() const { return m_reason; }

private:
    bool Fault(CString reason) {
        m_reason = std::move(reason);
        return false;
    }

    const CString& m_bytes;
    size_t m_pos = 0;
    CString m_reason;
};

struct Fields {
    CString displayName, mailboxName, server, pagerName;
    int32_t pageOnlyOOF = 0;
    int16_t scanInterval = 0, code = 0;
};

// One record after its marker; false (with the reader's reason) at a fault.
bool ReadRecord(Reader& in, Fields* f) {
    return in.String(f ? &f->displayName : nullptr) && in.String(f ? &f->mailboxName : nullptr) &&
           in.String(f ? &f->server : nullptr) && in.String(f ? &f->pagerName : nullptr) && [&] {
               Fields scratch;
               Fields& t = f ? *f : scratch;
               return in.Int32(t.pageOnlyOOF) && in.Int16(t.scanInterval) && in.Int16(t.code);
           }();
}

} // namespace

CString Encode(const CUserList& list) {
    CString out;
    for (const auto& user : list.Users()) {
        if (user->Code <= 0)
            continue;
        PutInt16(out, 1);
        PutString(out, user->DisplayName);
        PutString(out, user->MailboxName);
        PutString(out, user->Server);
        PutString(out, user->PagerName);
        PutInt32(out, user->PageOnlyOOF);
        PutInt16(out, user->ScanInterval);
        PutInt16(out, user->Code);
    }
    return out;
}

DecodeResult Decode(const CString& bytes, CUserList& list) {
    DecodeResult result;
    Reader in(bytes);
    // Fewer than two bytes left where a record marker belongs: the file is finished.
    while (in.Remaining() >= 2) {
        int16_t marker;
        in.Int16(marker); // its value is ignored; only its presence counts
        Fields f;
        if (!ReadRecord(in, &f)) {
            result.damaged = true;
            result.offset = in.Position();
            result.reason = in.Reason();
            break;
        }
        UserlistStru* user = list.CreateNoCodeUser();
        user->DisplayName = std::move(f.displayName);
        user->MailboxName = std::move(f.mailboxName);
        user->Server = std::move(f.server);
        user->PagerName = std::move(f.pagerName);
        user->PageOnlyOOF = f.pageOnlyOOF;
        user->ScanInterval = f.scanInterval;
        user->Code = f.code;
        ++result.users;
    }
    return result;
}

bool IsIntact(const CString& bytes) {
    Reader in(bytes);
    while (in.Remaining() >= 2) {
        int16_t marker;
        in.Int16(marker);
        if (!ReadRecord(in, nullptr))
            return false;
    }
    return true;
}

} // namespace UserFile

namespace {

// The largest user file read: 32,767 users (the most that 16-bit codes number) of 2 KiB each.
// Anything larger is no user file, and reading it would only fill memory.
constexpr size_t kMaxFileSize = size_t(64) << 20;

// Keeps a damaged file under a name of its own before a save replaces it. Its permissions go
// with it; a copy that cannot be written is reported and the save goes on, since the damaged
// copy is a courtesy and the new list is what the user asked to store. `bytes` null: the file
// is too large to read, and keeps its contents under a second name (a hard link) instead.
void KeepDamagedCopy(const CString& path, const CString* bytes) {
    struct stat st;
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    const CString stamp = CTime::Saturate(time(nullptr)).Format("%Y%m%d-%H%M%S");
    CString copy = path + ".damaged-" + stamp;
    for (int n = 2; ::access(copy.c_str(), F_OK) == 0; ++n)
        copy = path + ".damaged-" + stamp + "-" + std::to_string(n);
    SaveResult saved;
    if (bytes) {
        saved = SaveFileAtomically(copy, *bytes, mode);
    } else if (::link(path.c_str(), copy.c_str()) != 0) {
        saved.failedAt = SaveResult::Create;
        saved.error = errno;
    }
    const CString text = saved.ok()
                             ? "The damaged user data file " + path + " was kept as " + copy +
                                   " before it was replaced."
                             : "The damaged user data file " + path + " could not be kept as " +
                                   copy + " (" + saved.Describe() + ") before it was replaced.";
    LogEvent(EventLog::kEventId, text.c_str());
}

bool IsAccessProblem(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

int AskSharingViolation() {
    return AfxMessageBox(
        "Unable to write the user data file.  Another process is currently using the file.",
        "Sharing Violation", MB_RETRYCANCEL | MB_ICONWARNING);
}

int AskWriteError() {
    return AfxMessageBox("Unspecified error writing the user data file.", "User Write Error",
                         MB_RETRYCANCEL | MB_ICONWARNING);
}

} // namespace

UserFileLoad CUserList::LoadUsers() {
    UserFileLoad load;
    const CString path = DATFileName(UserFile::kFileName);

    FileLock lock;
    int lockError = 0;
    if (lock.TryLock(DATFileName(UserFile::kLockFileName), FileLock::Shared, &lockError) ==
        FileLock::Busy) {
        load.status = UserFileLoad::Busy;
        load.message = "The user data file " + path + " is being written by another process.";
    } else {
        // A lock file that cannot be created (a read-only directory) cannot be written either:
        // reading without the lock is then safe.
        CString bytes;
        int error = 0;
        switch (ReadWholeFile(path, kMaxFileSize, bytes, error)) {
        case ReadStatus::Missing:
            load.status = UserFileLoad::Missing;
            break;
        case ReadStatus::Failed:
            load.status = UserFileLoad::Unreadable;
            load.error = error;
            load.message = "The user data file " + path + " cannot be read: " +
                           (error == EFBIG ? CString("it is larger than 64 MiB, more than any "
                                                     "list of users takes")
                                           : CString(std::strerror(error))) +
                           ".";
            if (error == EFBIG)
                LogEvent(EventLog::kEventId, load.message.c_str());
            break;
        case ReadStatus::Ok: {
            const UserFile::DecodeResult decoded = UserFile::Decode(bytes, *this);
            load.users = decoded.users;
            if (decoded.damaged) {
                load.status = UserFileLoad::Damaged;
                load.offset = decoded.offset;
                const CString loaded = decoded.users == 1 ? CString("The user before it was loaded")
                                                          : "The " + std::to_string(decoded.users) +
                                                                " users before it were loaded";
                load.message = "The user data file " + path + " is damaged at byte offset " +
                               std::to_string(decoded.offset) + ": " + decoded.reason + ". " +
                               loaded + "; the rest of the file was not.";
                LogEvent(EventLog::kEventId, load.message.c_str());
            }
            break;
        }
        }
    }
    NextCode = 1;
    return load;
}

UserFileSave CUserList::SaveUsers() {
    for (const auto& user : m_users) {
        if (user->Code <= 0)
            continue;
        const CString problem = CheckUserStrings(*user);
        if (!problem.empty()) {
            AfxMessageBox("The user data file was not written. User " + std::to_string(user->Code) +
                              " cannot be stored: " + problem,
                          "User Write Error", MB_OK | MB_ICONWARNING);
            return UserFileSave::Refused;
        }
    }

    const CString path = DATFileName(UserFile::kFileName);
    const CString bytes = UserFile::Encode(*this);
    for (;;) {
        FileLock lock;
        int error = 0;
        const FileLock::Outcome locked =
            lock.TryLock(DATFileName(UserFile::kLockFileName), FileLock::Exclusive, &error);
        bool sharingViolation =
            locked == FileLock::Busy || (locked == FileLock::Unavailable && IsAccessProblem(error));
        bool failed = locked != FileLock::Locked;

        if (!failed) {
            CString old;
            int readError = 0;
            const ReadStatus read = ReadWholeFile(path, kMaxFileSize, old, readError);
            if (read == ReadStatus::Ok && !UserFile::IsIntact(old))
                KeepDamagedCopy(path, &old);
            else if (read == ReadStatus::Failed && readError == EFBIG)
                KeepDamagedCopy(path, nullptr);
            const SaveResult saved = SaveFileAtomically(path, bytes, 0666);
            if (!saved.ok()) {
                failed = true;
                sharingViolation = IsAccessProblem(saved.error);
                if (!saved.replaced)
                    LogEvent(EventLog::kEventId,
                             ("The user data file " + path + " was not written (" +
                              saved.Describe() + "); its previous contents are unchanged.")
                                 .c_str());
            }
        }
        if (!failed)
            return UserFileSave::Saved;
        lock.Unlock(); // never hold the file while waiting for the user's answer
        const int answer = sharingViolation ? AskSharingViolation() : AskWriteError();
        if (answer != IDRETRY)
            return UserFileSave::Cancelled;
    }
}
