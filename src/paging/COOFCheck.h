// COOFCheck: reads the out-of-office state of the mailboxes on one home message store.
#pragma once

#include "core/CString.h"
#include "paging/ExtendedMapi.h"

// One object serves one store (a user record's Server) for one out-of-office pass: it logs on
// to MAPI once, opens the Exchange private store once, then opens, reads and closes the mailbox
// of each user in turn. Calling order: constructor, OpenExchangeStore, GetOOF for each user,
// CloseExchangeStore, destructor. Every failure is written as an event (ID 1001) and absorbed;
// error codes appear in the texts as lower-case hexadecimal without leading zeros.
//
// Ownership: the object holds one reference to each of Session, ExchangeStore and Mailbox while
// they are set, and gives every one back by the time it is destroyed, also after a logoff that
// failed.
class COOFCheck {
public:
    explicit COOFCheck(const CString& server);
    ~COOFCheck();
    COOFCheck(const COOFCheck&) = delete;
    COOFCheck& operator=(const COOFCheck&) = delete;

    // 1 when the store search ended without an error code (the profile may still have no
    // Exchange store, in which case every GetOOF gives 0 without an event); 0 otherwise.
    int OpenExchangeStore();
    // Writes the out-of-office state of `mailboxName` (0 in, nonzero out) into *flag when it
    // could be read, and leaves *flag alone otherwise. 1 when it was read and the mailbox closed.
    int GetOOF(const CString& mailboxName, int32_t* flag);
    // 1 on success or when no store is open.
    int CloseExchangeStore();

    HRESULT InitResult = S_OK;       // of MAPIInitialize; MAPI is uninitialised only when 0
    LPMAPISESSION Session = nullptr; // none until logon succeeds
    LPMDB ExchangeStore = nullptr;   // the profile's Exchange private store, or none
    LPMDB Mailbox = nullptr;         // the mailbox open at the moment; none between users
    CString Server;                  // distinguished name of the store this object serves

    // The text of a code in an event: 0x8004010F gives "8004010f", 1 gives "1".
    static CString CodeText(HRESULT code);

private:
    int Logon();
    int Logoff();
    int OpenMailbox(const CString& mailboxName);
    int CloseMailbox();
    int GetOOFFlag(int32_t* flag);
    HRESULT HrOpenStoreFromGuid(LPMAPISESSION session, const MAPIUID& provider, LPMDB* store);
    HRESULT HrMailboxLogon(LPMAPISESSION session, LPMDB exchangeStore, const CString& storeName,
                           const CString& mailboxName, LPMDB* mailbox);
    HRESULT HrMailboxLogoff(LPMDB* mailbox);
    void LogEvent(unsigned long eventId, const char* first, const char* second = nullptr);
};
