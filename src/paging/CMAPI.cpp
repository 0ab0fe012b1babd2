// The Simple MAPI client: loading the library, logging on, sending one page, reporting failures.
#include "paging/CMAPI.h"

#include "paging/EventLog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <limits.h>
#include <memory>
#include <new>
#include <unistd.h>

LPMAPILOGON CMAPI::lpfnMAPILogon = nullptr;
LPMAPILOGOFF CMAPI::lpfnMAPILogoff = nullptr;
LPMAPIFREEBUFFER CMAPI::lpfnMAPIFreeBuffer = nullptr;
LPMAPIFINDNEXT CMAPI::lpfnMAPIFindNext = nullptr;
LPMAPIREADMAIL CMAPI::lpfnMAPIReadMail = nullptr;
LPMAPISENDMAIL CMAPI::lpfnMAPISendMail = nullptr;
LPORVANELASTSENDERROR CMAPI::lpfnOrvaneLastSendError = nullptr;
LPORVANELASTSENDERROR CMAPI::lpfnOrvaneLastSendCause = nullptr;

namespace {

constexpr size_t kMaxProfileName = 255;

// A writable copy of `text` (the Simple MAPI entry points take non-const strings); null when
// no memory could be had.
std::unique_ptr<char[]> Buffer(const char* text) {
    const size_t length = text ? std::strlen(text) : 0;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
    if (copy) {
        if (length)
            std::memcpy(copy.get(), text, length);
        copy[length] = '\0';
    }
    return copy;
}

std::string ExecutableDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "";
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (!slash)
        return "";
    *slash = '\0';
    return path;
}

template <typename T> T Resolve(void* library, const char* name) {
    return reinterpret_cast<T>(dlsym(library, name));
}

struct Residency {
    bool keep = false;
    std::vector<std::string> resident; // the paths given their reference of their own
};

Residency& GetResidency() {
    static Residency residency;
    return residency;
}

} // namespace

CMAPI::~CMAPI() {
    CloseMailServer();
}

void CMAPI::KeepLibraryResident(bool keep) {
    GetResidency().keep = keep;
}

std::vector<std::string> CMAPI::LibraryCandidates() {
    if (const char* chosen = std::getenv(kSimpleMapiLibraryVariable); chosen && *chosen)
        return {chosen};
    std::vector<std::string> candidates;
    const std::string directory = ExecutableDirectory();
    if (!directory.empty())
        candidates.push_back(directory + "/" + kSimpleMapiLibraryName);
    candidates.push_back(kSimpleMapiLibraryName);
    return candidates;
}

void CMAPI::OpenMailServer() {
    // Opening again releases what the earlier opening held instead of leaking it.
    if (ServerOpen || Library)
        CloseMailServer();
    ServerOpen = 0;
    Session = 0;

    std::string opened;
    for (const std::string& candidate : LibraryCandidates()) {
        Library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (Library) {
            opened = candidate;
            break;
        }
    }
    if (!Library)
        return;

    lpfnMAPILogon = Resolve<LPMAPILOGON>(Library, "MAPILogon");
    lpfnMAPILogoff = Resolve<LPMAPILOGOFF>(Library, "MAPILogoff");
    lpfnMAPIFreeBuffer = Resolve<LPMAPIFREEBUFFER>(Library, "MAPIFreeBuffer");
    lpfnMAPIFindNext = Resolve<LPMAPIFINDNEXT>(Library, "MAPIFindNext");
    lpfnMAPIReadMail = Resolve<LPMAPIREADMAIL>(Library, "MAPIReadMail");
    lpfnMAPISendMail = Resolve<LPMAPISENDMAIL>(Library, "MAPISendMail");
    lpfnOrvaneLastSendError = Resolve<LPORVANELASTSENDERROR>(Library, "OrvaneLastSendError");
    lpfnOrvaneLastSendCause = Resolve<LPORVANELASTSENDERROR>(Library, "OrvaneLastSendCause");

    if (!lpfnMAPILogon || !lpfnMAPILogoff || !lpfnMAPIFreeBuffer || !lpfnMAPIFindNext ||
        !lpfnMAPIReadMail || !lpfnMAPISendMail) {
        dlclose(Library);
        Library = nullptr;
        return;
    }
    ServerOpen = 1;

    Residency& residency = GetResidency();
    if (residency.keep && std::find(residency.resident.begin(), residency.resident.end(), opened) ==
                              residency.resident.end()) {
        if (dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL)) // never closed
            residency.resident.push_back(opened);
    }
}

void CMAPI::CloseMailServer() {
    CloseMailSession();
    if (ServerOpen == 1) {
        dlclose(Library);
        Library = nullptr;
        // The entry points went with the library; nothing may call them through this object.
        ServerOpen = 0;
    }
}

int CMAPI::OpenMailSession(const CString& profile) {
    std::unique_ptr<char[]> name = Buffer(profile.substr(0, kMaxProfileName).c_str());
    std::unique_ptr<char[]> password = Buffer("");
    if (!ServerOpen)
        return 0;
    if (Session == 0 && name && password)
        lpfnMAPILogon(0, name.get(), password.get(), MAPI_LOGON_UI, 0, &Session);
    return Session != 0 ? 1 : 0;
}

