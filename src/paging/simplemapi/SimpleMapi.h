// The Simple MAPI C interface: message types, flags, result codes and the entry points' types.
#pragma once

#include "paging/simplemapi/MapiTypes.h"

// The library is loaded at run time and its entry points are found by name (CMAPI.h says
// where it is looked for), so this header declares only their pointer types.
#ifdef __cplusplus
extern "C" {
#endif

// A session handle; 0 is never a session.
typedef ULONG LHANDLE;
typedef LHANDLE* LPLHANDLE;

typedef struct MapiFileDesc {
    ULONG ulReserved;
    ULONG flFlags;
    ULONG nPosition;
    LPSTR lpszPathName;
    LPSTR lpszFileName;
    LPVOID lpFileType;
} MapiFileDesc, *lpMapiFileDesc;

typedef struct MapiRecipDesc {
    ULONG ulReserved;
    ULONG ulRecipClass; // MAPI_ORIG, MAPI_TO, MAPI_CC or MAPI_BCC
    LPSTR lpszName;     // resolved against the address list when lpszAddress is absent
    LPSTR lpszAddress;  // optional: "SMTP:user@example.org" or a bare address
    ULONG ulEIDSize;
    LPVOID lpEntryID;
} MapiRecipDesc, *lpMapiRecipDesc;

typedef struct MapiMessage {
    ULONG ulReserved;
    LPSTR lpszSubject;  // null or "" for none
    LPSTR lpszNoteText; // the body
    LPSTR lpszMessageType;
    LPSTR lpszDateReceived;
    LPSTR lpszConversationID;
    FLAGS flFlags;
    lpMapiRecipDesc lpOriginator;
    ULONG nRecipCount;
    lpMapiRecipDesc lpRecips;
    ULONG nFileCount;
    lpMapiFileDesc lpFiles;
} MapiMessage, *lpMapiMessage;

// Recipient classes.
#define MAPI_ORIG 0
#define MAPI_TO 1
#define MAPI_CC 2
#define MAPI_BCC 3

// MAPILogon flags.
#define MAPI_LOGON_UI 0x00000001
#define MAPI_NEW_SESSION 0x00000002
#define MAPI_FORCE_DOWNLOAD 0x00001000
#define MAPI_PASSWORD_UI 0x00020000

// MAPISendMail flags.
#define MAPI_DIALOG 0x00000008

// Message flags.
#define MAPI_UNREAD 0x00000001
#define MAPI_RECEIPT_REQUESTED 0x00000002
#define MAPI_SENT 0x00000004

// Result codes.
#define SUCCESS_SUCCESS 0
#define MAPI_USER_ABORT 1
#define MAPI_E_USER_ABORT MAPI_USER_ABORT
#define MAPI_E_FAILURE 2
#define MAPI_E_LOGON_FAILURE 3
#define MAPI_E_LOGIN_FAILURE MAPI_E_LOGON_FAILURE
#define MAPI_E_DISK_FULL 4
#define MAPI_E_INSUFFICIENT_MEMORY 5
#define MAPI_E_ACCESS_DENIED 6
#define MAPI_E_TOO_MANY_SESSIONS 8
#define MAPI_E_TOO_MANY_FILES 9
#define MAPI_E_TOO_MANY_RECIPIENTS 10
#define MAPI_E_ATTACHMENT_NOT_FOUND 11
#define MAPI_E_ATTACHMENT_OPEN_FAILURE 12
#define MAPI_E_ATTACHMENT_WRITE_FAILURE 13
#define MAPI_E_UNKNOWN_RECIPIENT 14
#define MAPI_E_BAD_RECIPTYPE 15
#define MAPI_E_NO_MESSAGES 16
#define MAPI_E_INVALID_MESSAGE 17
#define MAPI_E_TEXT_TOO_LARGE 18
#define MAPI_E_INVALID_SESSION 19
#define MAPI_E_TYPE_NOT_SUPPORTED 20
#define MAPI_E_AMBIGUOUS_RECIPIENT 21
#define MAPI_E_AMBIG_RECIP MAPI_E_AMBIGUOUS_RECIPIENT
#define MAPI_E_MESSAGE_IN_USE 22
#define MAPI_E_NETWORK_FAILURE 23
#define MAPI_E_INVALID_EDITFIELDS 24
#define MAPI_E_INVALID_RECIPS 25
#define MAPI_E_NOT_SUPPORTED 26

// The six entry points, as found with dlsym.
typedef ULONG (*LPMAPILOGON)(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword,
                             FLAGS flFlags, ULONG ulReserved, LPLHANDLE lplhSession);
typedef ULONG (*LPMAPILOGOFF)(LHANDLE lhSession, ULONG_PTR ulUIParam, FLAGS flFlags,
                              ULONG ulReserved);
typedef ULONG (*LPMAPIFREEBUFFER)(LPVOID pv);
typedef ULONG (*LPMAPIFINDNEXT)(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszMessageType,
                                LPSTR lpszSeedMessageID, FLAGS flFlags, ULONG ulReserved,
                                LPSTR lpszMessageID);
typedef ULONG (*LPMAPIREADMAIL)(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszMessageID,
                                FLAGS flFlags, ULONG ulReserved, lpMapiMessage* lppMessage);
typedef ULONG (*LPMAPISENDMAIL)(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage,
                                FLAGS flFlags, ULONG ulReserved);

// Orvane's own addition beside the six entry points: the cause, in words, of the session's
// last failed MAPISendMail when the library knows more than its result code tells (a directory
// that could not be searched names itself and the cause). Copies at most cbText - 1 bytes and a
// NUL into lpszText; returns the length of the whole text, 0 when there is none. Optional: a
// library without it is used all the same.
typedef ULONG (*LPORVANELASTSENDERROR)(LHANDLE lhSession, LPSTR lpszText, ULONG cbText);
// OrvaneLastSendCause, of the same type: the cause of the last failed send whatever the library
// knows of it (an SMTP server's refusal of the login too), for a person trying a profile;
// events keep OrvaneLastSendError's. Optional as well.

#ifdef __cplusplus
}
#endif
