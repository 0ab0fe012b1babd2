// Extended MAPI over a mail system made by the test: the out-of-office walk and the global
// address list read as their callers make them, every failure code, and no leaked memory.
#include "paging/ExtendedMapi.h"
#include "support/MailFixture.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

using testing_support::MailFixture;

namespace {

const char* const kStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB";
const char* const kOtherStore = "/o=Quorvik/ou=Site/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB";
const char* const kRecipients = "/o=Quorvik/ou=Site/cn=Recipients/cn=";

std::string Dn(const char* user) {
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
HRESULT OpenExchangeStore(LPMAPISESSION session, LPMDB* store) {
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
HRESULT OpenMailbox(LPMAPISESSION session, LPMDB exchange, const char* server, const char* mailbox,
                    LPMDB* out,
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

Oof ReadOof(LPMDB mailbox) {
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

} // namespace

TEST_F(ExtendedMapi, LogonNeedsInitialisationAndAProfile) {
    mail.AddProfile("Other", mail.Directory());
    LPMAPISESSION session = nullptr;
    const struct {
        const char* profile;
        ULONG flags;
        HRESULT hr;
    } rows[] = {
        {nullptr, MAPI_USE_DEFAULT, S_OK},
        {"Other", MAPI_EXTENDED, S_OK},
        {"Other", MAPI_USE_DEFAULT, S_OK},
        {nullptr, 0, MAPI_E_LOGON_FAILED},
        {"", MAPI_LOGON_UI, MAPI_E_LOGON_FAILED},
        {"Unknown", 0, MAPI_E_LOGON_FAILED},
        {nullptr, MAPI_USE_DEFAULT | MAPI_UNICODE, MAPI_E_BAD_CHARWIDTH},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MAPILogonEx(0, const_cast<char*>(row.profile), nullptr, row.flags, &session),
                  row.hr)
            << (row.profile ? row.profile : "(null)") << " " << row.flags;
        EXPECT_EQ(session != nullptr, row.hr == S_OK);
        if (session) {
            EXPECT_EQ(session->Logoff(0, 0, 0), S_OK);
            EXPECT_EQ(UlRelease(session), 0u);
            session = nullptr;
        }
    }
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, nullptr),
              MAPI_E_INVALID_PARAMETER);

    MailFixture::RemoveProfiles();
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), MAPI_E_LOGON_FAILED);

    // Initialisation is counted; logon needs at least one.
    mail.UseProfile("Office");
    MAPIINIT_0 wrongVersion = {7, 0};
    EXPECT_EQ(MAPIInitialize(&wrongVersion), MAPI_E_VERSION);
    MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    EXPECT_EQ(MAPIInitialize(&init), S_OK);
    MAPIUninitialize();
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), S_OK);
    UlRelease(session);
    MAPIUninitialize();
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), MAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(session, nullptr);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK); // for TearDown's MAPIUninitialize
}

