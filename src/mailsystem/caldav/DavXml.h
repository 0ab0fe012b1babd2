// The XML of CalDAV: the request bodies Orvane sends and the multistatus answers it reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail::dav {

// One <response> of a multistatus. Properties count only where the server reported them with
// status 200; the others stay absent.
struct Resource {
    std::string href;
    int status = 0; // the response's own <status> (such as 404 for a removed member); 0: none
    std::string reason; // the words after that status's code, such as "Not Found"
    bool collection = false;
    bool calendar = false; // resourcetype holds CalDAV's <calendar/>
    // supported-calendar-component-set: present, and which of VEVENT and VTODO it names.
    bool hasComponentSet = false;
    bool events = false, tasks = false;
    std::optional<std::string> etag, ctag, syncToken, displayName;
    std::optional<std::string> calendarData;
};

struct Multistatus {
    std::vector<Resource> resources;
    std::string syncToken; // a sync-collection report's new token; empty otherwise
};

// Reads a multistatus document. False, with what is wrong and on which line in `damage`, when
// the text is not well-formed XML, not a multistatus, or a response has no href.
bool ParseMultistatus(std::string_view xml, Multistatus& out, std::string& damage);

// PROPFIND of a calendar home: each member's type, name, getctag and component set, and with
// `syncToken` its sync-token too (which costs Radicale three times as much as the rest: it is
// asked for only of servers that give no getctag).
std::string HomePropfindBody(bool syncToken);

enum class Component { Events, Tasks };

// calendar-query for every VEVENT or every VTODO of a collection; with `data` each item's
// calendar-data too, otherwise its etag alone. No time-range: servers' own expansion of
// recurrences cannot be relied on (Xandikos 0.2.8 leaves out weekly series begun long ago), and
// asking by the rules' existence instead makes Radicale parse every item (0.8 s against 0.08 s
// for a calendar of 200 events), so a collection is read whole once, and only what changed
// later.
std::string CalendarQueryBody(Component component, bool data);

// sync-collection report from `token` (empty: from the beginning, every member), asking for the
// etag and the calendar-data of every member changed since.
std::string SyncCollectionBody(const std::string& token);

// calendar-multiget of the given hrefs (as the server gave them), with etags and calendar-data.
std::string MultigetBody(const std::vector<std::string>& hrefs);

} // namespace mail::dav
