// Mailboxes' calendar homes on a CalDAV server, copied into memory and kept up to date: a
// rescan of an unchanged home costs one request.
#pragma once

#include "mailsystem/caldav/DavClient.h"
#include "mailsystem/model/Items.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mail::caldav {

// One mailbox's calendar home as last read (opaque; shared by every session of the process).
class Home;

struct ReadResult {
    std::shared_ptr<Home> home; // null when the reading failed
    // The reading failed: a sentence naming the URL that failed and the cause in words.
    std::string error;
    std::string cause;        // the cause alone, in words
    bool unreachable = false; // no connection could be made to the server
};

// Reads the calendar home at `url` (absolute, as CalendarHomeUrl makes it). One depth-1
// PROPFIND lists its calendar collections with their tokens; a collection whose sync-token (or,
// without one, getctag) is what it was holds what it held. Changed collections are brought up
// to date with a sync-collection report, or where the server has no sync-token by comparing
// etags, fetching only what changed (calendar-multiget); new collections are read whole with
// calendar-query, removed ones forgotten. A collection is committed only when it was read
// completely, so a failure leaves it as it was.
ReadResult ReadHome(const std::string& url, const dav::Account& account, const dav::Limits& limits);

// Makes the reading ReadHome would make, now, for a ReadHome of the same home and user that
// follows within 30 seconds: that call then answers with it (its notice lines told then, its
// failure given then) without a request. A reading ahead already waiting is kept; a server a
// reading ahead could not reach is not tried ahead again for 30 seconds. Thread-safe: readings
// of several homes run at once (up to Limits::connectionsPerServer requests in flight).
void ReadHomeAhead(const std::string& url, const dav::Account& account, const dav::Limits& limits);

// The appointments of the home's event collections whose start s lies in from <= s <= to, by
// start (equal starts in collection, item and file order), as MailSystem::FindAppointments
// gives them. False with a sentence in `error` when an item is not iCalendar that can be read.
bool FindAppointments(Home& home, int64_t from, int64_t to, std::vector<Appointment>& out,
                      std::string& error);
// Every task of the home's task collections, in collection and item order.
bool FindTasks(Home& home, std::vector<Task>& out, std::string& error);

// Receives one line per collection read, saying what the reading did (for "orvane scan").
// Returns the observer it replaces; an empty one stops the lines.
using NoticeObserver = std::function<void(const std::string& line)>;
NoticeObserver SetNoticeObserver(NoticeObserver observer);

// Forgets every home (a benchmark's cold start; a restart forgets them as well).
void Clear();

} // namespace mail::caldav
