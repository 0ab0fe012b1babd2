// A scripted HTTP server on loopback (http_script_server.py): it records every request byte for
// byte and answers as the test tells it, for the web transport's tests.
#pragma once

#include "mailsystem/transport/TransportConfig.h"
#include "support/TestSupport.h"

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testing_support {

// One answer of the server (the script's fields, see http_script_server.py).
struct HttpAnswer {
    int status = 200;
    std::string reason = "OK";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    int delayMs = 0;
    std::string action = "answer"; // or "drop", "silent", "drop-before", "cut"
};

class HttpScriptServer {
public:
    // Over TLS when `certFile` is given.
    explicit HttpScriptServer(const std::string& certFile = "", const std::string& keyFile = "");
    ~HttpScriptServer();
    HttpScriptServer(const HttpScriptServer&) = delete;
    HttpScriptServer& operator=(const HttpScriptServer&) = delete;

    bool Started() const { return m_port > 0; }
    int Port() const { return m_port; }
    // "http://127.0.0.1:PORT" (https:// over TLS).
    std::string Url() const;

    // The answers to the next requests, in order (replacing any not yet used); after them,
    // 200 OK.
    void Script(const std::vector<HttpAnswer>& answers);
    // Every request recorded since the last Reset, whole, in the order they were read.
    std::vector<std::string> Requests() const;
    // Forgets the requests and the script.
    void Reset();

private:
    TempDir m_spool;
    std::string m_scheme = "http";
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_port = 0;
};

// A web transport for `url` in `format` with `token` (none when empty).
mail::TransportConfig WebTransport(const std::string& url, mail::WebFormat format,
                                   const std::string& token = "");

} // namespace testing_support
