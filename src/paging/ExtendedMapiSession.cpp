// Extended MAPI served from the mail system: initialisation, logon to a profile and the session,
// which hands out the stores and the address book of the profile's mail system.
#include "paging/ExtendedMapiInternal.h"

#include <mutex>
#include <new>

namespace {

using namespace extended_mapi;

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
        return StoresTable(m_state, table);
    }

    HRESULT OpenMsgStore(ULONG_PTR, ULONG cb, LPENTRYID entry, LPCIID iface, ULONG flags,
                         LPMDB* out) override {
        RETURN_IF_INJECTED("IMAPISession::OpenMsgStore");
        if (m_state->loggedOff)
            return MAPI_E_END_OF_SESSION;
        return OpenStore(m_state, cb, entry, iface, flags, out);
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
        IAddrBook* book = NewAddressBook(m_state);
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
    SessionPtr m_state;
};

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
        state->mailSystem = mail::MailSystem::OpenWithoutCalendarServer(*profile, error);
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
