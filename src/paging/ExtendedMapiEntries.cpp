// Extended MAPI served from the mail system: entry identifiers of stores, mailboxes and address
// book entries, made and read back.
#include "paging/ExtendedMapiInternal.h"

#include <cstring>

namespace extended_mapi {

std::string EncodeEntry(const MAPIUID& provider, EntryKind kind,
                        std::initializer_list<uint32_t> numbers,
                        std::initializer_list<std::string> strings) {
    std::string id(4, '\0');
    id += Bytes(provider);
    id += static_cast<char>(kEntryVersion);
    id += static_cast<char>(kind);
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            id += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    put(static_cast<uint32_t>(numbers.size()));
    for (uint32_t n : numbers)
        put(n);
    put(static_cast<uint32_t>(strings.size()));
    for (const std::string& s : strings) {
        put(static_cast<uint32_t>(s.size()));
        id += s;
    }
    return id;
}

HRESULT DecodeEntry(ULONG cb, const ENTRYID* entry, const MAPIUID& provider, EntryFields& out) {
    if (!entry || cb < 22)
        return MAPI_E_UNKNOWN_ENTRYID;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(entry);
    if (std::memcmp(bytes + 4, provider.ab, 16) != 0)
        return MAPI_E_UNKNOWN_ENTRYID;
    // Only long-term identifiers (no flag bits) are made here.
    if (bytes[0] || bytes[1] || bytes[2] || bytes[3] || bytes[20] != kEntryVersion)
        return MAPI_E_INVALID_ENTRYID;
    out.kind = static_cast<EntryKind>(bytes[21]);
    size_t at = 22;
    auto get = [&](uint32_t& v) {
        if (cb - at < 4)
            return false;
        v = uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
            uint32_t(bytes[at + 3]) << 24;
        at += 4;
        return true;
    };
    uint32_t count = 0;
    if (!get(count) || count > 8)
        return MAPI_E_INVALID_ENTRYID;
    out.numbers.resize(count);
    for (uint32_t& n : out.numbers) {
        if (!get(n))
            return MAPI_E_INVALID_ENTRYID;
    }
    if (!get(count) || count > 8)
        return MAPI_E_INVALID_ENTRYID;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!get(length) || length > cb - at)
            return MAPI_E_INVALID_ENTRYID;
        out.strings.emplace_back(reinterpret_cast<const char*>(bytes + at), length);
        at += length;
    }
    return at == cb ? S_OK : MAPI_E_INVALID_ENTRYID;
}

HRESULT AllocateEntry(const std::string& id, ULONG* cb, LPENTRYID* entry) {
    void* block = nullptr;
    if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(id.size()), &block); hr)
        return hr;
    std::memcpy(block, id.data(), id.size());
    *cb = static_cast<ULONG>(id.size());
    *entry = static_cast<LPENTRYID>(block);
    return S_OK;
}

std::string InstanceKey(uint32_t index) {
    std::string key(4, '\0');
    for (int i = 0; i < 4; ++i)
        key[i] = static_cast<char>((index >> (8 * i)) & 0xff);
    return key;
}

} // namespace extended_mapi
