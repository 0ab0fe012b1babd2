// Composing a page's HTTP request for ntfy, Gotify or a JSON webhook.
#include "mailsystem/transport/WebRequest.h"

#include "core/Text.h"
#include "mailsystem/transport/Transport.h"

#include <QByteArray>
#include <cstdio>
#include <ctime>

namespace mail {
namespace {

constexpr const char* kNtfyPrefix = "ntfy:";
constexpr const char* kGotifyPrefix = "gotify:";
// Gotify's "high" priority band (8 to 10) is the one its apps raise a notification for at once.
constexpr int kGotifyPriority = 8;
// The title of a page that names no user (a test page from "orvane page").
constexpr const char* kDefaultTitle = "Orvane";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsTopic(std::string_view topic) {
    if (topic.empty() || topic.size() > 64)
        return false;
    for (char c : topic) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool IsHeaderToken(std::string_view token) {
    if (token.empty())
        return false;
    for (unsigned char c : token) {
        if (c <= 0x20 || c >= 0x7f)
            return false;
    }
    return true;
}

// The Unicode code points of windows-1252's bytes 0x80 to 0x9f; 0 where the code page has none
// (those bytes are taken as the C1 control of the same number, as ISO-8859-1 reads them).
constexpr char16_t kWindows1252High[32] = {
    0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017d, 0,      0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
    0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178};

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// The base URL without the slashes at its end, so that a path can follow it.
std::string Base(const std::string& url) {
    std::string base = url;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

// A header value for `name`: the name with control characters as blanks, as it is when it is
// printable ASCII, otherwise as RFC 2047 encoded words in UTF-8 (ntfy decodes them), each at
// most 75 characters and never split inside a character. HTTP has no folded lines, so the
// words are separated by one blank.
std::string TitleHeader(const std::string& name) {
    std::string plain;
    for (unsigned char c : name)
        plain += IsControlCharacter(c) ? ' ' : static_cast<char>(c);
    plain = std::string(TrimBlanks(plain));
    if (plain.empty())
        return kDefaultTitle;
    bool ascii = true;
    for (unsigned char c : plain)
        ascii = ascii && c < 0x80;
    if (ascii)
        return plain;
    const std::string utf8 = WebText(plain);
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        size_t end = i;
        while (end < utf8.size()) {
            size_t step = 1;
            while (end + step < utf8.size() &&
                   (static_cast<unsigned char>(utf8[end + step]) & 0xc0) == 0x80)
                ++step;
            if (end + step - i > 45)
                break;
            end += step;
        }
        if (end == i)
            end = i + 1;
        if (!out.empty())
            out += ' ';
        const QByteArray chunk(utf8.data() + i, static_cast<qsizetype>(end - i));
        out += "=?UTF-8?B?" + chunk.toBase64().toStdString() + "?=";
        i = end;
    }
    return out;
}

} // namespace

std::string WebText(std::string_view text) {
    if (IsValidUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0xa0 && kWindows1252High[c - 0x80])
            AppendUtf8(out, kWindows1252High[c - 0x80]);
        else
            AppendUtf8(out, c);
    }
    return out;
}

std::string JsonString(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Rfc3339(int64_t instant) {
    const time_t t = static_cast<time_t>(instant);
    struct tm local = {};
    if (!localtime_r(&t, &local))
        gmtime_r(&t, &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return buffer;
}

std::string WebDestinationProblem(WebFormat format, const std::string& token,
                                  const std::string& destination) {
    switch (format) {
    case WebFormat::Ntfy: {
        std::string_view topic = destination;
        if (StartsWith(topic, kNtfyPrefix))
            topic.remove_prefix(std::string_view(kNtfyPrefix).size());
        if (IsTopic(topic))
            return {};
        return "The pager entry's delivery address (its Deliver-To, else its Address) is not an "
               "ntfy topic: 1 to 64 letters, digits, \"-\" and \"_\".";
    }
    case WebFormat::Gotify:
        if (StartsWith(destination, kGotifyPrefix)) {
            if (IsHeaderToken(std::string_view(destination).substr(7)))
                return {};
            return "The Gotify application token in the pager entry's delivery address (after "
                   "\"gotify:\") is empty or holds blanks or characters other than printable "
                   "ASCII.";
        }
        if (token.empty())
            return "The pager entry's delivery address names no Gotify application token "
                   "(gotify:TOKEN) and the profile has none either.";
        if (HasControlCharacter(destination))
            return "The pager entry's delivery address holds control characters.";
        return {};
    case WebFormat::Json:
        if (destination.empty() || destination.size() > 1000 || HasControlCharacter(destination))
            return "The pager entry's delivery address is empty, longer than 1000 bytes or holds "
                   "control characters.";
        return {};
    }
    return {};
}

WebRequest ComposeWebRequest(const TransportConfig& config, const WebPage& page) {
    WebRequest request;
    const std::string text = WebText(page.text);
    const std::string idHeader = "X-Idempotency-Key: " + page.id;
    std::string token = config.token;
    switch (config.format) {
    case WebFormat::Ntfy: {
        std::string topic = page.destination;
        if (StartsWith(topic, kNtfyPrefix))
            topic.erase(0, std::string_view(kNtfyPrefix).size());
        request.url = Base(config.url) + "/" + topic;
        request.headers = {"Content-Type: text/plain; charset=utf-8",
                           "Title: " + TitleHeader(page.user), "Priority: high"};
        if (!token.empty())
            request.headers.push_back("Authorization: Bearer " + token);
        request.headers.push_back(idHeader);
        request.body = text;
        break;
    }
    case WebFormat::Gotify: {
        if (StartsWith(page.destination, kGotifyPrefix))
            token = page.destination.substr(std::string_view(kGotifyPrefix).size());
        request.url = Base(config.url) + "/message";
        request.headers = {"Content-Type: application/json"};
        request.headers.push_back("X-Gotify-Key: " + token);
        request.headers.push_back(idHeader);
        const std::string title = page.user.empty() ? kDefaultTitle : WebText(page.user);
        request.body = "{\"title\":" + JsonString(title) + ",\"message\":" + JsonString(text) +
                       ",\"priority\":" + std::to_string(kGotifyPriority) + "}";
        break;
    }
    case WebFormat::Json: {
        request.url = config.url;
        request.headers = {"Content-Type: application/json"};
        if (!token.empty())
            request.headers.push_back("Authorization: Bearer " + token);
        request.headers.push_back(idHeader);
        request.body =
            "{\"to\":" + JsonString(WebText(page.destination)) + ",\"text\":" + JsonString(text) +
            ",\"page_time\":" + JsonString(Rfc3339(page.pageTime)) + ",\"reminder_time\":" +
            (page.reminderTime ? JsonString(Rfc3339(page.reminderTime)) : "null") +
            ",\"user\":" + (page.user.empty() ? "null" : JsonString(WebText(page.user))) +
            ",\"id\":" + JsonString(page.id) + "}";
        break;
    }
    }
    if (!token.empty())
        request.secrets.push_back(token);
    if (!config.token.empty() && config.token != token)
        request.secrets.push_back(config.token);
    return request;
}

} // namespace mail