TEST_F(ExtendedMapi, TheOutOfOfficeWalkReadsEveryStateAndFailure) {
    LPMAPISESSION session = Logon();
    ASSERT_TRUE(session);
    LPMDB exchange = nullptr;
    ASSERT_EQ(OpenExchangeStore(session, &exchange), S_OK);
    ASSERT_TRUE(exchange);

    const struct {
        const char* server;
        std::string mailbox;
        HRESULT open;
        HRESULT get; // when opened
        ULONG tag;
        LONG value;
    } rows[] = {
        {kStore, Dn("aarcher"), S_OK, S_OK, PR_OOF_STATE, 1},
        {kStore, Dn("bbaker"), S_OK, S_OK, PR_OOF_STATE, 0},
        {kStore, Dn("ccole"), S_OK, MAPI_W_ERRORS_RETURNED,
         CHANGE_PROP_TYPE(PR_OOF_STATE, PT_ERROR), MAPI_E_NOT_FOUND},
        {kStore, Dn("ddrake"), S_OK, MAPI_W_ERRORS_RETURNED,
         CHANGE_PROP_TYPE(PR_OOF_STATE, PT_ERROR), MAPI_E_CORRUPT_DATA},
        {kOtherStore, Dn("eearly"), S_OK, S_OK, PR_OOF_STATE, 1},
        // The server's public store: no out-of-office state.
        {kStore, "", S_OK, MAPI_W_ERRORS_RETURNED, CHANGE_PROP_TYPE(PR_OOF_STATE, PT_ERROR),
         MAPI_E_NOT_FOUND},
        {kStore, Dn("nobody"), MAPI_E_NOT_FOUND, 0, 0, 0},
        {kStore, Dn("aarcher-pager"), MAPI_E_NOT_FOUND, 0, 0, 0}, // an address without a mailbox
        {kStore, Dn("eearly"), MAPI_E_NO_ACCESS, 0, 0, 0},        // not this store's mailbox
        {kOtherStore, Dn("aarcher"), MAPI_E_NO_ACCESS, 0, 0, 0},
        {"/o=Quorvik/cn=NoSuchServer", "", MAPI_E_NOT_FOUND, 0, 0, 0},
        {kStore, Dn("AARCHER"), MAPI_E_NOT_FOUND, 0, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.server + std::string(" ") + row.mailbox);
        LPMDB mailbox = nullptr;
        ASSERT_EQ(OpenMailbox(session, exchange, row.server, row.mailbox.c_str(), &mailbox),
                  row.open);
        EXPECT_EQ(mailbox != nullptr, row.open == S_OK);
        if (!mailbox)
            continue;
        const Oof oof = ReadOof(mailbox);
        EXPECT_EQ(oof.hr, row.get);
        EXPECT_EQ(oof.tag, row.tag);
        EXPECT_EQ(oof.value, row.value);
        ULONG flags = LOGOFF_NO_WAIT;
        EXPECT_EQ(mailbox->StoreLogoff(&flags), S_OK);
        EXPECT_EQ(UlRelease(mailbox), 0u);
    }

    // The state is read at each call: a change shows without reopening anything.
    LPMDB mailbox = nullptr;
    ASSERT_EQ(OpenMailbox(session, exchange, kStore, Dn("bbaker").c_str(), &mailbox), S_OK);
    EXPECT_EQ(ReadOof(mailbox).value, 0);
    testing_support::WriteFile(mail.MailboxDirectory("bbaker") + "/out-of-office", "out\n");
    EXPECT_EQ(ReadOof(mailbox).value, 1);
    UlRelease(mailbox);

    ULONG flags = LOGOFF_ORDERLY;
    EXPECT_EQ(exchange->StoreLogoff(&flags), S_OK);
    EXPECT_EQ(flags, 0u);
    UlRelease(exchange);
    EXPECT_EQ(session->Logoff(0, 0, 0), S_OK);
    UlRelease(session);
}

