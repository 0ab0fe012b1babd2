// The event writer and its sinks.
#include "paging/EventLog.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/uio.h>
#include <syslog.h>
#include <unistd.h>
#include <utility>

#ifdef ORVANE_HAVE_SYSTEMD
#include <systemd/sd-journal.h>
#endif

namespace EventLog {
namespace {

struct State {
    std::function<void(const Entry&)> observer;
    std::function<void(const Entry&)> counter;
    bool systemLog = true;
};

State& GetState() {
    static State state;
    return state;
}

thread_local Collector* t_innermostCollector = nullptr;

// The session's entries, newest at the back; shared by every thread that writes.
struct Session {
    std::mutex mutex;
    std::deque<Entry> entries; // at most kSessionLimit
    uint64_t serial = 0;       // entries ever written; only grows
};

Session& GetSession() {
    static Session session;
    return session;
}

void RememberForSession(const Entry& entry) {
    Session& session = GetSession();
    const std::lock_guard<std::mutex> hold(session.mutex);
    session.entries.push_back(entry);
    while (session.entries.size() > kSessionLimit)
        session.entries.pop_front();
    ++session.serial;
}

const char* TypeName(int type) {
    return type == kErrorType ? "error" : "information";
}

void AppendHex(CString& out, const char* prefix, unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%0*x", prefix, digits, value);
    out += buf;
}

CString EscapeForSyslog(const CString& text) {
    CString out;
    out.reserve(text.size() + 8);
    for (unsigned char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            AppendHex(out, "\\x", c, 2);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Length of the valid UTF-8 sequence at text[i], or 0 when the byte there does not start one.
size_t Utf8SequenceLength(const CString& text, size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length;
    unsigned minimum;
    unsigned codePoint;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2, minimum = 0x80, codePoint = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, minimum = 0x800, codePoint = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, minimum = 0x10000, codePoint = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char d = static_cast<unsigned char>(text[i + k]);
        if ((d & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (d & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

CString JsonString(const CString& text) {
    CString out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7f) {
            AppendHex(out, "\\u", c, 4);
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const size_t n = Utf8SequenceLength(text, i)) {
            out.append(text, i, n);
            i += n;
        } else {
            AppendHex(out, "\\u", c, 4); // a byte of another code page, read as Latin-1
            ++i;
        }
    }
    out += '"';
    return out;
}

void WriteToFile(const Entry& entry) {
    const char* path = std::getenv(kFileVariable);
    if (!path || !*path)
        return;
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0)
        return;
    const CString line = JsonLine(entry) + "\n";
    // One write per entry: appends from several processes never interleave within a line.
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

bool WriteToJournal(const Entry& entry) {
#ifdef ORVANE_HAVE_SYSTEMD
    std::vector<CString> fields;
    CString message = entry.source + " event " + std::to_string(entry.eventId);
    for (const CString& s : entry.strings)
        message += ": " + EscapeForSyslog(s);
    fields.push_back("MESSAGE=" + message);
    fields.push_back("PRIORITY=3");
    fields.push_back("SYSLOG_IDENTIFIER=" + entry.source);
    fields.push_back("ORVANE_SOURCE=" + entry.source);
    fields.push_back(CString("ORVANE_EVENT_TYPE=") + TypeName(entry.type));
    fields.push_back("ORVANE_EVENT_ID=" + std::to_string(entry.eventId));
    fields.push_back("ORVANE_STRING_COUNT=" + std::to_string(entry.strings.size()));
    for (size_t i = 0; i < entry.strings.size(); ++i)
        fields.push_back("ORVANE_STRING_" + std::to_string(i + 1) + "=" + entry.strings[i]);
    std::vector<struct iovec> iov;
    for (CString& f : fields)
        iov.push_back({f.data(), f.size()});
    return sd_journal_sendv(iov.data(), static_cast<int>(iov.size())) >= 0;
#else
    (void)entry;
    return false;
#endif
}

void WriteToSyslog(const Entry& entry) {
    const CString line = SyslogLine(entry);
    openlog(entry.source.c_str(), LOG_PID, LOG_USER);
    syslog(LOG_ERR, "%s", line.c_str());
    closelog();
}

} // namespace

CString SyslogLine(const Entry& entry) {
    CString line = "event " + std::to_string(entry.eventId) + " " + TypeName(entry.type) + ":";
    for (const CString& s : entry.strings)
        line += " \"" + EscapeForSyslog(s) + "\"";
    return line;
}

CString JsonLine(const Entry& entry) {
    CString line = "{\"time\":" + JsonString(entry.written.FormatGmt("%Y-%m-%dT%H:%M:%SZ"));
    line += ",\"source\":" + JsonString(entry.source);
    line += ",\"type\":" + JsonString(TypeName(entry.type));
    line += ",\"event_id\":" + std::to_string(entry.eventId);
    line += ",\"strings\":[";
    for (size_t i = 0; i < entry.strings.size(); ++i) {
        if (i)
            line += ",";
        line += JsonString(entry.strings[i]);
    }
    line += "]}";
    return line;
}

void Write(unsigned long eventId, const char* first, const char* second) {
    try {
        Entry entry;
        entry.source = kSource;
        entry.type = kErrorType;
        entry.eventId = eventId;
        if (first) {
            entry.strings.emplace_back(first);
            if (second)
                entry.strings.emplace_back(second);
        }
        entry.written = CTime::Saturate(static_cast<int64_t>(time(nullptr)));

        State& state = GetState();
        if (state.systemLog && !WriteToJournal(entry))
            WriteToSyslog(entry);
        WriteToFile(entry);
        RememberForSession(entry);
        for (Collector* c = t_innermostCollector; c; c = c->m_outer)
            c->m_entries.push_back(entry);
        if (state.observer)
            state.observer(entry);
        if (state.counter)
            state.counter(entry);
    } catch (...) {
        // The writer never stops its caller, not even when memory runs out.
    }
}

std::function<void(const Entry&)> SetObserver(std::function<void(const Entry&)> observer) {
    return std::exchange(GetState().observer, std::move(observer));
}

std::function<void(const Entry&)> SetCountingObserver(std::function<void(const Entry&)> counter) {
    return std::exchange(GetState().counter, std::move(counter));
}

void SetSystemLogEnabled(bool enabled) {
    GetState().systemLog = enabled;
}

std::vector<Entry> SessionEntries() {
    Session& session = GetSession();
    const std::lock_guard<std::mutex> hold(session.mutex);
    return std::vector<Entry>(session.entries.rbegin(), session.entries.rend());
}

uint64_t SessionSerial() {
    Session& session = GetSession();
    const std::lock_guard<std::mutex> hold(session.mutex);
    return session.serial;
}

const char* TypeText(int type) {
    return TypeName(type);
}

Collector::Collector() : m_outer(t_innermostCollector) {
    t_innermostCollector = this;
}

Collector::~Collector() {
    t_innermostCollector = m_outer;
}

CString Collector::FirstText() const {
    if (m_entries.empty() || m_entries.front().strings.empty())
        return CString();
    return m_entries.front().strings.front();
}

} // namespace EventLog
