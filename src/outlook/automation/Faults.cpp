// The fault seam and the call recorder.
#include "Faults.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace automation {

namespace {

struct Seams {
    std::mutex mutex;
    std::vector<Fault*> faults; // in the order added
    std::vector<CallRecorder*> recorders;
    // The sizes of the two lists, read without the lock so that calls pay nothing while no test
    // has installed anything.
    std::atomic<std::size_t> faultCount{0}, recorderCount{0};
};

// Constant-initialised, so that the check in front of every call needs no guard.
constinit Seams g_seams;

inline Seams& State() {
    return g_seams;
}

} // namespace

Fault& Fault::InFolder(int folderType) {
    m_folderType = folderType;
    return *this;
}

Fault& Fault::ForMailbox(std::string address) {
    m_mailbox = std::move(address);
    return *this;
}

Fault& Fault::WithDispatchError(CString description) {
    m_code = DISP_E_EXCEPTION;
    m_description = std::move(description);
    return *this;
}

Fault& Fault::WithCallError(HRESULT code) {
    m_code = code;
    m_description.clear();
    return *this;
}

Fault& Fault::Times(int count) {
    m_times = count;
    return *this;
}

Fault& Fault::After(int passes) {
    m_passes = passes;
    return *this;
}

bool Fault::Take(HRESULT& code, CString& description) {
    ++m_seen;
    if (m_seen <= m_passes)
        return false;
    if (m_times >= 0 && m_failed >= m_times)
        return false;
    ++m_failed;
    code = m_code;
    description = m_description;
    return true;
}

FaultScope::FaultScope() = default;

FaultScope::~FaultScope() {
    Seams& s = State();
    std::lock_guard lock(s.mutex);
    for (const auto& fault : m_faults)
        s.faults.erase(std::remove(s.faults.begin(), s.faults.end(), fault.get()), s.faults.end());
    s.faultCount = s.faults.size();
}

Fault& FaultScope::On(ObjectKind kind, DISPID member) {
    auto fault = std::make_unique<Fault>();
    fault->m_kind = kind;
    fault->m_member = member;
    return Activate(std::move(fault));
}

Fault& FaultScope::OnCreate(std::string progId) {
    auto fault = std::make_unique<Fault>();
    fault->m_create = true;
    fault->m_progId = std::move(progId);
    return Activate(std::move(fault));
}

Fault& FaultScope::Activate(std::unique_ptr<Fault> fault) {
    Seams& s = State();
    std::lock_guard lock(s.mutex);
    s.faults.push_back(fault.get());
    s.faultCount = s.faults.size();
    m_faults.push_back(std::move(fault));
    return *m_faults.back();
}

bool CheckFault(const ObjectContext& context, DISPID member, HRESULT& code, CString& description) {
    Seams& s = State();
    if (s.faultCount == 0)
        return false;
    std::lock_guard lock(s.mutex);
    for (Fault* f : s.faults) {
        if (f->m_create || f->m_kind != context.kind)
            continue;
        if (f->m_member != kAnyMember && f->m_member != member)
            continue;
        if (f->m_folderType != 0 && f->m_folderType != context.folderType)
            continue;
        if (f->m_mailbox && *f->m_mailbox != context.mailbox)
            continue;
        if (f->Take(code, description))
            return true;
    }
    return false;
}

bool CheckCreateFault(const std::string& progId, HRESULT& code, CString& description) {
    Seams& s = State();
    if (s.faultCount == 0)
        return false;
    std::lock_guard lock(s.mutex);
    for (Fault* f : s.faults) {
        if (f->m_create && f->m_progId == progId && f->Take(code, description))
            return true;
    }
    return false;
}

CallRecorder::CallRecorder() {
    Seams& s = State();
    std::lock_guard lock(s.mutex);
    s.recorders.push_back(this);
    s.recorderCount = s.recorders.size();
}

CallRecorder::~CallRecorder() {
    Seams& s = State();
    std::lock_guard lock(s.mutex);
    s.recorders.erase(std::remove(s.recorders.begin(), s.recorders.end(), this), s.recorders.end());
    s.recorderCount = s.recorders.size();
}

std::vector<DISPID> CallRecorder::Members(ObjectKind kind) const {
    std::vector<DISPID> members;
    for (const RecordedCall& call : m_calls) {
        if (call.kind == kind)
            members.push_back(call.member);
    }
    return members;
}

int CallRecorder::Count(ObjectKind kind, DISPID member) const {
    return int(std::count_if(m_calls.begin(), m_calls.end(), [&](const RecordedCall& call) {
        return call.kind == kind && call.member == member;
    }));
}

void RecordCall(const ObjectContext& context, DISPID member, WORD flags, HRESULT result) {
    Seams& s = State();
    if (s.recorderCount == 0)
        return;
    std::lock_guard lock(s.mutex);
    for (CallRecorder* recorder : s.recorders) {
        recorder->m_calls.push_back(
            RecordedCall{context.kind, context.folderType, context.mailbox, member, flags, result});
    }
}

} // namespace automation
