// The Simple MAPI shared library: sessions on mail profiles and page delivery by recipient name.
//
// Only the six entry points leave this library (SimpleMapiLibrary.map); the mail-system code it
// links is a private copy, so its state (sessions, libcurl set-up) is independent of the program's.
#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "mailsystem/transport/Transport.h"
#include "paging/simplemapi/SimpleMapi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <strings.h>
#include <type_traits>

#define SIMPLE_MAPI_EXPORT extern "C" __attribute__((visibility("default")))

SIMPLE_MAPI_EXPORT ULONG MAPILogon(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword,
                                   FLAGS flFlags, ULONG ulReserved, LPLHANDLE lplhSession);
SIMPLE_MAPI_EXPORT ULONG MAPILogoff(LHANDLE lhSession, ULONG_PTR ulUIParam, FLAGS flFlags,
                                    ULONG ulReserved);
SIMPLE_MAPI_EXPORT ULONG MAPIFreeBuffer(LPVOID pv);
SIMPLE_MAPI_EXPORT ULONG MAPIFindNext(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszMessageType,
                                      LPSTR lpszSeedMessageID, FLAGS flFlags, ULONG ulReserved,
                                      LPSTR lpszMessageID);
SIMPLE_MAPI_EXPORT ULONG MAPIReadMail(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszMessageID,
                                      FLAGS flFlags, ULONG ulReserved, lpMapiMessage* lppMessage);
SIMPLE_MAPI_EXPORT ULONG MAPISendMail(LHANDLE lhSession, ULONG_PTR ulUIParam,
                                      lpMapiMessage lpMessage, FLAGS flFlags, ULONG ulReserved);
SIMPLE_MAPI_EXPORT ULONG OrvaneLastSendError(LHANDLE lhSession, LPSTR lpszText, ULONG cbText);
SIMPLE_MAPI_EXPORT ULONG OrvaneLastSendCause(LHANDLE lhSession, LPSTR lpszText, ULONG cbText);

// The definitions must keep the types that callers look them up as.
static_assert(std::is_same_v<decltype(&MAPILogon), LPMAPILOGON>);
static_assert(std::is_same_v<decltype(&MAPILogoff), LPMAPILOGOFF>);
static_assert(std::is_same_v<decltype(&MAPIFreeBuffer), LPMAPIFREEBUFFER>);
static_assert(std::is_same_v<decltype(&MAPIFindNext), LPMAPIFINDNEXT>);
static_assert(std::is_same_v<decltype(&MAPIReadMail), LPMAPIREADMAIL>);
static_assert(std::is_same_v<decltype(&MAPISendMail), LPMAPISENDMAIL>);
static_assert(std::is_same_v<decltype(&OrvaneLastSendError), LPORVANELASTSENDERROR>);
static_assert(std::is_same_v<decltype(&OrvaneLastSendCause), LPORVANELASTSENDERROR>);

