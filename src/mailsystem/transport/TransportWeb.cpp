// The web transport: each page one HTTP POST to a push service, chat system or webhook, with the
// answer's class turned into an outcome and a sentence that never holds a token.
#include "core/Clock.h"
#include "core/Credentials.h"
#include "mailsystem/net/HttpPost.h"
#include "mailsystem/transport/TransportInternal.h"
#include "mailsystem/transport/WebRequest.h"

#include <chrono>
#include <cstdio>

namespace mail {
namespace {

// Redirects within the same server (scheme, host and port) that keep the method and body are
// followed this many times; any other redirect is a failure.
constexpr int kMaxRedirects = 3;
// How much of a refusal's body a sentence repeats.
constexpr size_t kMaxExcerpt = 200;

std::string Seconds(long ms) {
    char buffer[32];
    if (ms % 1000 == 0)
        std::snprintf(buffer, sizeof buffer, "%ld s", ms / 1000);
    else
        std::snprintf(buffer, sizeof buffer, "%.1f s", static_cast<double>(ms) / 1000.0);
    return buffer;
}

// `text` with every secret of at least four bytes replaced, control characters made blanks, and
// cut to kMaxExcerpt bytes (at a character boundary).
std::string Scrub(std::string text, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        if (secret.size() < 4)
            continue;
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at))
            text.replace(at, secret.size(), "[token]");
    }
    std::string clean;
    for (unsigned char c : text)
        clean += (c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c);
    std::string_view trimmed = TrimBlanks(clean);
    if (trimmed.size() > kMaxExcerpt) {
        size_t cut = kMaxExcerpt;
        while (cut > 0 && (static_cast<unsigned char>(trimmed[cut]) & 0xc0) == 0x80)
            --cut;
        return std::string(trimmed.substr(0, cut)) + "...";
    }
    return std::string(trimmed);
}

// "404 Not Found (the body's start)".
std::string Status(const net::PostAnswer& answer, const std::vector<std::string>& secrets) {
    std::string text = std::to_string(answer.status);
    const std::string reason = Scrub(answer.reason, secrets);
    if (!reason.empty())
        text += " " + reason;
    const std::string body = Scrub(answer.body, secrets);
    if (!body.empty())
        text += " (" + body + ")";
    return text;
}

std::string NewPageId() {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%016llx%016llx",
                  static_cast<unsigned long long>(RandomBits()),
                  static_cast<unsigned long long>(RandomBits()));
    return buffer;
}

class WebTransport : public Transport {
public:
    WebTransport(TransportConfig config, TransportLimits limits)
        : m_config(std::move(config)), m_limits(std::move(limits)) {}

    bool IsValidDestination(const std::string& address, std::string& why) const override {
        why = WebDestinationProblem(m_config.format, m_config.token, address);
        return why.empty();
    }

