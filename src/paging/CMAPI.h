// CMAPI: the Simple MAPI client that sends pages, loading the mail library by name at run time.
#pragma once

#include "core/CString.h"
#include "paging/PageIdentity.h"
#include "paging/simplemapi/SimpleMapi.h"

#include <string>
#include <vector>

// Where the Simple MAPI library is looked for, in order (docs/mapi.md):
//  1. the file that the environment variable ORVANE_MAPI_LIBRARY names, and only that file;
//  2. kSimpleMapiLibraryName in the directory of the running executable;
//  3. kSimpleMapiLibraryName through the system's library search (LD_LIBRARY_PATH, ld.so.cache).
inline constexpr const char* kSimpleMapiLibraryName = "liborvane-mapi32.so";
inline constexpr const char* kSimpleMapiLibraryVariable = "ORVANE_MAPI_LIBRARY";

// A CMAPI lives for one paging call: open the server, open a session, send, close the server.
// Every failure is written as an event (ID 1001); nothing is shown to the user.
class CMAPI {
public:
    CMAPI() = default;
    // Closes what the caller left open (the session and the library).
    ~CMAPI();
    CMAPI(const CMAPI&) = delete;
    CMAPI& operator=(const CMAPI&) = delete;

    // Loads the library and resolves the six entry points; ServerOpen tells the outcome.
    void OpenMailServer();
    // Logs off and unloads the library.
    void CloseMailServer();
    // Logs on with `profile` (cut to 255 characters; empty: the default profile) unless a
    // session exists. 1 when a session exists afterwards, else 0.
    int OpenMailSession(const CString& profile);
    void CloseMailSession();
    // Sends `text` to the address-list entry named `recipient`; 1 when sent, else 0. With
    // `reportErrors` nonzero a failed send writes its event.
    int SendMail(const char* recipient, const char* subject, const char* text, int reportErrors);
    // The same, for a page described by `page`: the message carries the user's display name as
    // its originator (MAPI_ORIG, name only), the page time and the reminder time as its date
    // received ("PAGE/REMINDER", each "YYYY-MM-DDTHH:MM:SSZ" in UTC, as an ISO 8601 interval;
    // the page time alone without a reminder time) and the page's identity as its conversation
    // identifier, each only where the description has it. Results and events are SendMail's.
    int SendMail(const char* recipient, const char* subject, const char* text, int reportErrors,
                 const PageDescription& page);

    // The candidates of the search above, in order.
    static std::vector<std::string> LibraryCandidates();
    // While set, a library that opened completely stays mapped for the rest of the process
    // (one extra reference of its own), so that later openings take a reference instead of
    // mapping and relocating it again, which costs milliseconds per paging call. Openings and
    // closings behave as before. The monitor sets it; a single command need not.
    static void KeepLibraryResident(bool keep);

    int32_t ServerOpen = 0;  // 1 when the library is loaded and all six entry points resolved
    LHANDLE Session = 0;     // 0 when there is no session
    void* Library = nullptr; // the dlopen handle, or none

private:
    int Send(const char* recipient, const char* subject, const char* text, int reportErrors,
             const PageDescription* page);
    void LogEvent(unsigned long eventId, const char* first, const char* second = nullptr);
    // The library's words for why the session's last send failed; empty when it has none.
    CString LastSendError() const;

public:
    // The library's words for why the last SendMail failed, whatever the transport (empty when
    // it has none); what a trial of a profile shows beside the event text.
    CString LastSendCause() const;

private:
    // Held once for the class and overwritten by every OpenMailServer.
    static LPMAPILOGON lpfnMAPILogon;
    static LPMAPILOGOFF lpfnMAPILogoff;
    static LPMAPIFREEBUFFER lpfnMAPIFreeBuffer;
    static LPMAPIFINDNEXT lpfnMAPIFindNext;
    static LPMAPIREADMAIL lpfnMAPIReadMail;
    static LPMAPISENDMAIL lpfnMAPISendMail;
    // Optional (SimpleMapi.h): the cause in words of a failed send, added to its event.
    static LPORVANELASTSENDERROR lpfnOrvaneLastSendError;
    static LPORVANELASTSENDERROR lpfnOrvaneLastSendCause; // optional too
};
