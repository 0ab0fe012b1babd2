// Choosing a profile's transport, page identities, and the checks every delivery makes before
// composing.
#include "mailsystem/transport/TransportInternal.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/random.h>
#include <unistd.h>

namespace mail {
namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

// "host[:port][/ehlo-domain]" after the scheme: a host name, an IPv4 address or a bracketed
// IPv6 address; no user information (credentials live in the profile), nothing else.
bool IsSmtpAuthority(const std::string& rest) {
    if (rest.empty() || HasControlCharacter(rest))
        return false;
    for (char c : rest) {
        if (c == ' ' || c == '@' || c == '?' || c == '#' || c == '\\')
            return false;
    }
    std::string authority = rest.substr(0, rest.find('/'));
    const std::string path =
        rest.size() > authority.size() ? rest.substr(authority.size() + 1) : "";
    for (char c : path) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!ok)
            return false;
    }
    std::string host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        host = authority.substr(0, close + 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return false;
            port = after.substr(1);
            if (port.empty())
                return false;
        }
        if (!IsValidMailboxAddress("x@[IPv6:" + host.substr(1, host.size() - 2) + "]"))
            return false;
    } else {
        const size_t colon = authority.find(':');
        if (colon != std::string::npos) {
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
            if (port.empty())
                return false;
        }
        if (!IsValidMailboxAddress("x@" + host))
            return false;
    }
    if (!port.empty()) {
        if (port.size() > 5)
            return false;
        for (char c : port) {
            if (c < '0' || c > '9')
                return false;
        }
        const long value = std::stol(port);
        if (value < 1 || value > 65535)
            return false;
    }
    return true;
}

std::string HostName() {
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) == 0 && IsValidMailboxAddress(std::string("x@") + host))
        return host;
    return "localhost";
}

} // namespace

uint64_t RandomBits() {
    uint64_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value))
        return value;
    static std::atomic<uint64_t> mix{0x9e3779b97f4a7c15ull};
    const uint64_t now =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return mix.fetch_add(0x9e3779b97f4a7c15ull) ^ now ^ reinterpret_cast<uintptr_t>(&value);
}

std::string NewMessageId() {
    static std::atomic<unsigned> counter{0};
    char buffer[96];
    snprintf(buffer, sizeof buffer, "%lld.%d.%u.%016llx", static_cast<long long>(time(nullptr)),
             static_cast<int>(getpid()), counter++, static_cast<unsigned long long>(RandomBits()));
    return std::string(buffer) + "@" + HostName();
}

bool IsValidPageId(std::string_view id) {
    if (id.empty() || id.size() > 64)
        return false;
    for (char c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

std::string MessageIdFor(const OutgoingMessage& message, const std::string& sender) {
    if (message.pageId.empty())
        return NewMessageId();
    const size_t at = sender.rfind('@');
    return message.pageId + "@" + (at == std::string::npos ? HostName() : sender.substr(at + 1));
}

bool Transport::IsValidDestination(const std::string& address, std::string& why) const {
    if (IsValidMailboxAddress(address))
        return true;
    why = "The pager entry's delivery address (its Deliver-To, else its Address) is not a valid "
          "e-mail address.";
    return false;
}

DeliveryResult CheckMessage(const OutgoingMessage& message) {
    if (message.recipients.empty())
        return {DeliveryOutcome::InvalidMessage, "the message has no recipient"};
    for (const OutgoingRecipient& r : message.recipients) {
        if (HasControlCharacter(r.displayName))
            return {DeliveryOutcome::InvalidRecipient,
                    "a recipient name contains a line break or another control character"};
        if (!IsValidMailboxAddress(r.address))
            return {DeliveryOutcome::InvalidRecipient,
                    "a recipient address is not a valid mailbox address"};
    }
    if (HasControlCharacter(message.subject))
        return {DeliveryOutcome::InvalidMessage,
                "the subject contains a line break or another control character"};
    if (!message.pageId.empty() && !IsValidPageId(message.pageId))
        return {DeliveryOutcome::InvalidMessage, "the page identity cannot stand in a header"};
    return {DeliveryOutcome::Sent, ""};
}

std::unique_ptr<Transport> Transport::Create(const TransportConfig& config,
                                             const std::string& outboxDirectory,
                                             const TransportLimits& limits, std::string& error) {
    const std::string sender = SenderAddress(config);
    if (!IsValidMailboxAddress(sender)) {
        error = "the sender \"" + sender + "\" is not a valid mailbox address";
        return nullptr;
    }
    if (config.kind == TransportConfig::Kind::Outbox) {
        if (outboxDirectory.empty()) {
            error = "the mail system names no outbox directory";
            return nullptr;
        }
        return MakeOutboxTransport(outboxDirectory, sender);
    }
    if (config.kind == TransportConfig::Kind::Web) {
        const std::string problem = CheckTransport(config);
        if (!problem.empty()) {
            error = problem;
            return nullptr;
        }
        return MakeWebTransport(config, limits);
    }
    const std::string& url = config.url;
    std::string rest;
    if (StartsWithNoCase(url, "smtps://"))
        rest = url.substr(8);
    else if (StartsWithNoCase(url, "smtp://"))
        rest = url.substr(7);
    if (rest.empty() || !IsSmtpAuthority(rest)) {
        error = "the SMTP address must read smtp://host[:port] or smtps://host[:port]";
        return nullptr;
    }
    if (HasControlCharacter(config.user) || HasControlCharacter(config.password)) {
        error = "the SMTP user name or password contains a control character";
        return nullptr;
    }
    return MakeSmtpTransport(config, sender, limits);
}

} // namespace mail
