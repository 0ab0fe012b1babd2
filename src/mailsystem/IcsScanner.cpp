// The byte-level iCalendar pass: structure check, component boundaries and quick dates.
#include "mailsystem/IcsScanner.h"

#include <cstring>
#include <optional>

namespace mail::ics {
namespace {

constexpr size_t kMaxDepth = 16;

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool IsNameChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// `a` equals `upper` (given in upper case) without regard to ASCII case.
bool EqualsNoCase(std::string_view a, std::string_view upper) {
    if (a.size() != upper.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != upper[i])
            return false;
    }
    return true;
}

bool SameNameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    }
    return true;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Names whose values the scan itself reads.
enum class Prop { Other, Begin, End, DtStart, RRule, RDate, RecurrenceId, Uid };

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
    case 7:
        if (EqualsNoCase(name, "DTSTART"))
            return Prop::DtStart;
        break;
    case 13:
        if (EqualsNoCase(name, "RECURRENCE-ID"))
            return Prop::RecurrenceId;
        break;
    default:
        break;
    }
    return Prop::Other;
}

// The lines a reduced component keeps (besides BEGIN and END).
bool IsKeptName(std::string_view name) {
    static constexpr std::string_view kKept[] = {
        "DTSTART",   "DTEND",           "DURATION", "RRULE",  "RDATE",   "EXDATE", "RECURRENCE-ID",
        "SUMMARY",   "LOCATION",        "UID",      "STATUS", "TRIGGER", "ACTION", "DUE",
        "COMPLETED", "PERCENT-COMPLETE"};
    for (std::string_view kept : kKept) {
        if (EqualsNoCase(name, kept))
            return true;
    }
    return false;
}

// The value of a content line: what follows the first colon outside double quotes.
std::string_view ValueOf(std::string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return line.substr(i + 1);
    }
    return {};
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int Digits(std::string_view s, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9')
            return -1;
        value = value * 10 + (s[i] - '0');
    }
    return value;
}

// One physical line: [start, stop) without its line end; `next` is where the following starts.
struct Line {
    size_t start, stop, next;
};

Line NextLine(std::string_view text, size_t pos) {
    const void* nl = std::memchr(text.data() + pos, '\n', text.size() - pos);
    size_t stop = nl ? static_cast<const char*>(nl) - text.data() : text.size();
    const size_t next = nl ? stop + 1 : text.size();
    if (stop > pos && text[stop - 1] == '\r')
        --stop;
    return {pos, stop, next};
}

bool IsBlank(std::string_view s) {
    for (char c : s) {
        if (c != ' ' && c != '\t' && c != '\r')
            return false;
    }
    return true;
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

    void Fail(std::string message) {
        if (m_result.damage.empty())
            m_result.damage = std::move(message);
    }
    std::string At(uint32_t line) const { return "line " + std::to_string(line); }
    // Ends the logical line begun at m_logicalStart: checks it and reads what the scan needs.
    void FinishLogicalLine();
    void ContentLine(std::string_view logical, Prop prop);

    std::string_view m_text;
    ScanResult m_result;
    std::vector<Open> m_open;
    RawComponent* m_current = nullptr; // the recorded component being read, if any
    // The logical line in progress.
    bool m_inLogical = false;
    size_t m_logicalStart = 0, m_logicalStop = 0;
    uint32_t m_logicalLine = 0;
    bool m_folded = false;
    bool m_sawColon = false;
    Prop m_prop = Prop::Other;
};

ScanResult Scanner::Run() {
    size_t pos = 0;
    if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
        pos = 3;
    if (const void* nul = std::memchr(m_text.data(), '\0', m_text.size())) {
        const size_t at = static_cast<const char*>(nul) - m_text.data();
        uint32_t line = 1;
        for (size_t i = 0; i < at; ++i)
            line += m_text[i] == '\n';
        Fail("it holds binary data (a NUL byte on " + At(line) + ")");
        return std::move(m_result);
    }
    uint32_t lineNumber = 0;
    while (pos < m_text.size() && m_result.damage.empty()) {
        const Line line = NextLine(m_text, pos);
        pos = line.next;
        ++lineNumber;
        const std::string_view physical = m_text.substr(line.start, line.stop - line.start);
        if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t')) {
            if (!m_inLogical) {
                if (IsBlank(physical))
                    continue;
                Fail(At(lineNumber) + " continues a line that does not exist");
                break;
            }
            m_folded = true;
            m_logicalStop = line.stop;
            if (!m_sawColon && std::memchr(physical.data(), ':', physical.size()))
                m_sawColon = true;
            continue;
        }
        if (m_inLogical)
            FinishLogicalLine();
        if (IsBlank(physical))
            continue;
        m_inLogical = true;
        m_logicalStart = line.start;
        m_logicalStop = line.stop;
        m_logicalLine = lineNumber;
        m_folded = false;
        m_sawColon = std::memchr(physical.data(), ':', physical.size()) != nullptr;
        size_t n = 0;
        while (n < physical.size() && IsNameChar(static_cast<unsigned char>(physical[n])))
            ++n;
        if (n == 0 || (n < physical.size() && physical[n] != ':' && physical[n] != ';')) {
            Fail(At(lineNumber) + " is not an iCalendar content line");
            break;
        }
        m_prop = Classify(physical.substr(0, n));
    }
    if (m_inLogical && m_result.damage.empty())
        FinishLogicalLine();
    if (m_result.damage.empty() && !m_open.empty()) {
        Fail("it ends inside the " + std::string(m_open.back().name) + " begun on " +
             At(m_open.back().line) + " (the file is incomplete)");
    }
    if (!m_result.damage.empty())
        m_result.components.clear();
    return std::move(m_result);
}