void CMAPI::CloseMailSession() {
    if (ServerOpen == 1 && Session != 0) {
        lpfnMAPILogoff(Session, 0, 0, 0);
        Session = 0;
    }
}

int CMAPI::SendMail(const char* recipient, const char* subject, const char* text,
                    int reportErrors) {
    return Send(recipient, subject, text, reportErrors, nullptr);
}

int CMAPI::SendMail(const char* recipient, const char* subject, const char* text, int reportErrors,
                    const PageDescription& page) {
    return Send(recipient, subject, text, reportErrors, &page);
}

int CMAPI::Send(const char* recipient, const char* subject, const char* text, int reportErrors,
                const PageDescription* page) {
    if (Session == 0) {
        LogEvent(EventLog::kEventId,
                 "Orvane is not logged onto the mail system.  Please exit and restart the "
                 "application.");
        return 0;
    }

    std::unique_ptr<char[]> name = Buffer(recipient);
    std::unique_ptr<char[]> subjectCopy = Buffer(subject);
    std::unique_ptr<char[]> body = Buffer(text);
    if (!name || !subjectCopy || !body)
        return 0;

    MapiRecipDesc recip = {};
    recip.ulRecipClass = MAPI_TO;
    recip.lpszName = name.get();

    MapiMessage message = {};
    message.lpszSubject = subjectCopy.get();
    message.lpszNoteText = body.get();
    message.nRecipCount = 1;
    message.lpRecips = &recip;

    // The page's description, in the message's own fields where it has them.
    std::unique_ptr<char[]> userName, date, conversation;
    MapiRecipDesc originator = {};
    if (page) {
        if (!page->UserName.empty()) {
            userName = Buffer(page->UserName.c_str());
            if (!userName)
                return 0;
            originator.ulRecipClass = MAPI_ORIG;
            originator.lpszName = userName.get();
            message.lpOriginator = &originator;
        }
        if (page->PageTime.GetTime() != 0) {
            CString dates = page->PageTime.FormatGmt("%Y-%m-%dT%H:%M:%SZ");
            if (page->ReminderTime.GetTime() != 0)
                dates += "/" + page->ReminderTime.FormatGmt("%Y-%m-%dT%H:%M:%SZ");
            date = Buffer(dates.c_str());
            if (!date)
                return 0;
            message.lpszDateReceived = date.get();
        }
        if (!page->Identity.empty()) {
            conversation = Buffer(page->Identity.c_str());
            if (!conversation)
                return 0;
            message.lpszConversationID = conversation.get();
        }
    }

    const ULONG rc = lpfnMAPISendMail(Session, 0, &message, 0, 0);
    if (rc != SUCCESS_SUCCESS && reportErrors) {
        switch (rc) {
        case MAPI_E_DISK_FULL:
            LogEvent(EventLog::kEventId,
                     "There is insufficient disk space to send the reminder page.");
            break;
        case MAPI_E_INSUFFICIENT_MEMORY:
            LogEvent(EventLog::kEventId, "There is insufficient memory to send the reminder page");
            break;
        case MAPI_E_UNKNOWN_RECIPIENT: {
            const CString event = CString("A reminder page could not be sent to ") + name.get() +
                                  " because the pager name does not exist in the addressbook.";
            LogEvent(EventLog::kEventId, event.c_str());
            break;
        }
        case MAPI_E_INVALID_SESSION:
            LogEvent(EventLog::kEventId, "The logon to the mail system has been lost.");
            break;
        case MAPI_E_AMBIGUOUS_RECIPIENT:
            LogEvent(EventLog::kEventId,
                     "A reminder page could not be sent because the specified pager name matched "
                     "more than one entry in the addressbook.");
            break;
        default: {
            // The library may know the cause (a directory that could not be searched): it
            // follows the fixed text, as the Outlook client adds an error's description.
            CString event =
                "A reminder page could not be sent.  An unspecified error was received.";
            const CString cause = LastSendError();
            if (!cause.empty())
                event += "  " + cause;
            LogEvent(EventLog::kEventId, event.c_str());
        }
        }
    }
    return rc == SUCCESS_SUCCESS ? 1 : 0;
}

CString CMAPI::LastSendError() const {
    if (!ServerOpen || !Session || !lpfnOrvaneLastSendError)
        return {};
    char text[1024];
    if (lpfnOrvaneLastSendError(Session, text, sizeof text) == 0)
        return {};
    text[sizeof text - 1] = '\0';
    return text;
}

CString CMAPI::LastSendCause() const {
    if (!ServerOpen || !Session || !lpfnOrvaneLastSendCause)
        return {};
    char text[1024];
    if (lpfnOrvaneLastSendCause(Session, text, sizeof text) == 0)
        return {};
    text[sizeof text - 1] = '\0';
    return text;
}

void CMAPI::LogEvent(unsigned long eventId, const char* first, const char* second) {
    ::LogEvent(eventId, first, second);
}
