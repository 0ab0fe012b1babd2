// Extended MAPI served from the embedded mail system: stores, mailboxes, address book, tables.
#include "paging/ExtendedMapi.h"

#include "mailsystem/MailSystem.h"
#include "mailsystem/Profiles.h"
#include "paging/EventLog.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Test seams: counts of live memory and objects, and failures on demand.

std::atomic<size_t> g_liveBuffers{0};
std::atomic<size_t> g_liveObjects{0};

struct Failure {
    HRESULT code;
    int skip;
};

std::mutex& FailureLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, Failure>& Failures() {
    static std::map<std::string, Failure> failures;
    return failures;
}

// S_OK, or the failure a test asked of this operation.
HRESULT Injected(const char* operation) {
    std::lock_guard<std::mutex> guard(FailureLock());
    auto& failures = Failures();
    if (failures.empty())
        return S_OK;
    auto it = failures.find(operation);
    if (it == failures.end())
        return S_OK;
    if (it->second.skip > 0) {
        --it->second.skip;
        return S_OK;
    }
    const HRESULT code = it->second.code;
    failures.erase(it);
    return code;
}

#define RETURN_IF_INJECTED(name)                                                                   \
    do {                                                                                           \
        if (const HRESULT _f = Injected(name); _f)                                                 \
            return _f;                                                                             \
    } while (0)

// ---------------------------------------------------------------------------------------------
// MAPI memory: a block and the blocks allocated "more" for it are freed together.

constexpr uint32_t kRootMagic = 0x4D415049; // "MAPI"
constexpr uint32_t kMoreMagic = 0x4D4F5245; // "MORE"

struct alignas(std::max_align_t) BlockHeader {
    uint32_t magic;
    BlockHeader* next; // the chain of blocks allocated for the same root
};

BlockHeader* HeaderOf(void* data) {
    return static_cast<BlockHeader*>(data) - 1;
}

void* NewBlock(ULONG size, uint32_t magic) {
    void* raw = std::malloc(sizeof(BlockHeader) + (size ? size : 1));
    if (!raw)
        return nullptr;
    BlockHeader* header = static_cast<BlockHeader*>(raw);
    header->magic = magic;
    header->next = nullptr;
    return header + 1;
}

// ---------------------------------------------------------------------------------------------
// Property values as this code keeps them.

struct Prop {
    ULONG tag = 0;
    int64_t number = 0; // PT_LONG, PT_I2, PT_BOOLEAN, PT_I8, and PT_ERROR's code
    std::string bytes;  // PT_STRING8, PT_BINARY
};
using PropList = std::vector<Prop>;

Prop NumberProp(ULONG tag, int64_t value) {
    return Prop{tag, value, {}};
}
Prop BytesProp(ULONG tag, std::string value) {
    return Prop{tag, 0, std::move(value)};
}
std::string Bytes(const MAPIUID& uid) {
    return std::string(reinterpret_cast<const char*>(uid.ab), 16);
}

const Prop* Find(const PropList& props, ULONG tag) {
    for (const Prop& p : props) {
        if (p.tag == tag)
            return &p;
    }
    return nullptr;
}

bool IsSupportedType(ULONG type) {
    return type == PT_I2 || type == PT_LONG || type == PT_BOOLEAN || type == PT_I8 ||
           type == PT_STRING8 || type == PT_BINARY;
}

// Writes `p` into `out`, copying strings and binaries into blocks allocated for `root`.
HRESULT Fill(const Prop& p, void* root, SPropValue& out) {
    out.ulPropTag = p.tag;
    out.dwAlignPad = 0;
    switch (PROP_TYPE(p.tag)) {
    case PT_I2:
        out.Value.i = static_cast<short>(p.number);
        return S_OK;
    case PT_LONG:
        out.Value.l = static_cast<LONG>(p.number);
        return S_OK;
    case PT_BOOLEAN:
        out.Value.b = p.number ? 1 : 0;
        return S_OK;
    case PT_I8:
        out.Value.li = p.number;
        return S_OK;
    case PT_ERROR:
        out.Value.err = static_cast<LONG>(p.number);
        return S_OK;
    case PT_STRING8: {
        void* text = nullptr;
        if (HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(p.bytes.size() + 1), root, &text); hr)
            return hr;
        std::memcpy(text, p.bytes.c_str(), p.bytes.size() + 1);
        out.Value.lpszA = static_cast<char*>(text);
        return S_OK;
    }
    case PT_BINARY: {
        void* data = nullptr;
        if (HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(p.bytes.size()), root, &data); hr)
            return hr;
        if (!p.bytes.empty())
            std::memcpy(data, p.bytes.data(), p.bytes.size());
        out.Value.bin.cb = static_cast<ULONG>(p.bytes.size());
        out.Value.bin.lpb = static_cast<LPBYTE>(data);
        return S_OK;
    }
    default:
        out.Value.x = 0;
        return S_OK;
    }
}

// The values of `tags` (or every property when null) as one MAPI block. A property that is
// missing becomes PT_ERROR with MAPI_E_NOT_FOUND, and `missing` is set.
HRESULT CopyProps(const PropList& props, const SPropTagArray* tags, ULONG& count,
                  LPSPropValue& array, bool& missing) {
    std::vector<Prop> chosen;
    missing = false;
    if (!tags) {
        chosen = props;
    } else {
        for (ULONG i = 0; i < tags->cValues; ++i) {
            const ULONG tag = tags->aulPropTag[i];
            // A stored PT_ERROR value stands for a property that exists but cannot be read.
            const Prop* found = nullptr;
            for (const Prop& p : props) {
                if (PROP_ID(p.tag) == PROP_ID(tag) &&
                    (PROP_TYPE(tag) == PT_UNSPECIFIED || PROP_TYPE(tag) == PROP_TYPE(p.tag) ||
                     PROP_TYPE(p.tag) == PT_ERROR)) {
                    found = &p;
                    break;
                }
            }
            if (found) {
                chosen.push_back(*found);
                if (PROP_TYPE(found->tag) == PT_ERROR)
                    missing = true;
            } else {
                chosen.push_back(NumberProp(CHANGE_PROP_TYPE(tag, PT_ERROR), MAPI_E_NOT_FOUND));
                missing = true;
            }
        }
    }
    void* block = nullptr;
    const size_t n = chosen.size();
    if (HRESULT hr =
            MAPIAllocateBuffer(static_cast<ULONG>((n ? n : 1) * sizeof(SPropValue)), &block);
        hr)
        return hr;
    LPSPropValue values = static_cast<LPSPropValue>(block);
    for (size_t i = 0; i < n; ++i) {
        if (HRESULT hr = Fill(chosen[i], block, values[i]); hr) {
            MAPIFreeBuffer(block);
            return hr;
        }
    }
    count = static_cast<ULONG>(n);
    array = values;
    return S_OK;
}