namespace {

// One logged-on session: the profile as it was at logon, its mail system and its transport.
struct Session {
    mail::Profile profile;
    std::shared_ptr<mail::MailSystem> mailSystem;
    std::unique_ptr<mail::Transport> transport;
    std::mutex sending;    // one delivery at a time per session
    std::string lastError; // the cause of the last failed send, when known; guarded by sending
    // The cause of the last failed send whatever the transport (an SMTP server's refusal too),
    // for a person trying a profile; guarded by sending.
    std::string lastCause;
};

// A bound on open sessions, so that a caller that never logs off cannot grow this without end.
constexpr size_t kMaxSessions = 256;

struct Registry {
    std::mutex lock;
    std::map<LHANDLE, std::shared_ptr<Session>> sessions;
    LHANDLE next = 1;
};

// Destroyed when the library is unloaded, with any session a caller failed to log off.
Registry& Sessions() {
    static Registry registry;
    return registry;
}

std::shared_ptr<Session> FindSession(LHANDLE handle) {
    Registry& r = Sessions();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.sessions.find(handle);
    return it == r.sessions.end() ? nullptr : it->second;
}

ULONG ResultFor(mail::DeliveryOutcome outcome) {
    using mail::DeliveryOutcome;
    switch (outcome) {
    case DeliveryOutcome::Sent:
        return SUCCESS_SUCCESS;
    case DeliveryOutcome::InvalidRecipient:
    case DeliveryOutcome::RecipientRefused:
        return MAPI_E_INVALID_RECIPS;
    case DeliveryOutcome::InvalidMessage:
        return MAPI_E_INVALID_MESSAGE;
    case DeliveryOutcome::ConnectionFailed:
    case DeliveryOutcome::TimedOut:
    case DeliveryOutcome::TlsFailed:
        return MAPI_E_NETWORK_FAILURE;
    case DeliveryOutcome::AuthenticationFailed:
        return MAPI_E_LOGON_FAILURE;
    case DeliveryOutcome::DiskFull:
        return MAPI_E_DISK_FULL;
    case DeliveryOutcome::OutOfMemory:
        return MAPI_E_INSUFFICIENT_MEMORY;
    case DeliveryOutcome::TooManyRecipients:
        return MAPI_E_TOO_MANY_RECIPIENTS;
    case DeliveryOutcome::SenderRefused:
    case DeliveryOutcome::MessageRefused:
    case DeliveryOutcome::ServerFailed:
    case DeliveryOutcome::Failed:
        return MAPI_E_FAILURE;
    }
    return MAPI_E_FAILURE;
}

// "SMTP:user@example.org" or "user@example.org" as given by a caller.
std::string StripAddressType(const char* address) {
    std::string text = address;
    if (text.size() > 5 && strncasecmp(text.c_str(), "SMTP:", 5) == 0)
        text.erase(0, 5);
    return text;
}

// Resolves one recipient by searching the address book; a Simple MAPI result code. A book that
// cannot be searched gives MAPI_E_FAILURE with its sentence in `error`; a delivery address the
// transport cannot take gives MAPI_E_INVALID_RECIPS with the transport's reason in `why`.
ULONG Resolve(const MapiRecipDesc& recip, mail::AddressBook& book, const mail::Transport& transport,
              mail::OutgoingRecipient& out, std::string& error, std::string& why) {
    switch (recip.ulRecipClass) {
    case MAPI_TO:
        out.kind = mail::OutgoingRecipient::Kind::To;
        break;
    case MAPI_CC:
        out.kind = mail::OutgoingRecipient::Kind::Cc;
        break;
    case MAPI_BCC:
        out.kind = mail::OutgoingRecipient::Kind::Bcc;
        break;
    default:
        return MAPI_E_BAD_RECIPTYPE;
    }
    const char* name = recip.lpszName ? recip.lpszName : "";
    // A line break or other control character in a name is refused outright: such a name can
    // never be looked up honestly nor written into a header.
    if (HasControlCharacter(name))
        return MAPI_E_INVALID_RECIPS;
    if (recip.lpszAddress && *recip.lpszAddress) {
        out.displayName = name;
        out.address = StripAddressType(recip.lpszAddress);
        return transport.IsValidDestination(out.address, why) ? SUCCESS_SUCCESS
                                                              : MAPI_E_INVALID_RECIPS;
    }
    if (!*name)
        return MAPI_E_UNKNOWN_RECIPIENT;
    std::vector<mail::AddressEntry> matches;
    if (!book.FindByDisplayName(name, matches, error))
        return MAPI_E_FAILURE;
    if (matches.empty())
        return MAPI_E_UNKNOWN_RECIPIENT;
    if (matches.size() > 1)
        return MAPI_E_AMBIGUOUS_RECIPIENT;
    const mail::AddressEntry& match = matches.front();
    out.displayName = match.displayName;
    out.address = match.deliverTo.empty() ? match.address : match.deliverTo;
    // The address list is edited by hand: its addresses are checked before they reach an
    // envelope, a header or a request.
    if (HasControlCharacter(out.displayName) || !transport.IsValidDestination(out.address, why))
        return MAPI_E_INVALID_RECIPS;
    return SUCCESS_SUCCESS;
}

// Seconds since 1970 from one time of a message's lpszDateReceived: "YYYY-MM-DDTHH:MM:SSZ"
// (UTC, as CMAPI writes a page's times) or Simple MAPI's own "YYYY/MM/DD HH:MM" (local time). 0
// for none and for anything else: the date of a message being sent is a hint, never a reason to
// refuse it.
int64_t ReadDate(const std::string& text) {
    if (text.empty())
        return 0;
    struct tm tm = {};
    char zone = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%c", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &zone, &extra) == 7 &&
        zone == 'Z') {
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        const time_t t = timegm(&tm);
        return t == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(t);
    }
    tm = {};
    if (std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &extra) == 5) {
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        tm.tm_isdst = -1;
        const time_t t = mktime(&tm);
        return t == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(t);
    }
    return 0;
}

