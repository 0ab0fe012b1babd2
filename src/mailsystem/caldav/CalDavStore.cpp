// The copies of calendar homes: listed with one PROPFIND, synchronised collection by collection,
// each item's iCalendar text read with the same reader as the directory's files.
#include "mailsystem/caldav/CalDavStore.h"

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
constexpr size_t kMultigetBatch = 200;
// A sync-collection answer may be cut into parts by the server; more rounds than this are
// taken for a server that never finishes.
constexpr int kMaxSyncRounds = 20;
constexpr size_t kPooledZones = 64;

std::string CurrentTimeZone() {
    const char* tz = std::getenv("TZ");
    return tz ? std::string("=") + tz : std::string();
}

// One calendar object resource and what its text yields.
struct Item {
    std::string etag;
    std::string text;
    bool built = false;
    bool ok = false;
    std::string damage;
    std::string timeZone; // TZ when built: floating and all-day times depend on it
    calendar::FileContents contents;
    ToldNotices told; // of the item's URL, kept when the item changes
};

struct Collection {
    std::string url;
    std::string name;
    bool events = false, tasks = false;
    // The state the items are a copy of: its getctag and sync-token as the home's listing gave
    // them (the first that the server gives tells a change), and the sync-token of the last
    // sync-collection report, from which the next one starts (empty: the server has none).
    std::string ctag, listedToken;
    std::string syncToken;
    // By absolute URL. Shared, so that a collection is copied cheaply before it is changed: a
    // changed item is replaced, and what an item's text yields is built once for every copy.
    std::map<std::string, std::shared_ptr<Item>> items;
};

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

// A collection as the home's listing gives it.
struct Listed {
    std::string url, name, syncToken, ctag;
    bool events = true, tasks = true;
};

// The requests of one reading, with their shared deadline and the first failure.
class Reader {
public:
    Reader(const dav::Account& account, const dav::Limits& limits)
        : m_account(account), m_limits(limits),
          m_deadline(dav::Clock::now() + std::chrono::milliseconds(limits.mailboxTimeoutMs)) {}

    // Sends one request; true with the multistatus it answered. Otherwise false, with the
    // failure kept (unless `status` is given and the server answered another status, which
    // the caller may take as an answer: then `*status` is set and nothing is kept).
    bool Ask(const std::string& method, const std::string& url, int depth, const std::string& body,
             dav::Multistatus& out, std::string* answeredUrl = nullptr, long* status = nullptr) {
        ++m_requests;
        const dav::Response r =
            dav::Send({method, url, depth, body}, m_account, m_limits, m_deadline);
        if (!r.answered)
            return Fail(url, r.failure, r.unreachable);
        if (r.status != 207) {
            if (status && r.status != 401) {
                *status = r.status;
                return false;
            }
            return Fail(url, StatusInWords(r.status, r.reason, HasUser()));
        }
        std::string damage;
        if (!dav::ParseMultistatus(r.body, out, damage))
            return Fail(url, "the server's answer is damaged: " + damage);
        if (answeredUrl)
            *answeredUrl = r.url;
        return true;
    }

    bool Fail(const std::string& url, const std::string& cause, bool unreachable = false) {
        if (m_error.empty()) {
            m_error = "The calendar server could not be read at " + url + ": " + cause + ".";
            m_cause = cause;
            m_unreachable = unreachable;
        }
        return false;
    }

    // Fails the reading for a response inside a multistatus whose own status failed.
    bool FailFor(const std::string& url, const dav::Resource& r) {
        return Fail(url, StatusInWords(r.status, r.reason, HasUser()));
    }
    bool HasUser() const { return !m_account.user.empty(); }

    int Requests() const { return m_requests; }
    // The first failure as a ReadResult.
    ReadResult Failure() const {
        ReadResult result;
        result.error = m_error;
        result.cause = m_cause;
        result.unreachable = m_unreachable;
        return result;
    }

private:
    const dav::Account& m_account;
    const dav::Limits& m_limits;
    dav::Clock::time_point m_deadline;
    int m_requests = 0;
    std::string m_error, m_cause;
    bool m_unreachable = false;
};

