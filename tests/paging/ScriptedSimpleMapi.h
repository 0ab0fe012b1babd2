// A Simple MAPI stand-in whose sends fail or succeed call by call, for tests of the paging walk.
#pragma once

#include "paging/simplemapi/SimpleMapi.h"

// The test holds the library open (so the state outlives CMAPI's unloading) and reaches the
// state through "ScriptedMapiControl".
struct ScriptedMapiState {
    static constexpr int kMaxCalls = 32;

    // Answers: the n-th MAPISendMail (counted from 0 since the state was reset) returns
    // sendResults[n] when n < scriptLength, and SUCCESS_SUCCESS after the script.
    ULONG sendResults[kMaxCalls] = {};
    int scriptLength = 0;

    // Calls.
    int logonCalls = 0, logoffCalls = 0, sendCalls = 0;
    char profile[512] = {0}; // of the last logon
    struct Send {
        LHANDLE session;
        char recipient[256];
        char subject[64];
        char text[512];
        ULONG result;
    } sends[kMaxCalls] = {};
};

typedef ScriptedMapiState* (*LPSCRIPTEDMAPICONTROL)();
