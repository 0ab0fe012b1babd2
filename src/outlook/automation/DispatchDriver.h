// The client side of automation in the manner of MFC: COleDispatchDriver and the two exception
// kinds that its calls throw.
#pragma once

#include "OleTypes.h"

#include <initializer_list>

// Base of the automation exceptions. They are thrown by value and caught by reference.
class CException {
public:
    virtual ~CException() = default;
    // MFC's contract: copies at most nMaxError - 1 characters of the message and a terminator
    // into `error`; TRUE (1) when there is a message, FALSE (0) with an empty buffer when not.
    // `helpContext` (may be null) receives 0.
    virtual int GetErrorMessage(char* error, unsigned maxError,
                                unsigned* helpContext = nullptr) const = 0;
};

// A call error: the call failed with a status code other than DISP_E_EXCEPTION.
class COleException : public CException {
public:
    explicit COleException(SCODE sc) : m_sc(sc) {}
    // The system's message text for m_sc (SystemMessageText).
    int GetErrorMessage(char* error, unsigned maxError,
                        unsigned* helpContext = nullptr) const override;
    // The same text as a string; false when the system has none for the code.
    bool GetSystemText(CString& text) const { return SystemMessageText(m_sc, text); }

    SCODE m_sc;
};

// A dispatch error: the object itself raised an exception (DISP_E_EXCEPTION) with a description.
class COleDispatchException : public CException {
public:
    COleDispatchException(CString description, WORD code, SCODE error, CString source)
        : m_strDescription(std::move(description)), m_wCode(code), m_scError(error),
          m_strSource(std::move(source)) {}
    // The description; FALSE when it is empty.
    int GetErrorMessage(char* error, unsigned maxError,
                        unsigned* helpContext = nullptr) const override;

    CString m_strDescription; // may be empty
    WORD m_wCode;
    SCODE m_scError;
    CString m_strSource;
};

// Holds one automation object and calls it by dispatch identifier. Every failed call throws
// COleDispatchException (dispatch error) or COleException (call error); the object is untouched
// by a failure.
class COleDispatchDriver {
public:
    COleDispatchDriver() = default;
    // Takes `dispatch`; with bAutoRelease the driver releases it once when done with it.
    explicit COleDispatchDriver(LPDISPATCH dispatch, bool bAutoRelease = true)
        : m_lpDispatch(dispatch), m_bAutoRelease(bAutoRelease) {}
    // Shares the other's object (adds a reference, which this driver releases).
    COleDispatchDriver(const COleDispatchDriver& other);
    COleDispatchDriver& operator=(const COleDispatchDriver& other);
    COleDispatchDriver(COleDispatchDriver&& other) noexcept;
    COleDispatchDriver& operator=(COleDispatchDriver&& other) noexcept;
    ~COleDispatchDriver() { ReleaseDispatch(); }

    // Creates the object registered under `progId`. FALSE, with the status in pError->m_sc when
    // pError is given, when it cannot be created (nothing is thrown). Releases any object held.
    int CreateDispatch(LPCTSTR progId, COleException* pError = nullptr);
    // Releases any object held, then takes `dispatch` (null allowed).
    void AttachDispatch(LPDISPATCH dispatch, bool bAutoRelease = true);
    // Gives up the object without releasing it; the caller owns what the driver owned.
    LPDISPATCH DetachDispatch();
    // Releases the object once (when auto-release) and holds none.
    void ReleaseDispatch();

    // Calls a member with `args` in call order and returns its value. Throws on failure, and
    // COleException(E_POINTER) when no object is held.
    COleVariant InvokeHelper(DISPID member, WORD flags,
                             std::span<const COleVariant> args = {}) const;
    COleVariant InvokeHelper(DISPID member, WORD flags,
                             std::initializer_list<COleVariant> args) const {
        return InvokeHelper(member, flags, std::span<const COleVariant>(args.begin(), args.size()));
    }
    COleVariant GetProperty(DISPID member) const {
        return InvokeHelper(member, DISPATCH_PROPERTYGET);
    }
    void SetProperty(DISPID member, const COleVariant& value) const {
        InvokeHelper(member, DISPATCH_PROPERTYPUT, {value});
    }

    LPDISPATCH m_lpDispatch = nullptr;
    bool m_bAutoRelease = true;

protected:
    // Typed results, coerced as VariantChangeType would (a 32-bit integer and a Boolean convert
    // into each other); any other type throws COleException(DISP_E_TYPEMISMATCH).
    static bool ToBool(const COleVariant& value);
    static int32_t ToLong(const COleVariant& value);
    static CString ToString(const COleVariant& value);
    static CString ToString(COleVariant&& value); // moves the text out
    static DATE ToDate(const COleVariant& value);
    // An object result for the caller to own, or null for "Nothing" or an empty result.
    static LPDISPATCH ToDispatch(COleVariant value);
};