void Store(Collection& c, const std::string& key, const dav::Resource& r) {
    auto item = std::make_shared<Item>();
    item->etag = r.etag.value_or(std::string());
    item->text = *r.calendarData;
    std::shared_ptr<Item>& held = c.items[key];
    if (held)
        item->told = held->told;
    held = std::move(item);
}

// Fetches the calendar data of `wanted` (absolute URLs) into `c`, in batches. A member the
// server no longer has is dropped.
bool Multiget(Reader& reader, Collection& c, const std::vector<std::string>& wanted,
              size_t& fetched) {
    for (size_t first = 0; first < wanted.size(); first += kMultigetBatch) {
        std::vector<std::string> hrefs;
        std::set<std::string> asked;
        for (size_t i = first; i < std::min(wanted.size(), first + kMultigetBatch); ++i) {
            hrefs.push_back(PathOf(wanted[i]));
            asked.insert(wanted[i]);
        }
        dav::Multistatus answer;
        if (!reader.Ask("REPORT", c.url, 0, dav::MultigetBody(hrefs), answer))
            return false;
        for (const dav::Resource& r : answer.resources) {
            const std::string key = Absolute(c.url, r.href);
            if (!asked.erase(key))
                continue;
            if (Failed(r) && r.status != 404)
                return reader.FailFor(key, r);
            if (r.status == 404 || (!r.calendarData && !r.etag)) {
                c.items.erase(key);
            } else if (!r.calendarData) {
                return reader.Fail(key, "the server gave no calendar data for it");
            } else {
                Store(c, key, r);
                ++fetched;
            }
        }
        // Members the answer does not mention are gone as well.
        for (const std::string& key : asked)
            c.items.erase(key);
    }
    return true;
}

std::vector<dav::Component> Parts(const Collection& c) {
    std::vector<dav::Component> parts;
    if (c.events)
        parts.push_back(dav::Component::Events);
    if (c.tasks)
        parts.push_back(dav::Component::Tasks);
    return parts;
}

// Lists the collection's events and tasks with calendar-query. With `data`, stores them;
// without, the etags of the members in `etags`.
bool Query(Reader& reader, Collection& c, bool data, std::map<std::string, std::string>& etags,
           size_t& fetched) {
    std::vector<std::string> missing;
    for (dav::Component part : Parts(c)) {
        dav::Multistatus answer;
        if (!reader.Ask("REPORT", c.url, 1, dav::CalendarQueryBody(part, data), answer))
            return false;
        for (const dav::Resource& r : answer.resources) {
            const std::string key = Absolute(c.url, r.href);
            if (Failed(r) && (r.status != 404 || Names(c.url, r.href, c.url)))
                return reader.FailFor(Names(c.url, r.href, c.url) ? c.url : key, r);
            if (r.status == 404 || key == c.url || etags.count(key))
                continue;
            etags[key] = r.etag.value_or(std::string());
            if (!data)
                continue;
            if (r.calendarData) {
                Store(c, key, r);
                ++fetched;
            } else {
                missing.push_back(key); // a server that does not send data with its queries
            }
        }
    }
    return Multiget(reader, c, missing, fetched);
}

// What changed since the collection's sync-token (every member when it is empty). False with
// `unsupported` set when the server does not take the report or no longer knows the token: the
// caller reads the collection another way.
bool SyncChanges(Reader& reader, Collection& c, size_t& fetched, bool& unsupported) {
    std::string token = c.syncToken;
    for (int round = 0; round < kMaxSyncRounds; ++round) {
        dav::Multistatus answer;
        long status = 0;
        if (!reader.Ask("REPORT", c.url, 0, dav::SyncCollectionBody(token), answer, nullptr,
                        &status)) {
            // An unknown token gets 403 or 409 (DAV:valid-sync-token), some servers answer 400
            // or 412; a server without the report 403, 405, 415 or 501.
            unsupported = status == 400 || status == 403 || status == 405 || status == 409 ||
                          status == 412 || status == 415 || status == 501;
            if (status && !unsupported)
                return reader.Fail(c.url, "the server answered HTTP " + std::to_string(status) +
                                              " to the sync-collection report");
            return false;
        }
        bool truncated = false;
        std::vector<std::string> wanted;
        for (const dav::Resource& r : answer.resources) {
            const std::string key = Absolute(c.url, r.href);
            if (Names(c.url, r.href, c.url)) {
                truncated = truncated || r.status == 507;
                if (Failed(r) && r.status != 507)
                    return reader.FailFor(c.url, r);
                continue;
            }
            if (Failed(r) && r.status != 404)
                return reader.FailFor(key, r);
            if (r.status == 404) {
                c.items.erase(key);
            } else if (r.calendarData) {
                Store(c, key, r);
                ++fetched;
            } else {
                auto found = c.items.find(key);
                if (found == c.items.end() || !r.etag || found->second->etag != *r.etag)
                    wanted.push_back(key);
            }
        }
        if (!Multiget(reader, c, wanted, fetched))
            return false;
        if (answer.syncToken.empty()) {
            unsupported = true; // an answer to go on from is not one to rely on
            return false;
        }
        token = answer.syncToken;
        if (!truncated) {
            c.syncToken = token;
            return true;
        }
    }
    return reader.Fail(c.url, "the server's sync-collection answers never came to an end");
}

