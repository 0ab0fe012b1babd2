// The byte-level iCalendar pass: structure check, component boundaries and the values noted for
// each component (reading inside one is in IcsComponent.cpp).
#include "mailsystem/ical/IcsScanner.h"

#include "mailsystem/ical/IcsLines.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace mail::ics {
namespace {

using namespace detail;

constexpr size_t kMaxDepth = 16;

bool SameNameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    }
    return true;
}

// Names whose values the scan itself reads.
enum class Prop {
    Other,
    Begin,
    End,
    DtStart,
    RRule,
    ExRule,
    RDate,
    RecurrenceId,
    Uid,
    CalendarZone
};

Prop Classify(std::string_view name) {
    switch (name.size()) {
    case 3:
        if (EqualsNoCase(name, "END"))
            return Prop::End;
        if (EqualsNoCase(name, "UID"))
            return Prop::Uid;
        break;
    case 5:
        if (EqualsNoCase(name, "BEGIN"))
            return Prop::Begin;
        if (EqualsNoCase(name, "RRULE"))
            return Prop::RRule;
        if (EqualsNoCase(name, "RDATE"))
            return Prop::RDate;
        break;
    case 6:
        if (EqualsNoCase(name, "EXRULE"))
            return Prop::ExRule;
        break;
    case 7:
        if (EqualsNoCase(name, "DTSTART"))
            return Prop::DtStart;
        break;
    case 13:
        if (EqualsNoCase(name, "RECURRENCE-ID"))
            return Prop::RecurrenceId;
        if (EqualsNoCase(name, "X-WR-TIMEZONE"))
            return Prop::CalendarZone;
        break;
    default:
        break;
    }
    return Prop::Other;
}

// Names of components that only a VCALENDAR holds: one of them begun inside another component
// means that the other was never ended.
bool IsCalendarLevelOnly(std::string_view name) {
    static constexpr std::string_view kNames[] = {"VEVENT",    "VTODO",     "VJOURNAL",
                                                  "VFREEBUSY", "VTIMEZONE", "VAVAILABILITY"};
    for (std::string_view known : kNames) {
        if (EqualsNoCase(name, known))
            return true;
    }
    return false;
}

bool IsBlank(std::string_view s) {
    for (char c : s) {
        if (c != ' ' && c != '\t' && c != '\r')
            return false;
    }
    return true;
}

// Unfolds the logical line in [start, stop): a continuation loses its line end and its leading
// blank; a line read as a continuation although it lost that blank is taken whole.
std::string Unfold(std::string_view text, size_t start, size_t stop) {
    std::string logical;
    size_t pos = start;
    bool firstLine = true;
    while (pos < stop) {
        const Line line = NextLine(text, pos);
        const std::string_view physical = text.substr(line.start, line.stop - line.start);
        const size_t skip = !firstLine && StartsWithBlank(physical) ? 1 : 0;
        logical.append(physical.substr(skip));
        firstLine = false;
        pos = line.next;
    }
    return logical;
}

class Scanner {
public:
    explicit Scanner(std::string_view text) : m_text(text) {}

    ScanResult Run();

private:
    struct Open {
        // A copy: the name of a folded BEGIN line lives only in its unfolded line.
        std::string name;
        uint32_t line;
    };
    // A logical line: its first physical line and continuations.
    struct Logical {
        size_t start = 0, stop = 0; // from its first byte to the end of its last physical line
        uint32_t line = 0;          // line number of its first physical line
        Prop prop = Prop::Other;
        bool folded = false;
    };

    void Fail(std::string message) {
        if (m_result.damage.empty())
            m_result.damage = std::move(message);
    }
    std::string At(uint32_t line) const { return "line " + std::to_string(line); }
    // Ends the logical line in progress. A proper content line waits as the pending one (so that
    // a following line that lost its fold can still join it); a broken one joins the pending
    // line, or is skipped.
    void FinishLogicalLine(bool broken);
    void FlushPending();
    void ContentLine(std::string_view logical, const Logical& at);
    void Note(std::vector<uint32_t> RawComponent::*list, size_t offset, uint32_t line,
              uint32_t joinedTo);
    // A BEGIN or END line that does not pair up inside the calendar: what is wrong (a fragment
    // naming the line). The component open at the calendar's level, if any, is left out when it
    // is closed.
    void Damaged(const std::string& fault);
    // Closes the innermost open component; one at the calendar's level is kept, or left out
    // when damaged.
    void Close(size_t endLine);
    void AddNotices();