TEST_F(ExtendedMapi, MailboxesNeedAdminRightsAndAnExistingFolder) {
    LPMAPISESSION session = Logon();
    LPMDB exchange = nullptr;
    ASSERT_EQ(OpenExchangeStore(session, &exchange), S_OK);
    LPMDB mailbox = nullptr;
    EXPECT_EQ(OpenMailbox(session, exchange, kStore, Dn("aarcher").c_str(), &mailbox,
                          OPENSTORE_TAKE_OWNERSHIP),
              MAPI_E_NO_ACCESS);
    ASSERT_EQ(rmdir((mail.MailboxDirectory("ccole")).c_str()), 0);
    EXPECT_EQ(OpenMailbox(session, exchange, kStore, Dn("ccole").c_str(), &mailbox),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(mailbox, nullptr);

    // Creating entry identifiers checks its arguments.
    LPEXCHANGEMANAGESTORE manage = nullptr;
    ASSERT_EQ(exchange->QueryInterface(IID_IExchangeManageStore, reinterpret_cast<void**>(&manage)),
              S_OK);
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    const std::string box = Dn("aarcher");
    EXPECT_EQ(manage->CreateStoreEntryID(const_cast<char*>(kStore), nullptr, 9, &cb, &id),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(manage->CreateStoreEntryID(nullptr, const_cast<char*>(box.c_str()), 9, &cb, &id),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(manage->CreateStoreEntryID(const_cast<char*>(kStore), const_cast<char*>(box.c_str()),
                                         11, &cb, &id),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(manage->CreateStoreEntryID(const_cast<char*>(kStore), const_cast<char*>(box.c_str()),
                                         0x1000, &cb, &id),
              MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(id, nullptr);
    ASSERT_EQ(manage->CreateStoreEntryID(const_cast<char*>(kStore), const_cast<char*>(box.c_str()),
                                         9, &cb, &id),
              S_OK);
    EXPECT_EQ(session->OpenMsgStore(0, cb, id, nullptr, 0x40000, &mailbox), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(session->OpenMsgStore(0, cb, id, &IID_IAddrBook, 0, &mailbox),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(session->OpenMsgStore(0, cb, id, &IID_IMsgStore, 0, &mailbox), S_OK);
    UlRelease(mailbox);
    MAPIFreeBuffer(id);
    UlRelease(manage);

    IUnknown* unknown = nullptr;
    EXPECT_EQ(exchange->QueryInterface(IID_IAddrBook, reinterpret_cast<void**>(&unknown)),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(unknown, nullptr);
    UlRelease(exchange);
    UlRelease(session);
}

TEST_F(ExtendedMapi, DamagedEntryIdentifiersAreRefusedNeverRead) {
    LPMAPISESSION session = Logon();
    LPMDB exchange = nullptr;
    ASSERT_EQ(OpenExchangeStore(session, &exchange), S_OK);
    LPEXCHANGEMANAGESTORE manage = nullptr;
    ASSERT_EQ(exchange->QueryInterface(IID_IExchangeManageStore, reinterpret_cast<void**>(&manage)),
              S_OK);
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    const std::string box = Dn("aarcher");
    ASSERT_EQ(manage->CreateStoreEntryID(const_cast<char*>(kStore), const_cast<char*>(box.c_str()),
                                         9, &cb, &id),
              S_OK);
    std::vector<BYTE> bytes(reinterpret_cast<BYTE*>(id), reinterpret_cast<BYTE*>(id) + cb);
    MAPIFreeBuffer(id);

    LPMDB store = nullptr;
    for (ULONG length = 1; length < cb; ++length) {
        std::vector<BYTE> cut(bytes.begin(), bytes.begin() + length);
        const HRESULT hr = session->OpenMsgStore(0, length, reinterpret_cast<LPENTRYID>(cut.data()),
                                                 nullptr, 0, &store);
        EXPECT_TRUE(hr == MAPI_E_INVALID_ENTRYID || hr == MAPI_E_UNKNOWN_ENTRYID)
            << length << ": " << std::hex << hr;
        EXPECT_EQ(store, nullptr);
    }
    for (size_t at = 0; at < bytes.size(); ++at) {
        std::vector<BYTE> changed = bytes;
        changed[at] ^= 0xFF;
        const HRESULT hr = session->OpenMsgStore(0, cb, reinterpret_cast<LPENTRYID>(changed.data()),
                                                 nullptr, 0, &store);
        EXPECT_NE(hr, S_OK) << "byte " << at; // an address or store that exists nowhere, or damage
        UlRelease(store);
        store = nullptr;
    }
    UlRelease(manage);
    UlRelease(exchange);
    UlRelease(session);
}

TEST_F(ExtendedMapi, TheGlobalAddressListReadAsTheUserDialogReadsIt) {
    LPMAPISESSION session = Logon();
    LPADRBOOK book = nullptr;
    ASSERT_EQ(session->OpenAddressBook(0, nullptr, 0, &book), S_OK);

    // HrFindExchangeGlobalAddressList.
    ULONG type = 0;
    LPUNKNOWN unknown = nullptr;
    ASSERT_EQ(book->OpenEntry(0, nullptr, nullptr, MAPI_DEFERRED_ERRORS, &type, &unknown), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_ABCONT));
    LPABCONT root = static_cast<LPABCONT>(unknown);
    LPMAPITABLE hierarchy = nullptr;
    ASSERT_EQ(root->GetHierarchyTable(CONVENIENT_DEPTH | MAPI_DEFERRED_ERRORS, &hierarchy), S_OK);

    SizedSPropTagArray(1, idColumn) = {1, {PR_ENTRYID}};
    SPropValue provider = {}, container = {};
    provider.ulPropTag = PR_AB_PROVIDER_ID;
    provider.Value.bin.cb = 16;
    provider.Value.bin.lpb = const_cast<BYTE*>(MUIDEMSAB.ab);
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

    // Each half alone matches more than the GAL; together exactly the GAL.
    const struct {
        SRestriction* restriction;
        ULONG rows;
    } queries[] = {{&parts[0], 2}, {&parts[1], 1}, {&both, 1}, {nullptr, 3}};
    for (const auto& q : queries) {
        LPSRowSet rows = nullptr;
        ASSERT_EQ(HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&idColumn),
                                 q.restriction, nullptr, 0, &rows),
                  S_OK);
        EXPECT_EQ(rows->cRows, q.rows);
        FreeProws(rows);
    }
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&idColumn), &both,
                             nullptr, 0, &rows),
              S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    ASSERT_EQ(rows->aRow[0].cValues, 1u);
    ASSERT_EQ(rows->aRow[0].lpProps[0].ulPropTag, PR_ENTRYID);
    ULONG galSize = rows->aRow[0].lpProps[0].Value.bin.cb;
    LPENTRYID gal = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(galSize, reinterpret_cast<LPVOID*>(&gal)), S_OK);
    std::memcpy(gal, rows->aRow[0].lpProps[0].Value.bin.lpb, galSize);
    FreeProws(rows);
    UlRelease(hierarchy);
    UlRelease(root);

    // GetGALContents.
    ASSERT_EQ(book->OpenEntry(galSize, gal, nullptr, MAPI_BEST_ACCESS, &type, &unknown), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_ABCONT));
    LPABCONT galContainer = static_cast<LPABCONT>(unknown);
    LPMAPITABLE contents = nullptr;
    ASSERT_EQ(galContainer->GetContentsTable(0, &contents), S_OK);
    SizedSPropTagArray(4, columns) = {
        4, {PR_ENTRYID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_EMS_AB_HOME_MDB}};
    ASSERT_EQ(contents->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH), S_OK);
    ULONG count = 0;
    ASSERT_EQ(contents->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 6u);
    std::vector<std::vector<std::string>> read;
    LPENTRYID firstUser = nullptr;
    ULONG firstUserSize = 0;
    for (;;) {
        LPSRowSet batch = nullptr;
        if (contents->QueryRows(static_cast<LONG>(count), 0, &batch) != S_OK)
            break;
        const ULONG n = batch->cRows;
        for (ULONG r = 0; r < n; ++r) {
            const SRow& row = batch->aRow[r];
            ASSERT_EQ(row.cValues, 4u);
            EXPECT_EQ(row.lpProps[0].ulPropTag, PR_ENTRYID);
            EXPECT_EQ(row.lpProps[1].ulPropTag, PR_DISPLAY_NAME);
            EXPECT_EQ(row.lpProps[2].ulPropTag, PR_EMAIL_ADDRESS);
            std::vector<std::string> values = {row.lpProps[1].Value.lpszA,
                                               row.lpProps[2].Value.lpszA};
            if (row.lpProps[3].ulPropTag == PR_EMS_AB_HOME_MDB)
                values.push_back(row.lpProps[3].Value.lpszA);
            else
                values.push_back(PROP_TYPE(row.lpProps[3].ulPropTag) == PT_ERROR &&
                                         row.lpProps[3].Value.err == MAPI_E_NOT_FOUND
                                     ? "(not found)"
                                     : "(?)");
            read.push_back(values);
            if (!firstUser) {
                firstUserSize = row.lpProps[0].Value.bin.cb;
                ASSERT_EQ(MAPIAllocateBuffer(firstUserSize, reinterpret_cast<LPVOID*>(&firstUser)),
                          S_OK);
                std::memcpy(firstUser, row.lpProps[0].Value.bin.lpb, firstUserSize);
            }
        }
        FreeProws(batch);
        if (n == 0)
            break;
    }
    const std::vector<std::vector<std::string>> expected = {
        {"Ann Archer", Dn("aarcher"), kStore},
        {"Ben Baker", Dn("bbaker"), kStore},
        {"Cy Cole", Dn("ccole"), kStore},
        {"Di Drake", Dn("ddrake"), kStore},
        {"Ed Early", Dn("eearly"), kOtherStore},
        {"Ann Archer Pager", Dn("aarcher-pager"), "(not found)"},
    };
    EXPECT_EQ(read, expected);

    // A row's entry identifier opens that address entry.
    ASSERT_EQ(book->OpenEntry(firstUserSize, firstUser, nullptr, 0, &type, &unknown), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_MAILUSER));
    ULONG n = 0;
    LPSPropValue props = nullptr;
    SizedSPropTagArray(1, nameTag) = {1, {PR_DISPLAY_NAME}};
    EXPECT_EQ(static_cast<LPMAILUSER>(unknown)->GetProps(
                  reinterpret_cast<LPSPropTagArray>(&nameTag), 0, &n, &props),
              S_OK);
    EXPECT_STREQ(props[0].Value.lpszA, "Ann Archer");
    MAPIFreeBuffer(props);
    UlRelease(unknown);
    EXPECT_EQ(book->OpenEntry(firstUserSize, firstUser, nullptr, MAPI_MODIFY, &type, &unknown),
              MAPI_E_NO_ACCESS);
    MAPIFreeBuffer(firstUser);

    UlRelease(contents);
    UlRelease(galContainer);
    MAPIFreeBuffer(gal);
    UlRelease(book);
    EXPECT_EQ(session->Logoff(0, 0, 0), S_OK);
    UlRelease(session);
}