// A collection read whole: with a sync-collection report from the beginning, which gives the
// token for the next one, or where the server has none with calendar-query.
bool ReadWhole(Reader& reader, Collection& c, size_t& fetched) {
    c.items.clear();
    c.syncToken.clear();
    bool unsupported = false;
    if (SyncChanges(reader, c, fetched, unsupported))
        return true;
    if (!unsupported)
        return false;
    c.items.clear();
    c.syncToken.clear();
    std::map<std::string, std::string> etags;
    return Query(reader, c, true, etags, fetched);
}

// For servers without sync-tokens: the members' etags compared with those held.
bool CompareEtags(Reader& reader, Collection& c, size_t& fetched) {
    std::map<std::string, std::string> etags;
    if (!Query(reader, c, false, etags, fetched))
        return false;
    std::vector<std::string> wanted;
    for (auto it = c.items.begin(); it != c.items.end();) {
        it = etags.count(it->first) ? std::next(it) : c.items.erase(it);
    }
    for (const auto& [key, etag] : etags) {
        auto found = c.items.find(key);
        if (found == c.items.end() || etag.empty() || found->second->etag != etag)
            wanted.push_back(key);
    }
    return Multiget(reader, c, wanted, fetched);
}

std::string What(const Collection& c) {
    return c.events && c.tasks ? "appointments and tasks" : c.events ? "appointments" : "tasks";
}

std::string Plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Brings one listed collection up to date into `out`; `held` is the copy from the last reading,
// if any, which an unchanged collection moves to `out` and a failure leaves as it was.
bool Synchronise(Reader& reader, const Listed& listed, Collection* held, Collection& out) {
    const int requestsBefore = reader.Requests();
    size_t fetched = 0;
    const bool usable = held && held->events == listed.events && held->tasks == listed.tasks;
    const bool unchanged =
        usable &&
        (!listed.ctag.empty() ? listed.ctag == held->ctag
                              : !listed.syncToken.empty() && listed.syncToken == held->listedToken);
    if (unchanged) {
        out = std::move(*held);
    } else if (usable) {
        out = *held;
    } else {
        out = Collection();
        out.url = listed.url;
        out.events = listed.events;
        out.tasks = listed.tasks;
    }
    out.name = listed.name;
    bool ok = true;
    if (!unchanged) {
        if (usable && !out.syncToken.empty()) {
            bool unsupported = false;
            ok = SyncChanges(reader, out, fetched, unsupported);
            if (!ok && unsupported)
                ok = ReadWhole(reader, out, fetched);
        } else if (usable) {
            ok = CompareEtags(reader, out, fetched);
        } else {
            ok = ReadWhole(reader, out, fetched);
        }
        out.ctag = listed.ctag;
        out.listedToken = listed.syncToken;
    }
    if (!ok)
        return false;
    const int requests = reader.Requests() - requestsBefore;
    Notice("read " + out.url + " (" + What(out) +
           "): " + Plural(out.items.size(), "item", "items") +
           (unchanged ? ", unchanged"
                      : ", " + std::to_string(fetched) + " fetched in " +
                            Plural(static_cast<size_t>(requests), "request", "requests")));
    return true;
}

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

} // namespace

namespace {

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
