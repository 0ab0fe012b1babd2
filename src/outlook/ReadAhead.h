// Worker threads that read and parse the calendars and task lists of the users due next, ahead
// of the scan pass, into the mail system's caches; the scan pass itself stays on its thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace outlook {

// One mailbox to read ahead.
struct ReadAheadJob {
    std::string profile; // the mail profile the scan logs on with ("" : the default)
    // The session the job belongs to: a worker opens the profile's mail system afresh when it
    // changes, as a scan pass's session reads the profile afresh, and keeps it meanwhile.
    uint64_t session = 0;
    std::string mailbox; // as the scan names it: "EX:" and the address
    int64_t from = 0;    // the starts the scan's calendar search asks for, in seconds since 1970
    int64_t to = 0;
};

// A fixed pool of threads working off a queue of jobs in order. A job resolves the mailbox in
// the address book and has the mail system read it ahead (MailSystem::ReadAhead); whatever it
// meets is left for the scan to meet and tell, so a job never writes an event.
class ReadAheadPool {
public:
    // Starts `threads` workers (at least one), after loading libical's built-in zone list on
    // this thread.
    explicit ReadAheadPool(int threads);
    // Drops the jobs still queued and waits for those under way (each bounded by the mail
    // system's time limits).
    ~ReadAheadPool();
    ReadAheadPool(const ReadAheadPool&) = delete;
    ReadAheadPool& operator=(const ReadAheadPool&) = delete;

    int Threads() const { return static_cast<int>(m_workers.size()); }
    void Want(ReadAheadJob job);
    // Jobs queued or under way.
    size_t Outstanding() const;
    // Drops the jobs no worker has taken yet.
    void DropQueued();
    // Waits until no job is queued or under way, at most `timeoutMs`; false when time ran out.
    bool Drain(int64_t timeoutMs);

private:
    void Work();

    mutable std::mutex m_mutex;
    std::condition_variable m_wanted; // a job was queued, or the pool is stopping
    std::condition_variable m_idle;   // the last outstanding job ended
    std::deque<ReadAheadJob> m_queue;
    size_t m_running = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

} // namespace outlook