HRESULT GetPropsOf(const PropList& props, LPSPropTagArray tags, ULONG flags, ULONG* count,
                   LPSPropValue* array) {
    if (!count || !array)
        return MAPI_E_INVALID_PARAMETER;
    if (flags & MAPI_UNICODE)
        return MAPI_E_BAD_CHARWIDTH;
    if (tags && tags->cValues == 0)
        return MAPI_E_INVALID_PARAMETER;
    bool missing = false;
    if (HRESULT hr = CopyProps(props, tags, *count, *array, missing); hr)
        return hr;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

// ---------------------------------------------------------------------------------------------
// Restrictions, copied out of the caller's structures when a table is restricted.

struct Condition {
    ULONG type = RES_AND;
    std::vector<Condition> children; // AND, OR, NOT
    ULONG relop = RELOP_EQ;
    ULONG tag = 0; // PROPERTY, EXIST
    Prop value;    // PROPERTY
};

constexpr int kMaxRestrictionDepth = 32;
constexpr ULONG kMaxRestrictionChildren = 4096;

HRESULT Convert(const SRestriction* r, int depth, Condition& out) {
    if (!r)
        return MAPI_E_INVALID_PARAMETER;
    if (depth > kMaxRestrictionDepth)
        return MAPI_E_TOO_COMPLEX;
    out.type = r->rt;
    switch (r->rt) {
    case RES_AND:
    case RES_OR: {
        const SAndRestriction& list = r->rt == RES_AND ? r->res.resAnd : r->res.resOr;
        if (list.cRes > kMaxRestrictionChildren)
            return MAPI_E_TOO_COMPLEX;
        if (list.cRes && !list.lpRes)
            return MAPI_E_INVALID_PARAMETER;
        out.children.resize(list.cRes);
        for (ULONG i = 0; i < list.cRes; ++i) {
            if (HRESULT hr = Convert(&list.lpRes[i], depth + 1, out.children[i]); hr)
                return hr;
        }
        return S_OK;
    }
    case RES_NOT:
        out.children.resize(1);
        return Convert(r->res.resNot.lpRes, depth + 1, out.children[0]);
    case RES_EXIST:
        out.tag = r->res.resExist.ulPropTag;
        return S_OK;
    case RES_PROPERTY: {
        const SPropertyRestriction& p = r->res.resProperty;
        if (!p.lpProp || p.relop > RELOP_NE)
            return p.relop == RELOP_RE ? MAPI_E_TOO_COMPLEX : MAPI_E_INVALID_PARAMETER;
        const ULONG type = PROP_TYPE(p.lpProp->ulPropTag);
        if (!IsSupportedType(type))
            return MAPI_E_TOO_COMPLEX;
        out.relop = p.relop;
        out.tag = p.ulPropTag;
        out.value.tag = p.lpProp->ulPropTag;
        switch (type) {
        case PT_I2:
            out.value.number = p.lpProp->Value.i;
            break;
        case PT_LONG:
            out.value.number = p.lpProp->Value.l;
            break;
        case PT_BOOLEAN:
            out.value.number = p.lpProp->Value.b ? 1 : 0;
            break;
        case PT_I8:
            out.value.number = p.lpProp->Value.li;
            break;
        case PT_STRING8:
            if (!p.lpProp->Value.lpszA)
                return MAPI_E_INVALID_PARAMETER;
            out.value.bytes = p.lpProp->Value.lpszA;
            break;
        case PT_BINARY:
            if (p.lpProp->Value.bin.cb && !p.lpProp->Value.bin.lpb)
                return MAPI_E_INVALID_PARAMETER;
            out.value.bytes.assign(reinterpret_cast<const char*>(p.lpProp->Value.bin.lpb),
                                   p.lpProp->Value.bin.cb);
            break;
        }
        return S_OK;
    }
    default:
        return MAPI_E_TOO_COMPLEX;
    }
}

// A property restriction on a property the row lacks (or holds with another type) is false,
// whatever the relation, as in MAPI.
bool Matches(const Condition& c, const PropList& row) {
    switch (c.type) {
    case RES_AND:
        for (const Condition& child : c.children) {
            if (!Matches(child, row))
                return false;
        }
        return true;
    case RES_OR:
        for (const Condition& child : c.children) {
            if (Matches(child, row))
                return true;
        }
        return false;
    case RES_NOT:
        return !Matches(c.children[0], row);
    case RES_EXIST:
        for (const Prop& p : row) {
            if (PROP_ID(p.tag) == PROP_ID(c.tag) && PROP_TYPE(p.tag) != PT_ERROR)
                return true;
        }
        return false;
    case RES_PROPERTY: {
        const Prop* p = Find(row, c.tag);
        if (!p || PROP_TYPE(p->tag) != PROP_TYPE(c.value.tag))
            return false;
        int order;
        const ULONG type = PROP_TYPE(p->tag);
        if (type == PT_STRING8 || type == PT_BINARY)
            order = p->bytes.compare(c.value.bytes);
        else
            order = p->number < c.value.number ? -1 : (p->number > c.value.number ? 1 : 0);
        switch (c.relop) {
        case RELOP_LT:
            return order < 0;
        case RELOP_LE:
            return order <= 0;
        case RELOP_GT:
            return order > 0;
        case RELOP_GE:
            return order >= 0;
        case RELOP_EQ:
            return order == 0;
        case RELOP_NE:
            return order != 0;
        }
        return false;
    }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Objects.

// The address book could not be read or searched: the callers see only a result code, so the
// cause (the file and its fault, or the directory server and why it failed) is written as an
// event of its own.
HRESULT AddressBookFailure(const std::string& error) {
    LogEvent(EventLog::kEventId, error.c_str());
    return MAPI_E_CALL_FAILED;
}

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

bool InterfaceAllowed(LPCIID requested, std::initializer_list<const IID*> offered) {
    if (!requested)
        return true;
    for (const IID* iid : offered) {
        if (*requested == *iid)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Entry identifiers: 4 flag bytes, the provider's 16-byte identifier, a version byte and a kind
// byte, then 32-bit little-endian numbers and length-prefixed strings.

// This mail system's message-store provider.
constexpr MAPIUID kStoreProvider = {{0x4F, 0x52, 0x56, 0x4E, 0x2D, 0x4D, 0x44, 0x42, 0x8A, 0x13,
                                     0x5C, 0x02, 0x7E, 0x61, 0xB0, 0x94}};
// This mail system's personal address book provider (not the Exchange one).
constexpr MAPIUID kPersonalBookProvider = {{0x4F, 0x52, 0x56, 0x4E, 0x2D, 0x50, 0x41, 0x42, 0x3C,
                                            0x9E, 0x11, 0x47, 0xD2, 0x05, 0x6B, 0xE8}};

constexpr BYTE kEntryVersion = 1;
constexpr ULONG kOpenStoreFlags = OPENSTORE_USE_ADMIN_PRIVILEGE | OPENSTORE_PUBLIC |
                                  OPENSTORE_HOME_LOGON | OPENSTORE_TAKE_OWNERSHIP |
                                  OPENSTORE_OVERRIDE_HOME_MDB | OPENSTORE_TRANSPORT |
                                  OPENSTORE_REMOTE_TRANSPORT;
constexpr size_t kMaxDistinguishedName = 1024;

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
                        std::initializer_list<std::string> strings) {
    std::string id(4, '\0');
    id += Bytes(provider);
    id += static_cast<char>(kEntryVersion);
    id += static_cast<char>(kind);
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            id += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    put(static_cast<uint32_t>(numbers.size()));
    for (uint32_t n : numbers)
        put(n);
    put(static_cast<uint32_t>(strings.size()));
    for (const std::string& s : strings) {
        put(static_cast<uint32_t>(s.size()));
        id += s;
    }
    return id;
}

// MAPI_E_UNKNOWN_ENTRYID when the identifier is not one of this provider's, MAPI_E_INVALID_ENTRYID
// when it is but is damaged.
HRESULT DecodeEntry(ULONG cb, const ENTRYID* entry, const MAPIUID& provider, EntryFields& out) {
    if (!entry || cb < 22)
        return MAPI_E_UNKNOWN_ENTRYID;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(entry);
    if (std::memcmp(bytes + 4, provider.ab, 16) != 0)
        return MAPI_E_UNKNOWN_ENTRYID;
    // Only long-term identifiers (no flag bits) are made here.
    if (bytes[0] || bytes[1] || bytes[2] || bytes[3] || bytes[20] != kEntryVersion)
        return MAPI_E_INVALID_ENTRYID;
    out.kind = static_cast<EntryKind>(bytes[21]);
    size_t at = 22;
    auto get = [&](uint32_t& v) {
        if (cb - at < 4)
            return false;
        v = uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
            uint32_t(bytes[at + 3]) << 24;
        at += 4;
        return true;
    };
    uint32_t count = 0;
    if (!get(count) || count > 8)
        return MAPI_E_INVALID_ENTRYID;
    out.numbers.resize(count);
    for (uint32_t& n : out.numbers) {
        if (!get(n))
            return MAPI_E_INVALID_ENTRYID;
    }
    if (!get(count) || count > 8)
        return MAPI_E_INVALID_ENTRYID;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!get(length) || length > cb - at)
            return MAPI_E_INVALID_ENTRYID;
        out.strings.emplace_back(reinterpret_cast<const char*>(bytes + at), length);
        at += length;
    }
    return at == cb ? S_OK : MAPI_E_INVALID_ENTRYID;
}

HRESULT AllocateEntry(const std::string& id, ULONG* cb, LPENTRYID* entry) {
    void* block = nullptr;
    if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(id.size()), &block); hr)
        return hr;
    std::memcpy(block, id.data(), id.size());
    *cb = static_cast<ULONG>(id.size());
    *entry = static_cast<LPENTRYID>(block);
    return S_OK;
}

