// Extended MAPI served from the mail system: restrictions, copied out of the caller's structures
// when a table is restricted, and applied to its rows.
#include "paging/ExtendedMapiInternal.h"

namespace extended_mapi {
namespace {

constexpr int kMaxRestrictionDepth = 32;
constexpr ULONG kMaxRestrictionChildren = 4096;

} // namespace

HRESULT Convert(const SRestriction* r, int depth, Condition& out) {
    if (!r)
        return MAPI_E_INVALID_PARAMETER;
    if (depth > kMaxRestrictionDepth)
        return MAPI_E_TOO_COMPLEX;
    out.type = r->rt;
    switch (r->rt) {
    case RES_AND:
    case RES_OR: {
        const SAndRestriction& list = r->rt == RES_AND ? r->res.resAnd : r->res.resOr;
        if (list.cRes > kMaxRestrictionChildren)
            return MAPI_E_TOO_COMPLEX;
        if (list.cRes && !list.lpRes)
            return MAPI_E_INVALID_PARAMETER;
        out.children.resize(list.cRes);
        for (ULONG i = 0; i < list.cRes; ++i) {
            if (HRESULT hr = Convert(&list.lpRes[i], depth + 1, out.children[i]); hr)
                return hr;
        }
        return S_OK;
    }
    case RES_NOT:
        out.children.resize(1);
        return Convert(r->res.resNot.lpRes, depth + 1, out.children[0]);
    case RES_EXIST:
        out.tag = r->res.resExist.ulPropTag;
        return S_OK;
    case RES_PROPERTY: {
        const SPropertyRestriction& p = r->res.resProperty;
        if (!p.lpProp || p.relop > RELOP_NE)
            return p.relop == RELOP_RE ? MAPI_E_TOO_COMPLEX : MAPI_E_INVALID_PARAMETER;
        const ULONG type = PROP_TYPE(p.lpProp->ulPropTag);
        if (!IsSupportedType(type))
            return MAPI_E_TOO_COMPLEX;
        out.relop = p.relop;
        out.tag = p.ulPropTag;
        out.value.tag = p.lpProp->ulPropTag;
        switch (type) {
        case PT_I2:
            out.value.number = p.lpProp->Value.i;
            break;
        case PT_LONG:
            out.value.number = p.lpProp->Value.l;
            break;
        case PT_BOOLEAN:
            out.value.number = p.lpProp->Value.b ? 1 : 0;
            break;
        case PT_I8:
            out.value.number = p.lpProp->Value.li;
            break;
        case PT_STRING8:
            if (!p.lpProp->Value.lpszA)
                return MAPI_E_INVALID_PARAMETER;
            out.value.bytes = p.lpProp->Value.lpszA;
            break;
        case PT_BINARY:
            if (p.lpProp->Value.bin.cb && !p.lpProp->Value.bin.lpb)
                return MAPI_E_INVALID_PARAMETER;
            out.value.bytes.assign(reinterpret_cast<const char*>(p.lpProp->Value.bin.lpb),
                                   p.lpProp->Value.bin.cb);
            break;
        }
        return S_OK;
    }
    default:
        return MAPI_E_TOO_COMPLEX;
    }
}

// A property restriction on a property the row lacks (or holds with another type) is false,
// whatever the relation, as in MAPI.
bool Matches(const Condition& c, const PropList& row) {
    switch (c.type) {
    case RES_AND:
        for (const Condition& child : c.children) {
            if (!Matches(child, row))
                return false;
        }
        return true;
    case RES_OR:
        for (const Condition& child : c.children) {
            if (Matches(child, row))
                return true;
        }
        return false;
    case RES_NOT:
        return !Matches(c.children[0], row);
    case RES_EXIST:
        for (const Prop& p : row) {
            if (PROP_ID(p.tag) == PROP_ID(c.tag) && PROP_TYPE(p.tag) != PT_ERROR)
                return true;
        }
        return false;
    case RES_PROPERTY: {
        const Prop* p = Find(row, c.tag);
        if (!p || PROP_TYPE(p->tag) != PROP_TYPE(c.value.tag))
            return false;
        int order;
        const ULONG type = PROP_TYPE(p->tag);
        if (type == PT_STRING8 || type == PT_BINARY)
            order = p->bytes.compare(c.value.bytes);
        else
            order = p->number < c.value.number ? -1 : (p->number > c.value.number ? 1 : 0);
        switch (c.relop) {
        case RELOP_LT:
            return order < 0;
        case RELOP_LE:
            return order <= 0;
        case RELOP_GT:
            return order > 0;
        case RELOP_GE:
            return order >= 0;
        case RELOP_EQ:
            return order == 0;
        case RELOP_NE:
            return order != 0;
        }
        return false;
    }
    }
    return false;
}

} // namespace extended_mapi
