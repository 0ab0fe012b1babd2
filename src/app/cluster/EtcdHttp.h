// The cluster client's only use of libcurl: a JSON POST to one etcd member.
//
// One connection is kept alive per member; each request is bounded in time and size, and its
// failure is told in words.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace cluster {

struct HttpLimits {
    long connectTimeoutMs = 500; // to open a connection (and its TLS), within totalTimeoutMs
    long totalTimeoutMs = 1000;  // the whole request, connection included
    size_t maxResponseBytes = size_t(64) << 20;
    std::string caFile; // a CA bundle to trust instead of the system's; empty: the system's
};

struct HttpAnswer {
    bool answered = false; // a whole HTTP answer arrived, of any status
    long status = 0;
    std::string body;
    // When !answered: the cause in words, to follow the member's name ("refused the
    // connection", "did not answer within 1 second").
    std::string failure;
};

// One connection per member, reused from request to request. Not thread-safe: a session belongs
// to one client, which is used from one thread.
class HttpSession {
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // POSTs `body` (JSON) to origin + path ("https://10.0.0.1:2379" + "/v3/kv/range"), with
    // `token` as the Authorization header when it is not empty. Certificates and host names are
    // verified for https. Never throws; nothing of the request (the token, a password in the
    // body) is written anywhere.
    HttpAnswer Post(const std::string& origin, const std::string& path, const std::string& body,
                    const std::string& token, const HttpLimits& limits);

    // Connections opened so far, over every member (a kept connection is not counted again).
    uint64_t Connections() const;
    // Closes every kept connection.
    void CloseAll();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace cluster
