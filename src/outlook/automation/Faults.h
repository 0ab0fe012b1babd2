// Test seam: makes chosen members fail on demand and records the calls made, for the scope of
// one test. Nothing in production installs a fault.
#pragma once

#include "DispatchObject.h"

#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace automation {

inline constexpr DISPID kAnyMember = INT_MIN;

// One rule: calls that match it fail with its error. Built by FaultScope; configure it with the
// chained setters, e.g.
//   faults.On(ObjectKind::Items, 0xCB).InFolder(9).WithDispatchError("x");
//   faults.On(ObjectKind::Recipient, 0x71).WithCallError(E_FAIL).Times(1);
//   faults.OnCreate("Outlook.Application").WithCallError(REGDB_E_CLASSNOTREG);
class Fault {
public:
    // Only objects of that folder (9 Calendar, 13 Tasks) and what was read from it.
    Fault& InFolder(int folderType);
    // Only objects opened from the mailbox with that address.
    Fault& ForMailbox(std::string address);
    // A dispatch error (DISP_E_EXCEPTION) with this description, possibly empty.
    Fault& WithDispatchError(CString description);
    // A call error with this status (the default is E_FAIL).
    Fault& WithCallError(HRESULT code);
    // Fails `count` matching calls and then lets the rest pass; by default every one fails.
    Fault& Times(int count);
    // Lets the first `passes` matching calls through before failing.
    Fault& After(int passes);

    int Seen() const { return m_seen; }     // matching calls so far
    int Failed() const { return m_failed; } // of which failed

private:
    friend class FaultScope;
    friend bool CheckFault(const ObjectContext&, DISPID, HRESULT&, CString&);
    friend bool CheckCreateFault(const std::string&, HRESULT&, CString&);
    bool Take(HRESULT& code, CString& description);

    bool m_create = false; // object creation by ProgID rather than a member call
    std::string m_progId;
    ObjectKind m_kind = ObjectKind::Application;
    DISPID m_member = kAnyMember;
    int m_folderType = 0; // 0: any
    std::optional<std::string> m_mailbox;
    HRESULT m_code = E_FAIL;
    CString m_description;
    int m_passes = 0;
    int m_times = -1; // -1: always
    int m_seen = 0;
    int m_failed = 0;
};

// Owns rules; they are active from creation until the scope ends. Scopes may nest; a call is
// checked against the rules in the order they were added and the first that takes it wins.
class FaultScope {
public:
    FaultScope();
    ~FaultScope();
    FaultScope(const FaultScope&) = delete;
    FaultScope& operator=(const FaultScope&) = delete;

    // A member of an object kind; kAnyMember for all members.
    Fault& On(ObjectKind kind, DISPID member);
    // Creating an object by ProgID (CoCreateInstanceFromProgID).
    Fault& OnCreate(std::string progId);

private:
    Fault& Activate(std::unique_ptr<Fault> fault);
    std::vector<std::unique_ptr<Fault>> m_faults;
};

// Called by the layer in front of each call: true, with the error to give, when a rule takes it.
bool CheckFault(const ObjectContext& context, DISPID member, HRESULT& code, CString& description);
bool CheckCreateFault(const std::string& progId, HRESULT& code, CString& description);

// One call as the recorder saw it.
struct RecordedCall {
    ObjectKind kind;
    int folderType;
    std::string mailbox;
    DISPID member;
    WORD flags;
    HRESULT result; // S_OK, DISP_E_EXCEPTION or the call error
};

// Records every member call made while it exists (nested recorders each see every call).
class CallRecorder {
public:
    CallRecorder();
    ~CallRecorder();
    CallRecorder(const CallRecorder&) = delete;
    CallRecorder& operator=(const CallRecorder&) = delete;

    const std::vector<RecordedCall>& Calls() const { return m_calls; }
    // The members called on objects of `kind`, in order.
    std::vector<DISPID> Members(ObjectKind kind) const;
    // How often `member` of `kind` was called.
    int Count(ObjectKind kind, DISPID member) const;

private:
    friend void RecordCall(const ObjectContext&, DISPID, WORD, HRESULT);
    std::vector<RecordedCall> m_calls;
};

void RecordCall(const ObjectContext& context, DISPID member, WORD flags, HRESULT result);

} // namespace automation
