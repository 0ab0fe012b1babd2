// The global address list read step by step over Extended MAPI.
#include "users/GlobalAddressList.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// The text of column `index` of `row` when it holds `tag`; empty when the row lacks it (the
// table then gives PT_ERROR there) or holds something else.
CString Column(const SRow& row, ULONG index, ULONG tag) {
    if (index >= row.cValues || !row.lpProps)
        return CString();
    const SPropValue& value = row.lpProps[index];
    if (value.ulPropTag != tag || !value.Value.lpszA)
        return CString();
    return value.Value.lpszA;
}

} // namespace

HRESULT HrFindExchangeGlobalAddressList(LPADRBOOK lpAdrBook, ULONG* lpcbEntryID,
                                        LPENTRYID* lppEntryID) {
    if (!lpcbEntryID || !lppEntryID)
        return MAPI_E_INVALID_PARAMETER;
    *lpcbEntryID = 0;
    *lppEntryID = nullptr;
    if (!lpAdrBook)
        return MAPI_E_INVALID_PARAMETER;

    LPABCONT root = nullptr;
    LPMAPITABLE table = nullptr;
    LPSRowSet rows = nullptr;
    LPVOID copy = nullptr;

    ULONG type = 0;
    LPUNKNOWN unknown = nullptr;
    HRESULT hr = lpAdrBook->OpenEntry(0, nullptr, nullptr, MAPI_DEFERRED_ERRORS, &type, &unknown);
    root = static_cast<LPABCONT>(unknown);
    if (!FAILED(hr) && (!root || type != MAPI_ABCONT))
        hr = E_FAIL;
    if (!FAILED(hr)) {
        hr = root->GetHierarchyTable(CONVENIENT_DEPTH | MAPI_DEFERRED_ERRORS, &table);
        if (!FAILED(hr) && !table)
            hr = E_FAIL;
    }
    if (!FAILED(hr)) {
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        SPropValue provider = {};
        provider.ulPropTag = PR_AB_PROVIDER_ID;
        provider.Value.bin.cb = sizeof MUIDEMSAB.ab;
        provider.Value.bin.lpb = const_cast<BYTE*>(MUIDEMSAB.ab);
        SPropValue container = {};
        container.ulPropTag = PR_EMS_AB_CONTAINERID;
        container.Value.l = 0;
        SRestriction parts[2] = {};
        parts[0].rt = RES_PROPERTY;
        parts[0].res.resProperty = {RELOP_EQ, PR_AB_PROVIDER_ID, &provider};
        parts[1].rt = RES_PROPERTY;
        parts[1].res.resProperty = {RELOP_EQ, PR_EMS_AB_CONTAINERID, &container};
        SRestriction both = {};
        both.rt = RES_AND;
        both.res.resAnd = {2, parts};

        hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), &both, nullptr, 0,
                            &rows);
        if (FAILED(hr) || !rows || rows->cRows != 1 || rows->aRow[0].cValues < 1 ||
            !rows->aRow[0].lpProps || rows->aRow[0].lpProps[0].ulPropTag != PR_ENTRYID)
            hr = E_FAIL;
    }
    if (!FAILED(hr)) {
        const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
        hr = MAPIAllocateBuffer(id.cb, &copy);
        if (!FAILED(hr)) {
            if (id.cb)
                std::memcpy(copy, id.lpb, id.cb);
            *lpcbEntryID = id.cb;
            *lppEntryID = static_cast<LPENTRYID>(copy);
        }
    }

    UlRelease(root);
    UlRelease(table);
    FreeProws(rows);
    if (FAILED(hr)) {
        MAPIFreeBuffer(*lppEntryID);
        *lpcbEntryID = 0;
        *lppEntryID = nullptr;
    }
    return hr;
}

