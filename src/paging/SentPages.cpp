// The record of pages already sent.
#include "paging/SentPages.h"

#include "core/FileStamp.h"
#include "core/FileSystem.h"
#include "core/Text.h"
#include "paging/CRemList.h"
#include "paging/EventLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr CTimeSpan kKeepAfterPageTime{120};
// A record holds the pages of a few minutes; anything larger is not one of ours.
constexpr size_t kMaxFileSize = size_t(64) << 20;
constexpr const char* kHeader = "# Orvane: pages sent, kept until their reminders have passed.\n"
                                "# keep-until\tmailbox\tpager\ttime key\ttext\n";

CString Escape(const CString& value) {
    static const char hex[] = "0123456789abcdef";
    CString out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (IsControlCharacter(c)) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// False for a stray backslash or a raw control character.
bool Unescape(std::string_view field, CString& out) {
    out.clear();
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (IsControlCharacter(static_cast<unsigned char>(c)))
            return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == field.size())
            return false;
        switch (field[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 'x': {
            if (i + 2 >= field.size())
                return false;
            const int high = HexValue(field[i + 1]);
            const int low = HexValue(field[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

CString FormatUtc(CTime t) {
    return t.FormatGmt("%Y-%m-%dT%H:%M:%SZ");
}

bool ParseUtc(std::string_view text, CTime& out) {
    if (text.size() != 20)
        return false;
    struct tm tm = {};
    char zone = 0;
    const CString copy(text);
    int consumed = 0;
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &zone, &consumed) != 7 ||
        zone != 'Z' || consumed != 20)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const time_t seconds = timegm(&tm);
    if (seconds == time_t(-1) || seconds < 0 || seconds > INT32_MAX)
        return false;
    out = CTime(static_cast<int32_t>(seconds));
    return true;
}

} // namespace

CTime CSentPages::KeepUntil(const ReminderStru& reminder) {
    return reminder.PageTime + kKeepAfterPageTime;
}

void CSentPages::Load(const CString& path, CTime now) {
    m_path = path;
    m_entries.clear();
    m_saveFailing = false;

    CString bytes;
    int error = 0;
    switch (ReadWholeFile(path, kMaxFileSize, bytes, error)) {
    case ReadStatus::Missing:
        return;
    case ReadStatus::Failed:
        LogEvent(EventLog::kEventId,
                 ("The record of sent pages " + path + " cannot be read (" + std::strerror(error) +
                  "); a reminder paged in the last minute may be paged again.")
                     .c_str());
        return;
    case ReadStatus::Ok:
        break;
    }

    int lineNumber = 0;
    int firstBadLine = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == CString::npos)
            end = bytes.size();
        const std::string_view line(bytes.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;

        std::string_view fields[5];
        size_t count = 0, from = 0;
        for (;;) {
            const size_t tab = line.find('\t', from);
            if (count < 5)
                fields[count] = line.substr(from, tab == std::string_view::npos ? tab : tab - from);
            ++count;
            if (tab == std::string_view::npos)
                break;
            from = tab + 1;
        }
        Entry entry;
        if (count != 5 || !ParseUtc(fields[0], entry.keepUntil) ||
            !Unescape(fields[1], entry.mailbox) || !Unescape(fields[2], entry.pager) ||
            !Unescape(fields[3], entry.timeKey) || !Unescape(fields[4], entry.text)) {
            if (!firstBadLine)
                firstBadLine = lineNumber;
            continue;
        }
        if (entry.keepUntil >= now)
            m_entries.push_back(std::move(entry));
    }
    if (firstBadLine)
        LogEvent(EventLog::kEventId, ("The record of sent pages " + path + " is damaged at line " +
                                      std::to_string(firstBadLine) +
                                      "; the lines that could not be read were left out.")
                                         .c_str());
}

void CSentPages::Prune(CTime now) {
    std::erase_if(m_entries, [now](const Entry& e) { return e.keepUntil < now; });
}

bool CSentPages::WasSent(const CString& mailbox, const CString& pager, const ReminderStru& reminder,
                         CTime now) {
    Prune(now);
    for (const Entry& e : m_entries) {
        if (e.timeKey == reminder.TimeKey && e.text == reminder.Text && e.mailbox == mailbox &&
            e.pager == pager)
            return true;
    }
    return false;
}

void CSentPages::Record(const CString& mailbox, const CString& pager, const ReminderStru& reminder,
                        CTime now) {
    Prune(now);
    m_entries.push_back({KeepUntil(reminder), mailbox, pager, reminder.TimeKey, reminder.Text});
    Save();
}

CString CSentPages::Encode() const {
    CString bytes = kHeader;
    for (const Entry& e : m_entries) {
        bytes += FormatUtc(e.keepUntil) + '\t' + Escape(e.mailbox) + '\t' + Escape(e.pager) + '\t' +
                 Escape(e.timeKey) + '\t' + Escape(e.text) + '\n';
    }
    return bytes;
}

void CSentPages::Save() {
    if (m_path.empty())
        return;
    // Readable by its owner only: it holds page texts.
    const SaveResult saved = SaveFileAtomically(m_path, Encode(), 0600);
    if (saved.ok()) {
        m_saveFailing = false;
        return;
    }
    if (m_saveFailing)
        return;
    m_saveFailing = true;
    LogEvent(EventLog::kEventId,
             ("The record of sent pages " + m_path + " was not written (" + saved.Describe() +
              "); a page sent now may be sent again if Orvane restarts within a minute.")
                 .c_str());
}
