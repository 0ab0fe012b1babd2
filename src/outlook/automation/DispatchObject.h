// The base of every object this layer serves: reference counting, the fault seam and the call
// recorder in front of each member, and the turning of failures into status codes.
#pragma once

#include "OleTypes.h"

#include <atomic>
#include <memory>
#include <string>

namespace automation {

enum class ObjectKind {
    Application,
    NameSpace,
    Recipient,
    Folder, // MAPIFolder
    Items,
    AppointmentItem,
    TaskItem,
    RecurrencePattern,
};
const char* ObjectKindName(ObjectKind kind);

// Where an object belongs, as the fault seam and the call recorder select objects.
struct ObjectContext {
    ObjectKind kind = ObjectKind::Application;
    int folderType = 0;  // 9 Calendar, 13 Tasks for a folder and everything read from it; 0 none
    std::string mailbox; // address of the mailbox the object was opened from; empty for none
};

// Thrown by a member implementation; Invoke turns it into its status (and description).
struct DispatchFailure {
    HRESULT code = E_FAIL; // DISP_E_EXCEPTION for a dispatch error
    CString description;   // the dispatch error's description; unused for a call error
};
// Shorthands for the two kinds.
[[noreturn]] void ThrowDispatchError(CString description);
[[noreturn]] void ThrowCallError(HRESULT code);

class DispatchObject : public IDispatch {
public:
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    uint32_t AddRef() override;
    uint32_t Release() override;
    // Consults the fault seam, runs the member, records the call. Never throws.
    HRESULT Invoke(DISPID member, WORD flags, std::span<const COleVariant> args,
                   COleVariant* result, EXCEPINFO* excepInfo) final;

    const ObjectContext& Context() const { return *m_context; }

protected:
    // The object starts with one reference, owned by its creator.
    explicit DispatchObject(ObjectContext context);
    // The same, sharing a context with others (the items of one search share one).
    explicit DispatchObject(std::shared_ptr<const ObjectContext> context);
    virtual ~DispatchObject();

    // One member: returns its value (empty for none) or throws DispatchFailure.
    virtual COleVariant InvokeMember(DISPID member, WORD flags,
                                     std::span<const COleVariant> args) = 0;

private:
    std::atomic<uint32_t> m_references{1};
    std::shared_ptr<const ObjectContext> m_context;
};

// Argument checks shared by the members. Each throws the call error COM gives for the fault:
// DISP_E_BADPARAMCOUNT for too many arguments, DISP_E_PARAMNOTOPTIONAL for a missing one,
// DISP_E_TYPEMISMATCH for a value of another type. An empty variant counts as missing.
void ExpectArgs(std::span<const COleVariant> args, std::size_t atMost);
CString StringArg(std::span<const COleVariant> args, std::size_t index);
bool BoolArg(std::span<const COleVariant> args, std::size_t index, bool fallback);
int32_t IntArg(std::span<const COleVariant> args, std::size_t index);
// The object argument, not owned (the caller's variant keeps it alive for the call).
IDispatch* ObjectArg(std::span<const COleVariant> args, std::size_t index);

// A property get (DISPATCH_PROPERTYGET or DISPATCH_METHOD with no arguments), else
// DISP_E_MEMBERNOTFOUND: the served properties are read-only.
void ExpectGet(WORD flags, std::span<const COleVariant> args);
void ExpectMethod(WORD flags);

} // namespace automation
