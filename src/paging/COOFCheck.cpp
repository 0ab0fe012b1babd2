// The out-of-office check: Extended MAPI logon, the Exchange store, and each mailbox's flag.
#include "paging/COOFCheck.h"

#include "paging/EventLog.h"

#include <cstdio>
#include <vector>

namespace {

// A writable, zero-terminated copy: the MAPI methods take non-const strings.
std::vector<char> Writable(const CString& text) {
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

const char* const kInstalled =
    "  Please be sure that a copy of Microsoft Outlook has been installed on this machine";
const char* const kRights = "  Please be sure that the logon account has sufficient rights.";

// What the object that failed with `code` says of the failure (the out-of-office file or server
// and the cause), as a sentence to follow an event's text; empty when it says nothing.
CString FailureText(IMAPIProp* object, HRESULT code) {
    LPMAPIERROR error = nullptr;
    if (object->GetLastError(code, 0, &error) != S_OK || !error)
        return CString();
    CString text;
    if (error->lpszError && *error->lpszError)
        text = CString("  ") + error->lpszError;
    MAPIFreeBuffer(error);
    return text;
}

} // namespace

CString COOFCheck::CodeText(HRESULT code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(static_cast<uint32_t>(code)));
    return buffer;
}

COOFCheck::COOFCheck(const CString& server) : Server(server) {
    InitResult = MAPIInitialize(nullptr);
    if (InitResult != S_OK) {
        const CString text = "Unable to initialize the MAPI driver.  Error code " +
                             CodeText(InitResult) + " was received." + kInstalled + ".";
        LogEvent(EventLog::kEventId, text.c_str());
        return;
    }
    Logon();
}

COOFCheck::~COOFCheck() {
    // References that a caller left open, or that a failed close kept, go back before the
    // session ends.
    UlRelease(Mailbox);
    Mailbox = nullptr;
    UlRelease(ExchangeStore);
    ExchangeStore = nullptr;
    Logoff();
    // A session whose logoff failed is still ours to release.
    UlRelease(Session);
    Session = nullptr;
    if (InitResult == S_OK)
        MAPIUninitialize();
}

int COOFCheck::Logon() {
    LPMAPISESSION session = nullptr;
    const HRESULT hr = MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session);
    if (hr != S_OK) {
        UlRelease(session); // whatever came back with a code we do not take as success
        const CString text = "Unable to log onto the MAPI session.  Error code " + CodeText(hr) +
                             " was received." + kInstalled +
                             ", and that you have configured a default profile.";
        LogEvent(EventLog::kEventId, text.c_str());
        return 0;
    }
    Session = session;
    return 1;
}

int COOFCheck::Logoff() {
    if (!Session)
        return 1;
    const HRESULT hr = Session->Logoff(0, 0, 0);
    if (hr != S_OK) {
        const CString text = "Unable to log off the MAPI session.  Error code " + CodeText(hr) +
                             " was received." + kInstalled +
                             ", and that you have configured a default profile.";
        LogEvent(EventLog::kEventId, text.c_str());
        return 0;
    }
    UlRelease(Session);
    Session = nullptr;
    return 1;
}

int COOFCheck::OpenExchangeStore() {
    if (!Session)
        return 0; // the failed initialisation or logon has written its event
    // Opening twice must not drop the first store's reference.
    UlRelease(ExchangeStore);
    ExchangeStore = nullptr;
    const HRESULT hr =
        HrOpenStoreFromGuid(Session, pbExchangeProviderPrimaryUserGuid, &ExchangeStore);
    if (hr != S_OK) {
        const CString text = "Unable to open the Exchange Server Store.  Error code " +
                             CodeText(hr) + " was received." + kRights;
        LogEvent(EventLog::kEventId, text.c_str());
        return 0;
    }
    return 1;
}

HRESULT COOFCheck::HrOpenStoreFromGuid(LPMAPISESSION session, const MAPIUID& provider,
                                       LPMDB* store) {
    *store = nullptr;
    LPMAPITABLE table = nullptr;
    HRESULT hr = session->GetMsgStoresTable(0, &table);
    if (FAILED(hr)) {
        UlRelease(table);
        return hr;
    }

    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    SPropValue providerValue = {};
    providerValue.ulPropTag = PR_MDB_PROVIDER;
    providerValue.Value.bin.cb = sizeof provider.ab;
    providerValue.Value.bin.lpb = const_cast<BYTE*>(provider.ab);
    SRestriction restriction = {};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_MDB_PROVIDER;
    restriction.res.resProperty.lpProp = &providerValue;

    LPSRowSet rows = nullptr;
    hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), &restriction, nullptr,
                        0, &rows);
    if (!FAILED(hr)) {
        if (!rows || rows->cRows == 0) {
            hr = S_OK; // the profile has no Exchange private store: nothing to open
        } else if (rows->aRow[0].cValues != 1 || rows->aRow[0].lpProps[0].ulPropTag != PR_ENTRYID) {
            hr = 1;
        } else {
            const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
            hr = session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                       MAPI_BEST_ACCESS, store);
        }
    }
    FreeProws(rows);
    UlRelease(table);
    return hr;
}