    std::string_view m_text;
    ScanResult m_result;
    std::vector<Open> m_open;
    RawComponent* m_current = nullptr; // the recorded component being read, if any
    Logical m_logical;                 // the logical line in progress
    bool m_inLogical = false;
    bool m_sawColon = false;
    Logical m_pending;
    bool m_hasPending = false;
    bool m_blankSincePending = false;
    // Lines that were no content lines: the first of them, what became of it, and how many.
    uint32_t m_repairs = 0, m_firstRepair = 0, m_firstJoinedTo = 0;
    // BEGIN and END lines that did not pair up: how many, and what the first one cost.
    uint32_t m_damaged = 0;
    std::string m_firstDamage;
    bool m_topDamaged = false; // the component open at the calendar's level is left out
};

ScanResult Scanner::Run() {
    size_t pos = 0;
    if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
        pos = 3;
    if (const void* nul = std::memchr(m_text.data(), '\0', m_text.size())) {
        const size_t at = static_cast<const char*>(nul) - m_text.data();
        uint32_t line = 1;
        for (size_t p = NextLine(m_text, 0).next; p <= at && p < m_text.size();
             p = NextLine(m_text, p).next)
            ++line;
        Fail("it holds binary data (a NUL byte on " + At(line) + ")");
        return std::move(m_result);
    }
    uint32_t lineNumber = 0;
    bool brokenStart = false;
    while (pos < m_text.size() && m_result.damage.empty()) {
        const Line line = NextLine(m_text, pos);
        pos = line.next;
        ++lineNumber;
        if (m_text[line.next - 1] == '\r')
            m_result.bareCarriageReturns = true;
        const std::string_view physical = m_text.substr(line.start, line.stop - line.start);
        if (StartsWithBlank(physical)) {
            if (!m_inLogical) {
                if (IsBlank(physical))
                    continue;
                Fail(At(lineNumber) + " continues a line that does not exist");
                break;
            }
            m_logical.folded = true;
            m_logical.stop = line.stop;
            if (!m_sawColon && std::memchr(physical.data(), ':', physical.size()))
                m_sawColon = true;
            continue;
        }
        if (m_inLogical)
            FinishLogicalLine(brokenStart || !m_sawColon);
        if (!m_result.damage.empty())
            break;
        if (IsBlank(physical)) {
            m_blankSincePending = true;
            continue;
        }
        m_inLogical = true;
        m_logical = Logical{line.start, line.stop, lineNumber, Prop::Other, false};
        m_sawColon = std::memchr(physical.data(), ':', physical.size()) != nullptr;
        size_t n = 0;
        while (n < physical.size() && IsNameChar(static_cast<unsigned char>(physical[n])))
            ++n;
        brokenStart = n == 0 || (n < physical.size() && physical[n] != ':' && physical[n] != ';');
        if (!brokenStart)
            m_logical.prop = Classify(physical.substr(0, n));
    }
    if (m_inLogical && m_result.damage.empty())
        FinishLogicalLine(brokenStart || !m_sawColon);
    if (m_result.damage.empty())
        FlushPending();
    if (m_result.damage.empty() && !m_open.empty()) {
        Fail("it ends inside the " + std::string(m_open.back().name) + " begun on " +
             At(m_open.back().line) + " (the file is incomplete)");
    }
    if (!m_result.damage.empty())
        m_result.components.clear();
    else
        AddNotices();
    return std::move(m_result);
}

