// The recording Simple MAPI stand-in (see FakeSimpleMapi.h). Built twice: complete, and without
// MAPIFindNext when FAKE_MAPI_WITHOUT_FINDNEXT is defined.
#include "paging/FakeSimpleMapi.h"

#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

FakeMapiState g_state;

void Copy(char* to, size_t size, const char* from, bool& wasNull) {
    wasNull = from == nullptr;
    if (from) {
        std::strncpy(to, from, size - 1);
        to[size - 1] = '\0';
    }
}

} // namespace

EXPORT FakeMapiState* FakeMapiControl() {
    return &g_state;
}

EXPORT ULONG MAPILogon(ULONG_PTR ui, LPSTR profile, LPSTR password, FLAGS flags, ULONG reserved,
                       LPLHANDLE session) {
    ++g_state.logonCalls;
    g_state.logonUIParam = ui;
    Copy(g_state.profile, sizeof g_state.profile, profile, g_state.profileNull);
    Copy(g_state.password, sizeof g_state.password, password, g_state.passwordNull);
    g_state.logonFlags = flags;
    g_state.logonReserved = reserved;
    *session = g_state.logonHandle;
    return g_state.logonResult;
}

EXPORT ULONG MAPILogoff(LHANDLE session, ULONG_PTR ui, FLAGS flags, ULONG reserved) {
    ++g_state.logoffCalls;
    g_state.logoffSession = session;
    g_state.logoffUIParam = ui;
    g_state.logoffFlags = flags;
    g_state.logoffReserved = reserved;
    return SUCCESS_SUCCESS;
}

EXPORT ULONG MAPISendMail(LHANDLE session, ULONG_PTR ui, lpMapiMessage message, FLAGS flags,
                          ULONG reserved) {
    ++g_state.sendCalls;
    g_state.sendSession = session;
    g_state.sendUIParam = ui;
    g_state.sendFlags = flags;
    g_state.sendReserved = reserved;
    g_state.messageNull = message == nullptr;
    if (message) {
        g_state.message = *message;
        Copy(g_state.subject, sizeof g_state.subject, message->lpszSubject, g_state.subjectNull);
        Copy(g_state.text, sizeof g_state.text, message->lpszNoteText, g_state.textNull);
        Copy(g_state.date, sizeof g_state.date, message->lpszDateReceived, g_state.dateNull);
        Copy(g_state.conversation, sizeof g_state.conversation, message->lpszConversationID,
             g_state.conversationNull);
        g_state.originatorNameNull = true;
        if (message->lpOriginator) {
            g_state.originatorClass = message->lpOriginator->ulRecipClass;
            Copy(g_state.originatorName, sizeof g_state.originatorName,
                 message->lpOriginator->lpszName, g_state.originatorNameNull);
        }
        if (message->nRecipCount > 0 && message->lpRecips) {
            g_state.recipient = message->lpRecips[0];
            Copy(g_state.recipientName, sizeof g_state.recipientName, message->lpRecips[0].lpszName,
                 g_state.recipientNameNull);
        }
    }
    return g_state.sendResult;
}

EXPORT ULONG MAPIFreeBuffer(LPVOID) {
    return SUCCESS_SUCCESS;
}

#ifndef FAKE_MAPI_WITHOUT_FINDNEXT
EXPORT ULONG MAPIFindNext(LHANDLE, ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPSTR) {
    return MAPI_E_NOT_SUPPORTED;
}
#endif

EXPORT ULONG MAPIReadMail(LHANDLE, ULONG_PTR, LPSTR, FLAGS, ULONG, lpMapiMessage*) {
    return MAPI_E_NOT_SUPPORTED;
}
