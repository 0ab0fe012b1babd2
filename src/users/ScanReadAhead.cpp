// Feeding the read-ahead pool from the scan pass's order of users.
#include "users/ScanReadAhead.h"

#include "core/Settings.h"
#include "users/UserlistStru.h"

#include <algorithm>

namespace {

constexpr const char* kMailboxPrefix = "EX:"; // as the scan names the mailbox
constexpr int64_t kMinute = 60;
constexpr int64_t kWeek = 604800;

} // namespace

bool ScanReadAhead::BeginPass(const CString& profile, CTime now) {
    const int threads = Settings::ReadThreads();
    if (threads <= 1) {
        m_pool.reset();
        return false;
    }
    if (!m_pool || m_pool->Threads() != threads)
        m_pool = std::make_unique<outlook::ReadAheadPool>(threads);
    // The scan's calendar search asks for starts from this minute to the same minute a week on.
    m_from = now.GetTime() - ((now.GetTime() % kMinute) + kMinute) % kMinute;
    m_to = m_from + kWeek;
    // Workers open the mail system afresh when the profile changes and once a minute, as a
    // session of the scan would read a changed profile or credential.
    if (profile != m_profile || m_session == 0 || now - m_sessionStart >= CTimeSpan(kMinute) ||
        now < m_sessionStart) {
        m_profile = profile;
        m_sessionStart = now;
        ++m_session;
    }
    m_pool->DropQueued();
    m_ahead.clear();
    m_cursor = 0;
    return true;
}

void ScanReadAhead::TopUp(const std::vector<UserlistStru*>& order, size_t next) {
    if (!m_pool)
        return;
    const size_t bound = kAheadPerThread * static_cast<size_t>(m_pool->Threads());
    m_cursor = std::max(m_cursor, next);
    while (m_cursor < order.size() && m_ahead.size() < bound) {
        const UserlistStru& user = *order[m_cursor++];
        if (!m_ahead.insert(user.MailboxName).second)
            continue;
        m_pool->Want({m_profile, m_session, kMailboxPrefix + user.MailboxName, m_from, m_to});
    }
}

void ScanReadAhead::Scanning(const UserlistStru& user) {
    m_ahead.erase(user.MailboxName);
}
