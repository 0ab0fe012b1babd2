// Extended MAPI served from the mail system: what the files of the server share. Property
// values and restrictions as kept here, the objects' common base and the state of one logon,
// entry identifiers, and the makers of tables, stores and address books that the session uses.
// Not for callers of MAPI: they include paging/ExtendedMapi.h.
#pragma once

#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "paging/ExtendedMapi.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace extended_mapi {

// --- Test seams (ExtendedMapiMemory.cpp) ----------------------------------------------------

// Blocks from MAPIAllocateBuffer and interface objects alive now.
extern std::atomic<size_t> g_liveBuffers;
extern std::atomic<size_t> g_liveObjects;

// S_OK, or the failure a test asked of this operation (mapi_testing::FailCall).
HRESULT Injected(const char* operation);

#define RETURN_IF_INJECTED(name)                                                                   \
    do {                                                                                           \
        if (const HRESULT _f = extended_mapi::Injected(name); _f)                                  \
            return _f;                                                                             \
    } while (0)

// --- Properties (ExtendedMapiProperties.cpp) ------------------------------------------------

// A property value as this code keeps it.
struct Prop {
    ULONG tag = 0;
    int64_t number = 0; // PT_LONG, PT_I2, PT_BOOLEAN, PT_I8, and PT_ERROR's code
    std::string bytes;  // PT_STRING8, PT_BINARY
};
using PropList = std::vector<Prop>;

inline Prop NumberProp(ULONG tag, int64_t value) {
    return Prop{tag, value, {}};
}
inline Prop BytesProp(ULONG tag, std::string value) {
    return Prop{tag, 0, std::move(value)};
}
inline std::string Bytes(const MAPIUID& uid) {
    return std::string(reinterpret_cast<const char*>(uid.ab), 16);
}

inline const Prop* Find(const PropList& props, ULONG tag) {
    for (const Prop& p : props) {
        if (p.tag == tag)
            return &p;
    }
    return nullptr;
}

inline bool IsSupportedType(ULONG type) {
    return type == PT_I2 || type == PT_LONG || type == PT_BOOLEAN || type == PT_I8 ||
           type == PT_STRING8 || type == PT_BINARY;
}

// The values of `tags` (or every property when null) as one MAPI block. A property that is
// missing becomes PT_ERROR with MAPI_E_NOT_FOUND, and `missing` is set.
HRESULT CopyProps(const PropList& props, const SPropTagArray* tags, ULONG& count,
                  LPSPropValue& array, bool& missing);
// IMAPIProp::GetProps over `props`: MAPI_W_ERRORS_RETURNED when a property is missing.
HRESULT GetPropsOf(const PropList& props, LPSPropTagArray tags, ULONG flags, ULONG* count,
                   LPSPropValue* array);

// IMAPIProp::GetLastError of an object whose last failure `text` tells (empty: nothing to tell).
HRESULT LastErrorOf(const std::string& text, ULONG flags, LPMAPIERROR* error);

// --- Restrictions (ExtendedMapiRestrictions.cpp) --------------------------------------------

// A restriction, copied out of the caller's structures when a table is restricted.
struct Condition {
    ULONG type = RES_AND;
    std::vector<Condition> children; // AND, OR, NOT
    ULONG relop = RELOP_EQ;
    ULONG tag = 0; // PROPERTY, EXIST
    Prop value;    // PROPERTY
};

// The caller's restriction as a Condition; MAPI_E_TOO_COMPLEX for what tables cannot apply.
HRESULT Convert(const SRestriction* r, int depth, Condition& out);
// Whether `row` meets the condition.
bool Matches(const Condition& c, const PropList& row);

// --- Objects --------------------------------------------------------------------------------

// What every object of one logon shares: the profile it was made with and its mail system.
struct SessionState {
    mail::Profile profile;
    std::shared_ptr<mail::MailSystem> mailSystem;
    std::atomic<bool> loggedOff{false};
};
using SessionPtr = std::shared_ptr<SessionState>;

template <class Interface> class Object : public Interface {
public:
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    Object() { ++g_liveObjects; }
    ~Object() override { --g_liveObjects; }

    // Answers QueryInterface for the interfaces in `iids`, all implemented by this object.
    HRESULT Answer(REFIID riid, void** out, std::initializer_list<const IID*> iids) {
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        for (const IID* iid : iids) {
            if (riid == *iid) {
                AddRef();
                *out = static_cast<Interface*>(this);
                return S_OK;
            }
        }
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }

private:
    std::atomic<ULONG> m_references{1};
};