void Scanner::FinishLogicalLine() {
    m_inLogical = false;
    if (!m_sawColon) {
        Fail(At(m_logicalLine) + " is not an iCalendar content line");
        return;
    }
    const std::string_view first = m_text.substr(m_logicalStart, m_logicalStop - m_logicalStart);
    if (!m_folded) {
        ContentLine(first, m_prop);
        return;
    }
    // Unfold: each continuation loses its line end and its first blank.
    std::string logical;
    size_t pos = m_logicalStart;
    bool firstLine = true;
    while (pos < m_logicalStop) {
        const Line line = NextLine(m_text, pos);
        const size_t from = firstLine ? line.start : line.start + 1;
        if (line.stop > from)
            logical.append(m_text.data() + from, line.stop - from);
        firstLine = false;
        pos = line.next;
    }
    ContentLine(logical, m_prop);
}

void Scanner::ContentLine(std::string_view logical, Prop prop) {
    const uint32_t lineNumber = m_logicalLine;
    if (prop == Prop::Begin) {
        const std::string_view name = TrimRight(ValueOf(logical));
        if (m_open.empty() && !EqualsNoCase(name, "VCALENDAR")) {
            Fail(At(lineNumber) + " begins a " + std::string(name) + " outside BEGIN:VCALENDAR");
            return;
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
                c.begin = static_cast<uint32_t>(m_logicalStart);
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
            if (m_open.size() == 2 && m_current) {
                m_current->end = static_cast<uint32_t>(NextLine(m_text, m_logicalStart).next);
                m_current = nullptr;
            }
            m_open.pop_back();
            return;
        }
        Fail(At(lineNumber) + " ends a " + std::string(name) + " but the " +
             std::string(m_open.back().name) + " begun on " + At(m_open.back().line) +
             " is still open");
        return;
    }
    if (m_open.empty()) {
        Fail(At(lineNumber) + " lies outside BEGIN:VCALENDAR and END:VCALENDAR");
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
        if (!m_current->hasRRule)
            m_current->rrule.assign(value.data(), value.size());
        m_current->hasRRule = true;
        for (size_t i = 0; i + 6 <= value.size(); ++i) {
            if ((i == 0 || value[i - 1] == ';') && EqualsNoCase(value.substr(i, 6), "UNTIL=")) {
                std::string_view until = value.substr(i + 6);
                until = until.substr(0, until.find(';'));
                m_current->approxUntil = QuickTime(until);
                break;
            }
        }
        break;
    }
    case Prop::RDate:
        m_current->hasRDate = true;
        break;
    case Prop::RecurrenceId:
        m_current->hasRecurrenceId = true;
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

std::string ReducedComponent(std::string_view text, const RawComponent& component) {
    std::string out;
    out.reserve(512);
    size_t pos = component.begin;
    bool keeping = false;
    size_t kept = 0; // bytes of the current logical line kept so far
    // Appends a physical line of a kept logical line, cut where the logical line reaches
    // kMaxContentLine; the rest of that logical line is then dropped.
    const auto keep = [&](std::string_view physical) {
        std::string_view part = physical;
        if (kept + part.size() > kMaxContentLine) {
            part = part.substr(0, kMaxContentLine - kept);
            // Not inside a UTF-8 character, and not on an escaping backslash.
            for (int i = 0; i < 3 && !part.empty() && (part.back() & 0xC0) == 0x80; ++i)
                part.remove_suffix(1);
            if (!part.empty() && (static_cast<unsigned char>(part.back()) & 0xC0) == 0xC0)
                part.remove_suffix(1);
            size_t backslashes = 0;
            while (backslashes < part.size() && part[part.size() - 1 - backslashes] == '\\')
                ++backslashes;
            if (backslashes % 2)
                part.remove_suffix(1);
            keeping = false;
        }
        kept += part.size();
        out.append(part);
        out += '\n';
    };
    while (pos < component.end) {
        const Line line = NextLine(text, pos);
        pos = line.next;
        const std::string_view physical = text.substr(line.start, line.stop - line.start);
        if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t')) {
            if (keeping)
                keep(physical);
            continue;
        }
        size_t n = 0;
        while (n < physical.size() && IsNameChar(static_cast<unsigned char>(physical[n])))
            ++n;
        const std::string_view name = physical.substr(0, n);
        keeping =
            n > 0 && (EqualsNoCase(name, "BEGIN") || EqualsNoCase(name, "END") || IsKeptName(name));
        kept = 0;
        if (keeping)
            keep(physical);
    }
    return out;
}

int64_t QuickTime(std::string_view value) {
    if (value.size() != 8 && value.size() != 15 && value.size() != 16)
        return kUnknownTime;
    const int year = Digits(value, 0, 4), month = Digits(value, 4, 2), day = Digits(value, 6, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31)
        return kUnknownTime;
    int64_t seconds =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400;
    if (value.size() == 8)
        return seconds;
    if (Upper(value[8]) != 'T' || (value.size() == 16 && Upper(value[15]) != 'Z'))
        return kUnknownTime;
    const int hour = Digits(value, 9, 2), minute = Digits(value, 11, 2),
              second = Digits(value, 13, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return kUnknownTime;
    return seconds + hour * 3600 + minute * 60 + second;
}

} // namespace mail::ics
