// Reading a request's head as the metrics endpoint does: whole, partial, malformed and oversized
// heads, and the address it listens on.
#include "app/metrics/HttpRequest.h"
#include "app/metrics/MetricsServer.h"

#include <gtest/gtest.h>

using metrics::http::HeadState;

TEST(HttpRequest, HeadsAreReadWholeOrRefused) {
    const std::string big(200, 'a');
    const struct {
        std::string bytes;
        HeadState state;
        const char* method;
        const char* path;
    } rows[] = {
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", HeadState::Complete, "GET", "/metrics"},
        {"GET /metrics?name[]=a HTTP/1.0\n\n", HeadState::Complete, "GET", "/metrics"},
        {"\r\n\nGET /healthz#top HTTP/1.1\r\nA:\r\nB: c\td\r\n\r\nbody", HeadState::Complete, "GET",
         "/healthz"},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\n", HeadState::Complete, "POST",
         "/metrics"},
        {"get /x HTTP/1.1\r\n\r\n", HeadState::Complete, "get", "/x"}, // methods are case-sensitive
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n", HeadState::Incomplete, "", ""},
        {"GET /metr", HeadState::Incomplete, "", ""},
        {"", HeadState::Incomplete, "", ""},
        {"GET /metrics HTTP/2.0\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET /metrics\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET metrics HTTP/1.1\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET http://host/metrics HTTP/1.1\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET  /metrics HTTP/1.1\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET /a b HTTP/1.1\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET /\x7f HTTP/1.1\r\n\r\n", HeadState::Malformed, "", ""},
        {"G(T / HTTP/1.1\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET / HTTP/1.1\r\nName : v\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", HeadState::Malformed, "", ""},
        {"GET / HTTP/1.1\r\nA: b\rc\r\n\r\n", HeadState::Malformed, "", ""},
        {std::string("\x16\x03\x01\x00\xa5\x01\n", 7), HeadState::Malformed, "", ""},
        // The bound is 100 bytes here: a head of 100 bytes passes, one byte more does not, and an
        // unfinished head is refused as soon as it reaches the bound.
        {"GET / HTTP/1.1\r\nX: " + big.substr(0, 100 - 16 - 3 - 4) + "\r\n\r\n",
         HeadState::Complete, "GET", "/"},
        {"GET / HTTP/1.1\r\nX: " + big.substr(0, 100 - 16 - 3 - 3) + "\r\n\r\n",
         HeadState::TooLarge, "", ""},
        {"GET / HTTP/1.1\r\nX: " + big, HeadState::TooLarge, "", ""},
        {std::string(100, '\n'), HeadState::TooLarge, "", ""},
    };
    for (const auto& row : rows) {
        metrics::http::Request request;
        const HeadState state = metrics::http::ReadHead(row.bytes, 100, request);
        EXPECT_EQ(state, row.state) << row.bytes;
        if (state == HeadState::Complete) {
            EXPECT_EQ(request.method, row.method) << row.bytes;
            EXPECT_EQ(request.path, row.path) << row.bytes;
        }
    }
}

TEST(HttpRequest, ListenAddressesAreCheckedWithSentences) {
    const struct {
        const char* text;
        const char* host; // null: refused, `why` in the sentence
        int port;
        const char* why;
    } rows[] = {
        {"127.0.0.1:9842", "127.0.0.1", 9842, ""},
        {"0.0.0.0:1", "0.0.0.0", 1, ""},
        {"[::1]:65535", "::1", 65535, ""},
        {"[::ffff:127.0.0.1]:80", "::ffff:127.0.0.1", 80, ""},
        {"", nullptr, 0, "is empty"},
        {"127.0.0.1", nullptr, 0, "has no port"},
        {"127.0.0.1:", nullptr, 0, "is not a number from 1 to 65535"},
        {"127.0.0.1:0", nullptr, 0, "is not a number from 1 to 65535"},
        {"127.0.0.1:65536", nullptr, 0, "is not a number from 1 to 65535"},
        {"127.0.0.1:+80", nullptr, 0, "is not a number from 1 to 65535"},
        {"127.0.0.1:80a", nullptr, 0, "is not a number from 1 to 65535"},
        {":9842", nullptr, 0, "is not an IPv4 address"},
        {"localhost:9842", nullptr, 0, "host names are not looked up"},
        {"127.1:9842", nullptr, 0, "is not an IPv4 address"},
        {"256.0.0.1:9842", nullptr, 0, "is not an IPv4 address"},
        {"::1:9842", nullptr, 0, "IPv6 address without brackets"},
        {"[::1]", nullptr, 0, "has no port after its address"},
        {"[::1]9842", nullptr, 0, "has no port after its address"},
        {"[::1:9842", nullptr, 0, "does not close"},
        {"[127.0.0.1]:80", nullptr, 0, "is not an IPv6 address"},
    };
    for (const auto& row : rows) {
        metrics::ListenAddress address;
        std::string error;
        const bool ok = metrics::ParseListenAddress(row.text, address, error);
        EXPECT_EQ(ok, row.host != nullptr) << row.text << ": " << error;
        if (ok) {
            EXPECT_EQ(address.host, row.host);
            EXPECT_EQ(address.port, row.port);
            EXPECT_EQ(address.Text(), row.text);
        } else {
            EXPECT_NE(error.find(row.why), std::string::npos) << row.text << ": " << error;
            if (*row.text) {
                EXPECT_NE(error.find(std::string("\"") + row.text + "\""), std::string::npos)
                    << "the sentence names the text: " << error;
            }
        }
    }
}
