// The COM runtime stand-in: initialisation, creation by ProgID, variants, status texts and the
// live-object registry.
#include "ComRuntime.h"

#include "Faults.h"
#include "OutlookServer.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <strings.h>
#include <vector>

namespace {

thread_local int t_initialised = 0; // CoInitialize calls not yet undone on this thread

// The addresses of the live objects: an open-addressing table, so that the objects a scan makes
// for every item found cost no allocation of their own here.
class PointerSet {
public:
    std::size_t size() const { return m_size; }
    bool contains(const void* p) const {
        if (m_slots.empty())
            return false;
        for (std::size_t i = Home(p);; i = (i + 1) & Mask()) {
            if (m_slots[i] == p)
                return true;
            if (m_slots[i] == nullptr)
                return false;
        }
    }
    void insert(const void* p) {
        if ((m_size + m_removed + 1) * 2 > m_slots.size())
            Rehash(std::max<std::size_t>(64, m_size * 4));
        std::size_t i = Home(p);
        while (m_slots[i] != nullptr && m_slots[i] != Removed() && m_slots[i] != p)
            i = (i + 1) & Mask();
        if (m_slots[i] == p)
            return;
        if (m_slots[i] == Removed())
            --m_removed;
        m_slots[i] = p;
        ++m_size;
    }
    void erase(const void* p) {
        if (m_slots.empty())
            return;
        for (std::size_t i = Home(p);; i = (i + 1) & Mask()) {
            if (m_slots[i] == p) {
                m_slots[i] = Removed();
                --m_size;
                ++m_removed;
                return;
            }
            if (m_slots[i] == nullptr)
                return;
        }
    }

private:
    static const void* Removed() { return &kRemovedMark; }
    std::size_t Mask() const { return m_slots.size() - 1; }
    std::size_t Home(const void* p) const {
        const auto bits = reinterpret_cast<std::uintptr_t>(p);
        return std::size_t((bits >> 4) * 0x9E3779B97F4A7C15ull >> 20) & Mask();
    }
    void Rehash(std::size_t capacity) {
        std::size_t slots = 64;
        while (slots < capacity)
            slots *= 2;
        std::vector<const void*> old(slots, nullptr);
        old.swap(m_slots);
        m_size = 0;
        m_removed = 0;
        for (const void* p : old) {
            if (p != nullptr && p != Removed())
                insert(p);
        }
    }

    static inline const char kRemovedMark = 0;
    std::vector<const void*> m_slots; // a power of two in size, at most half full
    std::size_t m_size = 0;
    std::size_t m_removed = 0; // slots marked removed
};

struct Registry {
    std::mutex mutex;
    PointerSet live;
    std::size_t invalid = 0;
};

Registry& Objects() {
    static Registry registry;
    return registry;
}

bool IsLive(IDispatch* object) {
    Registry& r = Objects();
    std::lock_guard lock(r.mutex);
    if (r.live.contains(object))
        return true;
    ++r.invalid;
    return false;
}

struct MessageText {
    HRESULT code;
    const char* text;
};

// The texts FormatMessage gives for these codes, without the trailing line end.
constexpr MessageText kMessages[] = {
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_ACCESSDENIED, "Access is denied."},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, "Member not found."},
    {DISP_E_PARAMNOTFOUND, "Parameter not found."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_EXCEPTION, "Exception occurred."},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional."},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {RPC_E_CALL_REJECTED, "Call was rejected by callee."},
    {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients."},
    {RPC_E_SERVERCALL_RETRYLATER, "The message filter indicated that the application is busy."},
    {CO_E_SERVER_EXEC_FAILURE, "Server execution failed"},
};

} // namespace

bool SystemMessageText(HRESULT code, CString& text) {
    for (const MessageText& m : kMessages) {
        if (m.code == code) {
            text = m.text;
            return true;
        }
    }
    text.clear();
    return false;
}

HRESULT CoInitialize(void*) {
    return t_initialised++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (t_initialised > 0)
        --t_initialised;
}

HRESULT CoCreateInstanceFromProgID(LPCTSTR progId, IDispatch** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (t_initialised == 0)
        return CO_E_NOTINITIALIZED;
    const std::string name = progId ? progId : "";
    HRESULT code = S_OK;
    CString description;
    if (automation::CheckCreateFault(name, code, description))
        return code;
    // ProgIDs, like registry keys, ignore case.
    if (strcasecmp(name.c_str(), "Outlook.Application") != 0)
        return CO_E_CLASSSTRING;
    try {
        *object = automation::CreateOutlookApplication();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

namespace automation {

void AddRef(IDispatch* object) {
    if (object && IsLive(object))
        object->AddRef();
}

void Release(IDispatch* object) {
    if (object && IsLive(object))
        object->Release();
}

std::size_t LiveObjects() {
    Registry& r = Objects();
    std::lock_guard lock(r.mutex);
    return r.live.size();
}

std::size_t InvalidReleases() {
    Registry& r = Objects();
    std::lock_guard lock(r.mutex);
    return r.invalid;
}

void RegisterObject(const IDispatch* object) {
    Registry& r = Objects();
    std::lock_guard lock(r.mutex);
    r.live.insert(object);
}

void UnregisterObject(const IDispatch* object) {
    Registry& r = Objects();
    std::lock_guard lock(r.mutex);
    r.live.erase(object);
}

} // namespace automation

VARTYPE COleVariant::vt() const {
    constexpr VARTYPE kTypes[] = {VT_EMPTY, VT_BOOL, VT_I4, VT_BSTR, VT_DATE, VT_DISPATCH};
    return kTypes[m_value.index()];
}

IDispatch* COleVariant::DetachDispatch() {
    DispatchPtr* object = std::get_if<DispatchPtr>(&m_value);
    if (!object)
        return nullptr;
    IDispatch* detached = object->Detach();
    m_value = std::monostate{};
    return detached;
}
