// The scripted Simple MAPI stand-in (see ScriptedSimpleMapi.h).
#include "paging/ScriptedSimpleMapi.h"

#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr LHANDLE kSession = 42;
ScriptedMapiState g_state;

void Copy(char* to, size_t size, const char* from) {
    std::strncpy(to, from ? from : "", size - 1);
    to[size - 1] = '\0';
}

} // namespace

EXPORT ScriptedMapiState* ScriptedMapiControl() {
    return &g_state;
}

EXPORT ULONG MAPILogon(ULONG_PTR, LPSTR profile, LPSTR, FLAGS, ULONG, LPLHANDLE session) {
    ++g_state.logonCalls;
    Copy(g_state.profile, sizeof g_state.profile, profile);
    *session = kSession;
    return SUCCESS_SUCCESS;
}

EXPORT ULONG MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG) {
    if (session != kSession)
        return MAPI_E_INVALID_SESSION;
    ++g_state.logoffCalls;
    return SUCCESS_SUCCESS;
}

EXPORT ULONG MAPISendMail(LHANDLE session, ULONG_PTR, lpMapiMessage message, FLAGS, ULONG) {
    const int n = g_state.sendCalls++;
    const ULONG result = n < g_state.scriptLength ? g_state.sendResults[n] : SUCCESS_SUCCESS;
    if (n < ScriptedMapiState::kMaxCalls) {
        ScriptedMapiState::Send& s = g_state.sends[n];
        s.session = session;
        s.result = result;
        if (message) {
            Copy(s.subject, sizeof s.subject, message->lpszSubject);
            Copy(s.text, sizeof s.text, message->lpszNoteText);
            if (message->nRecipCount == 1 && message->lpRecips)
                Copy(s.recipient, sizeof s.recipient, message->lpRecips[0].lpszName);
        }
    }
    return result;
}

EXPORT ULONG MAPIFreeBuffer(LPVOID) {
    return SUCCESS_SUCCESS;
}

EXPORT ULONG MAPIFindNext(LHANDLE, ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPSTR) {
    return MAPI_E_NOT_SUPPORTED;
}

EXPORT ULONG MAPIReadMail(LHANDLE, ULONG_PTR, LPSTR, FLAGS, ULONG, lpMapiMessage*) {
    return MAPI_E_NOT_SUPPORTED;
}
