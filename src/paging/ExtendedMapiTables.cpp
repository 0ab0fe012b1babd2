// Extended MAPI served from the mail system: tables of rows, with columns, restrictions,
// bookmarks and row queries, and HrQueryAllRows over them.
#include "paging/ExtendedMapiInternal.h"

#include <algorithm>
#include <new>
#include <optional>

namespace extended_mapi {
namespace {

class RowTable : public Object<IMAPITable> {
public:
    RowTable(SessionPtr session, std::vector<PropList> rows, std::vector<ULONG> columns)
        : m_session(std::move(session)), m_rows(std::move(rows)), m_columns(std::move(columns)) {
        ApplyRestriction();
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return Answer(riid, out, {&IID_IUnknown, &IID_IMAPITable});
    }

    HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
        RETURN_IF_INJECTED("IMAPITable::SetColumns");
        if (HRESULT hr = Alive(); hr)
            return hr;
        if (!tags || tags->cValues == 0)
            return MAPI_E_INVALID_PARAMETER;
        m_columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        return S_OK;
    }

    HRESULT Restrict(LPSRestriction restriction, ULONG) override {
        RETURN_IF_INJECTED("IMAPITable::Restrict");
        if (HRESULT hr = Alive(); hr)
            return hr;
        if (!restriction) {
            m_restriction.reset();
        } else {
            Condition condition;
            if (HRESULT hr = Convert(restriction, 0, condition); hr)
                return hr;
            m_restriction = std::move(condition);
        }
        ApplyRestriction();
        return S_OK;
    }

    HRESULT SortTable(LPSSortOrderSet sort, ULONG) override {
        if (HRESULT hr = Alive(); hr)
            return hr;
        return (!sort || sort->cSorts == 0) ? S_OK : MAPI_E_NO_SUPPORT;
    }

    HRESULT GetRowCount(ULONG, ULONG* count) override {
        RETURN_IF_INJECTED("IMAPITable::GetRowCount");
        if (HRESULT hr = Alive(); hr)
            return hr;
        if (!count)
            return MAPI_E_INVALID_PARAMETER;
        *count = static_cast<ULONG>(m_visible.size());
        return S_OK;
    }

    HRESULT SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override {
        if (HRESULT hr = Alive(); hr)
            return hr;
        int64_t start;
        switch (origin) {
        case BOOKMARK_BEGINNING:
            start = 0;
            break;
        case BOOKMARK_CURRENT:
            start = static_cast<int64_t>(m_cursor);
            break;
        case BOOKMARK_END:
            start = static_cast<int64_t>(m_visible.size());
            break;
        default:
            return MAPI_E_INVALID_BOOKMARK;
        }
        const int64_t target =
            std::clamp<int64_t>(start + rows, 0, static_cast<int64_t>(m_visible.size()));
        if (sought)
            *sought = static_cast<LONG>(target - start);
        m_cursor = static_cast<size_t>(target);
        return S_OK;
    }

    HRESULT QueryRows(LONG count, ULONG flags, LPSRowSet* out) override {
        RETURN_IF_INJECTED("IMAPITable::QueryRows");
        if (HRESULT hr = Alive(); hr)
            return hr;
        if (!out || count == 0)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        size_t first, last;
        if (count > 0) {
            first = m_cursor;
            last = std::min(m_visible.size(), m_cursor + static_cast<size_t>(count));
        } else {
            const size_t back = static_cast<size_t>(-static_cast<int64_t>(count));
            first = m_cursor > back ? m_cursor - back : 0;
            last = m_cursor;
        }
        const size_t n = last - first;
        void* block = nullptr;
        if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(n ? n : 1)), &block);
            hr)
            return hr;
        LPSRowSet rows = static_cast<LPSRowSet>(block);
        rows->cRows = 0;
        SizedColumns columns(m_columns);
        for (size_t i = 0; i < n; ++i) {
            SRow& row = rows->aRow[i];
            row.ulAdrEntryPad = 0;
            bool missing = false;
            const HRESULT hr = CopyProps(m_rows[m_visible[first + i]], columns.get(), row.cValues,
                                         row.lpProps, missing);
            if (hr) {
                FreeProws(rows);
                return hr;
            }
            rows->cRows = static_cast<ULONG>(i + 1);
        }
        if (!(flags & TBL_NOADVANCE))
            m_cursor = count > 0 ? last : first;
        *out = rows;
        return S_OK;
    }

private:
    // A tag array built from the chosen columns.
    class SizedColumns {
    public:
        explicit SizedColumns(const std::vector<ULONG>& columns) : m_storage(1 + columns.size()) {
            m_storage[0] = static_cast<ULONG>(columns.size());
            std::copy(columns.begin(), columns.end(), m_storage.begin() + 1);
        }
        const SPropTagArray* get() const {
            return reinterpret_cast<const SPropTagArray*>(m_storage.data());
        }

    private:
        std::vector<ULONG> m_storage;
    };

    HRESULT Alive() const { return m_session->loggedOff ? MAPI_E_END_OF_SESSION : S_OK; }

    void ApplyRestriction() {
        m_visible.clear();
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (!m_restriction || Matches(*m_restriction, m_rows[i]))
                m_visible.push_back(i);
        }
        m_cursor = 0;
    }

    SessionPtr m_session;
    std::vector<PropList> m_rows;
    std::vector<ULONG> m_columns;
    std::optional<Condition> m_restriction;
    std::vector<size_t> m_visible; // indexes of the rows that meet the restriction
    size_t m_cursor = 0;           // position in m_visible
};

} // namespace

HRESULT NewTable(const SessionPtr& session, std::vector<PropList> rows,
                 const std::vector<ULONG>& columns, LPMAPITABLE* out) {
    RowTable* table = new (std::nothrow) RowTable(session, std::move(rows), columns);
    if (!table)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = table;
    return S_OK;
}

} // namespace extended_mapi

HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                       LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet, LONG crowsMax,
                       LPSRowSet* lppRows) {
    if (!lpTable || !lppRows)
        return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    if (lpPropTags) {
        if (HRESULT hr = lpTable->SetColumns(lpPropTags, TBL_BATCH); hr)
            return hr;
    }
    if (HRESULT hr = lpTable->Restrict(lpRestriction, TBL_BATCH); hr)
        return hr;
    if (lpSortOrderSet) {
        if (HRESULT hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH); hr)
            return hr;
    }
    if (HRESULT hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr); hr)
        return hr;
    ULONG count = 0;
    if (HRESULT hr = lpTable->GetRowCount(0, &count); hr)
        return hr;
    if (crowsMax > 0 && count > static_cast<ULONG>(crowsMax))
        return MAPI_E_TABLE_TOO_BIG;
    if (count == 0) {
        void* block = nullptr;
        if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(1)), &block); hr)
            return hr;
        static_cast<LPSRowSet>(block)->cRows = 0;
        *lppRows = static_cast<LPSRowSet>(block);
        return S_OK;
    }
    const LONG wanted = count > 0x7fffffffu ? 0x7fffffff : static_cast<LONG>(count);
    return lpTable->QueryRows(wanted, 0, lppRows);
}