std::string InstanceKey(uint32_t index) {
    std::string key(4, '\0');
    for (int i = 0; i < 4; ++i)
        key[i] = static_cast<char>((index >> (8 * i)) & 0xff);
    return key;
}

// ---------------------------------------------------------------------------------------------
// Tables.

class RowTable : public Object<IMAPITable> {
public:
    RowTable(SessionPtr session, std::vector<PropList> rows, std::vector<ULONG> columns)
        : m_session(std::move(session)), m_rows(std::move(rows)), m_columns(std::move(columns)) {
        ApplyRestriction();
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return Answer(riid, out, {&IID_IUnknown, &IID_IMAPITable});
    }

    HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
        RETURN_IF_INJECTED("IMAPITable::SetColumns");
        if (HRESULT hr = Alive(); hr)
            return hr;
        if (!tags || tags->cValues == 0)
            return MAPI_E_INVALID_PARAMETER;
        m_columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        return S_OK;
    }

    HRESULT Restrict(LPSRestriction restriction, ULONG) override {
        RETURN_IF_INJECTED("IMAPITable::Restrict");
        if (HRESULT hr = Alive(); hr)
            return hr;
        if (!restriction) {
            m_restriction.reset();
        } else {
            Condition condition;
            if (HRESULT hr = Convert(restriction, 0, condition); hr)
                return hr;
            m_restriction = std::move(condition);
        }
        ApplyRestriction();
        return S_OK;
    }

    HRESULT SortTable(LPSSortOrderSet sort, ULONG) override {
        if (HRESULT hr = Alive(); hr)
            return hr;
        return (!sort || sort->cSorts == 0) ? S_OK : MAPI_E_NO_SUPPORT;
    }

    HRESULT GetRowCount(ULONG, ULONG* count) override {
        RETURN_IF_INJECTED("IMAPITable::GetRowCount");
        if (HRESULT hr = Alive(); hr)
            return hr;
        if (!count)
            return MAPI_E_INVALID_PARAMETER;
        *count = static_cast<ULONG>(m_visible.size());
        return S_OK;
    }

    HRESULT SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override {
        if (HRESULT hr = Alive(); hr)
            return hr;
        int64_t start;
        switch (origin) {
        case BOOKMARK_BEGINNING:
            start = 0;
            break;
        case BOOKMARK_CURRENT:
            start = static_cast<int64_t>(m_cursor);
            break;
        case BOOKMARK_END:
            start = static_cast<int64_t>(m_visible.size());
            break;
        default:
            return MAPI_E_INVALID_BOOKMARK;
        }
        const int64_t target =
            std::clamp<int64_t>(start + rows, 0, static_cast<int64_t>(m_visible.size()));
        if (sought)
            *sought = static_cast<LONG>(target - start);
        m_cursor = static_cast<size_t>(target);
        return S_OK;
    }

    HRESULT QueryRows(LONG count, ULONG flags, LPSRowSet* out) override {
        RETURN_IF_INJECTED("IMAPITable::QueryRows");
        if (HRESULT hr = Alive(); hr)
            return hr;
        if (!out || count == 0)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        size_t first, last;
        if (count > 0) {
            first = m_cursor;
            last = std::min(m_visible.size(), m_cursor + static_cast<size_t>(count));
        } else {
            const size_t back = static_cast<size_t>(-static_cast<int64_t>(count));
            first = m_cursor > back ? m_cursor - back : 0;
            last = m_cursor;
        }
        const size_t n = last - first;
        void* block = nullptr;
        if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(n ? n : 1)), &block);
            hr)
            return hr;
        LPSRowSet rows = static_cast<LPSRowSet>(block);
        rows->cRows = 0;
        SizedColumns columns(m_columns);
        for (size_t i = 0; i < n; ++i) {
            SRow& row = rows->aRow[i];
            row.ulAdrEntryPad = 0;
            bool missing = false;
            const HRESULT hr = CopyProps(m_rows[m_visible[first + i]], columns.get(), row.cValues,
                                         row.lpProps, missing);
            if (hr) {
                FreeProws(rows);
                return hr;
            }
            rows->cRows = static_cast<ULONG>(i + 1);
        }
        if (!(flags & TBL_NOADVANCE))
            m_cursor = count > 0 ? last : first;
        *out = rows;
        return S_OK;
    }

