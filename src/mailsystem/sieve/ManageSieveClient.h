// A ManageSieve client (RFC 5804) over QSslSocket, used synchronously: the greeting and its
// capabilities, STARTTLS with the certificate and host name verified, AUTHENTICATE "PLAIN" with
// an authorization identity, UNAUTHENTICATE where offered, LISTSCRIPTS, GETSCRIPT and LOGOUT.
// Every wait ends within a time limit and every answer within a size bound; failures become
// sentences that name the server and the cause.
#pragma once

#include "mailsystem/sieve/ManageSieveAnswer.h"

#include <memory>
#include <string>
#include <vector>

class QSslSocket;

namespace mail::sieve {

struct ClientLimits {
    long connectTimeoutMs = 5000; // the TCP connection, and the TLS handshake
    long answerTimeoutMs = 10000; // each answer (Dovecot delays a refused login by 2 seconds)
    size_t maxAnswerBytes = size_t(2) << 20; // a script of Dovecot's largest size and then some
    std::string caFile; // a CA bundle to trust instead of the system's; empty: the system's
};

// The limits in force: the defaults above, with ORVANE_SIEVE_CA_FILE naming a CA bundle, and
// ORVANE_TEST_SIEVE_TIMEOUT_MS (tests only) capping both time limits.
ClientLimits CurrentClientLimits();

struct ScriptEntry {
    std::string name;
    bool active = false;
};

class ManageSieveClient {
public:
    // `server` is how sentences name it ("sieve://host:4190"). With `startTls`, nothing but
    // STARTTLS is sent before TLS is up, and a server that does not offer it is given up.
    ManageSieveClient(std::string server, std::string host, int port, bool startTls,
                      ClientLimits limits);
    ~ManageSieveClient();
    ManageSieveClient(const ManageSieveClient&) = delete;
    ManageSieveClient& operator=(const ManageSieveClient&) = delete;

    // Connects, reads the greeting and upgrades with STARTTLS. False, with the sentence.
    bool Connect(std::string& error);
    // Connected, and usable from this thread: the server has not closed the connection as far
    // as can be seen without waiting.
    bool IsOpen() const;
    // Drops the connection without a word to the server.
    void Close();
    // Sends LOGOUT, waits for its answer within the limit, and closes.
    void Logout();

    // SASL PLAIN: `user` (an administrator) proves itself with `password` and acts as
    // `authorizeAs` (empty: as itself). A refusal leaves the connection open, not logged in;
    // `refused` tells it apart from a failed connection.
    bool Authenticate(const std::string& authorizeAs, const std::string& user,
                      const std::string& password, std::string& error, bool& refused);
    // The server's own words for the last refused login ("Authorization failed").
    const std::string& LastRefusal() const { return m_lastRefusal; }
    // The identity the connection acts as; empty before a login.
    const std::string& AuthorizedAs() const { return m_authorizedAs; }
    // The server offers UNAUTHENTICATE (RFC 5804, 2.14.1): one connection can serve one user
    // after another.
    bool CanUnauthenticate() const { return m_unauthenticate; }
    bool Unauthenticate(std::string& error);

    bool ListScripts(std::vector<ScriptEntry>& out, std::string& error);
    // False with `missing` set when the server has no such script (NONEXISTENT), with the
    // sentence otherwise.
    bool GetScript(const std::string& name, std::string& text, bool& missing, std::string& error);

    // Commands sent on this client since it was made (for the benchmark).
    long Requests() const { return m_requests; }
    long Connections() const { return m_connections; }
    const std::string& Server() const { return m_server; }

private:
    bool Send(const std::string& command, std::string& error);
    bool Read(Answer& answer, std::string& error);
    bool Command(const std::string& command, Answer& answer, std::string& error);
    bool Capabilities(const Answer& answer, std::string& error);
    bool StartTls(std::string& error);
    std::string Sentence(const std::string& what) const;
    std::string Refusal(const Answer& answer) const;

    std::string m_server, m_host;
    int m_port = 0;
    bool m_startTls = true;
    ClientLimits m_limits;
    std::unique_ptr<QSslSocket> m_socket;
    std::string m_buffer; // bytes read and not yet part of an answer
    std::vector<std::string> m_sasl; // mechanisms offered, in upper case
    bool m_offersStartTls = false;
    bool m_unauthenticate = false;
    std::string m_authorizedAs;
    std::string m_lastRefusal;
    long m_requests = 0, m_connections = 0;
};

} // namespace mail::sieve
