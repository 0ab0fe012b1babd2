// An OpenLDAP server (Debian's slapd) on loopback for tests: a temporary slapd.conf and database
// loaded from LDIF, started and stopped by the test; and a proxy that goes silent mid-answer.
#pragma once

#include "mailsystem/MailSystem.h"
#include "support/TestSupport.h"

#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testing_support {

class SlapdTestServer {
public:
    static constexpr const char* kBase = "dc=example,dc=org";
    static constexpr const char* kPeople = "ou=people,dc=example,dc=org";
    // A reader whose paged reads slapd does not cut (limits ... size.prtotal=unlimited).
    static constexpr const char* kReaderDn = "cn=orvane,dc=example,dc=org";
    static constexpr const char* kReaderPassword = "reader s3cret";
    // A reader held to the size limit like everyone else.
    static constexpr const char* kLimitedDn = "cn=limited,dc=example,dc=org";
    static constexpr const char* kLimitedPassword = "limited s3cret";

    struct Options {
        int sizeLimit = 500; // slapd's sizelimit (its default is 500 too)
        bool tls = false;    // also serve ldaps:// and StartTLS with a test certificate
        std::string certificateName = "127.0.0.1"; // what the certificate is made out to
        bool indexes = true;                       // equality indexes on the looked-up attributes
    };

    // Loads the base entries, the two readers and `ldif` (entries below kPeople), then starts
    // slapd on free loopback ports. Started() tells whether it runs.
    SlapdTestServer(const Options& options, const std::string& ldif);
    explicit SlapdTestServer(const std::string& ldif) : SlapdTestServer(Options{}, ldif) {}
    ~SlapdTestServer();
    SlapdTestServer(const SlapdTestServer&) = delete;
    SlapdTestServer& operator=(const SlapdTestServer&) = delete;

    bool Started() const { return m_pid > 0 && m_port > 0; }
    int Port() const { return m_port; }
    // "ldap://127.0.0.1:PORT/ou=people,dc=example,dc=org", or with ldaps:// and the TLS port.
    std::string Url(bool ldaps = false) const;
    // The certificate to trust for TLS (self-signed); empty without TLS.
    const std::string& CertificateFile() const { return m_certFile; }

    void Pause();  // SIGSTOP: the server keeps its connections and answers nothing
    void Resume(); // SIGCONT
    void Stop();   // ends the server; connections are refused afterwards
    // Starts a stopped server again on the same ports, with the same data.
    bool Restart();

private:
    bool Start(bool newPorts);

    TempDir m_dir;
    std::string m_config, m_certFile;
    pid_t m_pid = -1;
    int m_port = 0, m_tlsPort = 0;
    bool m_paused = false;
};

// LDIF for address-list entries below SlapdTestServer::kPeople, as the openldap map reads them:
// displayName, mail (the address; a pager's Deliver-To when it has one), mailHost and uid. An
// entry's Deliver-To must be empty or equal to its address, since both come from mail. Each
// entry is named by its position (employeeNumber=N), so display names need no DN escaping.
std::string LdifFor(const std::vector<mail::AddressEntry>& entries);

// A loopback proxy to `targetPort` that passes everything the client sends, and of what the
// server sends only the first `passBytes` bytes: then it goes silent with the connection open,
// as a server that stops answering in the middle of an answer.
class StallingProxy {
public:
    StallingProxy(int targetPort, size_t passBytes);
    ~StallingProxy();
    StallingProxy(const StallingProxy&) = delete;
    StallingProxy& operator=(const StallingProxy&) = delete;
    int Port() const { return m_port; }

private:
    void Run();

    int m_listen = -1;
    int m_port = 0;
    int m_target = 0;
    size_t m_passBytes = 0;
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};

} // namespace testing_support
