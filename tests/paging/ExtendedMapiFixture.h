// The fixture of the Extended MAPI tests: a mail system made by the test, and a check that every
// test ends with the memory and objects it began with.
#pragma once

#include "paging/ExtendedMapi.h"
#include "support/MailFixture.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

using testing_support::MailFixture;

namespace extended_mapi_testing {

const char* const kStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
const char* const kOtherStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB";
const char* const kRecipients = "/o=Quorvik/ou=Site/cn=Recipients/cn=";

inline std::string Dn(const char* user) {
    return std::string(kRecipients) + user;
}

// Every test ends with the memory and objects it began with: whatever the layer hands out is
// freed by the functions its callers use.
class ExtendedMapi : public ::testing::Test {
protected:
    void SetUp() override {
        m_buffers = mapi_testing::LiveBuffers();
        m_objects = mapi_testing::LiveObjects();
        mail.Add({"Ann Archer", Dn("aarcher"), kStore, "aarcher", ""}, "out\n");
        mail.Add({"Ben Baker", Dn("bbaker"), kStore, "bbaker", ""}, "in\n");
        mail.Add({"Cy Cole", Dn("ccole"), kStore, "ccole", ""}); // no out-of-office state
        mail.Add({"Di Drake", Dn("ddrake"), kStore, "ddrake", ""}, "perhaps\n");
        mail.Add({"Ed Early", Dn("eearly"), kOtherStore, "eearly", ""}, "out\n");
        mail.Add({"Ann Archer Pager", Dn("aarcher-pager"), "", "", "5551234@pager.example.org"});
        mail.UseProfile("Office");
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }
    void TearDown() override {
        MAPIUninitialize();
        mapi_testing::ClearFailures();
        EXPECT_EQ(mapi_testing::LiveBuffers(), m_buffers) << "MAPI buffers leaked";
        EXPECT_EQ(mapi_testing::LiveObjects(), m_objects) << "MAPI objects not released";
    }

    LPMAPISESSION Logon() {
        LPMAPISESSION session = nullptr;
        EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), S_OK);
        return session;
    }

    MailFixture mail;

private:
    size_t m_buffers = 0, m_objects = 0;
};

// COOFCheck's HrOpenStoreFromGuid: the one store whose PR_MDB_PROVIDER is the Exchange private
// store's, opened with MAPI_BEST_ACCESS.
inline HRESULT OpenExchangeStore(LPMAPISESSION session, LPMDB* store) {
    *store = nullptr;
    LPMAPITABLE table = nullptr;
    if (HRESULT hr = session->GetMsgStoresTable(0, &table); hr)
        return hr;
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    SPropValue provider = {};
    provider.ulPropTag = PR_MDB_PROVIDER;
    provider.Value.bin.cb = 16;
    provider.Value.bin.lpb = const_cast<BYTE*>(pbExchangeProviderPrimaryUserGuid.ab);
    SRestriction restriction = {};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty = {RELOP_EQ, PR_MDB_PROVIDER, &provider};
    LPSRowSet rows = nullptr;
    HRESULT hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), &restriction,
                                nullptr, 0, &rows);
    if (hr == S_OK) {
        EXPECT_EQ(rows->cRows, 1u);
        if (rows->cRows == 1 && rows->aRow[0].cValues == 1 &&
            rows->aRow[0].lpProps[0].ulPropTag == PR_ENTRYID) {
            const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
            hr = session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                       MAPI_BEST_ACCESS, store);
        } else {
            hr = 1;
        }
    }
    FreeProws(rows);
    UlRelease(table);
    return hr;
}

// COOFCheck's HrMailboxLogon.
inline HRESULT OpenMailbox(LPMAPISESSION session, LPMDB exchange, const char* server,
                           const char* mailbox, LPMDB* out,
                           ULONG flags = OPENSTORE_USE_ADMIN_PRIVILEGE | OPENSTORE_TAKE_OWNERSHIP) {
    *out = nullptr;
    LPEXCHANGEMANAGESTORE manage = nullptr;
    if (HRESULT hr =
            exchange->QueryInterface(IID_IExchangeManageStore, reinterpret_cast<void**>(&manage));
        hr)
        return hr;
    if (!mailbox || !*mailbox)
        flags |= OPENSTORE_PUBLIC;
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    HRESULT hr = manage->CreateStoreEntryID(const_cast<char*>(server), const_cast<char*>(mailbox),
                                            flags, &cb, &id);
    if (hr == S_OK)
        hr = session->OpenMsgStore(0, cb, id, nullptr,
                                   MDB_NO_DIALOG | MAPI_BEST_ACCESS | MDB_TEMPORARY | MDB_NO_MAIL,
                                   out);
    MAPIFreeBuffer(id);
    UlRelease(manage);
    return hr;
}

struct Oof {
    HRESULT hr;
    ULONG tag;
    LONG value; // b for a boolean, err for an error
};

inline Oof ReadOof(LPMDB mailbox) {
    SizedSPropTagArray(1, tags) = {1, {PR_OOF_STATE}};
    ULONG count = 0;
    LPSPropValue props = nullptr;
    Oof oof{mailbox->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &props), 0, -1};
    if (props) {
        EXPECT_EQ(count, 1u);
        oof.tag = props[0].ulPropTag;
        oof.value = PROP_TYPE(oof.tag) == PT_ERROR ? props[0].Value.err : props[0].Value.b;
    }
    MAPIFreeBuffer(props); // on a warning as well: the array is handed out in both cases
    return oof;
}

} // namespace extended_mapi_testing
