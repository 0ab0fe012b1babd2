// Composing outgoing messages: address checks, body encoding, headers that cannot be forged.
#include "mailsystem/transport/Transport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace mail {
namespace {

bool IsAtext(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '/':
    case '=':
    case '?':
    case '^':
    case '_':
    case '`':
    case '{':
    case '|':
    case '}':
    case '~':
        return true;
    default:
        return false;
    }
}

bool IsDotAtom(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.')
        return false;
    char previous = 0;
    for (char c : text) {
        if (c == '.') {
            if (previous == '.')
                return false;
        } else if (!IsAtext(static_cast<unsigned char>(c))) {
            return false;
        }
        previous = c;
    }
    return true;
}

bool IsDomainName(std::string_view domain) {
    if (domain.empty() || domain.size() > 255)
        return false;
    size_t start = 0;
    while (true) {
        const size_t dot = domain.find('.', start);
        const std::string_view label = domain.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label) {
            const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-';
            if (!ok)
                return false;
        }
        if (dot == std::string_view::npos)
            return true;
        start = dot + 1;
    }
}

bool IsAddressLiteral(std::string_view domain) {
    if (domain.size() < 3 || domain.front() != '[' || domain.back() != ']')
        return false;
    std::string inner(domain.substr(1, domain.size() - 2));
    unsigned char buffer[16];
    if (inner.rfind("IPv6:", 0) == 0)
        return inet_pton(AF_INET6, inner.c_str() + 5, buffer) == 1;
    return inet_pton(AF_INET, inner.c_str(), buffer) == 1;
}

bool IsPrintableAscii(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                           (unsigned char)bytes[i + 2];
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size())
            v |= (unsigned char)bytes[i + 1] << 8;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Length of the UTF-8 sequence that starts with `lead` (1 for anything else).
size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xf0)
        return 4;
    if (lead >= 0xe0)
        return 3;
    if (lead >= 0xc0)
        return 2;
    return 1;
}

// RFC 2047 encoded words for `text`, folded onto continuation lines; each word carries at most
// 45 octets of text (60 of base64), and with UTF-8 no character is split between two words.
std::string EncodedWords(std::string_view text) {
    const bool utf8 = IsValidUtf8(text);
    const std::string prefix = utf8 ? "=?utf-8?B?" : "=?windows-1252?B?";
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = i;
        size_t whole = i; // the last end that fills whole base64 groups (no "=" padding)
        while (end < text.size()) {
            const size_t step = utf8 ? SequenceLength(static_cast<unsigned char>(text[end])) : 1;
            if (end + step - i > 45)
                break;
            end += step;
            if ((end - i) % 3 == 0)
                whole = end;
        }
        // Readers that join adjacent words before decoding (GMime, for one) stop at padding
        // inside the joined text, so every word but the last ends on a whole base64 group
        // where the characters allow it.
        if (end < text.size() && whole > i)
            end = whole;
        if (!out.empty())
            out += "\r\n ";
        out += prefix + Base64(text.substr(i, end - i)) + "?=";
        i = end;
    }
    return out;
}

std::string FormatDate(int64_t date) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t t = static_cast<time_t>(date);
    struct tm local = {};
    if (!localtime_r(&t, &local))
        gmtime_r(&t, &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
             days[local.tm_wday % 7], local.tm_mday, months[local.tm_mon % 12],
             local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
             offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return buffer;
}

std::string Mailbox(const OutgoingRecipient& r) {
    if (r.displayName.empty())
        return "<" + r.address + ">";
    return EncodePhrase(r.displayName) + " <" + r.address + ">";
}

// "Name: a,\r\n b" with one recipient per line, so no line grows with the recipient count.
std::string AddressHeader(const char* name, const std::vector<std::string>& mailboxes) {
    std::string line = std::string(name) + ": ";
    for (size_t i = 0; i < mailboxes.size(); ++i) {
        if (i > 0)
            line += ",\r\n ";
        line += mailboxes[i];
    }
    return line + "\r\n";
}

} // namespace

const char* OutcomeName(DeliveryOutcome outcome) {
    switch (outcome) {
    case DeliveryOutcome::Sent:
        return "sent";
    case DeliveryOutcome::InvalidRecipient:
        return "invalid recipient";
    case DeliveryOutcome::InvalidMessage:
        return "invalid message";
    case DeliveryOutcome::TooManyRecipients:
        return "too many recipients";
    case DeliveryOutcome::RecipientRefused:
        return "recipient refused";
    case DeliveryOutcome::SenderRefused:
        return "sender refused";
    case DeliveryOutcome::MessageRefused:
        return "message refused";
    case DeliveryOutcome::ServerFailed:
        return "server failed";
    case DeliveryOutcome::ConnectionFailed:
        return "connection failed";
    case DeliveryOutcome::TimedOut:
        return "timed out";
    case DeliveryOutcome::TlsFailed:
        return "TLS failed";
    case DeliveryOutcome::AuthenticationFailed:
        return "authentication failed";
    case DeliveryOutcome::DiskFull:
        return "disk full";
    case DeliveryOutcome::OutOfMemory:
        return "out of memory";
    case DeliveryOutcome::Failed:
        return "failed";
    }
    return "failed";
}