// A page's times from lpszDateReceived: "PAGE/REMINDER" (an ISO 8601 interval in the UTC form),
// or a page time alone in either form (Simple MAPI's own holds slashes of its own).
void ReadDates(const char* text, int64_t& pageTime, int64_t& reminderTime) {
    const std::string dates = text ? text : "";
    const size_t slash = dates.find('/');
    const bool interval = slash != std::string::npos && dates.find('T') < slash;
    pageTime = ReadDate(interval ? dates.substr(0, slash) : dates);
    reminderTime = interval ? ReadDate(dates.substr(slash + 1)) : 0;
}

ULONG Send(Session& session, const MapiMessage& message) {
    std::lock_guard<std::mutex> guard(session.sending);
    session.lastError.clear();
    session.lastCause.clear();
    if (message.nFileCount != 0)
        return MAPI_E_NOT_SUPPORTED;
    if (message.nRecipCount == 0 || !message.lpRecips)
        return MAPI_E_INVALID_RECIPS;

    // A web service's failures are told in the event (its status and reason, a refused
    // destination); the e-mail transports' events keep their fixed texts.
    const bool tellsCause = session.profile.transport.kind == mail::TransportConfig::Kind::Web;
    mail::OutgoingMessage outgoing;
    outgoing.recipients.resize(message.nRecipCount);
    for (ULONG i = 0; i < message.nRecipCount; ++i) {
        std::string why;
        const ULONG rc = Resolve(message.lpRecips[i], *session.mailSystem, *session.transport,
                                 outgoing.recipients[i], session.lastError, why);
        if (rc != SUCCESS_SUCCESS) {
            if (tellsCause && session.lastError.empty())
                session.lastError = why;
            session.lastCause = session.lastError.empty() ? why : session.lastError;
            return rc;
        }
    }
    outgoing.subject = message.lpszSubject ? message.lpszSubject : "";
    if (HasControlCharacter(outgoing.subject))
        return MAPI_E_INVALID_MESSAGE;
    outgoing.body = message.lpszNoteText ? message.lpszNoteText : "";
    // What the page is of: the user by the originator's name, its page and reminder times by
    // the date, its identity by the conversation (CMAPI's page description).
    if (message.lpOriginator && message.lpOriginator->lpszName)
        outgoing.originatorName = message.lpOriginator->lpszName;
    ReadDates(message.lpszDateReceived, outgoing.pageTime, outgoing.reminderTime);
    if (message.lpszConversationID && *message.lpszConversationID) {
        outgoing.pageId = message.lpszConversationID;
        if (!mail::IsValidPageId(outgoing.pageId))
            return MAPI_E_INVALID_MESSAGE;
    }

    const mail::DeliveryResult result = session.transport->Deliver(outgoing);
    // A failure without a code of its own (a broken profile, such as a credential that cannot
    // be read) is told by its sentence, which the caller's event carries; so is every failure of
    // a web service.
    if (result.outcome == mail::DeliveryOutcome::Failed || (!result.ok() && tellsCause))
        session.lastError = result.detail;
    if (!result.ok())
        session.lastCause = result.detail;
    return ResultFor(result.outcome);
}

} // namespace

