// Extended MAPI served from the mail system: the address book of the profile's address list (the
// file or the directory), with its root, the Global Address List, All Users and a personal book.
#include "paging/EventLog.h"
#include "paging/ExtendedMapiInternal.h"

#include <new>

namespace extended_mapi {
namespace {

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
    // The address book's failures are written as events of their own (AddressBookFailure).
    HRESULT GetLastError(HRESULT, ULONG flags, LPMAPIERROR* error) override {
        return LastErrorOf({}, flags, error);
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
    // The address book's failures are written as events of their own (AddressBookFailure).
    HRESULT GetLastError(HRESULT, ULONG flags, LPMAPIERROR* error) override {
        return LastErrorOf({}, flags, error);
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
    // The address book's failures are written as events of their own (AddressBookFailure).
    HRESULT GetLastError(HRESULT, ULONG flags, LPMAPIERROR* error) override {
        return LastErrorOf({}, flags, error);
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

} // namespace

IAddrBook* NewAddressBook(const SessionPtr& session) {
    return new (std::nothrow) AddrBook(session);
}

// The callers see only a result code, so the cause (the file and its fault, or the directory
// server and why it failed) is written as an event of its own.
HRESULT AddressBookFailure(const std::string& error) {
    LogEvent(EventLog::kEventId, error.c_str());
    return MAPI_E_CALL_FAILED;
}

} // namespace extended_mapi
