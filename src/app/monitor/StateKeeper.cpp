// The monitor's state file.
#include "app/monitor/StateKeeper.h"

#include "core/Clock.h"
#include "core/FileStamp.h"
#include "core/FileSystem.h"
#include "paging/EventLog.h"
#include "users/CUserList.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

// Far above any state: 32,767 users with a week of reminders each take a few hundred MiB at
// most. A larger file is not ours, and reading it would only fill memory.
constexpr size_t kMaxFileSize = size_t(1) << 30;

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Renames the unusable file out of the way; the sentence's end that says where it went.
CString SetAside(const CString& path) {
    const CString stamp = CTime::Saturate(time(nullptr)).Format("%Y%m%d-%H%M%S");
    CString aside = path + ".damaged-" + stamp;
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0; ++n)
        aside = path + ".damaged-" + stamp + "-" + std::to_string(n);
    if (FileSystem().RenameNoReplace(path.c_str(), aside.c_str()) != 0)
        return "it could not be set aside as " + aside + " (" + std::strerror(errno) +
               ") and is replaced at the next save";
    return "it was set aside as " + aside;
}

} // namespace

bool CStateKeeper::Load(monitorstate::State& state) {
    CString bytes;
    int error = 0;
    CString problem;
    switch (ReadWholeFile(m_path, kMaxFileSize, bytes, error)) {
    case ReadStatus::Missing:
        return false;
    case ReadStatus::Failed:
        problem = error == EFBIG ? CString("it is larger than 1 GiB, more than any state takes")
                                 : "it cannot be read (" + CString(std::strerror(error)) + ")";
        break;
    case ReadStatus::Ok:
        if (monitorstate::Decode(bytes, state, problem))
            return true;
        break;
    }
    LogEvent(EventLog::kEventId,
             ("The monitor's state file " + m_path + " cannot be used: " + problem + "; " +
              SetAside(m_path) +
              ". Every user's reminders are read by a scan before they are paged.")
                 .c_str());
    return false;
}

void CStateKeeper::StartPeriod() {
    m_savedAtMs = Clock::SteadyMilliseconds();
}

void CStateKeeper::SaveIfDue(const CUserList& users) {
    if (!m_replaced && users.StateChanges() == m_savedChanges)
        return;
    const int64_t now = Clock::SteadyMilliseconds();
    // A clock set back in a test runs the period anew from its new reading.
    if (now >= m_savedAtMs && now - m_savedAtMs < m_periodMs)
        return;
    Save(users);
}

bool CStateKeeper::Save(const CUserList& users) {
    m_savedAtMs = Clock::SteadyMilliseconds();
    m_savedChanges = users.StateChanges();
    m_replaced = false;

    const auto start = std::chrono::steady_clock::now();
    const CString bytes = monitorstate::Encode(users, CTime::GetCurrentTime());
    m_lastSave.bytes = bytes.size();
    m_lastSave.encodeMs = MsSince(start);
    const auto writing = std::chrono::steady_clock::now();
    // Readable by its owner only: it holds page texts.
    const SaveResult saved = SaveFileAtomically(m_path, bytes, 0600);
    m_lastSave.writeMs = MsSince(writing);
    if (saved.ok()) {
        m_reportedFailure = false;
        return true;
    }
    if (saved.replaced)
        return false; // in place; only the directory's flush failed
    // A state older than the record of pages sent remembers would page again, after a restart,
    // what has been paged since: a state that cannot be kept current is removed.
    const int removeError = ::unlink(m_path.c_str()) == 0 ? 0 : errno;
    if (!m_reportedFailure) {
        m_reportedFailure = true;
        const CString consequence =
            removeError == 0 || removeError == ENOENT
                ? CString("the one before it was removed, so a restart now reads every user's "
                          "reminders by a scan before paging them")
                : "the one before it could not be removed (" + CString(std::strerror(removeError)) +
                      "), so a restart now may page again what was paged since it was written";
        LogEvent(EventLog::kEventId, ("The monitor's state file " + m_path + " was not written (" +
                                      saved.Describe() + "); " + consequence + ".")
                                         .c_str());
    }
    return false;
}
