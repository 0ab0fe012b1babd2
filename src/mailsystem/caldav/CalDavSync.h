// The copies of a home's collections and how one reading brings them up to date with the
// server: the requests of one reading under a shared deadline, and the synchronisation of a
// listed collection (sync-collection, calendar-query, etag comparison, multiget).
#pragma once

#include "mailsystem/caldav/CalDavStore.h"
#include "mailsystem/caldav/DavAnswers.h"
#include "mailsystem/caldav/DavClient.h"
#include "mailsystem/caldav/DavXml.h"
#include "mailsystem/ical/CalendarFile.h"
#include "mailsystem/model/Notices.h"

#include <map>
#include <memory>
#include <string>

namespace mail::caldav {

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
            return Fail(url, dav::StatusInWords(r.status, r.reason, HasUser()));
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
        return Fail(url, dav::StatusInWords(r.status, r.reason, HasUser()));
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

// Tells the notice observer (or keeps the line while a reading ahead runs on this thread).
void Notice(const std::string& line);

// Brings one listed collection up to date into `out`; `held` is the copy from the last reading,
// if any, which an unchanged collection moves to `out` and a failure leaves as it was.
bool Synchronise(Reader& reader, const Listed& listed, Collection* held, Collection& out);

} // namespace mail::caldav
