// COleDispatchDriver and its exceptions.
#include "DispatchDriver.h"

#include "ComRuntime.h"

#include <cstring>

namespace {

int CopyMessage(const CString& text, char* error, unsigned maxError, unsigned* helpContext) {
    if (helpContext)
        *helpContext = 0;
    if (error && maxError > 0) {
        const std::size_t n = std::min<std::size_t>(text.size(), maxError - 1);
        std::memcpy(error, text.data(), n);
        error[n] = '\0';
    }
    return text.empty() ? 0 : 1;
}

} // namespace

int COleException::GetErrorMessage(char* error, unsigned maxError, unsigned* helpContext) const {
    CString text;
    SystemMessageText(m_sc, text);
    return CopyMessage(text, error, maxError, helpContext);
}

int COleDispatchException::GetErrorMessage(char* error, unsigned maxError,
                                           unsigned* helpContext) const {
    return CopyMessage(m_strDescription, error, maxError, helpContext);
}

COleDispatchDriver::COleDispatchDriver(const COleDispatchDriver& other)
    : m_lpDispatch(other.m_lpDispatch), m_bAutoRelease(true) {
    automation::AddRef(m_lpDispatch);
}

COleDispatchDriver& COleDispatchDriver::operator=(const COleDispatchDriver& other) {
    if (this != &other) {
        automation::AddRef(other.m_lpDispatch);
        ReleaseDispatch();
        m_lpDispatch = other.m_lpDispatch;
        m_bAutoRelease = true;
    }
    return *this;
}

COleDispatchDriver::COleDispatchDriver(COleDispatchDriver&& other) noexcept
    : m_lpDispatch(other.m_lpDispatch), m_bAutoRelease(other.m_bAutoRelease) {
    other.m_lpDispatch = nullptr;
}

COleDispatchDriver& COleDispatchDriver::operator=(COleDispatchDriver&& other) noexcept {
    if (this != &other) {
        ReleaseDispatch();
        m_lpDispatch = other.m_lpDispatch;
        m_bAutoRelease = other.m_bAutoRelease;
        other.m_lpDispatch = nullptr;
    }
    return *this;
}

int COleDispatchDriver::CreateDispatch(LPCTSTR progId, COleException* pError) {
    ReleaseDispatch();
    IDispatch* object = nullptr;
    const HRESULT hr = CoCreateInstanceFromProgID(progId, &object);
    if (FAILED(hr)) {
        if (pError)
            pError->m_sc = hr;
        return 0;
    }
    AttachDispatch(object, true);
    return 1;
}

void COleDispatchDriver::AttachDispatch(LPDISPATCH dispatch, bool bAutoRelease) {
    ReleaseDispatch();
    m_lpDispatch = dispatch;
    m_bAutoRelease = bAutoRelease;
}

LPDISPATCH COleDispatchDriver::DetachDispatch() {
    LPDISPATCH dispatch = m_lpDispatch;
    m_lpDispatch = nullptr;
    return dispatch;
}

void COleDispatchDriver::ReleaseDispatch() {
    if (m_lpDispatch && m_bAutoRelease)
        automation::Release(m_lpDispatch);
    m_lpDispatch = nullptr;
}

COleVariant COleDispatchDriver::InvokeHelper(DISPID member, WORD flags,
                                             std::span<const COleVariant> args) const {
    if (!m_lpDispatch)
        throw COleException(E_POINTER);
    COleVariant result;
    EXCEPINFO info;
    const HRESULT hr = m_lpDispatch->Invoke(member, flags, args, &result, &info);
    if (hr == DISP_E_EXCEPTION)
        throw COleDispatchException(info.bstrDescription, info.wCode, info.scode, info.bstrSource);
    if (FAILED(hr))
        throw COleException(hr);
    return result;
}

bool COleDispatchDriver::ToBool(const COleVariant& value) {
    if (value.vt() == VT_BOOL)
        return value.boolVal();
    if (value.vt() == VT_I4)
        return value.lVal() != 0;
    throw COleException(DISP_E_TYPEMISMATCH);
}

int32_t COleDispatchDriver::ToLong(const COleVariant& value) {
    if (value.vt() == VT_I4)
        return value.lVal();
    if (value.vt() == VT_BOOL)
        return value.boolVal() ? -1 : 0; // VARIANT_TRUE
    throw COleException(DISP_E_TYPEMISMATCH);
}

CString COleDispatchDriver::ToString(const COleVariant& value) {
    if (value.vt() != VT_BSTR)
        throw COleException(DISP_E_TYPEMISMATCH);
    return value.bstrVal();
}

CString COleDispatchDriver::ToString(COleVariant&& value) {
    if (value.vt() != VT_BSTR)
        throw COleException(DISP_E_TYPEMISMATCH);
    return value.TakeBstrVal();
}

DATE COleDispatchDriver::ToDate(const COleVariant& value) {
    if (value.vt() != VT_DATE)
        throw COleException(DISP_E_TYPEMISMATCH);
    return value.date();
}

LPDISPATCH COleDispatchDriver::ToDispatch(COleVariant value) {
    if (value.vt() == VT_EMPTY)
        return nullptr;
    if (value.vt() != VT_DISPATCH)
        throw COleException(DISP_E_TYPEMISMATCH);
    return value.DetachDispatch();
}
