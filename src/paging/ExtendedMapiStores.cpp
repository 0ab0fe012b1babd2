// Extended MAPI served from the mail system: the message stores (the profile's private store and
// public folders), users' mailboxes opened with administrative rights on their home store, and
// their out-of-office state.
#include "paging/ExtendedMapiInternal.h"

#include <cerrno>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace extended_mapi {
namespace {

PropList StoreProps(EntryKind kind, const std::string& entryId, const std::string& name);

// The PT_ERROR value of PR_OOF_STATE for a state that could not be read.
LONG UnreadableCode(mail::OutOfOfficeNote::Failure failure) {
    switch (failure) {
    case mail::OutOfOfficeNote::Failure::Unreachable:
        return MAPI_E_NETWORK_ERROR;
    case mail::OutOfOfficeNote::Failure::Refused:
        return MAPI_E_NO_ACCESS;
    case mail::OutOfOfficeNote::Failure::NoMailbox:
        return MAPI_E_NOT_FOUND;
    case mail::OutOfOfficeNote::Failure::None:
    case mail::OutOfOfficeNote::Failure::Damaged:
        break;
    }
    return MAPI_E_CORRUPT_DATA;
}

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
        m_lastError.clear();
        if (m_mailbox) {
            // Read at every call: the state is the mailbox owner's to change at any time.
            mail::OutOfOfficeNote note;
            switch (m_session->mailSystem->ReadOutOfOffice(*m_mailbox, note)) {
            case mail::OutOfOffice::In:
                props.push_back(NumberProp(PR_OOF_STATE, 0));
                break;
            case mail::OutOfOffice::Out:
                props.push_back(NumberProp(PR_OOF_STATE, 1));
                break;
            case mail::OutOfOffice::Missing:
                m_lastError = note.why;
                break;
            case mail::OutOfOffice::Unreadable:
                m_lastError = note.why;
                props.push_back(NumberProp(CHANGE_PROP_TYPE(PR_OOF_STATE, PT_ERROR),
                                           UnreadableCode(note.failure)));
                break;
            }
        }
        return GetPropsOf(props, tags, flags, count, array);
    }

    // Why the last GetProps could not give the out-of-office state: the file or the server and
    // the cause, as the mail system put it.
    HRESULT GetLastError(HRESULT, ULONG flags, LPMAPIERROR* error) override {
        return LastErrorOf(m_lastError, flags, error);
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
    std::string m_lastError; // the last GetProps' failure to read the state; empty: none
};

PropList StoreProps(EntryKind kind, const std::string& entryId, const std::string& name) {
    const bool isPublic = kind == EntryKind::PublicStore || kind == EntryKind::ServerPublic;
    return {BytesProp(PR_ENTRYID, entryId), NumberProp(PR_OBJECT_TYPE, MAPI_STORE),
            BytesProp(PR_DISPLAY_NAME, name),
            BytesProp(PR_MDB_PROVIDER, Bytes(isPublic ? pbExchangeProviderPublicGuid
                                                      : pbExchangeProviderPrimaryUserGuid)),
            BytesProp(PR_PROVIDER_DISPLAY, "Orvane mail system")};
}

// The mailbox `fields` names, if this logon may open it. A mailbox is opened with
// administrative rights (OPENSTORE_USE_ADMIN_PRIVILEGE) and only on its home store: naming
// another store is refused as a server refuses a logon to a mailbox it does not hold.
HRESULT FindMailbox(const SessionPtr& session, const EntryFields& fields,
                    std::optional<mail::AddressEntry>& owner) {
    const uint32_t flags = fields.numbers[0];
    const std::string& store = fields.strings[0];
    const std::string& mailbox = fields.strings[1];
    std::vector<mail::AddressEntry> entries;
    std::string error;
    if (!session->mailSystem->FindByAddress(mailbox, entries, error))
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
    // With an out-of-office server the mailbox's state lives there: no folder is needed (its
    // calendars may come from a calendar server too).
    if (!session->profile.outOfOffice.url.empty()) {
        owner = *found;
        return S_OK;
    }
    const std::string directory = session->mailSystem->MailboxDirectory(*found);
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
HRESULT FindServer(const SessionPtr& session, const std::string& store) {
    std::vector<mail::AddressEntry> entries;
    std::string error;
    if (!session->mailSystem->AddressList(entries, error))
        return AddressBookFailure(error);
    for (const mail::AddressEntry& e : entries) {
        if (!e.homeStore.empty() && e.homeStore == store)
            return S_OK;
    }
    return MAPI_E_NOT_FOUND;
}

} // namespace

HRESULT StoresTable(const SessionPtr& session, LPMAPITABLE* table) {
    const std::string privateId = EncodeEntry(kStoreProvider, EntryKind::PrivateStore, {}, {});
    const std::string publicId = EncodeEntry(kStoreProvider, EntryKind::PublicStore, {}, {});
    PropList privateRow =
        StoreProps(EntryKind::PrivateStore, privateId, "Private Information Store");
    privateRow.push_back(NumberProp(PR_DEFAULT_STORE, 1));
    privateRow.push_back(BytesProp(PR_INSTANCE_KEY, InstanceKey(0)));
    PropList publicRow = StoreProps(EntryKind::PublicStore, publicId, "Public Folders");
    publicRow.push_back(NumberProp(PR_DEFAULT_STORE, 0));
    publicRow.push_back(BytesProp(PR_INSTANCE_KEY, InstanceKey(1)));
    return NewTable(session, {privateRow, publicRow},
                    {PR_ENTRYID, PR_DISPLAY_NAME, PR_MDB_PROVIDER, PR_DEFAULT_STORE,
                     PR_PROVIDER_DISPLAY, PR_INSTANCE_KEY},
                    table);
}

HRESULT OpenStore(const SessionPtr& session, ULONG cb, LPENTRYID entry, LPCIID iface, ULONG flags,
                  LPMDB* out) {
    if (!out || !entry || cb == 0)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    constexpr ULONG known = MDB_NO_DIALOG | MDB_WRITE | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS |
                            MDB_TEMPORARY | MDB_NO_MAIL | MDB_ONLINE;
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
        store = new (std::nothrow) MsgStore(
            session,
            StoreProps(fields.kind, id, isPublic ? "Public Folders" : "Private Information Store"),
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
        if (HRESULT hr = mailbox ? FindMailbox(session, fields, owner)
                                 : FindServer(session, fields.strings[0]);
            hr)
            return hr;
        const std::string name =
            mailbox ? "Mailbox - " + owner->displayName : "Public Folders - " + fields.strings[0];
        store = new (std::nothrow)
            MsgStore(session, StoreProps(fields.kind, id, name), std::move(owner));
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

} // namespace extended_mapi
