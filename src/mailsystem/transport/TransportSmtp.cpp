// SMTP delivery through libcurl: bounded in time, TLS where the profile asks, causes told apart.
#include "core/Clock.h"
#include "core/Credentials.h"
#include "mailsystem/net/Curl.h"
#include "mailsystem/transport/TransportInternal.h"

#include <cctype>
#include <cstring>
#include <memory>

namespace mail {
namespace {

struct Upload {
    const std::string* bytes;
    size_t offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
    Upload* upload = static_cast<Upload*>(user);
    const size_t room = size * count;
    const size_t left = upload->bytes->size() - upload->offset;
    const size_t n = left < room ? left : room;
    std::memcpy(buffer, upload->bytes->data() + upload->offset, n);
    upload->offset += n;
    return n;
}

// What the conversation had reached when it ended: the last command's verb and the last reply.
// Only verbs are kept, so credentials sent with AUTH never leave libcurl. The QUIT that libcurl
// sends when it closes after a failure is not recorded: its reply would hide the cause.
struct Conversation {
    std::string command; // "EHLO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", ...
    int replyCode = 0;
    std::string reply; // the last reply line, control characters removed
    bool quitting = false;
};

int Trace(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    Conversation* c = static_cast<Conversation*>(user);
    if (c->quitting)
        return 0;
    if (type == CURLINFO_HEADER_OUT) {
        std::string verb;
        for (size_t i = 0; i < size && i < 16 && std::isalpha(static_cast<unsigned char>(data[i]));
             ++i)
            verb += static_cast<char>(std::toupper(static_cast<unsigned char>(data[i])));
        if (verb == "QUIT")
            c->quitting = true;
        else if (!verb.empty())
            c->command = verb;
    } else if (type == CURLINFO_HEADER_IN) {
        std::string line(data, size);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
            std::isdigit(static_cast<unsigned char>(line[1])) &&
            std::isdigit(static_cast<unsigned char>(line[2]))) {
            c->replyCode = std::stoi(line.substr(0, 3));
            std::string clean;
            for (unsigned char ch : line.substr(0, 200))
                clean += (ch < 0x20 || ch == 0x7f) ? '?' : static_cast<char>(ch);
            c->reply = clean;
        }
    }
    return 0;
}

DeliveryOutcome Classify(CURLcode code, const Conversation& c) {
    const net::Failure failure = net::Classify(code);
    if (failure == net::Failure::None)
        return DeliveryOutcome::Sent;
    if (failure == net::Failure::TimedOut)
        return DeliveryOutcome::TimedOut;
    if (failure == net::Failure::OutOfMemory)
        return DeliveryOutcome::OutOfMemory;
    // The reply to the command that failed names the cause best.
    if (c.replyCode >= 400) {
        if (c.command == "RCPT")
            return DeliveryOutcome::RecipientRefused;
        if (c.command == "MAIL")
            return DeliveryOutcome::SenderRefused;
        if (c.command == "DATA")
            return DeliveryOutcome::MessageRefused;
        if (c.command == "AUTH")
            return DeliveryOutcome::AuthenticationFailed;
        if (c.command == "STARTTLS")
            return DeliveryOutcome::TlsFailed;
    }
    switch (failure) {
    case net::Failure::LoginDenied:
        return DeliveryOutcome::AuthenticationFailed;
    case net::Failure::Untrusted:
    case net::Failure::Tls:
        return DeliveryOutcome::TlsFailed;
    case net::Failure::Unresolved:
    case net::Failure::Unreachable:
    case net::Failure::Broken:
    case net::Failure::NoAnswer:
    case net::Failure::Garbled:
        return DeliveryOutcome::ConnectionFailed;
    default:
        return DeliveryOutcome::Failed;
    }
}

class SmtpTransport : public Transport {
public:
    SmtpTransport(TransportConfig config, std::string sender, TransportLimits limits)
        : m_config(std::move(config)), m_sender(std::move(sender)), m_limits(std::move(limits)) {}