GALReadResult GetGALContents(GALNameList& names, GALEntryList& entries,
                             const CString& profileName) {
    GALReadResult result;
    auto failed = [&result](const char* call, HRESULT hr) {
        if (!FAILED(hr))
            return false;
        result.failedCall = call;
        result.code = hr;
        return true;
    };

    if (failed("MAPIInitialize", MAPIInitialize(nullptr)))
        return result;

    LPMAPISESSION session = nullptr;
    LPADRBOOK book = nullptr;
    ULONG cbGal = 0;
    LPENTRYID gal = nullptr;
    LPABCONT container = nullptr;
    LPMAPITABLE table = nullptr;

    // One pass through the steps; `break` ends the reading at the first failure.
    do {
        std::vector<char> profile(profileName.c_str(),
                                  profileName.c_str() + profileName.size() + 1);
        HRESULT hr = MAPILogonEx(0, profileName.empty() ? nullptr : profile.data(), nullptr,
                                 profileName.empty() ? MAPI_USE_DEFAULT : 0, &session);
        if (!FAILED(hr) && !session)
            hr = E_FAIL;
        if (failed("MAPILogonEx", hr))
            break;

        hr = session->OpenAddressBook(0, nullptr, 0, &book);
        if (!FAILED(hr) && !book)
            hr = E_FAIL;
        if (failed("IMAPISession::OpenAddressBook", hr))
            break;

        if (failed("HrFindExchangeGlobalAddressList",
                   HrFindExchangeGlobalAddressList(book, &cbGal, &gal)))
            break;

        ULONG type = 0;
        LPUNKNOWN unknown = nullptr;
        hr = book->OpenEntry(cbGal, gal, nullptr, MAPI_BEST_ACCESS, &type, &unknown);
        container = static_cast<LPABCONT>(unknown);
        if (!FAILED(hr) && (!container || type != MAPI_ABCONT))
            hr = E_FAIL;
        if (failed("IAddrBook::OpenEntry", hr))
            break;

        hr = container->GetContentsTable(0, &table);
        if (!FAILED(hr) && !table)
            hr = E_FAIL;
        if (failed("IABContainer::GetContentsTable", hr))
            break;

        SizedSPropTagArray(4, columns) = {
            4, {PR_ENTRYID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_EMS_AB_HOME_MDB}};
        if (failed("IMAPITable::SetColumns",
                   table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH)))
            break;
        ULONG count = 0;
        if (failed("IMAPITable::GetRowCount", table->GetRowCount(0, &count)))
            break;
        if (count == 0)
            break; // an empty list: nothing to ask for

        // Batches of the row count: normally one call returns every row and the next none.
        const LONG batch = count > 0x7fffffffu ? 0x7fffffff : static_cast<LONG>(count);
        for (;;) {
            LPSRowSet rows = nullptr;
            hr = table->QueryRows(batch, 0, &rows);
            if (!FAILED(hr) && !rows)
                hr = E_FAIL;
            if (failed("IMAPITable::QueryRows", hr))
                break;
            const ULONG n = rows->cRows;
            try {
                // Room for the whole batch first, so that the two lists always stay in step.
                names.reserve(names.size() + n);
                entries.reserve(entries.size() + n);
                for (ULONG i = 0; i < n; ++i) {
                    const SRow& row = rows->aRow[i];
                    auto entry = std::make_unique<GALEntryStru>();
                    entry->DisplayName = Column(row, 1, PR_DISPLAY_NAME);
                    entry->Address = Column(row, 2, PR_EMAIL_ADDRESS);
                    entry->Server = Column(row, 3, PR_EMS_AB_HOME_MDB);
                    names.push_back(entry->DisplayName);
                    entries.push_back(std::move(entry));
                }
            } catch (const std::bad_alloc&) {
                FreeProws(rows);
                failed("out of memory", MAPI_E_NOT_ENOUGH_MEMORY);
                break;
            }
            FreeProws(rows);
            if (n == 0)
                break;
        }
    } while (false);

    UlRelease(container);
    UlRelease(table);
    UlRelease(book);
    if (session) {
        // A failed logoff is no reason to keep the session: its reference is ours all the same.
        session->Logoff(0, 0, 0);
        UlRelease(session);
    }
    MAPIFreeBuffer(gal);
    MAPIUninitialize();
    return result;
}

CString GetDisplayName(const GALEntryList& entries, const CString& mailboxName) {
    for (const auto& entry : entries) {
        if (entry->Address == mailboxName)
            return entry->DisplayName;
    }
    return mailboxName;
}
