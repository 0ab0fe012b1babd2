// Extended MAPI over the mail system: sessions, message stores, the address book and tables.
//
// The shapes, names, flags, property tags and result codes are those of Windows MAPI, so that
// the out-of-office check and the address-list reader read like their Windows counterparts.
// docs/mapi.md describes what the embedded mail system shows through them.
//
// Ownership, as in MAPI: every interface returned to the caller carries one reference, given
// back with Release (or UlRelease). Property arrays, entry identifiers and row sets come from
// MAPIAllocateBuffer; the caller frees a property array or entry identifier with
// MAPIFreeBuffer and a row set with FreeProws. Objects may be used from one thread at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

// HRESULT, S_OK, E_FAIL, E_NOINTERFACE, E_INVALIDARG, E_OUTOFMEMORY, SUCCEEDED and FAILED are
// shared with the automation layer, so that one file can use both.
#include "core/WinError.h"
#include "paging/simplemapi/MapiTypes.h"

// --- Result codes --------------------------------------------------------------------------
#define HR_FAILED(hr) FAILED(hr)

#define MAPI_E_CALL_FAILED E_FAIL
#define MAPI_E_NOT_ENOUGH_MEMORY E_OUTOFMEMORY
#define MAPI_E_INVALID_PARAMETER E_INVALIDARG
#define MAPI_E_INTERFACE_NOT_SUPPORTED E_NOINTERFACE
#define MAPI_E_NO_ACCESS ((HRESULT)0x80070005)
#define MAPI_E_NO_SUPPORT ((HRESULT)0x80040102)
#define MAPI_E_BAD_CHARWIDTH ((HRESULT)0x80040103)
#define MAPI_E_STRING_TOO_LONG ((HRESULT)0x80040105)
#define MAPI_E_UNKNOWN_FLAGS ((HRESULT)0x80040106)
#define MAPI_E_INVALID_ENTRYID ((HRESULT)0x80040107)
#define MAPI_E_INVALID_OBJECT ((HRESULT)0x80040108)
#define MAPI_E_NOT_FOUND ((HRESULT)0x8004010F)
#define MAPI_E_NETWORK_ERROR ((HRESULT)0x80040115)
#define MAPI_E_VERSION ((HRESULT)0x80040110)
#define MAPI_E_LOGON_FAILED ((HRESULT)0x80040111)
#define MAPI_E_TOO_COMPLEX ((HRESULT)0x80040117)
#define MAPI_E_CORRUPT_DATA ((HRESULT)0x8004011B)
#define MAPI_E_UNKNOWN_ENTRYID ((HRESULT)0x80040201)
#define MAPI_E_END_OF_SESSION ((HRESULT)0x80040290)
#define MAPI_E_TABLE_TOO_BIG ((HRESULT)0x80040403)
#define MAPI_E_INVALID_BOOKMARK ((HRESULT)0x80040405)
#define MAPI_E_NOT_INITIALIZED ((HRESULT)0x80040605)
#define MAPI_W_ERRORS_RETURNED ((HRESULT)0x00040380)

// --- Property tags -------------------------------------------------------------------------
#define PROP_TYPE_MASK 0x0000FFFFu
#define PROP_TYPE(tag) ((ULONG)(tag)&PROP_TYPE_MASK)
#define PROP_ID(tag) ((ULONG)(tag) >> 16)
#define PROP_TAG(type, id) ((((ULONG)(id)) << 16) | ((ULONG)(type)))
#define CHANGE_PROP_TYPE(tag, type) (((ULONG)0xFFFF0000 & (tag)) | (type))

#define PT_UNSPECIFIED 0x0000u
#define PT_NULL 0x0001u
#define PT_I2 0x0002u
#define PT_LONG 0x0003u
#define PT_DOUBLE 0x0005u
#define PT_ERROR 0x000Au
#define PT_BOOLEAN 0x000Bu
#define PT_OBJECT 0x000Du
#define PT_I8 0x0014u
#define PT_STRING8 0x001Eu
#define PT_UNICODE 0x001Fu
#define PT_SYSTIME 0x0040u
#define PT_BINARY 0x0102u

