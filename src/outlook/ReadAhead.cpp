// The read-ahead workers: each opens its own mail system per pass and reads mailboxes with it.
#include "outlook/ReadAhead.h"

#include "mailsystem/MailSystem.h"
#include "mailsystem/ical/IcalTime.h"
#include "outlook/automation/OutlookServer.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace outlook {

ReadAheadPool::ReadAheadPool(int threads) {
    mail::ical::PreloadBuiltinZones();
    const int count = std::max(threads, 1);
    m_workers.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        m_workers.emplace_back([this] { Work(); });
}

ReadAheadPool::~ReadAheadPool() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wanted.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void ReadAheadPool::Want(ReadAheadJob job) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(job));
    }
    m_wanted.notify_one();
}

size_t ReadAheadPool::Outstanding() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size() + m_running;
}

void ReadAheadPool::DropQueued() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
    if (m_queue.empty() && m_running == 0)
        m_idle.notify_all();
}

bool ReadAheadPool::Drain(int64_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return m_queue.empty() && m_running == 0; });
}

void ReadAheadPool::Work() {
    // This worker's session: opened for one profile and pass, like the scan pass's own.
    std::shared_ptr<mail::MailSystem> system;
    std::string profile;
    uint64_t session = 0;
    for (;;) {
        ReadAheadJob job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wanted.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_running;
        }
        if (!system || job.profile != profile || job.session != session) {
            std::string error;
            system = automation::OpenMailSystem(job.profile, error);
            profile = job.profile;
            session = job.session;
        }
        if (system) {
            // A mailbox that cannot be resolved is left to the scan, which says why.
            mail::AddressEntry entry;
            std::string error;
            if (automation::ResolveName(*system, job.mailbox, entry, error) ==
                    automation::Resolution::Found &&
                !entry.mailbox.empty())
                system->ReadAhead(entry, job.from, job.to);
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_running;
            if (m_queue.empty() && m_running == 0)
                m_idle.notify_all();
        }
    }
}

} // namespace outlook