private:
    // A tag array built from the chosen columns.
    class SizedColumns {
    public:
        explicit SizedColumns(const std::vector<ULONG>& columns) : m_storage(1 + columns.size()) {
            m_storage[0] = static_cast<ULONG>(columns.size());
            std::copy(columns.begin(), columns.end(), m_storage.begin() + 1);
        }
        const SPropTagArray* get() const {
            return reinterpret_cast<const SPropTagArray*>(m_storage.data());
        }

    private:
        std::vector<ULONG> m_storage;
    };

    HRESULT Alive() const { return m_session->loggedOff ? MAPI_E_END_OF_SESSION : S_OK; }

    void ApplyRestriction() {
        m_visible.clear();
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (!m_restriction || Matches(*m_restriction, m_rows[i]))
                m_visible.push_back(i);
        }
        m_cursor = 0;
    }

    SessionPtr m_session;
    std::vector<PropList> m_rows;
    std::vector<ULONG> m_columns;
    std::optional<Condition> m_restriction;
    std::vector<size_t> m_visible; // indexes of the rows that meet the restriction
    size_t m_cursor = 0;           // position in m_visible
};

// ---------------------------------------------------------------------------------------------
// Message stores.

class ManageStore : public Object<IExchangeManageStore> {
public:
    ManageStore(SessionPtr session, IMsgStore* store)
        : m_session(std::move(session)), m_store(store) {
        m_store->AddRef();
    }
    ~ManageStore() override { m_store->Release(); }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return Answer(riid, out, {&IID_IUnknown, &IID_IExchangeManageStore});
    }

    HRESULT CreateStoreEntryID(LPSTR storeDN, LPSTR mailboxDN, ULONG flags, ULONG* cb,
                               LPENTRYID* entry) override {
        RETURN_IF_INJECTED("IExchangeManageStore::CreateStoreEntryID");
        if (m_session->loggedOff)
            return MAPI_E_END_OF_SESSION;
        if (!cb || !entry)
            return MAPI_E_INVALID_PARAMETER;
        *cb = 0;
        *entry = nullptr;
        if (flags & ~kOpenStoreFlags)
            return MAPI_E_UNKNOWN_FLAGS;
        const std::string store = storeDN ? storeDN : "";
        const std::string mailbox = mailboxDN ? mailboxDN : "";
        if (store.empty() || store.size() > kMaxDistinguishedName ||
            mailbox.size() > kMaxDistinguishedName)
            return MAPI_E_INVALID_PARAMETER;
        std::string id;
        if (mailbox.empty()) {
            // Without a mailbox only a public store can be meant.
            if (!(flags & OPENSTORE_PUBLIC))
                return MAPI_E_INVALID_PARAMETER;
            id = EncodeEntry(kStoreProvider, EntryKind::ServerPublic, {flags}, {store});
        } else {
            if (flags & OPENSTORE_PUBLIC)
                return MAPI_E_INVALID_PARAMETER;
            id = EncodeEntry(kStoreProvider, EntryKind::Mailbox, {flags}, {store, mailbox});
        }
        return AllocateEntry(id, cb, entry);
    }

private:
    SessionPtr m_session;
    IMsgStore* m_store; // one reference held
};

class MsgStore : public Object<IMsgStore> {
public:
    MsgStore(SessionPtr session, PropList props, std::optional<mail::AddressEntry> mailbox)
        : m_session(std::move(session)), m_props(std::move(props)), m_mailbox(std::move(mailbox)) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out && riid == IID_IExchangeManageStore) {
            if (m_session->loggedOff)
                return MAPI_E_END_OF_SESSION;
            ManageStore* manage = new (std::nothrow) ManageStore(m_session, this);
            if (!manage)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            *out = static_cast<IExchangeManageStore*>(manage);
            return S_OK;
        }
        return Answer(riid, out, {&IID_IUnknown, &IID_IMAPIProp, &IID_IMsgStore});
    }

    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* array) override {
        RETURN_IF_INJECTED("IMsgStore::GetProps");
        if (m_session->loggedOff || m_loggedOff)
            return MAPI_E_END_OF_SESSION;
        PropList props = m_props;
        if (m_mailbox) {
            // Read at every call: the state is the mailbox owner's to change at any time.
            switch (m_session->mailSystem->ReadOutOfOffice(*m_mailbox)) {
            case mail::OutOfOffice::In:
                props.push_back(NumberProp(PR_OOF_STATE, 0));
                break;
            case mail::OutOfOffice::Out:
                props.push_back(NumberProp(PR_OOF_STATE, 1));
                break;
            case mail::OutOfOffice::Missing:
                break;
            case mail::OutOfOffice::Unreadable:
                props.push_back(
                    NumberProp(CHANGE_PROP_TYPE(PR_OOF_STATE, PT_ERROR), MAPI_E_CORRUPT_DATA));
                break;
            }
        }
        return GetPropsOf(props, tags, flags, count, array);
    }

    HRESULT StoreLogoff(ULONG* flags) override {
        RETURN_IF_INJECTED("IMsgStore::StoreLogoff");
        if (!flags)
            return MAPI_E_INVALID_PARAMETER;
        m_loggedOff = true;
        *flags = 0;
        return S_OK;
    }

private:
    SessionPtr m_session;
    PropList m_props;
    std::optional<mail::AddressEntry> m_mailbox; // set for a user's mailbox
    bool m_loggedOff = false;
};

