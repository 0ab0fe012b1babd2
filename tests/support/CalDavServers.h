// Calendar servers on loopback for tests: Debian's Radicale and Xandikos (the latter also behind
// lighttpd asking for Digest authentication), and a scripted server that proxies to one of them
// and breaks chosen calendar homes. Each runs as a child process on a free port with data in a
// temporary directory, and is stopped when its object goes.
#pragma once

#include "mailsystem/caldav/DavClient.h"
#include "support/TestSupport.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace caldav_test {

// A program run for the scope: stopped with SIGTERM (SIGKILL after five seconds) at its end.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (looked up in PATH) with standard output and error going to `logFile`.
    bool Start(const std::vector<std::string>& argv, const std::string& logFile);
    bool Running();
    void Stop();

private:
    pid_t m_pid = -1;
};

// Waits up to 30 seconds until `port` accepts a connection; false when the child ended first or
// the time ran out.
bool WaitForPort(int port, ChildProcess& child);

// What a server is started with.
enum class Kind { Radicale, Xandikos, XandikosDigest };
const char* KindName(Kind kind);

class DavServer {
public:
    struct Options {
        std::string certFile, keyFile; // Radicale: serve https with them
    };

    // Starts the server; Started() tells whether it came up (the log is added to failures).
    DavServer(Kind kind, const Options& options);
    explicit DavServer(Kind kind) : DavServer(kind, Options{}) {}
    ~DavServer();

    bool Started() const { return m_port > 0; }
    Kind GetKind() const { return m_kind; }
    int Port() const { return m_port; }
    // "http://127.0.0.1:PORT" (or https).
    std::string Base() const;
    // The profile's URL template: every mailbox's calendar home.
    std::string Template() const;
    std::string HomeOf(const std::string& mailbox) const;
    std::string CollectionOf(const std::string& mailbox, const std::string& collection) const;
    // The account Orvane reads with (no user for plain Xandikos, which asks for none).
    mail::dav::Account Reader() const;

    // Uploading, as an administrator would (directly to the server, never through the proxy).
    // A home must be made before its collections; `components` is "VEVENT", "VTODO" or empty
    // (a collection that holds both).
    bool MakeHome(const std::string& mailbox);
    bool MakeCollection(const std::string& mailbox, const std::string& collection,
                        const std::string& components = "");
    // Puts each item of an iCalendar file (components grouped by UID, with every VTIMEZONE of
    // the file) as a resource of its own, named after its UID. With `refused`, an item the
    // server does not take (HTTP 4xx, or 5xx when it fails on it) sets it instead of failing
    // the test.
    bool PutCalendar(const std::string& mailbox, const std::string& collection,
                     const std::string& ics, bool* refused = nullptr);
    bool PutItem(const std::string& mailbox, const std::string& collection, const std::string& name,
                 const std::string& ics, bool* refused = nullptr);
    bool Delete(const std::string& url);

    std::string Log() const;

private:
    long Upload(const std::string& method, const std::string& url, const std::string& body,
                const std::string& contentType, bool* refused = nullptr);

    Kind m_kind;
    testing_support::TempDir m_dir;
    ChildProcess m_server, m_proxy;
    std::string m_scheme = "http";
    int m_port = 0;       // where Orvane reads
    int m_uploadPort = 0; // where uploads go
    std::string m_caFile; // https: the certificate uploads trust
};

// The scripted server of caldav_fault_server.py in front of `upstreamPort`: every request is
// passed on, except those for the calendar homes named in `faults` ("NAME=hang", "NAME=cut",
// "NAME=malformed", "NAME=redirect:URL"); `fallback` "record" answers everything else itself
// (401 without credentials, an empty multistatus with them). Every request is logged.
class FaultServer {
public:
    FaultServer(int upstreamPort, const std::vector<std::string>& faults,
                const std::string& fallback = "proxy");
    ~FaultServer();
    bool Started() const { return m_port > 0; }
    int Port() const { return m_port; }
    // One line per request received: "METHOD PATH auth" or "METHOD PATH noauth".
    std::vector<std::string> Requests() const;

private:
    testing_support::TempDir m_dir;
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_port = 0;
};

// The components of an iCalendar file grouped by UID, each as a file of its own with the file's
// VTIMEZONEs: (resource name, text).
std::vector<std::pair<std::string, std::string>> SplitCalendar(const std::string& ics);

} // namespace caldav_test
