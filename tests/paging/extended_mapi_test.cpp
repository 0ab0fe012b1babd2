// Extended MAPI over a mail system made by the test: logons, stores, the out-of-office walk as its
// caller makes it, properties, every failure code, and no leaked memory.
#include "ExtendedMapiFixture.h"

using namespace extended_mapi_testing;

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
        const char* why = nullptr; // what GetLastError says afterwards; null: nothing
    } rows[] = {
        {kStore, Dn("aarcher"), S_OK, S_OK, PR_OOF_STATE, 1},
        {kStore, Dn("bbaker"), S_OK, S_OK, PR_OOF_STATE, 0},
        {kStore, Dn("ccole"), S_OK, MAPI_W_ERRORS_RETURNED,
         CHANGE_PROP_TYPE(PR_OOF_STATE, PT_ERROR), MAPI_E_NOT_FOUND,
         "/mailboxes/ccole holds no out-of-office file, so no out-of-office state is stored."},
        {kStore, Dn("ddrake"), S_OK, MAPI_W_ERRORS_RETURNED,
         CHANGE_PROP_TYPE(PR_OOF_STATE, PT_ERROR), MAPI_E_CORRUPT_DATA,
         "/mailboxes/ddrake/out-of-office holds neither \"out\" nor \"in\""},
        {kOtherStore, Dn("eearly"), S_OK, S_OK, PR_OOF_STATE, 1},
        // The server's public store: no out-of-office state, and nothing to say of it.
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
        LPMAPIERROR error = nullptr;
        EXPECT_EQ(mailbox->GetLastError(oof.hr, MAPI_UNICODE, &error), MAPI_E_BAD_CHARWIDTH);
        ASSERT_EQ(mailbox->GetLastError(oof.hr, 0, &error), S_OK);
        EXPECT_EQ(error != nullptr, row.why != nullptr);
        if (error) {
            EXPECT_EQ(error->ulVersion, ULONG(MAPI_ERROR_VERSION));
            EXPECT_NE(std::string(error->lpszError).find(row.why), std::string::npos)
                << error->lpszError;
            EXPECT_STREQ(error->lpszComponent, "Orvane mail system");
            MAPIFreeBuffer(error); // the strings go with it: TearDown counts the buffers
        }
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
