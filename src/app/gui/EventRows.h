// What the Events view lists: the events the monitor wrote this session and those of the JSON
// event file, newest first, and the filter by user and type. No display needed.
#pragma once

#include "paging/EventLog.h"
#include "users/UserlistStru.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace events {

struct EventRow {
    int64_t time = 0; // seconds since 1970 (UTC) when the entry was written
    std::string type; // "error" or "information", as the journal and the file name it
    std::string text; // the insertion strings, the first first, one space between
};

// One row per entry, in the entries' order.
std::vector<EventRow> RowsOf(const std::vector<EventLog::Entry>& entries);

// The rows of the latest lines of the JSON event file at `path` (one object a line, as the
// file sink writes it), newest first. Only the file's last `maxBytes` are read, so that a file
// that grew for months costs no more than a screenful; lines that are not such an object are
// skipped and counted in `skipped`. False, with a sentence naming the file, when it cannot be
// read; a file that does not exist yet holds no rows.
bool ReadEventFile(const std::string& path, size_t maxBytes, std::vector<EventRow>& rows,
                   size_t& skipped, std::string& error);

// The rows of both lists, newest first; a row of `second` that `first` holds already (same
// time, type and text: the session's entry and its line in the file) is listed once.
std::vector<EventRow> Merge(const std::vector<EventRow>& first,
                            const std::vector<EventRow>& second);

struct EventFilter {
    // Texts that name the user (display name, mailbox, pager name); a row matches when its
    // text holds any of them, byte for byte. Empty: every user.
    std::vector<std::string> userNames;
    std::string type; // empty: every type
};

// The names by which the event texts name `user`.
EventFilter FilterForUser(const UserlistStru& user);

bool Matches(const EventRow& row, const EventFilter& filter);

} // namespace events