TransportLimits CurrentTransportLimits() {
    TransportLimits limits;
    if (const char* ca = std::getenv("ORVANE_SMTP_CA_FILE"); ca && *ca)
        limits.caFile = ca;
    if (const char* cap = std::getenv("ORVANE_TEST_SMTP_TIMEOUT_MS"); cap && *cap) {
        char* end = nullptr;
        const long ms = std::strtol(cap, &end, 10);
        if (end && *end == '\0' && ms > 0) {
            limits.connectTimeoutMs = std::min(limits.connectTimeoutMs, ms);
            limits.overallTimeoutMs = std::min(limits.overallTimeoutMs, ms);
        }
    }
    return limits;
}

bool IsValidMailboxAddress(std::string_view address) {
    if (address.size() > 254)
        return false;
    const size_t at = address.rfind('@');
    if (at == std::string_view::npos)
        return false;
    const std::string_view local = address.substr(0, at);
    const std::string_view domain = address.substr(at + 1);
    if (local.size() > 64 || !IsDotAtom(local))
        return false;
    return IsDomainName(domain) || IsAddressLiteral(domain);
}

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t cp;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xc0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3f);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
        if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
            (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += length;
    }
    return true;
}

std::string NormalizeLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string QuotedPrintable(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        const bool hardBreak = end != std::string_view::npos;
        if (!hardBreak)
            end = text.size();
        size_t column = 0;
        for (size_t i = start; i < end; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            const bool last = i + 1 == end;
            char token[4] = {0};
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
                token[0] = static_cast<char>(c);
            } else {
                token[0] = '=';
                token[1] = hex[c >> 4];
                token[2] = hex[c & 15];
            }
            const size_t length = token[1] ? 3 : 1;
            // A soft break costs one "=", so a line holds at most 75 octets of text.
            if (column + length > 75) {
                out += "=\r\n";
                column = 0;
            }
            out.append(token, length);
            column += length;
        }
        if (hardBreak) {
            out += "\r\n";
            start = end + 2;
        } else {
            start = end;
        }
    }
    return out;
}

EncodedBody EncodeBody(std::string_view body) {
    EncodedBody encoded;
    std::string text = NormalizeLineEnds(body);
    if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0))
        text += "\r\n";

    bool plain = true;
    size_t lineLength = 0;
    for (size_t i = 0; i < text.size() && plain; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lineLength = 0;
            ++i;
            continue;
        }
        if (c >= 0x80 || (c < 0x20 && c != '\t') || c == 0x7f || ++lineLength > 998)
            plain = false;
    }
    encoded.contentType =
        std::string("text/plain; charset=") + (IsValidUtf8(text) ? "utf-8" : "windows-1252");
    if (plain) {
        encoded.transferEncoding = "7bit";
        encoded.text = std::move(text);
    } else {
        encoded.transferEncoding = "quoted-printable";
        encoded.text = QuotedPrintable(text);
    }
    return encoded;
}

std::string EncodePhrase(std::string_view name) {
    if (IsPrintableAscii(name) && name.size() <= 200) {
        std::string quoted = "\"";
        for (char c : name) {
            if (c == '"' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        return quoted + "\"";
    }
    return EncodedWords(name);
}

bool ComposeMessage(const std::string& from, const OutgoingMessage& message, int64_t date,
                    const std::string& messageId, std::string& out, std::string& error,
                    bool withBcc) {
    if (!IsValidMailboxAddress(from)) {
        error = "the sender address is not a valid mailbox address";
        return false;
    }
    std::vector<std::string> to, cc, bcc;
    for (const OutgoingRecipient& r : message.recipients) {
        if (HasControlCharacter(r.displayName) || !IsValidMailboxAddress(r.address)) {
            error = "a recipient name or address cannot be written into a message";
            return false;
        }
        if (r.kind == OutgoingRecipient::Kind::To)
            to.push_back(Mailbox(r));
        else if (r.kind == OutgoingRecipient::Kind::Cc)
            cc.push_back(Mailbox(r));
        else
            bcc.push_back(Mailbox(r));
    }
    if (message.recipients.empty()) {
        error = "the message has no recipient";
        return false;
    }
    if (HasControlCharacter(message.subject)) {
        error = "the subject contains a control character";
        return false;
    }

    const EncodedBody body = EncodeBody(message.body);
    out.clear();
    out += "Date: " + FormatDate(date) + "\r\n";
    out += "From: \"Orvane\" <" + from + ">\r\n";
    if (to.empty())
        out += "To: undisclosed-recipients:;\r\n";
    else
        out += AddressHeader("To", to);
    if (!cc.empty())
        out += AddressHeader("Cc", cc);
    if (withBcc && !bcc.empty())
        out += AddressHeader("Bcc", bcc);
    if (message.subject.empty())
        out += "Subject:\r\n";
    else if (IsPrintableAscii(message.subject) && message.subject.size() <= 900)
        out += "Subject: " + message.subject + "\r\n";
    else
        out += "Subject: " + EncodedWords(message.subject) + "\r\n";
    out += "Message-ID: <" + messageId + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: " + body.contentType + "\r\n";
    out += "Content-Transfer-Encoding: " + body.transferEncoding + "\r\n";
    out += "X-Mailer: Orvane\r\n";
    out += "\r\n";
    out += body.text;
    return true;
}

std::string SenderAddress(const TransportConfig& config) {
    if (!config.sender.empty())
        return config.sender;
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) == 0) {
        const std::string address = std::string("orvane@") + host;
        if (IsValidMailboxAddress(address))
            return address;
    }
    return "orvane@localhost";
}

} // namespace mail
