// The calendar cache: contents keyed by path and checked against the file's stamp at each use.
#include "mailsystem/ical/CalendarCache.h"

#include "core/FileStamp.h"
#include "mailsystem/ical/IcalTime.h"
#include "mailsystem/model/Notices.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace mail::cache {
namespace {

constexpr size_t kMaxFileSize = 256u << 20;
constexpr size_t kMaxEntries = 20000;
constexpr size_t kPooledZones = 64;

struct Entry {
    FileStamp stamp;
    std::string timeZone; // TZ when read: floating and all-day times depend on it
    bool ok = false;
    std::string error;
    calendar::FileContents contents;
    ToldNotices told;    // kept from one reading of the path to the next
    size_t textHash = 0; // of the bytes read, to tell a rereading of the same text
    uint64_t lastUse = 0;
    // A reading made ahead keeps its notices here until the first use tells them, so that they
    // are told where and when a reading by the user would have told them. `toldBefore` is what
    // was told before that reading, for a rereading that replaces it untold.
    std::vector<std::string> pending;
    ToldNotices toldBefore;
};

struct Cache {
    std::mutex mutex;
    std::condition_variable built; // a path left `building`
    std::unordered_map<std::string, std::unique_ptr<Entry>> entries;
    std::unordered_set<std::string> building; // paths being read outside the lock
    uint64_t tick = 0;
    Stats stats;
};

Cache& TheCache() {
    static Cache* cache = new Cache; // outlives static destructors that might still scan
    return *cache;
}

std::string CurrentTimeZone() {
    const char* tz = std::getenv("TZ");
    return tz ? std::string("=") + tz : std::string();
}

void EvictOne(Cache& cache) {
    auto oldest = cache.entries.end();
    for (auto it = cache.entries.begin(); it != cache.entries.end(); ++it) {
        if (cache.building.count(it->first))
            continue;
        if (oldest == cache.entries.end() || it->second->lastUse < oldest->second->lastUse)
            oldest = it;
    }
    if (oldest != cache.entries.end())
        cache.entries.erase(oldest);
}

// Reads and builds the file at `path` without the cache's lock; the entry says how it went.
// Missing when there is no file; `built` tells whether its text was parsed.
Status ReadEntry(const std::string& path, const calendar::Window* window, Entry& entry,
                 bool& built) {
    built = false;
    std::string bytes;
    int readError = 0;
    const ReadStatus read = ReadWholeFile(path, kMaxFileSize, bytes, entry.stamp, readError);
    if (read == ReadStatus::Missing)
        return Status::Missing;
    entry.timeZone = CurrentTimeZone();
    if (read == ReadStatus::Failed) {
        entry.error = "The calendar file " + path + " cannot be read: " +
                      (readError == EFBIG ? std::string("it is larger than 256 MiB")
                                          : std::strerror(readError)) +
                      ".";
        return Status::Failed;
    }
    calendar::Window range;
    if (window && window->from <= window->to) {
        range.from = window->from;
        range.to = window->to > INT64_MAX - kHorizon ? INT64_MAX : window->to + kHorizon;
    }
    std::string damage;
    entry.ok = calendar::Build(bytes, range, entry.contents, damage);
    built = true;
    if (!entry.ok)
        entry.error = "The calendar file " + path + " is damaged: " + damage + ".";
    entry.textHash = std::hash<std::string>{}(bytes);
    return entry.ok ? Status::Ok : Status::Failed;
}

// WithFile and ReadAhead: the entry for `path`, read anew unless the one held is current and
// covers `window`. With `ahead`, the notices of a new reading wait in the entry; otherwise the
// notices to tell (a new reading's, or those a reading ahead left waiting) go to `notices`.
Status Get(const std::string& path, const calendar::Window* window, bool ahead,
           const std::function<void(const calendar::FileContents&)>& use, std::string& error,
           std::vector<std::string>& notices) {
    Cache& cache = TheCache();
    std::unique_lock<std::mutex> lock(cache.mutex);
    // One reading of a path at a time: a user waits for the reading ahead of its own file.
    cache.built.wait(lock, [&] { return !cache.building.count(path); });
    const std::string timeZone = CurrentTimeZone();
    auto found = cache.entries.find(path);
    if (found != cache.entries.end()) {
        Entry& entry = *found->second;
        bool missing = false;
        const bool same = Unchanged(path, entry.stamp, &missing) && entry.timeZone == timeZone;
        if (missing) {
            cache.entries.erase(found);
            return Status::Missing;
        }
        if (same &&
            (!entry.ok || !window || entry.contents.window.Covers(window->from, window->to))) {
            if (!ahead) {
                entry.lastUse = ++cache.tick;
                ++cache.stats.hits;
                std::move(entry.pending.begin(), entry.pending.end(), std::back_inserter(notices));
                entry.pending.clear();
            }
            if (!entry.ok) {
                error = entry.error;
                return Status::Failed;
            }
            if (use)
                use(entry.contents);
            return Status::Ok;
        }
    }

    // A rereading tells only what was not told: an event of a rule not read is named once, not
    // once a day. What a reading ahead left untold counts as never told.
    ToldNotices told;
    size_t lastHash = 0;
    bool readBefore = false;
    if (found != cache.entries.end()) {
        const Entry& last = *found->second;
        told = last.pending.empty() ? last.told : last.toldBefore;
        lastHash = last.textHash;
        readBefore = true;
    }
    cache.building.insert(path);
    lock.unlock();
    auto entry = std::make_unique<Entry>();
    bool built = false;
    const Status read = ReadEntry(path, window, *entry, built);
    if (built)
        ical::ZonePoolTrim(kPooledZones);
    lock.lock();
    cache.building.erase(path);
    cache.built.notify_all();
    found = cache.entries.find(path);
    if (read == Status::Missing) {
        if (found != cache.entries.end())
            cache.entries.erase(found);
        return Status::Missing;
    }
    ++cache.stats.reads;
    cache.stats.parsedComponents += entry->contents.parsedComponents;
    entry->told = told;
    if (built) {
        const bool sameText = readBefore && lastHash == entry->textHash;
        std::vector<std::string> fresh;
        for (const std::string& notice : entry->told.Tell(entry->contents.notices, sameText))
            fresh.push_back("The calendar file " + path + " " + notice + ".");
        if (ahead) {
            entry->pending = std::move(fresh);
            entry->toldBefore = std::move(told);
        } else {
            std::move(fresh.begin(), fresh.end(), std::back_inserter(notices));
        }
    }
    entry->lastUse = ++cache.tick;
    Entry& kept = *entry;
    cache.entries[path] = std::move(entry);
    if (cache.entries.size() > kMaxEntries)
        EvictOne(cache);
    if (!kept.ok) {
        error = kept.error;
        return Status::Failed;
    }
    if (use)
        use(kept.contents);
    return Status::Ok;
}

} // namespace

Status WithFile(const std::string& path, const calendar::Window* window,
                const std::function<void(const calendar::FileContents&)>& use, std::string& error) {
    std::vector<std::string> notices;
    const Status status = Get(path, window, false, use, error, notices);
    for (const std::string& notice : notices)
        Notify(notice);
    return status;
}

void ReadAhead(const std::string& path, const calendar::Window& window) {
    std::vector<std::string> notices;
    std::string error;
    Get(path, &window, true, nullptr, error, notices);
}

Stats GetStats() {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    Stats stats = cache.stats;
    stats.entries = cache.entries.size();
    return stats;
}

void Clear() {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.entries.clear();
}

} // namespace mail::cache