void Scanner::FinishLogicalLine(bool broken) {
    m_inLogical = false;
    if (!broken) {
        FlushPending();
        m_pending = m_logical;
        m_hasPending = true;
        m_blankSincePending = false;
        return;
    }
    if (m_hasPending && !m_blankSincePending && m_pending.prop != Prop::Begin &&
        m_pending.prop != Prop::End) {
        // A fold that lost its leading blank: the line belongs to the property before it.
        m_pending.stop = m_logical.stop;
        m_pending.folded = true;
        Note(&RawComponent::joinedLines, m_logical.start, m_logical.line, m_pending.line);
        return;
    }
    FlushPending();
    if (m_open.empty()) {
        Fail(At(m_logical.line) + " is not an iCalendar content line");
        return;
    }
    Note(&RawComponent::skippedLines, m_logical.start, m_logical.line, 0);
}

void Scanner::Note(std::vector<uint32_t> RawComponent::*list, size_t offset, uint32_t line,
                   uint32_t joinedTo) {
    if (m_repairs++ == 0) {
        m_firstRepair = line;
        m_firstJoinedTo = joinedTo;
    }
    if (m_current && m_open.size() >= 2)
        (m_current->*list).push_back(static_cast<uint32_t>(offset));
}

void Scanner::Damaged(const std::string& fault) {
    std::string skipped = "the line was skipped";
    if (m_open.size() >= 2) {
        skipped = "the " + m_open[1].name + " begun on " + At(m_open[1].line) + " was skipped";
        m_topDamaged = true;
    }
    if (m_damaged++ == 0)
        m_firstDamage = "is damaged: " + fault + "; " + skipped + " and the rest of the file read";
}

void Scanner::Close(size_t endLine) {
    if (m_open.size() == 2) {
        if (m_current && m_topDamaged)
            m_result.components.pop_back(); // the component being read is always the last
        else if (m_current)
            m_current->end = static_cast<uint32_t>(NextLine(m_text, endLine).next);
        m_current = nullptr;
        m_topDamaged = false;
    }
    m_open.pop_back();
}

void Scanner::AddNotices() {
    if (m_damaged > 0) {
        std::string notice = m_firstDamage;
        if (m_damaged == 2)
            notice += " (1 more such fault was treated alike)";
        else if (m_damaged > 2)
            notice +=
                " (" + std::to_string(m_damaged - 1) + " more such faults were treated alike)";
        m_result.notices.push_back(std::move(notice));
    }
    if (m_repairs == 0)
        return;
    std::string notice =
        "holds a line that is not an iCalendar content line (" + At(m_firstRepair) + "); it was ";
    notice += m_firstJoinedTo ? "read as the continuation of " + At(m_firstJoinedTo) +
                                    ", as a folded line that lost its leading blank"
                              : std::string("skipped");
    if (m_repairs == 2)
        notice += " (1 more such line was treated alike)";
    else if (m_repairs > 2)
        notice += " (" + std::to_string(m_repairs - 1) + " more such lines were treated alike)";
    m_result.notices.push_back(std::move(notice));
}

void Scanner::FlushPending() {
    if (!m_hasPending)
        return;
    m_hasPending = false;
    const Logical at = m_pending;
    if (!at.folded) {
        ContentLine(m_text.substr(at.start, at.stop - at.start), at);
        return;
    }
    ContentLine(Unfold(m_text, at.start, at.stop), at);
}