#define PR_ENTRYID PROP_TAG(PT_BINARY, 0x0FFF)
#define PR_OBJECT_TYPE PROP_TAG(PT_LONG, 0x0FFE)
#define PR_RECORD_KEY PROP_TAG(PT_BINARY, 0x0FF9)
#define PR_INSTANCE_KEY PROP_TAG(PT_BINARY, 0x0FF6)
#define PR_DISPLAY_NAME PROP_TAG(PT_STRING8, 0x3001)
#define PR_ADDRTYPE PROP_TAG(PT_STRING8, 0x3002)
#define PR_EMAIL_ADDRESS PROP_TAG(PT_STRING8, 0x3003)
#define PR_DEPTH PROP_TAG(PT_LONG, 0x3005)
#define PR_PROVIDER_DISPLAY PROP_TAG(PT_STRING8, 0x3006)
#define PR_DEFAULT_STORE PROP_TAG(PT_BOOLEAN, 0x3400)
#define PR_MDB_PROVIDER PROP_TAG(PT_BINARY, 0x3414)
#define PR_CONTAINER_FLAGS PROP_TAG(PT_LONG, 0x3600)
#define PR_AB_PROVIDER_ID PROP_TAG(PT_BINARY, 0x3615)
#define PR_DISPLAY_TYPE PROP_TAG(PT_LONG, 0x3900)
#define PR_SMTP_ADDRESS PROP_TAG(PT_STRING8, 0x39FE)
#define PR_OOF_STATE PROP_TAG(PT_BOOLEAN, 0x661D)
#define PR_EMS_AB_HOME_MDB PROP_TAG(PT_STRING8, 0x8006)
#define PR_EMS_AB_CONTAINERID PROP_TAG(PT_LONG, 0xFFFD)

// --- Flags and constants -------------------------------------------------------------------
#define MAPI_INIT_VERSION 0
#define MAPI_MULTITHREAD_NOTIFICATIONS 0x00000001
#define MAPI_NO_COINIT 0x00000008
#define MAPI_NT_SERVICE 0x00010000

#define MAPI_LOGON_UI 0x00000001
#define MAPI_NEW_SESSION 0x00000002
#define MAPI_EXTENDED 0x00000020
#define MAPI_USE_DEFAULT 0x00000040
#define MAPI_NO_MAIL 0x00008000
#define MAPI_UNICODE 0x80000000u

#define MAPI_MODIFY 0x00000001
#define MAPI_DEFERRED_ERRORS 0x00000008
#define MAPI_BEST_ACCESS 0x00000010
#define MAPI_CACHE_ONLY 0x00004000

#define MDB_NO_DIALOG 0x00000001
#define MDB_WRITE 0x00000004
#define MDB_TEMPORARY 0x00000020
#define MDB_NO_MAIL 0x00000080
#define MDB_ONLINE 0x00000100

#define LOGOFF_NO_WAIT 0x00000001
#define LOGOFF_ORDERLY 0x00000002
#define LOGOFF_PURGE 0x00000004
#define LOGOFF_ABORT 0x00000008
#define LOGOFF_QUIET 0x00000010

#define OPENSTORE_USE_ADMIN_PRIVILEGE 0x00000001
#define OPENSTORE_PUBLIC 0x00000002
#define OPENSTORE_HOME_LOGON 0x00000004
#define OPENSTORE_TAKE_OWNERSHIP 0x00000008
#define OPENSTORE_OVERRIDE_HOME_MDB 0x00000010
#define OPENSTORE_TRANSPORT 0x00000020
#define OPENSTORE_REMOTE_TRANSPORT 0x00000040

#define AB_NO_DIALOG 0x00000001

#define MAPI_STORE 0x00000001
#define MAPI_ADDRBOOK 0x00000002
#define MAPI_FOLDER 0x00000003
#define MAPI_ABCONT 0x00000004
#define MAPI_MESSAGE 0x00000005
#define MAPI_MAILUSER 0x00000006
#define MAPI_DISTLIST 0x00000008
#define MAPI_SESSION 0x0000000B

