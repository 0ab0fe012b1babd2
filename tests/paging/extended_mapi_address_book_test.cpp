// Extended MAPI's address book over a mail system made by the test: the global address list read
// as the user dialogs read it, tables that page and restrict, and a list read again per table.
#include "ExtendedMapiFixture.h"

using namespace extended_mapi_testing;

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
