// Extended MAPI served from the mail system: MAPI memory (blocks freed together with what was
// allocated "more" for them), row sets, Release, and the test seams that count live memory and
// objects and make calls fail on demand.
#include "paging/ExtendedMapiInternal.h"

#include <cstdlib>
#include <map>
#include <mutex>

namespace {

struct Failure {
    HRESULT code;
    int skip;
};

std::mutex& FailureLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, Failure>& Failures() {
    static std::map<std::string, Failure> failures;
    return failures;
}

// MAPI memory: a block and the blocks allocated "more" for it are freed together.

constexpr uint32_t kRootMagic = 0x4D415049; // "MAPI"
constexpr uint32_t kMoreMagic = 0x4D4F5245; // "MORE"

struct alignas(std::max_align_t) BlockHeader {
    uint32_t magic;
    BlockHeader* next; // the chain of blocks allocated for the same root
};

BlockHeader* HeaderOf(void* data) {
    return static_cast<BlockHeader*>(data) - 1;
}

void* NewBlock(ULONG size, uint32_t magic) {
    void* raw = std::malloc(sizeof(BlockHeader) + (size ? size : 1));
    if (!raw)
        return nullptr;
    BlockHeader* header = static_cast<BlockHeader*>(raw);
    header->magic = magic;
    header->next = nullptr;
    return header + 1;
}

} // namespace

namespace extended_mapi {

std::atomic<size_t> g_liveBuffers{0};
std::atomic<size_t> g_liveObjects{0};

HRESULT Injected(const char* operation) {
    std::lock_guard<std::mutex> guard(FailureLock());
    auto& failures = Failures();
    if (failures.empty())
        return S_OK;
    auto it = failures.find(operation);
    if (it == failures.end())
        return S_OK;
    if (it->second.skip > 0) {
        --it->second.skip;
        return S_OK;
    }
    const HRESULT code = it->second.code;
    failures.erase(it);
    return code;
}

} // namespace extended_mapi

HRESULT MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    if (!lppBuffer)
        return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    RETURN_IF_INJECTED("MAPIAllocateBuffer");
    void* block = NewBlock(cbSize, kRootMagic);
    if (!block)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    ++extended_mapi::g_liveBuffers;
    *lppBuffer = block;
    return S_OK;
}

HRESULT MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    if (!lppBuffer || !lpObject || HeaderOf(lpObject)->magic != kRootMagic)
        return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    void* block = NewBlock(cbSize, kMoreMagic);
    if (!block)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* root = HeaderOf(lpObject);
    BlockHeader* more = HeaderOf(block);
    more->next = root->next;
    root->next = more;
    *lppBuffer = block;
    return S_OK;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
    if (!lpBuffer)
        return S_OK;
    BlockHeader* root = HeaderOf(lpBuffer);
    if (root->magic != kRootMagic)
        return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    root->magic = 0;
    BlockHeader* more = root->next;
    while (more) {
        BlockHeader* next = more->next;
        more->magic = 0;
        std::free(more);
        more = next;
    }
    std::free(root);
    --extended_mapi::g_liveBuffers;
    return S_OK;
}

void FreeProws(LPSRowSet lpRows) {
    if (!lpRows)
        return;
    for (ULONG i = 0; i < lpRows->cRows; ++i)
        MAPIFreeBuffer(lpRows->aRow[i].lpProps);
    MAPIFreeBuffer(lpRows);
}

ULONG UlRelease(LPVOID lpUnknown) {
    if (!lpUnknown)
        return 0;
    return static_cast<LPUNKNOWN>(lpUnknown)->Release();
}

namespace mapi_testing {

size_t LiveBuffers() {
    return extended_mapi::g_liveBuffers;
}
size_t LiveObjects() {
    return extended_mapi::g_liveObjects;
}

void FailCall(const std::string& operation, HRESULT code, int skip) {
    std::lock_guard<std::mutex> guard(FailureLock());
    Failures()[operation] = Failure{code, skip};
}

void ClearFailures() {
    std::lock_guard<std::mutex> guard(FailureLock());
    Failures().clear();
}

} // namespace mapi_testing
