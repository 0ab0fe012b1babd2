// The calendar cache: contents keyed by path and checked against the file's stamp at each use.
#include "mailsystem/ical/CalendarCache.h"

#include "core/FileStamp.h"
#include "mailsystem/ical/IcalTime.h"
#include "mailsystem/model/Notices.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

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
};

struct Cache {
    std::mutex mutex;
    std::unordered_map<std::string, std::unique_ptr<Entry>> entries;
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
    auto oldest = cache.entries.begin();
    for (auto it = cache.entries.begin(); it != cache.entries.end(); ++it) {
        if (it->second->lastUse < oldest->second->lastUse)
            oldest = it;
    }
    if (oldest != cache.entries.end())
        cache.entries.erase(oldest);
}

} // namespace

namespace {

// WithFile under the cache's lock; the notices of a file read anew are handed back in `notices`
// (once: not again when a rereading finds the same).
Status WithFileLocked(Cache& cache, const std::string& path, const calendar::Window* window,
                      const std::function<void(const calendar::FileContents&)>& use,
                      std::string& error, std::vector<std::string>& notices) {
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
            entry.lastUse = ++cache.tick;
            ++cache.stats.hits;
            if (!entry.ok) {
                error = entry.error;
                return Status::Failed;
            }
            use(entry.contents);
            return Status::Ok;
        }
    }

    auto entry = std::make_unique<Entry>();
    if (found != cache.entries.end())
        entry->told = found->second->told;
    std::string bytes;
    int readError = 0;
    const ReadStatus read = ReadWholeFile(path, kMaxFileSize, bytes, entry->stamp, readError);
    if (read == ReadStatus::Missing) {
        if (found != cache.entries.end())
            cache.entries.erase(found);
        return Status::Missing;
    }
    ++cache.stats.reads;
    entry->timeZone = timeZone;
    if (read == ReadStatus::Failed) {
        entry->error = "The calendar file " + path + " cannot be read: " +
                       (readError == EFBIG ? std::string("it is larger than 256 MiB")
                                           : std::strerror(readError)) +
                       ".";
    } else {
        calendar::Window built;
        if (window && window->from <= window->to) {
            built.from = window->from;
            built.to = window->to > INT64_MAX - kHorizon ? INT64_MAX : window->to + kHorizon;
        }
        std::string damage;
        entry->ok = calendar::Build(bytes, built, entry->contents, damage);
        if (!entry->ok)
            entry->error = "The calendar file " + path + " is damaged: " + damage + ".";
        // A rereading (a change, or a range further on) tells only what was not told: an event
        // of a rule not read is named once, not once a day.
        entry->textHash = std::hash<std::string>{}(bytes);
        const bool sameText =
            found != cache.entries.end() && found->second->textHash == entry->textHash;
        for (const std::string& notice : entry->told.Tell(entry->contents.notices, sameText))
            notices.push_back("The calendar file " + path + " " + notice + ".");
        cache.stats.parsedComponents += entry->contents.parsedComponents;
        ical::ZonePoolTrim(kPooledZones);
    }
    bytes = std::string();
    entry->lastUse = ++cache.tick;
    Entry& kept = *entry;
    cache.entries[path] = std::move(entry);
    if (cache.entries.size() > kMaxEntries)
        EvictOne(cache);
    if (!kept.ok) {
        error = kept.error;
        return Status::Failed;
    }
    use(kept.contents);
    return Status::Ok;
}

} // namespace

Status WithFile(const std::string& path, const calendar::Window* window,
                const std::function<void(const calendar::FileContents&)>& use, std::string& error) {
    Cache& cache = TheCache();
    std::vector<std::string> notices;
    Status status;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        status = WithFileLocked(cache, path, window, use, error, notices);
    }
    for (const std::string& notice : notices)
        Notify(notice);
    return status;
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
