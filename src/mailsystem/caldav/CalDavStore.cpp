// The copies of calendar homes: listed with one PROPFIND, synchronised collection by collection,
// each item's iCalendar text read with the same reader as the directory's files.
#include "mailsystem/caldav/CalDavStore.h"

#include "mailsystem/caldav/CalDavSync.h"
#include "mailsystem/caldav/DavAnswers.h"
#include "mailsystem/caldav/DavXml.h"
#include "mailsystem/ical/CalendarCache.h"
#include "mailsystem/ical/CalendarFile.h"
#include "mailsystem/ical/IcalTime.h"
#include "mailsystem/model/Notices.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>

namespace mail::caldav {

using dav::Absolute;
using dav::Failed;
using dav::Names;
using dav::PathOf;
using dav::StatusInWords;

namespace {

constexpr size_t kMaxHomes = 20000;
constexpr size_t kPooledZones = 64;

std::string CurrentTimeZone() {
    const char* tz = std::getenv("TZ");
    return tz ? std::string("=") + tz : std::string();
}

} // namespace

// A reading made ahead of the scan that will use it (ReadHomeAhead), with the lines it would
// have given the notice observer.
struct Prepared {
    bool ok = false;
    std::string error, cause;
    bool unreachable = false;
    std::vector<std::string> lines;
    dav::Clock::time_point at;
};

class Home {
public:
    std::mutex mutex;                              // one reading or query at a time
    std::optional<Prepared> prepared;              // the latest reading ahead, not used yet
    std::map<std::string, Collection> collections; // by absolute URL
    // The server gave a calendar no getctag: the listing asks for sync-tokens too.
    bool askSyncToken = false;
    uint64_t lastUse = 0;
};

namespace {

struct Cache {
    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<Home>> homes; // by URL and user
    uint64_t tick = 0;
    NoticeObserver observer;
    // Servers a reading ahead could not reach, and when: further readings ahead of them wait
    // kUnreachablePause, leaving the scan to say so, rather than each wait for a connection.
    std::map<std::string, dav::Clock::time_point> unreachable;
};

// How long a reading ahead stands for the scan's own reading of the home: the scan comes
// within a pass or two of it; a later scan reads the home again.
constexpr auto kPreparedFor = std::chrono::seconds(30);
constexpr auto kUnreachablePause = std::chrono::seconds(30);

// While a reading ahead runs on this thread, its notice lines are kept here instead of told.
thread_local std::vector<std::string>* t_heldLines = nullptr;

Cache& TheCache() {
    static Cache* cache = new Cache; // outlives static destructors that might still scan
    return *cache;
}

std::shared_ptr<Home> HomeFor(const std::string& key) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    std::shared_ptr<Home>& home = cache.homes[key];
    if (!home)
        home = std::make_shared<Home>();
    home->lastUse = ++cache.tick;
    if (cache.homes.size() > kMaxHomes) {
        auto oldest = cache.homes.begin();
        for (auto it = cache.homes.begin(); it != cache.homes.end(); ++it) {
            if (it->second->lastUse < oldest->second->lastUse)
                oldest = it;
        }
        std::shared_ptr<Home> kept = home;
        cache.homes.erase(oldest);
        return kept;
    }
    return home;
}

} // namespace

void Notice(const std::string& line) {
    if (t_heldLines) {
        t_heldLines->push_back(line);
        return;
    }
    NoticeObserver observer;
    {
        Cache& cache = TheCache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        observer = cache.observer;
    }
    if (observer)
        observer(line);
}

namespace {

// The item's contents, built for `window` (or for its tasks alone when null) unless what was
// built covers it in the same time zone. What the building repaired, guessed or could not read
// as written, and the building before it did not, is added to `notices` as sentences naming
// `url`, for the notice sink (Notices.h) once the home is no longer locked.
const Item& Built(Item& item, const calendar::Window* window, const std::string& url,
                  std::vector<std::string>& notices) {
    const std::string zone = CurrentTimeZone();
    if (item.built && item.timeZone == zone &&
        (!window || !item.ok || item.contents.window.Covers(window->from, window->to)))
        return item;
    calendar::Window built;
    if (window) {
        built.from = window->from;
        built.to =
            window->to > INT64_MAX - cache::kHorizon ? INT64_MAX : window->to + cache::kHorizon;
    }
    item.contents = calendar::FileContents();
    item.damage.clear();
    item.ok = calendar::Build(item.text, built, item.contents, item.damage);
    for (const std::string& notice : item.told.Tell(item.contents.notices, item.built))
        notices.push_back("The calendar item " + url + " " + notice + ".");
    item.built = true;
    item.timeZone = zone;
    ical::ZonePoolTrim(kPooledZones);
    return item;
}

// ReadHome with the home's lock held by the caller.
ReadResult ReadLocked(const std::shared_ptr<Home>& home, const std::string& url,
                      const dav::Account& account, const dav::Limits& limits) {
    Reader reader(account, limits);
    dav::Multistatus listing;
    std::string answeredUrl = url;
    if (!reader.Ask("PROPFIND", url, 1, dav::HomePropfindBody(home->askSyncToken), listing,
                    &answeredUrl))
        return reader.Failure();
    // Members elsewhere are not followed: the credentials are for this server alone.
    const std::string origin = dav::Origin(answeredUrl);
    std::vector<Listed> listed;
    for (const dav::Resource& r : listing.resources) {
        if (Failed(r)) {
            // A home the server does not have (Xandikos answers 207 with a 404 inside) is a
            // failure, never an empty home; so is a member it would not list.
            const bool home = listing.resources.size() == 1 ||
                              Names(answeredUrl, r.href, answeredUrl) ||
                              Names(answeredUrl, r.href, url);
            if (!home && r.status == 404)
                continue; // gone while the listing was made
            reader.FailFor(home ? url : Absolute(answeredUrl, r.href), r);
            return reader.Failure();
        }
        if (!r.calendar)
            continue;
        Listed l;
        l.url = Absolute(answeredUrl, r.href);
        if (dav::Origin(l.url) != origin) {
            Notice("not read: " + l.url + " lies on another server than the calendar home");
            continue;
        }
        l.name = r.displayName.value_or(std::string());
        l.syncToken = r.syncToken.value_or(std::string());
        l.ctag = r.ctag.value_or(std::string());
        if (l.ctag.empty())
            home->askSyncToken = true; // from the next reading on
        if (r.hasComponentSet) {
            l.events = r.events;
            l.tasks = r.tasks;
        }
        if (l.events || l.tasks)
            listed.push_back(std::move(l));
    }
    std::sort(listed.begin(), listed.end(),
              [](const Listed& a, const Listed& b) { return a.url < b.url; });

    std::map<std::string, Collection> kept;
    for (const Listed& l : listed) {
        auto held = home->collections.find(l.url);
        Collection next;
        if (!Synchronise(reader, l, held == home->collections.end() ? nullptr : &held->second,
                         next)) {
            // What was read completely stays; the failed collection keeps its old copy, to be
            // brought up to date at the next reading.
            for (auto& [key, collection] : kept)
                home->collections[key] = std::move(collection);
            return reader.Failure();
        }
        kept[l.url] = std::move(next);
    }
    home->collections = std::move(kept); // collections no longer listed are gone
    ReadResult result;
    result.home = home;
    return result;
}

} // namespace

