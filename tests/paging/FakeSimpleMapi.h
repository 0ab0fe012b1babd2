// A recording stand-in for the Simple MAPI library, for tests of CMAPI's calls and reactions.
#pragma once

#include "paging/simplemapi/SimpleMapi.h"

// What the fake answers and what it was called with. The test holds the library open itself
// (so the state survives CMAPI's unloading) and reaches the state through "FakeMapiControl".
struct FakeMapiState {
    // Answers.
    ULONG logonResult = SUCCESS_SUCCESS;
    LHANDLE logonHandle = 7; // what MAPILogon hands out; 0 = no session
    ULONG sendResult = SUCCESS_SUCCESS;

    // Calls.
    int logonCalls = 0, logoffCalls = 0, sendCalls = 0;
    ULONG_PTR logonUIParam = 1;
    bool profileNull = true, passwordNull = true;
    char profile[1024] = {0};
    char password[64] = {0};
    FLAGS logonFlags = 0;
    ULONG logonReserved = 1;

    LHANDLE logoffSession = 0;
    ULONG_PTR logoffUIParam = 1;
    FLAGS logoffFlags = 1;
    ULONG logoffReserved = 1;

    LHANDLE sendSession = 0;
    ULONG_PTR sendUIParam = 1;
    FLAGS sendFlags = 1;
    ULONG sendReserved = 1;
    bool messageNull = true;
    MapiMessage message = {}; // as received; its pointers are not kept
    bool subjectNull = true, textNull = true;
    char subject[256] = {0};
    char text[4096] = {0};
    MapiRecipDesc recipient = {}; // the first recipient, pointers not kept
    bool recipientNameNull = true;
    char recipientName[512] = {0};
    // The page's description in the message's own fields.
    bool dateNull = true, conversationNull = true, originatorNameNull = true;
    char date[128] = {0};
    char conversation[128] = {0};
    ULONG originatorClass = 99;
    char originatorName[512] = {0};
};

typedef FakeMapiState* (*LPFAKEMAPICONTROL)();