PropList StoreProps(EntryKind kind, const std::string& entryId, const std::string& name) {
    const bool isPublic = kind == EntryKind::PublicStore || kind == EntryKind::ServerPublic;
    return {BytesProp(PR_ENTRYID, entryId), NumberProp(PR_OBJECT_TYPE, MAPI_STORE),
            BytesProp(PR_DISPLAY_NAME, name),
            BytesProp(PR_MDB_PROVIDER, Bytes(isPublic ? pbExchangeProviderPublicGuid
                                                      : pbExchangeProviderPrimaryUserGuid)),
            BytesProp(PR_PROVIDER_DISPLAY, "Orvane mail system")};
}

// ---------------------------------------------------------------------------------------------
// The address book.

enum ContainerId : uint32_t {
    kRootContainer = 0xFFFFFFFF,
    kGlobalAddressList = 0, // PR_EMS_AB_CONTAINERID of the GAL
    kAllUsers = 1,          // entries with a mailbox
    kPersonalBook = 2,      // not an Exchange container: no PR_EMS_AB_CONTAINERID
};

std::string ContainerEntry(uint32_t id) {
    return EncodeEntry(id == kPersonalBook ? kPersonalBookProvider : MUIDEMSAB,
                       EntryKind::AbContainer, {id}, {});
}

PropList ContainerProps(uint32_t id) {
    PropList props;
    props.push_back(BytesProp(PR_ENTRYID, ContainerEntry(id)));
    props.push_back(NumberProp(PR_OBJECT_TYPE, MAPI_ABCONT));
    props.push_back(NumberProp(PR_DEPTH, 1));
    props.push_back(NumberProp(PR_CONTAINER_FLAGS, AB_RECIPIENTS));
    props.push_back(BytesProp(PR_INSTANCE_KEY, InstanceKey(id)));
    switch (id) {
    case kGlobalAddressList:
        props.push_back(BytesProp(PR_DISPLAY_NAME, "Global Address List"));
        props.push_back(NumberProp(PR_DISPLAY_TYPE, DT_GLOBAL));
        props.push_back(BytesProp(PR_AB_PROVIDER_ID, Bytes(MUIDEMSAB)));
        props.push_back(NumberProp(PR_EMS_AB_CONTAINERID, kGlobalAddressList));
        break;
    case kAllUsers:
        props.push_back(BytesProp(PR_DISPLAY_NAME, "All Users"));
        props.push_back(NumberProp(PR_DISPLAY_TYPE, DT_CONTAINER));
        props.push_back(BytesProp(PR_AB_PROVIDER_ID, Bytes(MUIDEMSAB)));
        props.push_back(NumberProp(PR_EMS_AB_CONTAINERID, kAllUsers));
        break;
    default:
        props.push_back(BytesProp(PR_DISPLAY_NAME, "Personal Address Book"));
        props.push_back(NumberProp(PR_DISPLAY_TYPE, DT_LOCAL));
        props.push_back(BytesProp(PR_AB_PROVIDER_ID, Bytes(kPersonalBookProvider)));
        break;
    }
    return props;
}

PropList UserProps(const mail::AddressEntry& e, uint32_t index) {
    PropList props;
    props.push_back(
        BytesProp(PR_ENTRYID, EncodeEntry(MUIDEMSAB, EntryKind::AbUser, {index}, {e.address})));
    props.push_back(NumberProp(PR_OBJECT_TYPE, MAPI_MAILUSER));
    props.push_back(BytesProp(PR_DISPLAY_NAME, e.displayName));
    props.push_back(BytesProp(PR_EMAIL_ADDRESS, e.address));
    props.push_back(BytesProp(PR_ADDRTYPE, "EX"));
    // An entry without a home store (a pager gateway, a custom recipient) lacks the column, as
    // on an Exchange server; a reader sees PT_ERROR there.
    if (!e.homeStore.empty())
        props.push_back(BytesProp(PR_EMS_AB_HOME_MDB, e.homeStore));
    props.push_back(
        NumberProp(PR_DISPLAY_TYPE, e.mailbox.empty() ? DT_REMOTE_MAILUSER : DT_MAILUSER));
    if (!e.deliverTo.empty())
        props.push_back(BytesProp(PR_SMTP_ADDRESS, e.deliverTo));
    props.push_back(BytesProp(PR_INSTANCE_KEY, InstanceKey(index)));
    return props;
}

const std::vector<ULONG> kContentsColumns = {PR_ENTRYID,         PR_DISPLAY_NAME, PR_EMAIL_ADDRESS,
                                             PR_EMS_AB_HOME_MDB, PR_ADDRTYPE,     PR_OBJECT_TYPE,
                                             PR_DISPLAY_TYPE,    PR_INSTANCE_KEY};
const std::vector<ULONG> kHierarchyColumns = {
    PR_ENTRYID,         PR_DISPLAY_NAME,   PR_OBJECT_TYPE,        PR_DISPLAY_TYPE, PR_DEPTH,
    PR_CONTAINER_FLAGS, PR_AB_PROVIDER_ID, PR_EMS_AB_CONTAINERID, PR_INSTANCE_KEY};

HRESULT NewTable(const SessionPtr& session, std::vector<PropList> rows,
                 const std::vector<ULONG>& columns, LPMAPITABLE* out) {
    RowTable* table = new (std::nothrow) RowTable(session, std::move(rows), columns);
    if (!table)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = table;
    return S_OK;
}

class MailUser : public Object<IMailUser> {
public:
    MailUser(SessionPtr session, PropList props)
        : m_session(std::move(session)), m_props(std::move(props)) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return Answer(riid, out, {&IID_IUnknown, &IID_IMAPIProp, &IID_IMailUser});
    }
    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* array) override {
        RETURN_IF_INJECTED("IMailUser::GetProps");
        if (m_session->loggedOff)
            return MAPI_E_END_OF_SESSION;
        return GetPropsOf(m_props, tags, flags, count, array);
    }

private:
    SessionPtr m_session;
    PropList m_props;
};