TEST_F(ExtendedMapi, TablesPageRestrictAndRefuseWhatTheyCannotDo) {
    LPMAPISESSION session = Logon();
    LPADRBOOK book = nullptr;
    ASSERT_EQ(session->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book), S_OK);
    ULONG type = 0;
    LPUNKNOWN unknown = nullptr;
    ASSERT_EQ(book->OpenEntry(0, nullptr, nullptr, 0, &type, &unknown), S_OK);
    LPABCONT root = static_cast<LPABCONT>(unknown);
    LPMAPITABLE contents = nullptr;
    EXPECT_EQ(root->GetContentsTable(0, &contents), MAPI_E_NO_SUPPORT);
    LPMAPITABLE hierarchy = nullptr;
    ASSERT_EQ(root->GetHierarchyTable(0, &hierarchy), S_OK);

    auto names = [&](LPSRestriction r) {
        SizedSPropTagArray(1, nameColumn) = {1, {PR_DISPLAY_NAME}};
        LPSRowSet rows = nullptr;
        std::vector<std::string> out;
        const HRESULT hr = HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&nameColumn),
                                          r, nullptr, 0, &rows);
        if (hr != S_OK)
            return std::vector<std::string>{"hr " + std::to_string(static_cast<uint32_t>(hr))};
        for (ULONG i = 0; i < rows->cRows; ++i)
            out.push_back(rows->aRow[i].lpProps[0].Value.lpszA);
        FreeProws(rows);
        return out;
    };
    SPropValue one = {};
    one.ulPropTag = PR_EMS_AB_CONTAINERID;
    one.Value.l = 1;
    SRestriction greater = {}, exists = {}, negation = {}, either = {}, lessEqual = {};
    greater.rt = RES_PROPERTY;
    greater.res.resProperty = {RELOP_GT, PR_EMS_AB_CONTAINERID, &one};
    lessEqual.rt = RES_PROPERTY;
    lessEqual.res.resProperty = {RELOP_LE, PR_EMS_AB_CONTAINERID, &one};
    exists.rt = RES_EXIST;
    exists.res.resExist = {0, PR_EMS_AB_CONTAINERID, 0};
    negation.rt = RES_NOT;
    negation.res.resNot = {0, &exists};
    SRestriction pair[2] = {greater, negation};
    either.rt = RES_OR;
    either.res.resOr = {2, pair};
    using V = std::vector<std::string>;
    EXPECT_EQ(names(&greater), V{});
    EXPECT_EQ(names(&lessEqual), (V{"Global Address List", "All Users"}));
    EXPECT_EQ(names(&exists), (V{"Global Address List", "All Users"}));
    EXPECT_EQ(names(&negation), V{"Personal Address Book"});
    EXPECT_EQ(names(&either), V{"Personal Address Book"});

    SRestriction regex = greater;
    regex.res.resProperty.relop = RELOP_RE;
    SRestriction content = {};
    content.rt = RES_CONTENT;
    EXPECT_EQ(names(&regex), V{"hr " + std::to_string(static_cast<uint32_t>(MAPI_E_TOO_COMPLEX))});
    EXPECT_EQ(names(&content),
              V{"hr " + std::to_string(static_cast<uint32_t>(MAPI_E_TOO_COMPLEX))});

    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(hierarchy, nullptr, nullptr, nullptr, 2, &rows), MAPI_E_TABLE_TOO_BIG);
    EXPECT_EQ(rows, nullptr);
    SSortOrderSet sort = {1, 0, 0, {{PR_DISPLAY_NAME, 0}}};
    EXPECT_EQ(HrQueryAllRows(hierarchy, nullptr, nullptr, &sort, 0, &rows), MAPI_E_NO_SUPPORT);

    // Paging through a table: forwards, without advancing, backwards, and past either end.
    ASSERT_EQ(hierarchy->Restrict(nullptr, 0), S_OK);
    ASSERT_EQ(hierarchy->QueryRows(2, TBL_NOADVANCE, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 2u);
    FreeProws(rows);
    ASSERT_EQ(hierarchy->QueryRows(2, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 2u);
    FreeProws(rows);
    ASSERT_EQ(hierarchy->QueryRows(2, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 1u);
    FreeProws(rows);
    ASSERT_EQ(hierarchy->QueryRows(2, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 0u);
    FreeProws(rows);
    ASSERT_EQ(hierarchy->QueryRows(-2, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 2u);
    FreeProws(rows);
    LONG sought = 0;
    EXPECT_EQ(hierarchy->SeekRow(BOOKMARK_CURRENT, -5, &sought), S_OK);
    EXPECT_EQ(sought, -1);
    EXPECT_EQ(hierarchy->SeekRow(7, 0, &sought), MAPI_E_INVALID_BOOKMARK);
    EXPECT_EQ(hierarchy->QueryRows(0, 0, &rows), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(hierarchy->SetColumns(nullptr, 0), MAPI_E_INVALID_PARAMETER);

    // Columns the rows lack come back as errors, in the requested order.
    SizedSPropTagArray(2, odd) = {2, {PR_OOF_STATE, PR_DISPLAY_NAME}};
    ASSERT_EQ(HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&odd), nullptr, nullptr,
                             0, &rows),
              S_OK);
    ASSERT_EQ(rows->cRows, 3u);
    EXPECT_EQ(rows->aRow[0].lpProps[0].ulPropTag, CHANGE_PROP_TYPE(PR_OOF_STATE, PT_ERROR));
    EXPECT_EQ(rows->aRow[0].lpProps[0].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_STREQ(rows->aRow[0].lpProps[1].Value.lpszA, "Global Address List");
    FreeProws(rows);

    UlRelease(hierarchy);
    UlRelease(root);
    UlRelease(book);
    UlRelease(session);
}

TEST_F(ExtendedMapi, PropertiesAreCompleteAndUnicodeIsRefused) {
    LPMAPISESSION session = Logon();
    LPMDB exchange = nullptr;
    ASSERT_EQ(OpenExchangeStore(session, &exchange), S_OK);
    ULONG count = 0;
    LPSPropValue props = nullptr;
    ASSERT_EQ(exchange->GetProps(nullptr, 0, &count, &props), S_OK);
    const LPSPropValue provider = PpropFindProp(props, count, PR_MDB_PROVIDER);
    ASSERT_TRUE(provider);
    ASSERT_EQ(provider->Value.bin.cb, 16u);
    EXPECT_EQ(std::memcmp(provider->Value.bin.lpb, pbExchangeProviderPrimaryUserGuid.ab, 16), 0);
    EXPECT_TRUE(PpropFindProp(props, count, PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_DISPLAY_NAME))));
    EXPECT_FALSE(PpropFindProp(props, count, PR_OOF_STATE));
    MAPIFreeBuffer(props);
    props = nullptr;
    EXPECT_EQ(exchange->GetProps(nullptr, MAPI_UNICODE, &count, &props), MAPI_E_BAD_CHARWIDTH);
    EXPECT_EQ(props, nullptr);
    UlRelease(exchange);
    UlRelease(session);
}

TEST_F(ExtendedMapi, AfterLogoffEveryCallEndsButReleasesStillWork) {
    LPMAPISESSION session = Logon();
    LPMDB exchange = nullptr;
    ASSERT_EQ(OpenExchangeStore(session, &exchange), S_OK);
    LPADRBOOK book = nullptr;
    ASSERT_EQ(session->OpenAddressBook(0, nullptr, 0, &book), S_OK);
    ASSERT_EQ(session->Logoff(0, 0, 0), S_OK);

    LPMAPITABLE table = nullptr;
    EXPECT_EQ(session->GetMsgStoresTable(0, &table), MAPI_E_END_OF_SESSION);
    ULONG count = 0, type = 0;
    LPSPropValue props = nullptr;
    EXPECT_EQ(exchange->GetProps(nullptr, 0, &count, &props), MAPI_E_END_OF_SESSION);
    LPUNKNOWN unknown = nullptr;
    EXPECT_EQ(book->OpenEntry(0, nullptr, nullptr, 0, &type, &unknown), MAPI_E_END_OF_SESSION);
    EXPECT_EQ(UlRelease(book), 0u);
    EXPECT_EQ(UlRelease(exchange), 0u);
    EXPECT_EQ(UlRelease(session), 0u);
    EXPECT_EQ(UlRelease(nullptr), 0u);
}

TEST_F(ExtendedMapi, TheAddressListIsReadAgainForEachTable) {
    LPMAPISESSION session = Logon();
    LPADRBOOK book = nullptr;
    ASSERT_EQ(session->OpenAddressBook(0, nullptr, 0, &book), S_OK);
    ULONG type = 0;
    LPUNKNOWN unknown = nullptr;
    LPENTRYID none = nullptr;
    ASSERT_EQ(book->OpenEntry(0, none, nullptr, 0, &type, &unknown), S_OK);
    LPABCONT root = static_cast<LPABCONT>(unknown);
    LPMAPITABLE hierarchy = nullptr;
    ASSERT_EQ(root->GetHierarchyTable(0, &hierarchy), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(hierarchy, nullptr, nullptr, nullptr, 0, &rows), S_OK);
    const SPropValue* id = PpropFindProp(rows->aRow[0].lpProps, rows->aRow[0].cValues, PR_ENTRYID);
    ASSERT_TRUE(id);
    LPABCONT gal = nullptr;
    ASSERT_EQ(book->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb),
                              &IID_IABContainer, 0, &type, reinterpret_cast<LPUNKNOWN*>(&gal)),
              S_OK);
    FreeProws(rows);

    mail.Add({"Fay Frost", Dn("ffrost"), kStore, "ffrost", ""});
    LPMAPITABLE contents = nullptr;
    ULONG count = 0;
    ASSERT_EQ(gal->GetContentsTable(0, &contents), S_OK);
    ASSERT_EQ(contents->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 7u);
    UlRelease(contents);

    mail.WriteAddressList("Display-Name: only a name\n"); // malformed: no address
    EXPECT_EQ(gal->GetContentsTable(0, &contents), MAPI_E_CALL_FAILED);
    EXPECT_EQ(contents, nullptr);

    UlRelease(gal);
    UlRelease(hierarchy);
    UlRelease(root);
    UlRelease(book);
    UlRelease(session);
}

