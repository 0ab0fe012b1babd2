// Reading the Exchange global address list through Extended MAPI, as the user dialogs and
// "orvane address-list" do.
#pragma once

#include "paging/ExtendedMapi.h"
#include "users/GALEntryStru.h"

// Where a read of the global address list stopped. The user dialogs ignore it (a list that
// could not be read just stays empty or partial); the command line reports it.
struct GALReadResult {
    const char* failedCall = nullptr; // the MAPI call that failed; null when read to the end
    HRESULT code = S_OK;              // its result code

    bool Complete() const { return failedCall == nullptr; }
};

// Appends every entry of the global address list to `names` and `entries`, in the list's order,
// duplicates included. `profileName` empty logs on to the default profile (MAPI_USE_DEFAULT),
// as the dialogs do; otherwise to that profile. The first call that fails ends the reading: what
// was read by then stays in the lists, and every object obtained is released, every buffer
// freed and MAPI uninitialised whenever it was initialised. A column that a row lacks (a pager
// entry has no home store) is read as an empty text.
GALReadResult GetGALContents(GALNameList& names, GALEntryList& entries,
                             const CString& profileName = CString());

// The entry identifier of the global address list: the one address-book container whose
// provider is the Exchange address book (MUIDEMSAB) and whose container number is 0. On success
// (a result that is not FAILED) *lpcbEntryID and *lppEntryID hold it; the caller frees it with
// MAPIFreeBuffer. On failure both are 0 / null, and E_FAIL stands for a failed hierarchy query
// or a number of matching containers other than one.
HRESULT HrFindExchangeGlobalAddressList(LPADRBOOK lpAdrBook, ULONG* lpcbEntryID,
                                        LPENTRYID* lppEntryID);

// The text that stands for a stored mailbox: the display name of the first entry whose Address
// equals `mailboxName` exactly, or the mailbox name itself when no entry does.
CString GetDisplayName(const GALEntryList& entries, const CString& mailboxName);