    DeliveryResult Deliver(const OutgoingMessage& message) override {
        if (message.recipients.empty())
            return {DeliveryOutcome::InvalidMessage, "The page has no recipient."};
        if (message.recipients.size() > 1)
            return {DeliveryOutcome::TooManyRecipients,
                    "A web transport sends each page to one pager entry, not to " +
                        std::to_string(message.recipients.size()) + "."};
        std::string why;
        if (!IsValidDestination(message.recipients.front().address, why))
            return {DeliveryOutcome::InvalidRecipient, why};
        if (!message.pageId.empty() && !IsValidPageId(message.pageId))
            return {DeliveryOutcome::InvalidMessage, "The page identity cannot stand in a header."};

        WebPage page;
        page.destination = message.recipients.front().address;
        page.text = message.body;
        page.user = message.originatorName;
        // A page of a reminder names the time it fell due, so that every attempt sends the
        // same bytes; any other message the time it is sent.
        page.pageTime = message.pageTime ? message.pageTime : Clock::Now().GetTime();
        page.reminderTime = message.reminderTime;
        // A page without an identity of its own still lets a receiver drop the copy that a lost
        // answer makes this attempt send twice.
        page.id = message.pageId.empty() ? NewPageId() : message.pageId;
        // A token held as credential:NAME is read at each page and kept no longer.
        TransportConfig config = m_config;
        if (!credentials::Resolve(m_config.token, config.token, why))
            return {DeliveryOutcome::Failed, why};
        const WebRequest request = ComposeWebRequest(config, page);
        return Send(request);
    }

private:
    DeliveryResult Send(const WebRequest& request) const {
        const std::string origin = net::Origin(request.url);
        const auto started = std::chrono::steady_clock::now();
        net::PostRequest post;
        post.url = request.url;
        post.headers = request.headers;
        post.body = request.body;
        post.connectTimeoutMs = m_limits.connectTimeoutMs;
        post.caFile = m_limits.caFile;
        for (int redirects = 0;; ++redirects) {
            const long spent =
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count());
            post.overallTimeoutMs = m_limits.overallTimeoutMs - spent;
            if (post.overallTimeoutMs <= 0)
                return {DeliveryOutcome::TimedOut, "The web service at " + origin +
                                                       " did not take the page within " +
                                                       Seconds(m_limits.overallTimeoutMs) + "."};
            const net::PostAnswer answer = net::Post(post);
            // A service that said 2xx has taken the page, even if the rest of its answer never
            // came: sending it again would only make a duplicate.
            if (!answer.answered && answer.statusOfCutAnswer >= 200 &&
                answer.statusOfCutAnswer < 300)
                return {DeliveryOutcome::Sent, ""};
            if (!answer.answered)
                return Failure(answer, origin);
            if (answer.status >= 200 && answer.status < 300)
                return {DeliveryOutcome::Sent, ""};
            if (answer.status >= 300 && answer.status < 400) {
                // Only a redirect that keeps the method and body, within the same server, may
                // carry the page and the token on.
                const bool keepsPost = answer.status == 307 || answer.status == 308;
                if (keepsPost && redirects < kMaxRedirects && !answer.location.empty() &&
                    net::Origin(answer.location) == origin) {
                    post.url = answer.location;
                    continue;
                }
                const std::string target = net::Origin(answer.location);
                return {DeliveryOutcome::Failed,
                        "The web service at " + origin + " answered " +
                            Status(answer, request.secrets) + ", a redirect" +
                            (target.empty()     ? std::string()
                             : target == origin ? " within the server"
                                                : " to " + target) +
                            "; pages and the token go to the transport's URL only (if the new "
                            "address is right, make it the transport's URL)."};
            }
            return Refusal(answer, origin, request);
        }
    }

    DeliveryResult Refusal(const net::PostAnswer& answer, const std::string& origin,
                           const WebRequest& request) const {
        const std::string status = Status(answer, request.secrets);
        if (answer.status == 401 || answer.status == 403)
            return {DeliveryOutcome::AuthenticationFailed,
                    "The web service at " + origin +
                        (request.secrets.empty() ? " refused the page without a token: "
                                                 : " refused the token: ") +
                        status + "."};
        if (answer.status >= 400 && answer.status < 500)
            return {DeliveryOutcome::MessageRefused,
                    "The web service at " + origin + " refused the page: " + status + "."};
        if (answer.status >= 500 && answer.status < 600)
            return {DeliveryOutcome::ServerFailed,
                    "The web service at " + origin + " failed: " + status + "."};
        return {DeliveryOutcome::Failed, "The web service at " + origin +
                                             " gave an answer that is no HTTP status: " + status +
                                             "."};
    }

    DeliveryResult Failure(const net::PostAnswer& answer, const std::string& origin) const {
        switch (answer.failure) {
        case net::Failure::TimedOut:
            if (!answer.connected)
                return {
                    DeliveryOutcome::TimedOut,
                    "The web service at " + origin + " did not accept a connection within " +
                        Seconds(std::min(m_limits.connectTimeoutMs, m_limits.overallTimeoutMs)) +
                        "."};
            return {DeliveryOutcome::TimedOut, "The web service at " + origin +
                                                   " did not answer within " +
                                                   Seconds(m_limits.overallTimeoutMs) + "."};
        case net::Failure::Untrusted:
        case net::Failure::Tls:
            return {DeliveryOutcome::TlsFailed, "The page could not be sent to " + origin + ": " +
                                                    net::Cause(answer.failure, answer.detail) +
                                                    "."};
        case net::Failure::OutOfMemory:
            return {DeliveryOutcome::OutOfMemory, "Out of memory while sending a page."};
        case net::Failure::Unresolved:
        case net::Failure::Unreachable:
        case net::Failure::CutShort:
        case net::Failure::NoAnswer:
        case net::Failure::Broken:
        case net::Failure::Garbled:
            return {DeliveryOutcome::ConnectionFailed,
                    "The page could not be sent to " + origin + ": " +
                        net::Cause(answer.failure, answer.detail) + "."};
        default:
            return {DeliveryOutcome::Failed, "The page could not be sent to " + origin + ": " +
                                                 net::Cause(answer.failure, answer.detail) + "."};
        }
    }

    TransportConfig m_config;
    TransportLimits m_limits;
};

} // namespace

std::unique_ptr<Transport> MakeWebTransport(const TransportConfig& config,
                                            const TransportLimits& limits) {
    return std::make_unique<WebTransport>(config, limits);
}

} // namespace mail