TEST_F(ExtendedMapi, FailuresOnDemandForTheCallersTests) {
    mapi_testing::FailCall("IMsgStore::StoreLogoff", MAPI_E_CALL_FAILED, 1);
    mapi_testing::FailCall("MAPILogonEx", MAPI_E_LOGON_FAILED);
    LPMAPISESSION session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), MAPI_E_LOGON_FAILED);
    session = Logon();
    LPMDB exchange = nullptr;
    ASSERT_EQ(OpenExchangeStore(session, &exchange), S_OK);
    ULONG flags = LOGOFF_NO_WAIT;
    EXPECT_EQ(exchange->StoreLogoff(&flags), S_OK); // skipped once
    EXPECT_EQ(exchange->StoreLogoff(&flags), MAPI_E_CALL_FAILED);
    EXPECT_EQ(exchange->StoreLogoff(&flags), S_OK); // once only

    // An allocation failure inside a call frees what the call had made.
    mapi_testing::FailCall("MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, 1);
    LPMAPITABLE table = nullptr;
    ASSERT_EQ(session->GetMsgStoresTable(0, &table), S_OK);
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(table, nullptr, nullptr, nullptr, 0, &rows), MAPI_E_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(rows, nullptr);
    UlRelease(table);

    mapi_testing::FailCall("MAPIInitialize", MAPI_E_CALL_FAILED);
    EXPECT_EQ(MAPIInitialize(nullptr), MAPI_E_CALL_FAILED);
    UlRelease(exchange);
    UlRelease(session);
}