#define DT_MAILUSER 0x00000000
#define DT_REMOTE_MAILUSER 0x00000006
#define DT_CONTAINER 0x00000100
#define DT_GLOBAL 0x00020000
#define DT_LOCAL 0x00030000

#define AB_RECIPIENTS 0x00000001
#define AB_SUBCONTAINERS 0x00000002

#define CONVENIENT_DEPTH 0x00000001
#define TBL_ASYNC 0x00000001
#define TBL_BATCH 0x00000002
#define TBL_NOADVANCE 0x00000001

typedef ULONG BOOKMARK;
#define BOOKMARK_BEGINNING ((BOOKMARK)0)
#define BOOKMARK_CURRENT ((BOOKMARK)1)
#define BOOKMARK_END ((BOOKMARK)2)

// Restriction types and relations.
#define RES_AND 0x00000000
#define RES_OR 0x00000001
#define RES_NOT 0x00000002
#define RES_CONTENT 0x00000003
#define RES_PROPERTY 0x00000004
#define RES_COMPAREPROPS 0x00000005
#define RES_BITMASK 0x00000006
#define RES_SIZE 0x00000007
#define RES_EXIST 0x00000008
#define RES_SUBRESTRICTION 0x00000009
#define RES_COMMENT 0x0000000A

#define RELOP_LT 0
#define RELOP_LE 1
#define RELOP_GT 2
#define RELOP_GE 3
#define RELOP_EQ 4
#define RELOP_NE 5
#define RELOP_RE 6

