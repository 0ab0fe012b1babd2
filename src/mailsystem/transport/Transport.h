// Outgoing mail: composing one RFC 5322 message and delivering it to the outbox or over SMTP, or
// as one HTTP request to a web service.
#pragma once

#include "core/Text.h"
#include "mailsystem/transport/TransportConfig.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

struct OutgoingRecipient {
    enum class Kind { To, Cc, Bcc };
    Kind kind = Kind::To;
    std::string displayName; // may be empty; never contains control characters
    std::string address;     // the envelope address: local@domain, validated before use
};

struct OutgoingMessage {
    std::vector<OutgoingRecipient> recipients;
    std::string subject; // empty for none; no control characters
    std::string body;    // any bytes; line ends of any kind are sent as CRLF
    // What the message is a page of, where the sender says so; empty or 0 where it does not.
    std::string originatorName; // the paged user's display name (any bytes)
    int64_t pageTime = 0;       // when the page fell due, seconds since 1970; 0: none
    int64_t reminderTime = 0;   // the item's reminder time, seconds since 1970; 0: none
    // The page's identity, the same for every attempt to send it (IsValidPageId): the
    // Message-ID's left part, a web request's idempotency key. Empty: each attempt is new.
    std::string pageId;
};

// What became of one delivery, most specific cause first.
enum class DeliveryOutcome {
    Sent,
    InvalidRecipient,     // an address or name that must not reach the envelope or a header
    InvalidMessage,       // a subject that cannot be a header, no recipient at all
    TooManyRecipients,    // a web service takes one destination per request
    RecipientRefused,     // the server answered RCPT TO with 4xx or 5xx
    SenderRefused,        // ... MAIL FROM
    MessageRefused,       // ... the message data; a web service answered 4xx
    ServerFailed,         // a web service answered 5xx
    ConnectionFailed,     // no connection (refused, unreachable, unknown host) or it broke
    TimedOut,             // a connect or overall time limit ran out
    TlsFailed,            // TLS could not be set up or the certificate was not trusted
    AuthenticationFailed, // also a web service's 401 or 403
    DiskFull,             // the outbox's file system is full or over quota
    OutOfMemory,
    Failed, // anything else (a broken profile, an unwritable outbox, ...)
};

struct DeliveryResult {
    DeliveryOutcome outcome = DeliveryOutcome::Failed;
    // A failure: one sentence for people (the server's reply or the system error; never a
    // password or token). An outbox delivery: the path of the file written.
    std::string detail;
    bool ok() const { return outcome == DeliveryOutcome::Sent; }
};

const char* OutcomeName(DeliveryOutcome outcome);

// Bounds and trust for SMTP and web services. Every delivery ends within overallTimeoutMs (an
// SMTP delivery within that plus connectTimeoutMs, for the reply to the final dot).
struct TransportLimits {
    long connectTimeoutMs = 10000;
    long overallTimeoutMs = 30000;
    std::string caFile; // a CA bundle to trust instead of the system's; empty: the system's
};

// The limits in force: the defaults above, with ORVANE_SMTP_CA_FILE naming a CA bundle, and
// ORVANE_TEST_SMTP_TIMEOUT_MS (tests only) capping both time limits.
TransportLimits CurrentTransportLimits();

class Transport {
public:
    virtual ~Transport() = default;
    // Delivers one message; never throws and never blocks beyond the transport's limits.
    virtual DeliveryResult Deliver(const OutgoingMessage& message) = 0;

    // Whether an address-list entry's delivery address can receive through this transport: a
    // mailbox address (IsValidMailboxAddress) for the outbox and SMTP; for a web service what
    // its format takes (docs/mapi.md). False, with the reason in `why` (which never repeats
    // the address, since it may be a topic or a token), when not.
    virtual bool IsValidDestination(const std::string& address, std::string& why) const;

    // The transport a profile names. `outboxDirectory` is the mail system's outbox. Null, with a
    // sentence in `error`, when the configuration cannot work (an SMTP URL that is not
    // smtp://host[:port] or smtps://host[:port], a web transport that CheckTransport refuses, a
    // sender that is no address).
    static std::unique_ptr<Transport> Create(const TransportConfig& config,
                                             const std::string& outboxDirectory,
                                             const TransportLimits& limits, std::string& error);
};

// --- Message composition, shared by both transports ----------------------------------------

// An address fit for an SMTP envelope and a header (RFC 5321): a dot-atom local part of at most
// 64 octets, "@", a domain of letter-digit-hyphen labels (each at most 63 octets) or an address
// literal in brackets; at most 254 octets in all; printable ASCII only. So no line break, space,
// angle bracket or SMTP parameter can ride along.
bool IsValidMailboxAddress(std::string_view address);

bool IsValidUtf8(std::string_view text);

// Every CR LF, lone CR and lone LF becomes CR LF.
std::string NormalizeLineEnds(std::string_view text);

// The body part of a message: its two MIME headers (Content-Type with charset, and
// Content-Transfer-Encoding) and its encoded text. Text that is all ASCII with lines of at most
// 998 octets goes as 7bit; anything else as quoted-printable, so that only 7-bit lines of at most
// 76 octets ever reach a server. The charset is UTF-8 when the text is valid UTF-8 (ASCII
// included), otherwise windows-1252, the 8-bit code page that Orvane's texts come from.
struct EncodedBody {
    std::string contentType;      // e.g. "text/plain; charset=utf-8"
    std::string transferEncoding; // "7bit" or "quoted-printable"
    std::string text;             // CRLF line ends, ends with CRLF
};
EncodedBody EncodeBody(std::string_view body);

// Quoted-printable (RFC 2045) of `text`, whose line ends are already CRLF; hard line ends stay,
// soft breaks keep every line at most 76 octets.
std::string QuotedPrintable(std::string_view text);

// A display name as a header phrase: a quoted string when it is printable ASCII, RFC 2047
// encoded words otherwise (UTF-8, or windows-1252 for other bytes).
std::string EncodePhrase(std::string_view name);

// Sent when every recipient's name and address and the subject can be written safely; otherwise
// InvalidRecipient or InvalidMessage with the reason. Both transports check before composing.
DeliveryResult CheckMessage(const OutgoingMessage& message);

// A unique Message-ID (without angle brackets): time, process, counter and random bits @ host.
std::string NewMessageId();

// A page identity that can stand in a header: 1 to 64 letters, digits, "-" and "_".
bool IsValidPageId(std::string_view id);
// The Message-ID (without angle brackets) of `message` from `sender`: its page identity "@" the
// sender's domain, the same for every attempt (and from every machine with the same sender), so
// that a receiver can tell a repeated page from a new one; NewMessageId() when it has none.
std::string MessageIdFor(const OutgoingMessage& message, const std::string& sender);

// The whole message with CRLF line ends, ready for the outbox or for DATA (not dot-stuffed).
// `date` is seconds since 1970, written in local time with its offset. Blind copies appear in a
// Bcc field only with `withBcc` (the outbox, whose files carry no envelope); over SMTP they are in
// the envelope alone. False, with a reason in `error`, when a recipient or the subject cannot be
// written safely.
bool ComposeMessage(const std::string& from, const OutgoingMessage& message, int64_t date,
                    const std::string& messageId, std::string& out, std::string& error,
                    bool withBcc = false);

// The envelope sender of a transport: the configured one, or "orvane@" plus this host's name
// ("orvane@localhost" when the host name is no domain).
std::string SenderAddress(const TransportConfig& config);

} // namespace mail
