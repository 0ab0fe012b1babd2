// A web transport's settings, checked with a sentence and described without the token, and the
// delivery addresses each format takes.
#include "mailsystem/transport/Transport.h"
#include "support/HttpTestServer.h"

#include <gtest/gtest.h>
#include <memory>

using mail::TransportConfig;
using mail::WebFormat;
using testing_support::WebTransport;

namespace {

const char* const kToken = "tk_s3cret-Token.0123";

std::unique_ptr<mail::Transport> Make(const TransportConfig& config) {
    std::string error;
    auto t = mail::Transport::Create(config, "", {}, error);
    EXPECT_TRUE(t) << error;
    return t;
}

} // namespace

TEST(WebTransportSettings, CheckedWithASentenceAndDescribedWithoutTheToken) {
    using Kind = TransportConfig::Kind;
    const struct {
        const char* url;
        WebFormat format;
        const char* token;
        bool insecure;
        const char* problem; // empty: accepted
    } rows[] = {
        {"https://ntfy.example.org", WebFormat::Ntfy, "tk_abc", false, ""},
        {"HTTPS://ntfy.example.org:8443/ntfy/", WebFormat::Ntfy, "", false, ""},
        {"https://hooks.example.org/x?team=ops", WebFormat::Json, "", false, ""},
        {"http://127.0.0.1:8080", WebFormat::Gotify, "", false, ""},
        {"http://localhost/hook", WebFormat::Json, "", false, ""},
        {"http://[::1]:80", WebFormat::Json, "", false, ""},
        {"http://gotify.lan:8080", WebFormat::Gotify, "A.b", true, ""},
        {"http://gotify.lan:8080", WebFormat::Gotify, "", false,
         "Plain http:// would send the pages and the token to gotify.lan unencrypted; use "
         "https://, or allow it with --transport-insecure yes."},
        {"http://127.0.0.1.example.org", WebFormat::Json, "", false, "Plain http://"},
        {"https://ntfy.example.org", WebFormat::Ntfy, "", true,
         "--transport-insecure applies to http:// only"},
        {"https://user:pw@ntfy.example.org", WebFormat::Ntfy, "", false,
         "Give the web service's token with --transport-token-file, not inside the URL."},
        {"https://ntfy.example.org/#x", WebFormat::Ntfy, "", false, "fragment"},
        {"https://ntfy.example.org/?x=1", WebFormat::Ntfy, "", false,
         "An ntfy URL names the server and an optional path, without a query"},
        {"https://gotify.example.org?token=x", WebFormat::Gotify, "", false, "without a query"},
        {"https://ntfy.example.org", WebFormat::Ntfy, "two words", false,
         "only printable ASCII characters, without blanks"},
        {"https://ntfy.example.org", WebFormat::Ntfy, "caf\xc3\xa9", false, "printable ASCII"},
        {"https://", WebFormat::Json, "", false, "names no host"},
        {"https://host:0", WebFormat::Json, "", false, "must be a number from 1 to 65535"},
        {"https://ho st", WebFormat::Json, "", false, "may not hold blanks"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        TransportConfig t = WebTransport(row.url, row.format, row.token);
        t.insecure = row.insecure;
        const std::string problem = mail::CheckTransport(t);
        if (!*row.problem) {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
        }
        if (std::string(row.token).size() > 3) {
            EXPECT_EQ(problem.find(row.token), std::string::npos) << problem;
        }
    }
    // What belongs to another kind of transport is refused rather than kept unused.
    TransportConfig smtpish = WebTransport("https://ntfy.example.org", WebFormat::Ntfy);
    smtpish.user = "u";
    EXPECT_NE(mail::CheckTransport(smtpish).find("takes a token"), std::string::npos);
    TransportConfig outbox;
    outbox.token = "tk_abc";
    EXPECT_NE(mail::CheckTransport(outbox).find("apply to a web transport"), std::string::npos);
    outbox.token.clear();
    outbox.format = WebFormat::Gotify;
    EXPECT_NE(mail::CheckTransport(outbox), "");

    TransportConfig described = WebTransport("https://ntfy.example.org", WebFormat::Ntfy, kToken);
    EXPECT_EQ(mail::DescribeTransport(described), "https://ntfy.example.org (ntfy)");
    described = WebTransport("http://gotify.lan", WebFormat::Gotify, kToken);
    described.insecure = true;
    EXPECT_EQ(mail::DescribeTransport(described), "http://gotify.lan (gotify, plain http allowed)");
    EXPECT_EQ(mail::TransportKindOf("HTTPS://x"), Kind::Web);
    EXPECT_EQ(mail::TransportKindOf("smtp://x"), Kind::Smtp);
    EXPECT_EQ(mail::TransportKindOf("outbox"), Kind::Outbox);
    std::string error;
    EXPECT_FALSE(mail::Transport::Create(WebTransport("http://remote.example", WebFormat::Json), "",
                                         {}, error));
    EXPECT_NE(error.find("Plain http://"), std::string::npos) << error;
}

TEST(WebTransportSettings, EachFormatTakesItsOwnDeliveryAddresses) {
    const struct {
        WebFormat format;
        const char* profileToken;
        std::string destination;
        bool valid;
    } rows[] = {
        {WebFormat::Ntfy, "", "ann-pager_2", true},
        {WebFormat::Ntfy, "", "ntfy:ann-pager", true},
        {WebFormat::Ntfy, "", std::string(64, 'a'), true},
        {WebFormat::Ntfy, "", std::string(65, 'a'), false},
        {WebFormat::Ntfy, "", "5550101@pager.example.org", false},
        {WebFormat::Ntfy, "", "ann/../admin", false},
        {WebFormat::Ntfy, "", "ntfy:", false},
        {WebFormat::Ntfy, "", "", false},
        {WebFormat::Gotify, "", "gotify:AbCdEf.123-_x", true},
        {WebFormat::Gotify, "", "gotify:Ab Cd", false},
        {WebFormat::Gotify, "", "gotify:", false},
        {WebFormat::Gotify, "", "5550101@pager.example.org", false},
        {WebFormat::Gotify, "tk_profile", "5550101@pager.example.org", true},
        {WebFormat::Gotify, "tk_profile", "gotify:Own.Token", true},
        {WebFormat::Json, "", "5550101@pager.example.org", true},
        {WebFormat::Json, "", "Zoë's pager", true},
        {WebFormat::Json, "", "two\nlines", false},
        {WebFormat::Json, "", std::string(1001, 'x'), false},
        {WebFormat::Json, "", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(mail::WebFormatName(row.format)) + " " + row.destination);
        auto transport =
            Make(WebTransport("https://push.example.org", row.format, row.profileToken));
        ASSERT_TRUE(transport);
        std::string why;
        EXPECT_EQ(transport->IsValidDestination(row.destination, why), row.valid) << why;
        EXPECT_EQ(why.empty(), row.valid) << why;
        if (!row.valid && row.destination.size() >= 4) {
            const std::string secret = row.destination.substr(row.destination.find(':') + 1);
            if (secret.size() >= 4) {
                EXPECT_EQ(why.find(secret), std::string::npos) << why;
            }
        }
    }
    // The e-mail transports take mailbox addresses only.
    std::string why;
    auto outbox = mail::Transport::Create({}, "/tmp/outbox", {}, why);
    ASSERT_TRUE(outbox) << why;
    EXPECT_TRUE(outbox->IsValidDestination("5550101@pager.example.org", why));
    EXPECT_FALSE(outbox->IsValidDestination("ann-pager", why));
    EXPECT_NE(why.find("not a valid e-mail address"), std::string::npos);
}