ULONG MAPILogon(ULONG_PTR, LPSTR lpszProfileName, LPSTR, FLAGS, ULONG, LPLHANDLE lplhSession) {
    if (!lplhSession)
        return MAPI_E_FAILURE;
    *lplhSession = 0;
    try {
        mail::Profiles profiles;
        std::string error;
        if (!profiles.Load(error))
            return MAPI_E_LOGON_FAILURE;
        // An empty or absent name means the default profile. There is no logon dialog to show,
        // so MAPI_LOGON_UI changes nothing.
        const mail::Profile* profile = profiles.Find(lpszProfileName ? lpszProfileName : "");
        if (!profile)
            return MAPI_E_LOGON_FAILURE;

        auto session = std::make_shared<Session>();
        session->profile = *profile;
        session->mailSystem = mail::MailSystem::OpenWithoutCalendarServer(*profile, error);
        if (!session->mailSystem)
            return MAPI_E_LOGON_FAILURE;
        session->transport =
            mail::Transport::Create(profile->transport, session->mailSystem->OutboxDirectory(),
                                    mail::CurrentTransportLimits(), error);
        if (!session->transport)
            return MAPI_E_LOGON_FAILURE;

        Registry& r = Sessions();
        std::lock_guard<std::mutex> guard(r.lock);
        if (r.sessions.size() >= kMaxSessions)
            return MAPI_E_TOO_MANY_SESSIONS;
        LHANDLE handle = r.next;
        while (handle == 0 || r.sessions.count(handle))
            ++handle;
        r.next = handle + 1;
        r.sessions.emplace(handle, std::move(session));
        *lplhSession = handle;
        return SUCCESS_SUCCESS;
    } catch (const std::bad_alloc&) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    } catch (...) {
        return MAPI_E_FAILURE;
    }
}

ULONG MAPILogoff(LHANDLE lhSession, ULONG_PTR, FLAGS, ULONG) {
    std::shared_ptr<Session> closed; // destroyed outside the lock
    Registry& r = Sessions();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.sessions.find(lhSession);
    if (it == r.sessions.end())
        return MAPI_E_INVALID_SESSION;
    closed = std::move(it->second);
    r.sessions.erase(it);
    return SUCCESS_SUCCESS;
}

ULONG MAPISendMail(LHANDLE lhSession, ULONG_PTR, lpMapiMessage lpMessage, FLAGS flFlags, ULONG) {
    try {
        std::shared_ptr<Session> session = FindSession(lhSession);
        if (!session)
            return MAPI_E_INVALID_SESSION;
        if (!lpMessage)
            return MAPI_E_INVALID_MESSAGE;
        // No dialog can be shown to complete a message.
        if (flFlags & MAPI_DIALOG)
            return MAPI_E_NOT_SUPPORTED;
        return Send(*session, *lpMessage);
    } catch (const std::bad_alloc&) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    } catch (...) {
        return MAPI_E_FAILURE;
    }
}

// Reading mail is not offered: the mail system keeps no inbox that Simple MAPI could read.
ULONG MAPIFindNext(LHANDLE lhSession, ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPSTR) {
    if (!FindSession(lhSession))
        return MAPI_E_INVALID_SESSION;
    return MAPI_E_NOT_SUPPORTED;
}

ULONG MAPIReadMail(LHANDLE lhSession, ULONG_PTR, LPSTR, FLAGS, ULONG, lpMapiMessage* lppMessage) {
    if (lppMessage)
        *lppMessage = nullptr;
    if (!FindSession(lhSession))
        return MAPI_E_INVALID_SESSION;
    return MAPI_E_NOT_SUPPORTED;
}

namespace {

// Copies the text `field` picks of the session into lpszText (at most cbText - 1 bytes and a
// NUL); the whole text's length, 0 when there is none.
ULONG CopySendText(LHANDLE lhSession, LPSTR lpszText, ULONG cbText, std::string Session::*field) {
    try {
        std::shared_ptr<Session> session = FindSession(lhSession);
        if (!session)
            return 0;
        std::lock_guard<std::mutex> guard(session->sending);
        const std::string& text = (*session).*field;
        if (lpszText && cbText > 0) {
            const size_t n = std::min<size_t>(text.size(), cbText - 1);
            std::memcpy(lpszText, text.data(), n);
            lpszText[n] = '\0';
        }
        return static_cast<ULONG>(text.size());
    } catch (...) {
        return 0;
    }
}

} // namespace

ULONG OrvaneLastSendError(LHANDLE lhSession, LPSTR lpszText, ULONG cbText) {
    return CopySendText(lhSession, lpszText, cbText, &Session::lastError);
}

ULONG OrvaneLastSendCause(LHANDLE lhSession, LPSTR lpszText, ULONG cbText) {
    return CopySendText(lhSession, lpszText, cbText, &Session::lastCause);
}

// Nothing this library returns is allocated for the caller, so only a null pointer is valid.
ULONG MAPIFreeBuffer(LPVOID pv) {
    return pv ? MAPI_E_FAILURE : SUCCESS_SUCCESS;
}