// --- Identifiers ---------------------------------------------------------------------------
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef const IID* LPCIID;
typedef const IID& REFIID;
inline bool operator==(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::equal(a.Data4, a.Data4 + 8, b.Data4);
}

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMAPISession = {
    0x00020300, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMAPITable = {0x00020301, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMAPIProp = {0x00020303, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMsgStore = {0x00020306, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IAddrBook = {0x00020309, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMailUser = {0x0002030A, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMAPIContainer = {
    0x0002030B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IABContainer = {
    0x0002030D, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {559D10B0-A772-11CD-9BC8-00AA002FC45A}
inline constexpr IID IID_IExchangeManageStore = {
    0x559D10B0, 0xA772, 0x11CD, {0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};

// A provider identifier as the 16 bytes that PR_MDB_PROVIDER and PR_AB_PROVIDER_ID hold.
struct MAPIUID {
    BYTE ab[16];
};
typedef MAPIUID* LPMAPIUID;

// The Exchange private store (pbExchangeProviderPrimaryUserGuid) and public store.
inline constexpr MAPIUID pbExchangeProviderPrimaryUserGuid = {{0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F,
                                                               0x10, 0x1B, 0xA5, 0x87, 0x08, 0x00,
                                                               0x2B, 0x2A, 0x25, 0x17}};
inline constexpr MAPIUID pbExchangeProviderPublicGuid = {{0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11,
                                                          0xCD, 0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F,
                                                          0xC4, 0x5A}};
// The Exchange address book (MUIDEMSAB).
inline constexpr MAPIUID MUIDEMSAB = {{0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A, 0xB4, 0xB9,
                                       0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82}};

// --- Data structures -----------------------------------------------------------------------
struct ENTRYID {
    BYTE abFlags[4];
    BYTE ab[1];
};
typedef ENTRYID* LPENTRYID;

struct SBinary {
    ULONG cb;
    LPBYTE lpb;
};

union _PV {
    short i; // PT_I2
    LONG l;  // PT_LONG
    ULONG ul;
    double dbl;       // PT_DOUBLE
    unsigned short b; // PT_BOOLEAN: 0 false, nonzero true
    int64_t li;       // PT_I8
    LPSTR lpszA;      // PT_STRING8
    SBinary bin;      // PT_BINARY
    LONG err;         // PT_ERROR: the property's error code, e.g. MAPI_E_NOT_FOUND
    LONG x;           // PT_NULL, PT_OBJECT
};

struct SPropValue {
    ULONG ulPropTag;
    ULONG dwAlignPad;
    union _PV Value;
};
typedef SPropValue* LPSPropValue;

struct SPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[1];
};
typedef SPropTagArray* LPSPropTagArray;

// SizedSPropTagArray(4, columns) = {4, {PR_ENTRYID, PR_DISPLAY_NAME, ...}};
#define SizedSPropTagArray(n, name)                                                                \
    struct _SPropTagArray_##name {                                                                 \
        ULONG cValues;                                                                             \
        ULONG aulPropTag[n];                                                                       \
    } name

struct SRow {
    ULONG ulAdrEntryPad;
    ULONG cValues;
    LPSPropValue lpProps; // its own MAPIAllocateBuffer block
};
typedef SRow* LPSRow;

struct SRowSet {
    ULONG cRows;
    SRow aRow[1]; // cRows rows follow
};
typedef SRowSet* LPSRowSet;
#define CbNewSRowSet(n) (offsetof(SRowSet, aRow) + (n) * sizeof(SRow))

struct SSortOrder {
    ULONG ulPropTag;
    ULONG ulOrder;
};
struct SSortOrderSet {
    ULONG cSorts;
    ULONG cCategories;
    ULONG cExpanded;
    SSortOrder aSort[1];
};
typedef SSortOrderSet* LPSSortOrderSet;

struct SRestriction;
typedef SRestriction* LPSRestriction;

struct SAndRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
typedef SAndRestriction SOrRestriction;
struct SNotRestriction {
    ULONG ulReserved;
    LPSRestriction lpRes;
};
struct SPropertyRestriction {
    ULONG relop;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SExistRestriction {
    ULONG ulReserved1;
    ULONG ulPropTag;
    ULONG ulReserved2;
};
struct SRestriction {
    ULONG rt;
    union {
        SAndRestriction resAnd;
        SOrRestriction resOr;
        SNotRestriction resNot;
        SPropertyRestriction resProperty;
        SExistRestriction resExist;
    } res;
};

#define MAPI_ERROR_VERSION 0

// What IMAPIProp::GetLastError tells of a failure: one MAPIAllocateBuffer block, its strings
// inside it.
struct MAPIERROR {
    ULONG ulVersion;       // MAPI_ERROR_VERSION
    LPSTR lpszError;       // the failure in words: one or more whole sentences
    LPSTR lpszComponent;   // the part of the mail system that met it
    ULONG ulLowLevelError; // 0: none
    ULONG ulContext;       // 0: none
};
typedef MAPIERROR* LPMAPIERROR;

struct MAPIINIT_0 {
    ULONG ulVersion;
    ULONG ulFlags;
};

// --- Interfaces ----------------------------------------------------------------------------
class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

class IMAPITable : public IUnknown {
public:
    // Chooses the columns that QueryRows returns, in order. TBL_BATCH and TBL_ASYNC accepted.
    virtual HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) = 0;
    // Rows that meet the restriction (null: all rows); the cursor goes back to the beginning.
    virtual HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) = 0;
    virtual HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) = 0;
    virtual HRESULT GetRowCount(ULONG ulFlags, ULONG* lpulCount) = 0;
    virtual HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) = 0;
    // Up to lRowCount rows from the cursor (backwards when negative); cRows 0 at the end.
    virtual HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) = 0;
};
typedef IMAPITable* LPMAPITABLE;

class IMAPIProp : public IUnknown {
public:
    // What the object knows of its last failure (`hResult`, the code that call returned), for
    // an event or a person: a MAPIERROR the caller frees with MAPIFreeBuffer, or null (with
    // S_OK) when the object can say no more than the code. MAPI_UNICODE gives
    // MAPI_E_BAD_CHARWIDTH.
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    // The listed properties (null: every property the object has). A property the object lacks
    // comes back as PT_ERROR with MAPI_E_NOT_FOUND, and the call returns MAPI_W_ERRORS_RETURNED
    // together with the array, which the caller frees in either case.
    virtual HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                             LPSPropValue* lppPropArray) = 0;
};
typedef IMAPIProp* LPMAPIPROP;

class IMsgStore : public IMAPIProp {
public:
    // In: LOGOFF_* flags. Out: 0 (nothing was pending).
    virtual HRESULT StoreLogoff(ULONG* lpulFlags) = 0;
};
typedef IMsgStore* LPMDB;

class IExchangeManageStore : public IUnknown {
public:
    // The entry identifier of the mailbox `lpszMailboxDN` on the store `lpszMsgStoreDN`, or with
    // OPENSTORE_PUBLIC and no mailbox, of that server's public store. Freed with MAPIFreeBuffer.
    virtual HRESULT CreateStoreEntryID(LPSTR lpszMsgStoreDN, LPSTR lpszMailboxDN, ULONG ulFlags,
                                       ULONG* lpcbEntryID, LPENTRYID* lppEntryID) = 0;
};
typedef IExchangeManageStore* LPEXCHANGEMANAGESTORE;

class IMAPIContainer : public IMAPIProp {
public:
    virtual HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
};
typedef IMAPIContainer* LPMAPICONTAINER;

class IABContainer : public IMAPIContainer {};
typedef IABContainer* LPABCONT;

class IMailUser : public IMAPIProp {};
typedef IMailUser* LPMAILUSER;

class IAddrBook : public IMAPIProp {
public:
    // No entry identifier (0, null) opens the root container.
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                              ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
};
typedef IAddrBook* LPADRBOOK;

class IMAPISession : public IUnknown {
public:
    virtual HRESULT GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID,
                                 LPCIID lpInterface, ULONG ulFlags, LPMDB* lppMDB) = 0;
    virtual HRESULT OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags,
                                    LPADRBOOK* lppAdrBook) = 0;
    virtual HRESULT Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) = 0;
};
typedef IMAPISession* LPMAPISESSION;