class Container : public Object<IABContainer> {
public:
    Container(SessionPtr session, uint32_t id) : m_session(std::move(session)), m_id(id) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return Answer(riid, out,
                      {&IID_IUnknown, &IID_IMAPIProp, &IID_IMAPIContainer, &IID_IABContainer});
    }

    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* array) override {
        RETURN_IF_INJECTED("IABContainer::GetProps");
        if (m_session->loggedOff)
            return MAPI_E_END_OF_SESSION;
        PropList props;
        if (m_id == kRootContainer) {
            props = {BytesProp(PR_ENTRYID, EncodeEntry(MUIDEMSAB, EntryKind::AbRoot, {}, {})),
                     NumberProp(PR_OBJECT_TYPE, MAPI_ABCONT), BytesProp(PR_DISPLAY_NAME, ""),
                     NumberProp(PR_CONTAINER_FLAGS, AB_SUBCONTAINERS)};
        } else {
            props = ContainerProps(m_id);
        }
        return GetPropsOf(props, tags, flags, count, array);
    }

    // What both table requests check first; S_OK with *table cleared when they may go on.
    HRESULT CheckTableRequest(ULONG flags, LPMAPITABLE* table) const {
        if (m_session->loggedOff)
            return MAPI_E_END_OF_SESSION;
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        if (flags & MAPI_UNICODE)
            return MAPI_E_BAD_CHARWIDTH;
        return S_OK;
    }

    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* table) override {
        RETURN_IF_INJECTED("IABContainer::GetContentsTable");
        if (const HRESULT hr = CheckTableRequest(flags, table); hr != S_OK)
            return hr;
        if (m_id == kRootContainer)
            return MAPI_E_NO_SUPPORT;
        std::vector<PropList> rows;
        if (m_id != kPersonalBook) {
            std::vector<mail::AddressEntry> entries;
            std::string error;
            if (!m_session->mailSystem->AddressList(entries, error))
                return AddressBookFailure(error);
            for (size_t i = 0; i < entries.size(); ++i) {
                if (m_id == kAllUsers && entries[i].mailbox.empty())
                    continue;
                rows.push_back(UserProps(entries[i], static_cast<uint32_t>(i)));
            }
        }
        return NewTable(m_session, std::move(rows), kContentsColumns, table);
    }

    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override {
        RETURN_IF_INJECTED("IABContainer::GetHierarchyTable");
        if (const HRESULT hr = CheckTableRequest(flags, table); hr != S_OK)
            return hr;
        std::vector<PropList> rows;
        if (m_id == kRootContainer) {
            // One level of containers, so CONVENIENT_DEPTH shows the same rows.
            for (uint32_t id : {kGlobalAddressList, kAllUsers, kPersonalBook})
                rows.push_back(ContainerProps(id));
        }
        return NewTable(m_session, std::move(rows), kHierarchyColumns, table);
    }

private:
    SessionPtr m_session;
    uint32_t m_id;
};

class AddrBook : public Object<IAddrBook> {
public:
    explicit AddrBook(SessionPtr session) : m_session(std::move(session)) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return Answer(riid, out, {&IID_IUnknown, &IID_IMAPIProp, &IID_IAddrBook});
    }

    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* array) override {
        if (m_session->loggedOff)
            return MAPI_E_END_OF_SESSION;
        return GetPropsOf({NumberProp(PR_OBJECT_TYPE, MAPI_ADDRBOOK)}, tags, flags, count, array);
    }

    HRESULT OpenEntry(ULONG cb, LPENTRYID entry, LPCIID iface, ULONG flags, ULONG* objType,
                      LPUNKNOWN* out) override {
        RETURN_IF_INJECTED("IAddrBook::OpenEntry");
        if (m_session->loggedOff)
            return MAPI_E_END_OF_SESSION;
        if (!objType || !out || (cb && !entry))
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        *objType = 0;
        constexpr ULONG known =
            MAPI_MODIFY | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS | MAPI_CACHE_ONLY;
        if (flags & ~known)
            return MAPI_E_UNKNOWN_FLAGS;
        if (flags & MAPI_MODIFY)
            return MAPI_E_NO_ACCESS; // the address list is read-only through MAPI

        uint32_t container = kRootContainer;
        if (cb != 0) {
            EntryFields fields;
            HRESULT hr = DecodeEntry(cb, entry, MUIDEMSAB, fields);
            if (hr == MAPI_E_UNKNOWN_ENTRYID)
                hr = DecodeEntry(cb, entry, kPersonalBookProvider, fields);
            if (hr)
                return hr;
            if (fields.kind == EntryKind::AbUser)
                return OpenUser(fields, iface, objType, out);
            if (fields.kind == EntryKind::AbRoot && fields.numbers.empty()) {
                container = kRootContainer;
            } else if (fields.kind == EntryKind::AbContainer && fields.numbers.size() == 1 &&
                       fields.numbers[0] <= kPersonalBook) {
                container = fields.numbers[0];
            } else {
                return MAPI_E_INVALID_ENTRYID;
            }
        }
        if (!InterfaceAllowed(
                iface, {&IID_IUnknown, &IID_IMAPIProp, &IID_IMAPIContainer, &IID_IABContainer}))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        Container* object = new (std::nothrow) Container(m_session, container);
        if (!object)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        *objType = MAPI_ABCONT;
        *out = static_cast<IABContainer*>(object);
        return S_OK;
    }

private:
    HRESULT OpenUser(const EntryFields& fields, LPCIID iface, ULONG* objType, LPUNKNOWN* out) {
        if (fields.numbers.size() != 1 || fields.strings.size() != 1)
            return MAPI_E_INVALID_ENTRYID;
        if (!InterfaceAllowed(iface, {&IID_IUnknown, &IID_IMAPIProp, &IID_IMailUser}))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        std::vector<mail::AddressEntry> entries;
        std::string error;
        if (!m_session->mailSystem->AddressList(entries, error))
            return AddressBookFailure(error);
        // The entry at the remembered position, or (the list was edited since) the first one with
        // the same address.
        size_t index = fields.numbers[0];
        if (index >= entries.size() || entries[index].address != fields.strings[0]) {
            index = entries.size();
            for (size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].address == fields.strings[0]) {
                    index = i;
                    break;
                }
            }
            if (index == entries.size())
                return MAPI_E_NOT_FOUND;
        }
        MailUser* user = new (std::nothrow)
            MailUser(m_session, UserProps(entries[index], static_cast<uint32_t>(index)));
        if (!user)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        *objType = MAPI_MAILUSER;
        *out = static_cast<IMailUser*>(user);
        return S_OK;
    }

    SessionPtr m_session;
};

// ---------------------------------------------------------------------------------------------
// The session.