void Scanner::ContentLine(std::string_view logical, const Logical& at) {
    const uint32_t lineNumber = at.line;
    const Prop prop = at.prop;
    if (prop == Prop::Begin) {
        const std::string_view name = TrimRight(ValueOf(logical));
        if (m_open.empty() && !EqualsNoCase(name, "VCALENDAR")) {
            Fail(At(lineNumber) + " begins a " + std::string(name) + " outside BEGIN:VCALENDAR");
            return;
        }
        if (m_open.size() >= 2 && IsCalendarLevelOnly(name)) {
            Damaged(At(lineNumber) + " begins a " + std::string(name) + " but the " +
                    m_open[1].name + " begun on " + At(m_open[1].line) + " was never ended");
            while (m_open.size() >= 2)
                Close(at.start);
        }
        if (m_open.size() >= kMaxDepth) {
            Fail(At(lineNumber) + " nests components too deeply");
            return;
        }
        m_open.push_back({std::string(name), lineNumber});
        if (m_open.size() == 2) {
            std::optional<Kind> kind;
            if (EqualsNoCase(name, "VEVENT"))
                kind = Kind::Event;
            else if (EqualsNoCase(name, "VTODO"))
                kind = Kind::Todo;
            else if (EqualsNoCase(name, "VTIMEZONE"))
                kind = Kind::TimeZone;
            if (kind) {
                RawComponent& c = m_result.components.emplace_back();
                c.kind = *kind;
                c.begin = static_cast<uint32_t>(at.start);
                c.line = lineNumber;
                m_current = &c;
            }
        }
        return;
    }
    if (prop == Prop::End) {
        const std::string_view name = TrimRight(ValueOf(logical));
        if (m_open.empty()) {
            Fail(At(lineNumber) + " ends a " + std::string(name) + " that was never begun");
            return;
        }
        if (SameNameNoCase(name, m_open.back().name)) {
            Close(at.start);
            return;
        }
        if (m_open.size() == 1) {
            Damaged(At(lineNumber) + " ends a " + std::string(name) + " that was never begun");
            return;
        }
        Damaged(At(lineNumber) + " ends a " + std::string(name) + " but the " + m_open.back().name +
                " begun on " + At(m_open.back().line) + " is still open");
        // It ends a component further out, those inside it never ended; or none, and is taken
        // for a misspelt END of the innermost.
        size_t ends = m_open.size() - 1;
        for (size_t k = m_open.size() - 1; k-- > 0;) {
            if (SameNameNoCase(name, m_open[k].name)) {
                ends = k;
                break;
            }
        }
        while (m_open.size() > ends)
            Close(at.start);
        return;
    }
    if (m_open.empty()) {
        Fail(At(lineNumber) + " lies outside BEGIN:VCALENDAR and END:VCALENDAR");
        return;
    }
    if (prop == Prop::CalendarZone) {
        if (m_open.size() == 1 && m_result.calendarZone.empty())
            m_result.calendarZone = std::string(TrimRight(ValueOf(logical)));
        return;
    }
    if (!m_current || m_open.size() != 2 || m_current->kind == Kind::TimeZone ||
        prop == Prop::Other)
        return;
    const std::string_view value = TrimRight(ValueOf(logical));
    switch (prop) {
    case Prop::DtStart:
        m_current->approxStart = QuickTime(value);
        break;
    case Prop::RRule: {
        if (IsBlank(value))
            break; // an empty rule, as holiday downloads write: no rule at all
        int64_t until = kUnknownTime;
        for (size_t i = 0; i + 6 <= value.size(); ++i) {
            if ((i == 0 || value[i - 1] == ';') && EqualsNoCase(value.substr(i, 6), "UNTIL=")) {
                std::string_view text = value.substr(i + 6);
                text = TrimRight(text.substr(0, text.find(';')));
                until = QuickTime(text);
                // A date ends with its last moment.
                if (until != kUnknownTime && text.size() == 8)
                    until += 86400;
                break;
            }
        }
        if (m_current->rrules.empty())
            m_current->approxUntil = until;
        else if (m_current->approxUntil != kUnknownTime)
            m_current->approxUntil =
                until == kUnknownTime ? kUnknownTime : std::max(m_current->approxUntil, until);
        m_current->rrules.emplace_back(value);
        m_current->hasRRule = true;
        break;
    }
    case Prop::ExRule:
        if (!IsBlank(value))
            m_current->exrules.emplace_back(value);
        break;
    case Prop::RDate:
        m_current->hasRDate = true;
        break;
    case Prop::RecurrenceId:
        m_current->hasRecurrenceId = true;
        m_current->recurrenceId.assign(value.data(), value.size());
        break;
    case Prop::Uid:
        m_current->uid.assign(value.data(), value.size());
        break;
    default:
        break;
    }
}

} // namespace

ScanResult Scan(std::string_view text) {
    return Scanner(text).Run();
}

} // namespace mail::ics
