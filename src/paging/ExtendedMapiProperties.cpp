// Extended MAPI served from the mail system: property values, copied into MAPI memory for the
// caller.
#include "paging/ExtendedMapiInternal.h"

#include <cstring>

namespace extended_mapi {
namespace {

// Writes `p` into `out`, copying strings and binaries into blocks allocated for `root`.
HRESULT Fill(const Prop& p, void* root, SPropValue& out) {
    out.ulPropTag = p.tag;
    out.dwAlignPad = 0;
    switch (PROP_TYPE(p.tag)) {
    case PT_I2:
        out.Value.i = static_cast<short>(p.number);
        return S_OK;
    case PT_LONG:
        out.Value.l = static_cast<LONG>(p.number);
        return S_OK;
    case PT_BOOLEAN:
        out.Value.b = p.number ? 1 : 0;
        return S_OK;
    case PT_I8:
        out.Value.li = p.number;
        return S_OK;
    case PT_ERROR:
        out.Value.err = static_cast<LONG>(p.number);
        return S_OK;
    case PT_STRING8: {
        void* text = nullptr;
        if (HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(p.bytes.size() + 1), root, &text); hr)
            return hr;
        std::memcpy(text, p.bytes.c_str(), p.bytes.size() + 1);
        out.Value.lpszA = static_cast<char*>(text);
        return S_OK;
    }
    case PT_BINARY: {
        void* data = nullptr;
        if (HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(p.bytes.size()), root, &data); hr)
            return hr;
        if (!p.bytes.empty())
            std::memcpy(data, p.bytes.data(), p.bytes.size());
        out.Value.bin.cb = static_cast<ULONG>(p.bytes.size());
        out.Value.bin.lpb = static_cast<LPBYTE>(data);
        return S_OK;
    }
    default:
        out.Value.x = 0;
        return S_OK;
    }
}

} // namespace

HRESULT CopyProps(const PropList& props, const SPropTagArray* tags, ULONG& count,
                  LPSPropValue& array, bool& missing) {
    std::vector<Prop> chosen;
    missing = false;
    if (!tags) {
        chosen = props;
    } else {
        for (ULONG i = 0; i < tags->cValues; ++i) {
            const ULONG tag = tags->aulPropTag[i];
            // A stored PT_ERROR value stands for a property that exists but cannot be read.
            const Prop* found = nullptr;
            for (const Prop& p : props) {
                if (PROP_ID(p.tag) == PROP_ID(tag) &&
                    (PROP_TYPE(tag) == PT_UNSPECIFIED || PROP_TYPE(tag) == PROP_TYPE(p.tag) ||
                     PROP_TYPE(p.tag) == PT_ERROR)) {
                    found = &p;
                    break;
                }
            }
            if (found) {
                chosen.push_back(*found);
                if (PROP_TYPE(found->tag) == PT_ERROR)
                    missing = true;
            } else {
                chosen.push_back(NumberProp(CHANGE_PROP_TYPE(tag, PT_ERROR), MAPI_E_NOT_FOUND));
                missing = true;
            }
        }
    }
    void* block = nullptr;
    const size_t n = chosen.size();
    if (HRESULT hr =
            MAPIAllocateBuffer(static_cast<ULONG>((n ? n : 1) * sizeof(SPropValue)), &block);
        hr)
        return hr;
    LPSPropValue values = static_cast<LPSPropValue>(block);
    for (size_t i = 0; i < n; ++i) {
        if (HRESULT hr = Fill(chosen[i], block, values[i]); hr) {
            MAPIFreeBuffer(block);
            return hr;
        }
    }
    count = static_cast<ULONG>(n);
    array = values;
    return S_OK;
}

HRESULT GetPropsOf(const PropList& props, LPSPropTagArray tags, ULONG flags, ULONG* count,
                   LPSPropValue* array) {
    if (!count || !array)
        return MAPI_E_INVALID_PARAMETER;
    if (flags & MAPI_UNICODE)
        return MAPI_E_BAD_CHARWIDTH;
    if (tags && tags->cValues == 0)
        return MAPI_E_INVALID_PARAMETER;
    bool missing = false;
    if (HRESULT hr = CopyProps(props, tags, *count, *array, missing); hr)
        return hr;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT LastErrorOf(const std::string& text, ULONG flags, LPMAPIERROR* error) {
    if (!error)
        return MAPI_E_INVALID_PARAMETER;
    *error = nullptr;
    if (flags & MAPI_UNICODE)
        return MAPI_E_BAD_CHARWIDTH;
    if (text.empty())
        return S_OK;
    void* block = nullptr;
    if (HRESULT hr = MAPIAllocateBuffer(sizeof(MAPIERROR), &block); hr)
        return hr;
    auto* result = static_cast<MAPIERROR*>(block);
    *result = MAPIERROR{MAPI_ERROR_VERSION, nullptr, nullptr, 0, 0};
    static const std::string component = "Orvane mail system";
    for (auto [from, to] :
         {std::pair{&text, &result->lpszError}, std::pair{&component, &result->lpszComponent}}) {
        void* copy = nullptr;
        if (HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(from->size() + 1), block, &copy); hr) {
            MAPIFreeBuffer(block);
            return hr;
        }
        std::memcpy(copy, from->c_str(), from->size() + 1);
        *to = static_cast<char*>(copy);
    }
    *error = result;
    return S_OK;
}

} // namespace extended_mapi

LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) {
    if (!lpPropArray)
        return nullptr;
    for (ULONG i = 0; i < cValues; ++i) {
        const ULONG tag = lpPropArray[i].ulPropTag;
        if (tag == ulPropTag ||
            (PROP_TYPE(ulPropTag) == PT_UNSPECIFIED && PROP_ID(tag) == PROP_ID(ulPropTag)))
            return &lpPropArray[i];
    }
    return nullptr;
}