class Session : public Object<IMAPISession> {
public:
    explicit Session(SessionPtr state) : m_state(std::move(state)) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return Answer(riid, out, {&IID_IUnknown, &IID_IMAPISession});
    }

    HRESULT GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override {
        RETURN_IF_INJECTED("IMAPISession::GetMsgStoresTable");
        if (m_state->loggedOff)
            return MAPI_E_END_OF_SESSION;
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        if (flags & MAPI_UNICODE)
            return MAPI_E_BAD_CHARWIDTH;
        const std::string privateId = EncodeEntry(kStoreProvider, EntryKind::PrivateStore, {}, {});
        const std::string publicId = EncodeEntry(kStoreProvider, EntryKind::PublicStore, {}, {});
        PropList privateRow =
            StoreProps(EntryKind::PrivateStore, privateId, "Private Information Store");
        privateRow.push_back(NumberProp(PR_DEFAULT_STORE, 1));
        privateRow.push_back(BytesProp(PR_INSTANCE_KEY, InstanceKey(0)));
        PropList publicRow = StoreProps(EntryKind::PublicStore, publicId, "Public Folders");
        publicRow.push_back(NumberProp(PR_DEFAULT_STORE, 0));
        publicRow.push_back(BytesProp(PR_INSTANCE_KEY, InstanceKey(1)));
        return NewTable(m_state, {privateRow, publicRow},
                        {PR_ENTRYID, PR_DISPLAY_NAME, PR_MDB_PROVIDER, PR_DEFAULT_STORE,
                         PR_PROVIDER_DISPLAY, PR_INSTANCE_KEY},
                        table);
    }

    HRESULT OpenMsgStore(ULONG_PTR, ULONG cb, LPENTRYID entry, LPCIID iface, ULONG flags,
                         LPMDB* out) override {
        RETURN_IF_INJECTED("IMAPISession::OpenMsgStore");
        if (m_state->loggedOff)
            return MAPI_E_END_OF_SESSION;
        if (!out || !entry || cb == 0)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        constexpr ULONG known = MDB_NO_DIALOG | MDB_WRITE | MAPI_DEFERRED_ERRORS |
                                MAPI_BEST_ACCESS | MDB_TEMPORARY | MDB_NO_MAIL | MDB_ONLINE;
        if (flags & ~known)
            return MAPI_E_UNKNOWN_FLAGS;
        if (!InterfaceAllowed(iface, {&IID_IUnknown, &IID_IMAPIProp, &IID_IMsgStore}))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        EntryFields fields;
        if (HRESULT hr = DecodeEntry(cb, entry, kStoreProvider, fields); hr)
            return hr;
        const std::string id(reinterpret_cast<const char*>(entry), cb);

        MsgStore* store = nullptr;
        switch (fields.kind) {
        case EntryKind::PrivateStore:
        case EntryKind::PublicStore: {
            if (!fields.numbers.empty() || !fields.strings.empty())
                return MAPI_E_INVALID_ENTRYID;
            const bool isPublic = fields.kind == EntryKind::PublicStore;
            store = new (std::nothrow)
                MsgStore(m_state,
                         StoreProps(fields.kind, id,
                                    isPublic ? "Public Folders" : "Private Information Store"),
                         std::nullopt);
            break;
        }
        case EntryKind::ServerPublic:
        case EntryKind::Mailbox: {
            const bool mailbox = fields.kind == EntryKind::Mailbox;
            if (fields.numbers.size() != 1 || fields.strings.size() != (mailbox ? 2u : 1u) ||
                (fields.numbers[0] & ~kOpenStoreFlags) ||
                ((fields.numbers[0] & OPENSTORE_PUBLIC) != 0) == mailbox)
                return MAPI_E_INVALID_ENTRYID;
            std::optional<mail::AddressEntry> owner;
            if (HRESULT hr = mailbox ? FindMailbox(fields, owner) : FindServer(fields.strings[0]);
                hr)
                return hr;
            const std::string name = mailbox ? "Mailbox - " + owner->displayName
                                             : "Public Folders - " + fields.strings[0];
            store = new (std::nothrow)
                MsgStore(m_state, StoreProps(fields.kind, id, name), std::move(owner));
            break;
        }
        default:
            return MAPI_E_INVALID_ENTRYID;
        }
        if (!store)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        *out = store;
        return S_OK;
    }

    HRESULT OpenAddressBook(ULONG_PTR, LPCIID iface, ULONG flags, LPADRBOOK* out) override {
        RETURN_IF_INJECTED("IMAPISession::OpenAddressBook");
        if (m_state->loggedOff)
            return MAPI_E_END_OF_SESSION;
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (flags & ~ULONG(AB_NO_DIALOG))
            return MAPI_E_UNKNOWN_FLAGS;
        if (!InterfaceAllowed(iface, {&IID_IUnknown, &IID_IMAPIProp, &IID_IAddrBook}))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        AddrBook* book = new (std::nothrow) AddrBook(m_state);
        if (!book)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        *out = book;
        return S_OK;
    }

    HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override {
        RETURN_IF_INJECTED("IMAPISession::Logoff");
        m_state->loggedOff = true;
        return S_OK;
    }

private:
    // The mailbox `fields` names, if this logon may open it. A mailbox is opened with
    // administrative rights (OPENSTORE_USE_ADMIN_PRIVILEGE) and only on its home store: naming
    // another store is refused as a server refuses a logon to a mailbox it does not hold.
    HRESULT FindMailbox(const EntryFields& fields, std::optional<mail::AddressEntry>& owner) {
        const uint32_t flags = fields.numbers[0];
        const std::string& store = fields.strings[0];
        const std::string& mailbox = fields.strings[1];
        std::vector<mail::AddressEntry> entries;
        std::string error;
        if (!m_state->mailSystem->FindByAddress(mailbox, entries, error))
            return AddressBookFailure(error);
        const mail::AddressEntry* found = nullptr;
        bool onOtherStore = false;
        for (const mail::AddressEntry& e : entries) {
            if (e.mailbox.empty() || e.address != mailbox)
                continue;
            if (e.homeStore == store) {
                found = &e;
                break;
            }
            onOtherStore = true;
        }
        if (!found)
            return onOtherStore ? MAPI_E_NO_ACCESS : MAPI_E_NOT_FOUND;
        if (!(flags & OPENSTORE_USE_ADMIN_PRIVILEGE))
            return MAPI_E_NO_ACCESS;
        const std::string directory = m_state->mailSystem->MailboxDirectory(*found);
        struct stat st;
        if (directory.empty() || ::stat(directory.c_str(), &st) != 0)
            return errno == EACCES ? MAPI_E_NO_ACCESS : MAPI_E_NOT_FOUND;
        if (!S_ISDIR(st.st_mode))
            return MAPI_E_NOT_FOUND;
        if (::access(directory.c_str(), R_OK | X_OK) != 0)
            return MAPI_E_NO_ACCESS;
        owner = *found;
        return S_OK;
    }

    // S_OK when some mailbox of the address list lives on `store`.
    HRESULT FindServer(const std::string& store) {
        std::vector<mail::AddressEntry> entries;
        std::string error;
        if (!m_state->mailSystem->AddressList(entries, error))
            return AddressBookFailure(error);
        for (const mail::AddressEntry& e : entries) {
            if (!e.homeStore.empty() && e.homeStore == store)
                return S_OK;
        }
        return MAPI_E_NOT_FOUND;
    }

    SessionPtr m_state;
};

