// The served objects' common machinery: counting, the seam in front of each call, argument checks.
#include "DispatchObject.h"

#include "ComRuntime.h"
#include "Faults.h"

#include <new>

namespace automation {

const char* ObjectKindName(ObjectKind kind) {
    switch (kind) {
    case ObjectKind::Application:
        return "Application";
    case ObjectKind::NameSpace:
        return "NameSpace";
    case ObjectKind::Recipient:
        return "Recipient";
    case ObjectKind::Folder:
        return "MAPIFolder";
    case ObjectKind::Items:
        return "Items";
    case ObjectKind::AppointmentItem:
        return "AppointmentItem";
    case ObjectKind::TaskItem:
        return "TaskItem";
    case ObjectKind::RecurrencePattern:
        return "RecurrencePattern";
    }
    return "?";
}

void ThrowDispatchError(CString description) {
    throw DispatchFailure{DISP_E_EXCEPTION, std::move(description)};
}

void ThrowCallError(HRESULT code) {
    throw DispatchFailure{code, {}};
}

DispatchObject::DispatchObject(ObjectContext context)
    : DispatchObject(std::make_shared<const ObjectContext>(std::move(context))) {}

DispatchObject::DispatchObject(std::shared_ptr<const ObjectContext> context)
    : m_context(std::move(context)) {
    RegisterObject(this);
}

DispatchObject::~DispatchObject() {
    UnregisterObject(this);
}

uint32_t DispatchObject::AddRef() {
    return ++m_references;
}

uint32_t DispatchObject::Release() {
    const uint32_t left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

HRESULT DispatchObject::Invoke(DISPID member, WORD flags, std::span<const COleVariant> args,
                               COleVariant* result, EXCEPINFO* excepInfo) {
    HRESULT code = S_OK;
    CString description;
    if (!CheckFault(*m_context, member, code, description)) {
        try {
            // The result is written only when the member succeeds.
            if (result)
                *result = InvokeMember(member, flags, args);
            else
                InvokeMember(member, flags, args);
        } catch (const DispatchFailure& failure) {
            code = failure.code;
            description = failure.description;
        } catch (const std::bad_alloc&) {
            code = E_OUTOFMEMORY;
        } catch (...) {
            code = E_FAIL;
        }
    }
    RecordCall(*m_context, member, flags, code);
    if (FAILED(code)) {
        if (code == DISP_E_EXCEPTION && excepInfo) {
            *excepInfo = EXCEPINFO{};
            excepInfo->bstrSource = "Microsoft Outlook";
            excepInfo->bstrDescription = description;
            excepInfo->scode = E_FAIL;
        }
        return code;
    }
    return S_OK;
}

void ExpectArgs(std::span<const COleVariant> args, std::size_t atMost) {
    if (args.size() > atMost)
        ThrowCallError(DISP_E_BADPARAMCOUNT);
}

namespace {

const COleVariant& Present(std::span<const COleVariant> args, std::size_t index) {
    if (index >= args.size() || args[index].IsEmpty())
        ThrowCallError(DISP_E_PARAMNOTOPTIONAL);
    return args[index];
}

} // namespace

CString StringArg(std::span<const COleVariant> args, std::size_t index) {
    const COleVariant& arg = Present(args, index);
    if (arg.vt() != VT_BSTR)
        ThrowCallError(DISP_E_TYPEMISMATCH);
    return arg.bstrVal();
}

bool BoolArg(std::span<const COleVariant> args, std::size_t index, bool fallback) {
    if (index >= args.size() || args[index].IsEmpty())
        return fallback;
    const COleVariant& arg = args[index];
    if (arg.vt() == VT_BOOL)
        return arg.boolVal();
    if (arg.vt() == VT_I4)
        return arg.lVal() != 0;
    ThrowCallError(DISP_E_TYPEMISMATCH);
}

int32_t IntArg(std::span<const COleVariant> args, std::size_t index) {
    const COleVariant& arg = Present(args, index);
    if (arg.vt() == VT_I4)
        return arg.lVal();
    if (arg.vt() == VT_BOOL)
        return arg.boolVal() ? -1 : 0; // VARIANT_TRUE
    ThrowCallError(DISP_E_TYPEMISMATCH);
}

IDispatch* ObjectArg(std::span<const COleVariant> args, std::size_t index) {
    const COleVariant& arg = Present(args, index);
    if (arg.vt() != VT_DISPATCH || !arg.pdispVal())
        ThrowCallError(DISP_E_TYPEMISMATCH);
    return arg.pdispVal();
}

void ExpectGet(WORD flags, std::span<const COleVariant> args) {
    if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
        ThrowCallError(DISP_E_MEMBERNOTFOUND);
    ExpectArgs(args, 0);
}

void ExpectMethod(WORD flags) {
    if (!(flags & DISPATCH_METHOD))
        ThrowCallError(DISP_E_MEMBERNOTFOUND);
}

} // namespace automation