    DeliveryResult Deliver(const OutgoingMessage& message) override {
        DeliveryResult check = CheckMessage(message);
        if (!check.ok())
            return check;
        // Read at every delivery: a credential of the service manager changes with the unit.
        std::string password, why;
        if (!m_config.user.empty() && !credentials::Resolve(m_config.password, password, why))
            return {DeliveryOutcome::Failed, "The SMTP password is not available. " + why};
        // libcurl dot-stuffs the data itself (every CRLF "." becomes CRLF ".."), so the message
        // goes to it unstuffed, with CRLF line ends and no line that starts the data with ".".
        std::string bytes, error;
        if (!ComposeMessage(m_sender, message, Clock::Now().GetTime(),
                            MessageIdFor(message, m_sender), bytes, error))
            return {DeliveryOutcome::InvalidMessage, error};

        std::string failure;
        net::EasyHandle curl = net::NewHandle(failure);
        if (!curl)
            return {DeliveryOutcome::Failed, failure};

        net::HeaderList recipients;
        for (const OutgoingRecipient& r : message.recipients) {
            if (!net::Append(recipients, r.address))
                return {DeliveryOutcome::OutOfMemory, "no memory for the recipient list"};
        }

        Upload upload{&bytes};
        Conversation conversation;
        char errorBuffer[CURL_ERROR_SIZE] = {0};
        CURL* h = curl.get();
        const bool smtps =
            m_config.url.size() >= 6 && (m_config.url[4] == 's' || m_config.url[4] == 'S');
        net::Options options(h);
        auto option = [&](CURLoption o, auto value) { options.Set(o, value); };
        option(CURLOPT_ERRORBUFFER, errorBuffer);
        option(CURLOPT_URL, m_config.url.c_str());
        option(CURLOPT_PROTOCOLS_STR, "smtp,smtps");
        option(CURLOPT_NOSIGNAL, 1L);
        option(CURLOPT_CONNECTTIMEOUT_MS, m_limits.connectTimeoutMs);
        option(CURLOPT_TIMEOUT_MS, m_limits.overallTimeoutMs);
        // The wait for the reply to the final dot is outside the overall limit (libcurl counts the
        // transfer as done by then) and would last two minutes; a reply gets the time a
        // connection gets, in whole seconds.
        option(CURLOPT_SERVER_RESPONSE_TIMEOUT, (m_limits.connectTimeoutMs + 999) / 1000);
        option(CURLOPT_MAIL_FROM, m_sender.c_str());
        option(CURLOPT_MAIL_RCPT, recipients.get());
        option(CURLOPT_UPLOAD, 1L);
        option(CURLOPT_READFUNCTION, &ReadUpload);
        option(CURLOPT_READDATA, &upload);
        option(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
        option(CURLOPT_SSL_VERIFYPEER, 1L);
        option(CURLOPT_SSL_VERIFYHOST, 2L);
        if (!smtps)
            option(CURLOPT_USE_SSL,
                   static_cast<long>(m_config.startTls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
        if (!m_limits.caFile.empty())
            option(CURLOPT_CAINFO, m_limits.caFile.c_str());
        if (!m_config.user.empty()) {
            option(CURLOPT_USERNAME, m_config.user.c_str());
            option(CURLOPT_PASSWORD, password.c_str());
        }
        option(CURLOPT_DEBUGFUNCTION, &Trace);
        option(CURLOPT_DEBUGDATA, &conversation);
        option(CURLOPT_VERBOSE, 1L);
        if (!options.ok())
            return {DeliveryOutcome::Failed, options.Error()};

        const CURLcode code = curl_easy_perform(h);
        DeliveryResult result;
        result.outcome = Classify(code, conversation);
        if (code != CURLE_OK) {
            result.detail = net::Detail(code, errorBuffer);
            if (!conversation.reply.empty() && conversation.replyCode >= 400)
                result.detail += " (the server said: " + conversation.reply + ")";
        }
        return result;
    }

private:
    TransportConfig m_config;
    std::string m_sender;
    TransportLimits m_limits;
};

} // namespace

std::unique_ptr<Transport> MakeSmtpTransport(const TransportConfig& config,
                                             const std::string& sender,
                                             const TransportLimits& limits) {
    return std::make_unique<SmtpTransport>(config, sender, limits);
}

} // namespace mail