// ---------------------------------------------------------------------------------------------

std::mutex& InitLock() {
    static std::mutex lock;
    return lock;
}
int g_initialized = 0;

} // namespace

HRESULT MAPIInitialize(LPVOID lpMapiInit) {
    RETURN_IF_INJECTED("MAPIInitialize");
    if (lpMapiInit && static_cast<const MAPIINIT_0*>(lpMapiInit)->ulVersion != MAPI_INIT_VERSION)
        return MAPI_E_VERSION;
    std::lock_guard<std::mutex> guard(InitLock());
    ++g_initialized;
    return S_OK;
}

void MAPIUninitialize() {
    std::lock_guard<std::mutex> guard(InitLock());
    if (g_initialized > 0)
        --g_initialized;
}

HRESULT MAPILogonEx(ULONG_PTR, LPSTR lpszProfileName, LPSTR, ULONG ulFlags,
                    LPMAPISESSION* lppSession) {
    RETURN_IF_INJECTED("MAPILogonEx");
    if (!lppSession)
        return MAPI_E_INVALID_PARAMETER;
    *lppSession = nullptr;
    {
        std::lock_guard<std::mutex> guard(InitLock());
        if (g_initialized == 0)
            return MAPI_E_NOT_INITIALIZED;
    }
    if (ulFlags & MAPI_UNICODE)
        return MAPI_E_BAD_CHARWIDTH;
    try {
        // MAPI_USE_DEFAULT stands for the default profile's name; without it a name is needed,
        // since no dialog can ask for one.
        std::string name;
        if (!(ulFlags & MAPI_USE_DEFAULT)) {
            if (!lpszProfileName || !*lpszProfileName)
                return MAPI_E_LOGON_FAILED;
            name = lpszProfileName;
        }
        mail::Profiles profiles;
        std::string error;
        if (!profiles.Load(error))
            return MAPI_E_LOGON_FAILED;
        const mail::Profile* profile = profiles.Find(name);
        if (!profile)
            return MAPI_E_LOGON_FAILED;
        auto state = std::make_shared<SessionState>();
        state->profile = *profile;
        state->mailSystem = mail::MailSystem::Open(*profile, error);
        if (!state->mailSystem)
            return MAPI_E_LOGON_FAILED;
        Session* session = new (std::nothrow) Session(std::move(state));
        if (!session)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        *lppSession = session;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

HRESULT MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    if (!lppBuffer)
        return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    RETURN_IF_INJECTED("MAPIAllocateBuffer");
    void* block = NewBlock(cbSize, kRootMagic);
    if (!block)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    ++g_liveBuffers;
    *lppBuffer = block;
    return S_OK;
}

HRESULT MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    if (!lppBuffer || !lpObject || HeaderOf(lpObject)->magic != kRootMagic)
        return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    void* block = NewBlock(cbSize, kMoreMagic);
    if (!block)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* root = HeaderOf(lpObject);
    BlockHeader* more = HeaderOf(block);
    more->next = root->next;
    root->next = more;
    *lppBuffer = block;
    return S_OK;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
    if (!lpBuffer)
        return S_OK;
    BlockHeader* root = HeaderOf(lpBuffer);
    if (root->magic != kRootMagic)
        return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    root->magic = 0;
    BlockHeader* more = root->next;
    while (more) {
        BlockHeader* next = more->next;
        more->magic = 0;
        std::free(more);
        more = next;
    }
    std::free(root);
    --g_liveBuffers;
    return S_OK;
}

HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                       LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet, LONG crowsMax,
                       LPSRowSet* lppRows) {
    if (!lpTable || !lppRows)
        return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    if (lpPropTags) {
        if (HRESULT hr = lpTable->SetColumns(lpPropTags, TBL_BATCH); hr)
            return hr;
    }
    if (HRESULT hr = lpTable->Restrict(lpRestriction, TBL_BATCH); hr)
        return hr;
    if (lpSortOrderSet) {
        if (HRESULT hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH); hr)
            return hr;
    }
    if (HRESULT hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr); hr)
        return hr;
    ULONG count = 0;
    if (HRESULT hr = lpTable->GetRowCount(0, &count); hr)
        return hr;
    if (crowsMax > 0 && count > static_cast<ULONG>(crowsMax))
        return MAPI_E_TABLE_TOO_BIG;
    if (count == 0) {
        void* block = nullptr;
        if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(1)), &block); hr)
            return hr;
        static_cast<LPSRowSet>(block)->cRows = 0;
        *lppRows = static_cast<LPSRowSet>(block);
        return S_OK;
    }
    const LONG wanted = count > 0x7fffffffu ? 0x7fffffff : static_cast<LONG>(count);
    return lpTable->QueryRows(wanted, 0, lppRows);
}

void FreeProws(LPSRowSet lpRows) {
    if (!lpRows)
        return;
    for (ULONG i = 0; i < lpRows->cRows; ++i)
        MAPIFreeBuffer(lpRows->aRow[i].lpProps);
    MAPIFreeBuffer(lpRows);
}

ULONG UlRelease(LPVOID lpUnknown) {
    if (!lpUnknown)
        return 0;
    return static_cast<LPUNKNOWN>(lpUnknown)->Release();
}

LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) {
    if (!lpPropArray)
        return nullptr;
    for (ULONG i = 0; i < cValues; ++i) {
        const ULONG tag = lpPropArray[i].ulPropTag;
        if (tag == ulPropTag ||
            (PROP_TYPE(ulPropTag) == PT_UNSPECIFIED && PROP_ID(tag) == PROP_ID(ulPropTag)))
            return &lpPropArray[i];
    }
    return nullptr;
}

namespace mapi_testing {

size_t LiveBuffers() {
    return g_liveBuffers;
}
size_t LiveObjects() {
    return g_liveObjects;
}

void FailCall(const std::string& operation, HRESULT code, int skip) {
    std::lock_guard<std::mutex> guard(FailureLock());
    Failures()[operation] = Failure{code, skip};
}

void ClearFailures() {
    std::lock_guard<std::mutex> guard(FailureLock());
    Failures().clear();
}

} // namespace mapi_testing