int COOFCheck::GetOOF(const CString& mailboxName, int32_t* flag) {
    if (!OpenMailbox(mailboxName))
        return 0;
    int result = GetOOFFlag(flag);
    if (!CloseMailbox())
        result = 0;
    return result;
}

int COOFCheck::OpenMailbox(const CString& mailboxName) {
    UlRelease(Mailbox);
    Mailbox = nullptr;
    const HRESULT hr = HrMailboxLogon(Session, ExchangeStore, Server, mailboxName, &Mailbox);
    if (hr != S_OK) {
        const CString text = "Unable to open the Mailbox " + mailboxName + ".  Error code " +
                             CodeText(hr) + " was received." + kRights;
        LogEvent(EventLog::kEventId, text.c_str());
        return 0;
    }
    return 1;
}

HRESULT COOFCheck::HrMailboxLogon(LPMAPISESSION session, LPMDB exchangeStore,
                                  const CString& storeName, const CString& mailboxName,
                                  LPMDB* mailbox) {
    *mailbox = nullptr;
    if (!session || !exchangeStore)
        return S_OK; // nothing is opened; GetOOFFlag then finds no mailbox

    LPEXCHANGEMANAGESTORE manage = nullptr;
    HRESULT hr =
        exchangeStore->QueryInterface(IID_IExchangeManageStore, reinterpret_cast<void**>(&manage));
    ULONG cbEntryId = 0;
    LPENTRYID entryId = nullptr;
    if (!FAILED(hr)) {
        ULONG flags = OPENSTORE_USE_ADMIN_PRIVILEGE | OPENSTORE_TAKE_OWNERSHIP;
        if (mailboxName.empty())
            flags |= OPENSTORE_PUBLIC; // the server's public store instead of a mailbox
        std::vector<char> store = Writable(storeName);
        std::vector<char> box = Writable(mailboxName);
        hr = manage->CreateStoreEntryID(store.data(), box.data(), flags, &cbEntryId, &entryId);
        if (!FAILED(hr))
            hr = session->OpenMsgStore(
                0, cbEntryId, entryId, nullptr,
                MDB_NO_DIALOG | MAPI_BEST_ACCESS | MDB_TEMPORARY | MDB_NO_MAIL, mailbox);
    }
    MAPIFreeBuffer(entryId);
    UlRelease(manage);
    return hr;
}

int COOFCheck::GetOOFFlag(int32_t* flag) {
    if (!Mailbox)
        return 0;
    SizedSPropTagArray(1, tags) = {1, {PR_OOF_STATE}};
    ULONG count = 0;
    LPSPropValue props = nullptr;
    HRESULT hr = Mailbox->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &props);
    if (hr == S_OK && (!props || count < 1 || props[0].ulPropTag != PR_OOF_STATE)) {
        // Success without the value cannot be read as a flag.
        hr = props && count >= 1 && PROP_TYPE(props[0].ulPropTag) == PT_ERROR ? props[0].Value.err
                                                                              : MAPI_E_NOT_FOUND;
    }
    if (hr != S_OK) {
        // MAPI hands back the array also with a warning (a missing property); it is ours to free.
        MAPIFreeBuffer(props);
        const CString text = "Unable to obtain out of office flag.  Error code " + CodeText(hr) +
                             " was received." + FailureText(Mailbox, hr);
        LogEvent(EventLog::kEventId, text.c_str());
        return 0;
    }
    *flag = props[0].Value.b;
    MAPIFreeBuffer(props);
    return 1;
}

int COOFCheck::CloseMailbox() {
    if (!Mailbox)
        return 1;
    const HRESULT hr = HrMailboxLogoff(&Mailbox);
    if (hr != S_OK) {
        const CString text =
            "Unable to close the Mailbox.  Error code " + CodeText(hr) + " was received.";
        LogEvent(EventLog::kEventId, text.c_str());
        // The reference is given back all the same: the next user's mailbox would replace it.
        UlRelease(Mailbox);
        Mailbox = nullptr;
        return 0;
    }
    return 1;
}

HRESULT COOFCheck::HrMailboxLogoff(LPMDB* mailbox) {
    ULONG flags = LOGOFF_NO_WAIT;
    const HRESULT hr = (*mailbox)->StoreLogoff(&flags);
    if (hr == S_OK) {
        UlRelease(*mailbox);
        *mailbox = nullptr;
    }
    return hr;
}

int COOFCheck::CloseExchangeStore() {
    if (!ExchangeStore)
        return 1;
    ULONG flags = LOGOFF_ORDERLY;
    const HRESULT hr = ExchangeStore->StoreLogoff(&flags);
    if (hr != S_OK) {
        const CString text = "Unable to close the Exchange Server Store.  Error code " +
                             CodeText(hr) + " was received.";
        LogEvent(EventLog::kEventId, text.c_str());
        return 0; // the destructor gives the reference back
    }
    UlRelease(ExchangeStore);
    ExchangeStore = nullptr;
    return 1;
}

void COOFCheck::LogEvent(unsigned long eventId, const char* first, const char* second) {
    ::LogEvent(eventId, first, second);
}