// --- Functions -----------------------------------------------------------------------------
// Counted: each successful MAPIInitialize wants one MAPIUninitialize. lpMapiInit may be null or
// point to a MAPIINIT_0 of version MAPI_INIT_VERSION.
HRESULT MAPIInitialize(LPVOID lpMapiInit);
void MAPIUninitialize();

// A session on the profile named `lpszProfileName`, or with MAPI_USE_DEFAULT on the default
// profile. MAPI_E_NOT_INITIALIZED before MAPIInitialize; MAPI_E_LOGON_FAILED when there is no
// such profile or its mail system cannot be opened.
HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, ULONG ulFlags,
                    LPMAPISESSION* lppSession);

HRESULT MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
// A block freed together with `lpObject`, the block it was allocated for.
HRESULT MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
// Frees a block and everything allocated for it with MAPIAllocateMore; null is allowed.
ULONG MAPIFreeBuffer(LPVOID lpBuffer);

// Every row of `lpTable` that meets `lpRestriction`, with the columns `lpPropTags` (null: the
// table's). A sort order is not supported (MAPI_E_NO_SUPPORT). More than crowsMax rows
// (crowsMax > 0) gives MAPI_E_TABLE_TOO_BIG. Free the rows with FreeProws.
HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                       LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet, LONG crowsMax,
                       LPSRowSet* lppRows);
void FreeProws(LPSRowSet lpRows);
// Release of any interface; null is allowed and gives 0.
ULONG UlRelease(LPVOID lpUnknown);
// The first value in the array with that tag, or null.
LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag);

// --- Test seams ----------------------------------------------------------------------------
namespace mapi_testing {

// Blocks from MAPIAllocateBuffer not yet freed, and interface objects not yet destroyed.
size_t LiveBuffers();
size_t LiveObjects();

// Makes the operation named `operation` fail with `code` once, after `skip` successful calls
// of it. Names are "MAPIInitialize", "MAPILogonEx", "MAPIAllocateBuffer", and
// "Interface::Method" such as "IMAPISession::OpenMsgStore", "IMsgStore::StoreLogoff",
// "IMsgStore::GetProps", "IMAPITable::QueryRows", "IAddrBook::OpenEntry".
void FailCall(const std::string& operation, HRESULT code, int skip = 0);
void ClearFailures();

} // namespace mapi_testing
