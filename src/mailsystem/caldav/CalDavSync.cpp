// The synchronisation of a home's collections with the server: changes by sync-collection
// where the server keeps tokens, otherwise by calendar-query and etags, items by multiget.
#include "mailsystem/caldav/CalDavSync.h"

#include <algorithm>
#include <set>

namespace mail::caldav {

using dav::Absolute;
using dav::Failed;
using dav::Names;
using dav::PathOf;
using dav::StatusInWords;

namespace {

constexpr size_t kMultigetBatch = 200;
// A sync-collection answer may be cut into parts by the server; more rounds than this are
// taken for a server that never finishes.
constexpr int kMaxSyncRounds = 20;

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

} // namespace

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

} // namespace mail::caldav