// Whether an object offering `offered` may be handed out as `requested` (null: any).
inline bool InterfaceAllowed(LPCIID requested, std::initializer_list<const IID*> offered) {
    if (!requested)
        return true;
    for (const IID* iid : offered) {
        if (*requested == *iid)
            return true;
    }
    return false;
}

// --- Entry identifiers (ExtendedMapiEntries.cpp) --------------------------------------------

// Entry identifiers: 4 flag bytes, the provider's 16-byte identifier, a version byte and a kind
// byte, then 32-bit little-endian numbers and length-prefixed strings.

// This mail system's message-store provider.
inline constexpr MAPIUID kStoreProvider = {{0x4F, 0x52, 0x56, 0x4E, 0x2D, 0x4D, 0x44, 0x42, 0x8A,
                                            0x13, 0x5C, 0x02, 0x7E, 0x61, 0xB0, 0x94}};
// This mail system's personal address book provider (not the Exchange one).
inline constexpr MAPIUID kPersonalBookProvider = {{0x4F, 0x52, 0x56, 0x4E, 0x2D, 0x50, 0x41, 0x42,
                                                   0x3C, 0x9E, 0x11, 0x47, 0xD2, 0x05, 0x6B, 0xE8}};

inline constexpr BYTE kEntryVersion = 1;
inline constexpr ULONG kOpenStoreFlags = OPENSTORE_USE_ADMIN_PRIVILEGE | OPENSTORE_PUBLIC |
                                         OPENSTORE_HOME_LOGON | OPENSTORE_TAKE_OWNERSHIP |
                                         OPENSTORE_OVERRIDE_HOME_MDB | OPENSTORE_TRANSPORT |
                                         OPENSTORE_REMOTE_TRANSPORT;
inline constexpr size_t kMaxDistinguishedName = 1024;

enum class EntryKind : BYTE {
    PrivateStore = 1, // the profile's Exchange private store
    PublicStore = 2,  // the profile's public folders
    Mailbox = 3,      // a user's mailbox on a named store
    ServerPublic = 4, // a named server's public store
    AbRoot = 16,
    AbContainer = 17,
    AbUser = 18,
};

struct EntryFields {
    EntryKind kind{};
    std::vector<uint32_t> numbers;
    std::vector<std::string> strings;
};

std::string EncodeEntry(const MAPIUID& provider, EntryKind kind,
                        std::initializer_list<uint32_t> numbers,
                        std::initializer_list<std::string> strings);
// MAPI_E_UNKNOWN_ENTRYID when the identifier is not one of this provider's, MAPI_E_INVALID_ENTRYID
// when it is but is damaged.
HRESULT DecodeEntry(ULONG cb, const ENTRYID* entry, const MAPIUID& provider, EntryFields& out);
// `id` copied into a MAPIAllocateBuffer block.
HRESULT AllocateEntry(const std::string& id, ULONG* cb, LPENTRYID* entry);
// PR_INSTANCE_KEY of a row: its index as 4 little-endian bytes.
std::string InstanceKey(uint32_t index);

// --- What the session makes -----------------------------------------------------------------

// A table of `rows` showing `columns` (ExtendedMapiTables.cpp).
HRESULT NewTable(const SessionPtr& session, std::vector<PropList> rows,
                 const std::vector<ULONG>& columns, LPMAPITABLE* out);

// IMAPISession::GetMsgStoresTable and OpenMsgStore (ExtendedMapiStores.cpp), after the session's
// own checks.
HRESULT StoresTable(const SessionPtr& session, LPMAPITABLE* table);
HRESULT OpenStore(const SessionPtr& session, ULONG cb, LPENTRYID entry, LPCIID iface, ULONG flags,
                  LPMDB* out);

// A new address book of the session, or null without memory (ExtendedMapiAddressBook.cpp).
IAddrBook* NewAddressBook(const SessionPtr& session);
// The address book could not be read or searched: writes the cause as an event and gives
// MAPI_E_CALL_FAILED, the code the callers see.
HRESULT AddressBookFailure(const std::string& error);

} // namespace extended_mapi