ReadResult ReadHome(const std::string& url, const dav::Account& account,
                    const dav::Limits& limits) {
    std::shared_ptr<Home> home = HomeFor(url + "\n" + account.user);
    std::optional<Prepared> prepared;
    {
        std::lock_guard<std::mutex> lock(home->mutex);
        prepared.swap(home->prepared);
        if (!prepared || dav::Clock::now() - prepared->at > kPreparedFor)
            return ReadLocked(home, url, account, limits);
    }
    for (const std::string& line : prepared->lines)
        Notice(line);
    ReadResult result;
    if (prepared->ok)
        result.home = home;
    result.error = prepared->error;
    result.cause = prepared->cause;
    result.unreachable = prepared->unreachable;
    return result;
}

void ReadHomeAhead(const std::string& url, const dav::Account& account, const dav::Limits& limits) {
    const std::string origin = dav::Origin(url);
    {
        Cache& cache = TheCache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        auto down = cache.unreachable.find(origin);
        if (down != cache.unreachable.end()) {
            if (dav::Clock::now() - down->second < kUnreachablePause)
                return;
            cache.unreachable.erase(down);
        }
    }
    std::shared_ptr<Home> home = HomeFor(url + "\n" + account.user);
    std::lock_guard<std::mutex> lock(home->mutex);
    if (home->prepared && dav::Clock::now() - home->prepared->at <= kPreparedFor)
        return;
    Prepared prepared;
    t_heldLines = &prepared.lines;
    const ReadResult result = ReadLocked(home, url, account, limits);
    t_heldLines = nullptr;
    prepared.ok = result.home != nullptr;
    prepared.error = result.error;
    prepared.cause = result.cause;
    prepared.unreachable = result.unreachable;
    prepared.at = dav::Clock::now();
    home->prepared = std::move(prepared);
    if (result.unreachable) {
        Cache& cache = TheCache();
        std::lock_guard<std::mutex> cacheLock(cache.mutex);
        cache.unreachable[origin] = dav::Clock::now();
    }
}

bool FindAppointments(Home& home, int64_t from, int64_t to, std::vector<Appointment>& out,
                      std::string& error) {
    out.clear();
    std::vector<std::string> notices;
    bool ok = true;
    {
        std::lock_guard<std::mutex> lock(home.mutex);
        const calendar::Window window{from, to};
        for (auto& [url, collection] : home.collections) {
            if (!collection.events || !ok)
                continue;
            for (auto& [itemUrl, item] : collection.items) {
                const Item& built = Built(*item, &window, itemUrl, notices);
                if (!built.ok) {
                    error = "The calendar item " + itemUrl + " is damaged: " + built.damage + ".";
                    out.clear();
                    ok = false;
                    break;
                }
                calendar::AppendAppointments(built.contents, from, to, out);
            }
        }
    }
    for (const std::string& notice : notices)
        Notify(notice);
    std::stable_sort(out.begin(), out.end(),
                     [](const Appointment& a, const Appointment& b) { return a.start < b.start; });
    return ok;
}

bool FindTasks(Home& home, std::vector<Task>& out, std::string& error) {
    out.clear();
    std::vector<std::string> notices;
    bool ok = true;
    {
        std::lock_guard<std::mutex> lock(home.mutex);
        for (auto& [url, collection] : home.collections) {
            if (!collection.tasks || !ok)
                continue;
            for (auto& [itemUrl, item] : collection.items) {
                const Item& built = Built(*item, nullptr, itemUrl, notices);
                if (!built.ok) {
                    error = "The calendar item " + itemUrl + " is damaged: " + built.damage + ".";
                    out.clear();
                    ok = false;
                    break;
                }
                out.insert(out.end(), built.contents.tasks.begin(), built.contents.tasks.end());
            }
        }
    }
    for (const std::string& notice : notices)
        Notify(notice);
    return ok;
}

NoticeObserver SetNoticeObserver(NoticeObserver observer) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    std::swap(cache.observer, observer);
    return observer;
}

void Clear() {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.homes.clear();
    cache.unreachable.clear();
}

} // namespace mail::caldav
