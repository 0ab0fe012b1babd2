// The automation vocabulary: status codes, dispatch flags, variants and the IDispatch interface.
#pragma once

#include "core/CString.h"
#include "core/WinError.h"

#include <cstdint>
#include <span>
#include <utility>
#include <variant>

using DISPID = int32_t;
// An automation date: days since 30 December 1899 00:00 local time; the fraction is the time of
// day. Before that day the integer part counts back while the fraction still counts forward
// (-1.25 is 29 December 1899 06:00).
using DATE = double;
using WORD = uint16_t;
using VARTYPE = uint16_t;
using LPCTSTR = const char*;

// The system's message text for a status code, without a line end, as FormatMessage gives it
// for the codes above. False, with `text` emptied, for a code the table does not know.
bool SystemMessageText(HRESULT code, CString& text);

// Invoke flags.
inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;

// Variant types the layer passes.
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_BOOL = 11;

// What a failed Invoke tells beyond its status: filled for DISP_E_EXCEPTION only.
struct EXCEPINFO {
    WORD wCode = 0;
    CString bstrSource;
    CString bstrDescription; // may be empty
    SCODE scode = 0;
};

class COleVariant;

// A late-bound automation object. Objects are reference counted: whoever receives a pointer from
// a call owns one reference and gives it back with Release exactly once. Objects are deleted only
// by their last Release, never directly.
class IDispatch {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    // Calls member `member` as a method or property get/put (`flags`). `args` are in call order
    // (not reversed as in DISPPARAMS); for a property put the new value is the last one. On
    // success `result` (may be null) receives the value; S_OK. A failure is either
    // DISP_E_EXCEPTION with `excepInfo` filled (a dispatch error) or any other failure code (a
    // call error). `excepInfo` may be null when the caller does not want the description.
    virtual HRESULT Invoke(DISPID member, WORD flags, std::span<const COleVariant> args,
                           COleVariant* result, EXCEPINFO* excepInfo) = 0;

protected:
    ~IDispatch() = default;
};
using LPDISPATCH = IDispatch*;

namespace automation {

// Reference counting as every holder in this layer does it: a pointer whose object is no longer
// alive is not touched but counted (InvalidReleases in ComRuntime.h), so that a double release
// fails a test instead of corrupting memory. Null is ignored.
void AddRef(IDispatch* object);
void Release(IDispatch* object);

} // namespace automation

// An owned reference to an object, or none.
class DispatchPtr {
public:
    DispatchPtr() = default;
    // Takes over a reference the caller owns.
    static DispatchPtr Attach(IDispatch* object) { return DispatchPtr(object); }
    // Adds a reference of its own.
    static DispatchPtr Share(IDispatch* object) {
        automation::AddRef(object);
        return DispatchPtr(object);
    }
    DispatchPtr(const DispatchPtr& other) : m_object(other.m_object) {
        automation::AddRef(m_object);
    }
    DispatchPtr(DispatchPtr&& other) noexcept : m_object(other.m_object) {
        other.m_object = nullptr;
    }
    DispatchPtr& operator=(DispatchPtr other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~DispatchPtr() { automation::Release(m_object); }

    IDispatch* get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    // Hands the reference to the caller.
    IDispatch* Detach() {
        IDispatch* object = m_object;
        m_object = nullptr;
        return object;
    }

private:
    explicit DispatchPtr(IDispatch* object) : m_object(object) {}
    IDispatch* m_object = nullptr;
};

// A value passed to or returned by Invoke. A VT_DISPATCH variant owns one reference to its
// object (none for Outlook's "Nothing", a null object).
class COleVariant {
public:
    COleVariant() = default;
    explicit COleVariant(bool value) : m_value(value) {}
    explicit COleVariant(int32_t value) : m_value(value) {}
    explicit COleVariant(const char* value) : m_value(CString(value ? value : "")) {}
    explicit COleVariant(CString value) : m_value(std::move(value)) {}
    // Shares `object` (adds a reference).
    explicit COleVariant(IDispatch* object) : m_value(DispatchPtr::Share(object)) {}
    explicit COleVariant(DispatchPtr object) : m_value(std::move(object)) {}
    static COleVariant Date(DATE value) { return COleVariant(DateValue{value}); }

    VARTYPE vt() const;
    bool IsEmpty() const { return m_value.index() == 0; }

    // The value of each type; calling the wrong one is a programming error
    // (std::bad_variant_access).
    bool boolVal() const { return std::get<bool>(m_value); }
    int32_t lVal() const { return std::get<int32_t>(m_value); }
    const CString& bstrVal() const { return std::get<CString>(m_value); }
    // The text itself, moved out; the variant keeps an empty one.
    CString TakeBstrVal() { return std::move(std::get<CString>(m_value)); }
    DATE date() const { return std::get<DateValue>(m_value).value; }
    IDispatch* pdispVal() const { return std::get<DispatchPtr>(m_value).get(); }

    // VT_DISPATCH: hands the object's reference to the caller and leaves the variant empty;
    // null for any other type.
    IDispatch* DetachDispatch();

private:
    struct DateValue {
        DATE value;
    };
    explicit COleVariant(DateValue value) : m_value(value) {}
    std::variant<std::monostate, bool, int32_t, CString, DateValue, DispatchPtr> m_value;
};
