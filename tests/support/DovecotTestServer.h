// A Dovecot with ManageSieve (Debian's dovecot-core, dovecot-managesieved, dovecot-sieve) on
// loopback for tests: its own configuration, base and state directories under a temporary
// directory, users and a master user in passwd-files, STARTTLS with a certificate from a test CA,
// and the users' Sieve scripts written straight into their homes.
#pragma once

#include "support/TestSupport.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

class DovecotTestServer {
public:
    // The master user: logs in with its own password and acts as any user (PLAIN's
    // authorization identity), as Orvane does.
    static constexpr const char* kMaster = "orvane";
    static constexpr const char* kMasterPassword = "master s3cret";

    // Makes the users (each with the password "USER-pw"), the test CA and the server's
    // certificate for 127.0.0.1, then starts Dovecot on a free loopback port. Started() tells
    // whether it runs; failures are added to the test with the server's log.
    explicit DovecotTestServer(const std::vector<std::string>& users);
    ~DovecotTestServer();
    DovecotTestServer(const DovecotTestServer&) = delete;
    DovecotTestServer& operator=(const DovecotTestServer&) = delete;

    bool Started() const { return m_pid > 0 && m_port > 0; }
    int Port() const { return m_port; }
    // "sieve://127.0.0.1:PORT".
    std::string Url() const;
    // The test CA's certificate (PEM): what a client must trust (ORVANE_SIEVE_CA_FILE).
    const std::string& CaFile() const { return m_caFile; }

    // Writes a user's script as Dovecot keeps it (~/sieve/NAME.sieve), replacing one of that
    // name. Bytes are written as given: a script Dovecot itself would refuse can be stored.
    void PutScript(const std::string& user, const std::string& name, const std::string& text);
    // Makes NAME the user's active script (~/.dovecot.sieve links to it); "" leaves none active.
    void Activate(const std::string& user, const std::string& name);
    // Removes every script of the user.
    void RemoveScripts(const std::string& user);

    // Ends the ManageSieve sessions of the user (by the process ids Dovecot logged for its
    // logins), as a server does that closes an idle connection; returns once they have ended.
    void EndSessions(const std::string& user);

    // Ends Dovecot: new connections are refused afterwards. Sessions already logged in go on
    // until their clients leave, as Dovecot's do.
    void Stop();
    bool Restart(); // starts a stopped Dovecot again on the same port with the same data
    std::string Log() const;

private:
    bool MakeCertificates();
    void WriteConfiguration();
    bool Start();
    std::string Home(const std::string& user) const;
    void GiveToMailUser(const std::string& path) const;

    TempDir m_dir;
    std::string m_config, m_caFile;
    std::vector<std::string> m_users;
    uid_t m_mailUid = 0; // who the users' mail processes run as (Dovecot refuses root)
    gid_t m_mailGid = 0;
    pid_t m_pid = -1;
    int m_port = 0;
};

} // namespace testing_support
