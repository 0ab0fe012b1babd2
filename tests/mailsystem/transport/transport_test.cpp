// The transports: safe composition, the outbox's whole-file delivery, and SMTP against real
// loopback servers (refusals, silence, TLS, authentication).
#include "core/Clock.h"
#include "core/FileSystem.h"
#include "mailsystem/transport/Transport.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

using mail::DeliveryOutcome;
using mail::OutgoingMessage;
using mail::OutgoingRecipient;
using mail::Transport;
using mail::TransportConfig;
using mail::TransportLimits;
using testing_support::MakeCertificate;
using testing_support::ReadFile;
using testing_support::RefusingPort;
using testing_support::SilentServer;
using testing_support::SmtpTestServer;
using testing_support::TempDir;

namespace {

std::string DecodeQuotedPrintable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.compare(i, 3, "=\r\n") == 0) {
            i += 2;
        } else {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

struct Parsed {
    std::string headers, body;
};
Parsed Split(const std::string& message) {
    const size_t blank = message.find("\r\n\r\n");
    if (blank == std::string::npos)
        return {message, ""};
    return {message.substr(0, blank + 2), message.substr(blank + 4)};
}

// The body as the sender meant it: transfer encoding undone.
std::string BodyText(const std::string& message) {
    const Parsed p = Split(message);
    if (p.headers.find("Content-Transfer-Encoding: quoted-printable") != std::string::npos)
        return DecodeQuotedPrintable(p.body);
    return p.body;
}

// True when every CR is followed by LF and every LF follows a CR.
bool OnlyCrlf(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))
            return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return true;
}

OutgoingMessage Page(const std::string& body, const std::string& address = "pager@example.org",
                     const std::string& name = "Pager One") {
    OutgoingMessage m;
    m.recipients.push_back({OutgoingRecipient::Kind::To, name, address});
    m.body = body;
    return m;
}

std::unique_ptr<Transport> Make(const TransportConfig& config, const std::string& outbox = "",
                                TransportLimits limits = {}) {
    std::string error;
    auto t = Transport::Create(config, outbox, limits, error);
    EXPECT_TRUE(t) << error;
    return t;
}

TransportConfig Smtp(const std::string& url) {
    TransportConfig c;
    c.kind = TransportConfig::Kind::Smtp;
    c.url = url;
    c.sender = "orvane@example.org";
    return c;
}

std::vector<std::string> FilesIn(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

} // namespace

// --- Composition ------------------------------------------------------------------------------

TEST(TransportAddress, AcceptsOnlyAddressesThatCannotCarryAnythingElse) {
    const struct {
        const char* address;
        bool valid;
    } rows[] = {
        {"pager@example.org", true},
        {"first.last+tag@sub.example.co.uk", true},
        {"5551234@pager", true},
        {"x@[127.0.0.1]", true},
        {"x@[IPv6:::1]", true},
        {"o'hara!#$%&*=?^_`{|}~/-@example.org", true},
        {"", false},
        {"no-at-sign", false},
        {"@example.org", false},
        {"x@", false},
        {"a b@example.org", false},
        {"a@example.org\r\nRCPT TO:<evil@example.org>", false},
        {"a@example.org\n", false},
        {"a@example.org> SIZE=1", false},
        {"<a@example.org>", false},
        {"a@exa mple.org", false},
        {".a@example.org", false},
        {"a.@example.org", false},
        {"a..b@example.org", false},
        {"\"quoted\"@example.org", false},
        {"a@-example.org", false},
        {"a@example..org", false},
        {"a@[300.1.1.1]", false},
        {"j\xc3\xb6rg@example.org", false},
        {"a@b@example.org", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mail::IsValidMailboxAddress(row.address), row.valid) << row.address;

    // RFC 5321 lengths: local part 64, label 63, whole path 254.
    EXPECT_TRUE(mail::IsValidMailboxAddress(std::string(64, 'a') + "@example.org"));
    EXPECT_FALSE(mail::IsValidMailboxAddress(std::string(65, 'a') + "@example.org"));
    EXPECT_TRUE(mail::IsValidMailboxAddress("a@" + std::string(63, 'b') + ".org"));
    EXPECT_FALSE(mail::IsValidMailboxAddress("a@" + std::string(64, 'b') + ".org"));
    std::string domain;
    while (domain.size() < 260)
        domain += std::string(40, 'c') + ".";
    domain += "org";
    const std::string local = "a@";
    EXPECT_TRUE(mail::IsValidMailboxAddress(local + domain.substr(domain.size() - 252)));
    EXPECT_FALSE(mail::IsValidMailboxAddress(local + domain.substr(domain.size() - 253)));
}

TEST(TransportCompose, NormalisesEveryLineEndToCrlf) {
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"a\nb", "a\r\nb"},       {"a\rb", "a\r\nb"},
        {"a\r\nb", "a\r\nb"},     {"a\r\r\nb", "a\r\n\r\nb"},
        {"a\n\rb", "a\r\n\r\nb"}, {"\n\n", "\r\n\r\n"},
        {"\r", "\r\n"},           {"no end", "no end"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mail::NormalizeLineEnds(row.in), row.out) << row.in;
}

TEST(TransportCompose, ChoosesCharsetAndEncodingAndKeepsTheText) {
    const std::string longLine(1200, 'x');
    const struct {
        std::string text;
        const char* charset;
        const char* encoding;
        std::string expected; // the text after decoding
    } rows[] = {
        {"02:00-03:00 Budget review", "utf-8", "7bit", "02:00-03:00 Budget review\r\n"},
        {"line\nnext\r", "utf-8", "7bit", "line\r\nnext\r\n"},
        {"Caf\xc3\xa9 \xe2\x82\xac 5", "utf-8", "quoted-printable",
         "Caf\xc3\xa9 \xe2\x82\xac 5\r\n"},
        {"Caf\xe9 r\xe9union", "windows-1252", "quoted-printable", "Caf\xe9 r\xe9union\r\n"},
        {"\xc3\x28 broken utf-8", "windows-1252", "quoted-printable", "\xc3\x28 broken utf-8\r\n"},
        {longLine, "utf-8", "quoted-printable", longLine + "\r\n"},
        {"tab\tand bell\a", "utf-8", "quoted-printable", "tab\tand bell\a\r\n"},
        {"", "utf-8", "7bit", ""},
    };
    for (const auto& row : rows) {
        const mail::EncodedBody body = mail::EncodeBody(row.text);
        EXPECT_EQ(body.contentType, std::string("text/plain; charset=") + row.charset) << row.text;
        EXPECT_EQ(body.transferEncoding, row.encoding) << row.text;
        const std::string decoded = body.transferEncoding == "quoted-printable"
                                        ? DecodeQuotedPrintable(body.text)
                                        : body.text;
        EXPECT_EQ(decoded, row.expected) << row.text;
        EXPECT_TRUE(OnlyCrlf(body.text));
        for (unsigned char c : body.text)
            EXPECT_LT(c, 0x80) << "8-bit byte on the wire for " << row.text;
    }
}

TEST(TransportCompose, QuotedPrintableLinesStayShortAndEndsAreSafe) {
    const std::string text = std::string(300, '\xe9') + " \r\n= trailing tab\t\r\n.\r\n";
    const std::string qp = mail::QuotedPrintable(text);
    size_t start = 0;
    while (start < qp.size()) {
        const size_t end = qp.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = qp.substr(start, end - start);
        EXPECT_LE(line.size(), 76u);
        if (!line.empty()) {
            EXPECT_NE(line.back(), ' ') << "whitespace at a line end is lost in transit";
            EXPECT_NE(line.back(), '\t');
        }
        start = end + 2;
    }
    EXPECT_EQ(DecodeQuotedPrintable(qp), text);
    EXPECT_NE(qp.find("\r\n.\r\n"), std::string::npos) << "a lone dot stays a lone dot";
}

TEST(TransportCompose, WritesAnEmptySubjectAndQuotedOrEncodedNames) {
    Clock::Freeze(CTime(1700000000));
    OutgoingMessage m = Page("text", "pager@example.org", "Smith, \"Jo\" \\ Ann");
    m.recipients.push_back(
        {OutgoingRecipient::Kind::Cc, "J\xc3\xb6rg M\xc3\xbcller", "jm@example.org"});
    m.recipients.push_back({OutgoingRecipient::Kind::Bcc, "Hidden", "hidden@example.org"});
    std::string out, error;
    ASSERT_TRUE(
        mail::ComposeMessage("orvane@example.org", m, 1700000000, "id@example.org", out, error))
        << error;
    const Parsed p = Split(out);
    EXPECT_TRUE(OnlyCrlf(out));
    EXPECT_NE(p.headers.find("\r\nSubject:\r\n"), std::string::npos);
    EXPECT_NE(p.headers.find("To: \"Smith, \\\"Jo\\\" \\\\ Ann\" <pager@example.org>\r\n"),
              std::string::npos)
        << p.headers;
    EXPECT_NE(p.headers.find("Cc: =?utf-8?B?SsO2cmcgTcO8bGxlcg==?= <jm@example.org>\r\n"),
              std::string::npos)
        << p.headers;
    EXPECT_EQ(p.headers.find("hidden@example.org"), std::string::npos)
        << "Bcc stays off the headers";
    std::string withBcc;
    ASSERT_TRUE(
        mail::ComposeMessage("orvane@example.org", m, 0, "id@example.org", withBcc, error, true));
    EXPECT_NE(withBcc.find("\r\nBcc: \"Hidden\" <hidden@example.org>\r\n"), std::string::npos)
        << "an outbox file has no envelope to keep it in";
    EXPECT_NE(p.headers.find("Message-ID: <id@example.org>\r\n"), std::string::npos);
    EXPECT_NE(p.headers.find("Date: "), std::string::npos);
    EXPECT_EQ(p.body, "text\r\n");
}

TEST(TransportCompose, RefusesWhatWouldForgeAHeader) {
    const struct {
        const char* name;
        const char* address;
        const char* subject;
        DeliveryOutcome outcome;
    } rows[] = {
        {"Pager\r\nBcc: evil@example.org", "pager@example.org", "",
         DeliveryOutcome::InvalidRecipient},
        {"Pager\n", "pager@example.org", "", DeliveryOutcome::InvalidRecipient},
        {"Pager\x1b", "pager@example.org", "", DeliveryOutcome::InvalidRecipient},
        {"Pager", "pager@example.org\r\nX: y", "", DeliveryOutcome::InvalidRecipient},
        {"Pager", "not an address", "", DeliveryOutcome::InvalidRecipient},
        {"Pager", "pager@example.org", "Hi\r\nBcc: evil@example.org",
         DeliveryOutcome::InvalidMessage},
        {"Pager", "pager@example.org", "Hi\tthere", DeliveryOutcome::InvalidMessage},
    };
    for (const auto& row : rows) {
        OutgoingMessage m = Page("body", row.address, row.name);
        m.subject = row.subject;
        EXPECT_EQ(mail::CheckMessage(m).outcome, row.outcome) << row.name << " " << row.address;
        std::string out, error;
        EXPECT_FALSE(mail::ComposeMessage("orvane@example.org", m, 0, "id@x", out, error));
    }
    OutgoingMessage none;
    EXPECT_EQ(mail::CheckMessage(none).outcome, DeliveryOutcome::InvalidMessage);
}

TEST(TransportCreate, RefusesProfilesThatCannotWork) {
    const char* badUrls[] = {
        "http://127.0.0.1",   "smtp://",      "smtp://user:pw@host", "smtp://host:0",
        "smtp://host:65536",  "smtp://ho st", "smtp://host\r\n",     "smtp://host:25x",
        "file:///etc/passwd", "smtp://[::1",  "smtp://host?x=1",     "smtp:host",
    };
    for (const char* url : badUrls) {
        std::string error;
        EXPECT_FALSE(Transport::Create(Smtp(url), "", {}, error)) << url;
        EXPECT_FALSE(error.empty());
    }
    const char* goodUrls[] = {"smtp://mail.example.org", "SMTPS://mail.example.org:465",
                              "smtp://127.0.0.1:2525", "smtp://[::1]:25",
                              "smtp://host/ehlo.example.org"};
    for (const char* url : goodUrls) {
        std::string error;
        EXPECT_TRUE(Transport::Create(Smtp(url), "", {}, error)) << url << ": " << error;
    }
    TransportConfig badSender = Smtp("smtp://127.0.0.1");
    badSender.sender = "orvane@example.org\r\nRCPT TO:<x@y>";
    std::string error;
    EXPECT_FALSE(Transport::Create(badSender, "", {}, error));
    TransportConfig outbox;
    EXPECT_FALSE(Transport::Create(outbox, "", {}, error)) << "an outbox needs its directory";
}

TEST(TransportLimits, TheTestCapShortensBothTimeLimits) {
    setenv("ORVANE_TEST_SMTP_TIMEOUT_MS", "700", 1);
    setenv("ORVANE_SMTP_CA_FILE", "/tmp/ca.pem", 1);
    const TransportLimits limits = mail::CurrentTransportLimits();
    unsetenv("ORVANE_TEST_SMTP_TIMEOUT_MS");
    unsetenv("ORVANE_SMTP_CA_FILE");
    EXPECT_EQ(limits.connectTimeoutMs, 700);
    EXPECT_EQ(limits.overallTimeoutMs, 700);
    EXPECT_EQ(limits.caFile, "/tmp/ca.pem");
    const TransportLimits defaults = mail::CurrentTransportLimits();
    EXPECT_GT(defaults.overallTimeoutMs, 0);
    EXPECT_LE(defaults.connectTimeoutMs, defaults.overallTimeoutMs);
}

// --- Outbox ----------------------------------------------------------------------------------

TEST(OutboxTransport, WritesOneWholeMessagePerFile) {
    TempDir dir;
    const std::string outbox = dir.File("outbox"); // made on first use
    auto t = Make(TransportConfig{}, outbox);
    std::set<std::string> files;
    for (int i = 0; i < 20; ++i) {
        const mail::DeliveryResult r = t->Deliver(Page("page " + std::to_string(i) + "\n.\nend"));
        ASSERT_TRUE(r.ok()) << r.detail;
        files.insert(r.detail);
    }
    EXPECT_EQ(files.size(), 20u) << "every message has a file of its own";
    const std::vector<std::string> names = FilesIn(outbox);
    EXPECT_EQ(names.size(), 20u);
    for (const std::string& name : names) {
        EXPECT_NE(name.front(), '.') << "no temporary file is left behind";
        EXPECT_EQ(name.substr(name.size() - 4), ".eml");
        const std::string message = ReadFile(outbox + "/" + name);
        EXPECT_TRUE(OnlyCrlf(message));
        EXPECT_NE(message.find("To: \"Pager One\" <pager@example.org>\r\n"), std::string::npos);
        const std::string body = BodyText(message);
        EXPECT_EQ(body.substr(body.size() - 10), "\r\n.\r\nend\r\n")
            << "the outbox is not dot-stuffed";
    }
}

namespace {

// Fails writes with a chosen error, and checks on every write that no message is visible yet.
class WatchingFileSystem : public IFileSystem {
public:
    WatchingFileSystem(std::string outbox, int error)
        : m_outbox(std::move(outbox)), m_error(error) {}
    ssize_t Write(int fd, const void* data, size_t size) override {
        for (const std::string& name : FilesIn(m_outbox))
            EXPECT_EQ(name.front(), '.') << "a reader could see " << name << " half-written";
        ++writes;
        if (m_error) {
            errno = m_error;
            return -1;
        }
        // Two bytes at a time, so that the message is seen in the middle of its writing.
        return IFileSystem::Write(fd, data, size < 2 ? size : 2);
    }
    int writes = 0;

private:
    std::string m_outbox;
    int m_error;
};

} // namespace

TEST(OutboxTransport, NoReaderSeesHalfAMessageAndFullDisksAreToldApart) {
    const struct {
        int error;
        DeliveryOutcome outcome;
    } rows[] = {
        {0, DeliveryOutcome::Sent},
        {ENOSPC, DeliveryOutcome::DiskFull},
        {EDQUOT, DeliveryOutcome::DiskFull},
        {EIO, DeliveryOutcome::Failed},
    };
    for (const auto& row : rows) {
        TempDir dir;
        ASSERT_EQ(mkdir(dir.File("outbox").c_str(), 0700), 0);
        auto t = Make(TransportConfig{}, dir.File("outbox"));
        WatchingFileSystem fs(dir.File("outbox"), row.error);
        IFileSystem* previous = SetFileSystem(&fs);
        const mail::DeliveryResult r = t->Deliver(Page("a page"));
        SetFileSystem(previous);
        EXPECT_EQ(r.outcome, row.outcome) << r.detail;
        EXPECT_GT(fs.writes, 0);
        EXPECT_EQ(FilesIn(dir.File("outbox")).size(), row.error ? 0u : 1u)
            << "a failed delivery leaves nothing behind";
    }
}

TEST(OutboxTransport, RefusesUnsafeRecipientsBeforeWritingAnything) {
    TempDir dir;
    auto t = Make(TransportConfig{}, dir.File("outbox"));
    EXPECT_EQ(t->Deliver(Page("x", "pager@example.org", "Line\nBreak")).outcome,
              DeliveryOutcome::InvalidRecipient);
    EXPECT_EQ(t->Deliver(Page("x", "pager@example.org\nBcc: x@y")).outcome,
              DeliveryOutcome::InvalidRecipient);
    EXPECT_TRUE(FilesIn(dir.File("outbox")).empty());
}

// --- SMTP ------------------------------------------------------------------------------------

TEST(SmtpTransport, DeliversDotsEightBitTextAndCrlfIntact) {
    SmtpTestServer server;
    ASSERT_TRUE(server.Started());
    auto t = Make(Smtp(server.Url()));
    const struct {
        std::string body;
    } rows[] = {
        {"02:00-03:00 Budget review"},
        {".\nsingle dot above\n..\ntwo dots above\n.leading dot\n."},
        {"bare\nLF and bare\rCR and\r\nCRLF\n\n"},
        {"Caf\xc3\xa9 \xe2\x82\xac 5\n.\n"},
        {"Caf\xe9 in windows-1252\r.\r"},
    };
    for (const auto& row : rows) {
        const mail::DeliveryResult r = t->Deliver(Page(row.body));
        ASSERT_TRUE(r.ok()) << r.detail;
    }
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), std::size(rows));
    for (size_t i = 0; i < messages.size(); ++i) {
        const auto& m = messages[i];
        EXPECT_EQ(m.sender, "orvane@example.org");
        EXPECT_EQ(m.recipients, std::vector<std::string>{"pager@example.org"});
        EXPECT_TRUE(OnlyCrlf(m.data)) << "a bare CR or LF reached the server";
        std::string expected = mail::NormalizeLineEnds(rows[i].body);
        if (expected.size() < 2 || expected.compare(expected.size() - 2, 2, "\r\n") != 0)
            expected += "\r\n";
        EXPECT_EQ(BodyText(m.data), expected) << "dots doubled or lost in message " << i;
    }
    EXPECT_NE(messages[3].data.find("charset=utf-8"), std::string::npos);
    EXPECT_NE(messages[4].data.find("charset=windows-1252"), std::string::npos);
}

TEST(SmtpTransport, EveryRefusalMapsToItsOutcome) {
    const struct {
        const char* mode;
        DeliveryOutcome outcome;
        const char* code;
    } rows[] = {
        {"refuse-recipient", DeliveryOutcome::RecipientRefused, "550"},
        {"refuse-sender", DeliveryOutcome::SenderRefused, "550"},
        {"refuse-data", DeliveryOutcome::MessageRefused, "554"},
    };
    for (const auto& row : rows) {
        SmtpTestServer::Options options;
        options.mode = row.mode;
        SmtpTestServer server(options);
        ASSERT_TRUE(server.Started());
        const mail::DeliveryResult r = Make(Smtp(server.Url()))->Deliver(Page("x"));
        EXPECT_EQ(r.outcome, row.outcome) << row.mode << ": " << r.detail;
        EXPECT_NE(r.detail.find(row.code), std::string::npos) << r.detail;
        EXPECT_TRUE(server.Messages().empty());
    }
}

TEST(SmtpTransport, ARefusedConnectionFailsAtOnce) {
    RefusingPort port;
    ASSERT_GT(port.Port(), 0);
    const auto start = std::chrono::steady_clock::now();
    const mail::DeliveryResult r =
        Make(Smtp("smtp://127.0.0.1:" + std::to_string(port.Port())))->Deliver(Page("x"));
    EXPECT_EQ(r.outcome, DeliveryOutcome::ConnectionFailed) << r.detail;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SmtpTransport, AServerThatNeverAnswersEndsWithinTheLimit) {
    SilentServer silent;
    ASSERT_GT(silent.Port(), 0);
    TransportLimits limits;
    limits.connectTimeoutMs = 400;
    limits.overallTimeoutMs = 400;
    const auto start = std::chrono::steady_clock::now();
    const mail::DeliveryResult r =
        Make(Smtp("smtp://127.0.0.1:" + std::to_string(silent.Port())), "", limits)
            ->Deliver(Page("x"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.outcome, DeliveryOutcome::TimedOut) << r.detail;
    EXPECT_GE(elapsed, std::chrono::milliseconds(350));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(SmtpTransport, UnsafeRecipientsNeverReachTheServer) {
    SmtpTestServer server;
    ASSERT_TRUE(server.Started());
    auto t = Make(Smtp(server.Url()));
    EXPECT_EQ(t->Deliver(Page("x", "a@example.org> NOTIFY=NEVER")).outcome,
              DeliveryOutcome::InvalidRecipient);
    EXPECT_EQ(t->Deliver(Page("x", "a@example.org\r\nRCPT TO:<b@example.org>")).outcome,
              DeliveryOutcome::InvalidRecipient);
    EXPECT_TRUE(server.Messages().empty());
}

TEST(SmtpTransport, AuthenticatesAndToldWhenRefused) {
    SmtpTestServer::Options options;
    options.auth = "pager-gw:s3cret";
    SmtpTestServer server(options);
    ASSERT_TRUE(server.Started());
    TransportConfig config = Smtp(server.Url());
    config.user = "pager-gw";
    config.password = "s3cret";
    EXPECT_TRUE(Make(config)->Deliver(Page("x")).ok());
    config.password = "wrong";
    EXPECT_EQ(Make(config)->Deliver(Page("x")).outcome, DeliveryOutcome::AuthenticationFailed);
    EXPECT_EQ(server.Messages().size(), 1u);
}

class SmtpTls : public ::testing::Test {
protected:
    void SetUp() override {
        m_certificate = MakeCertificate(m_dir);
        if (!m_certificate.ok)
            GTEST_SKIP() << "openssl cannot make a test certificate here";
    }
    SmtpTestServer::Options TlsOptions(const char* tls) const {
        SmtpTestServer::Options o;
        o.tls = tls;
        o.certFile = m_certificate.certFile;
        o.keyFile = m_certificate.keyFile;
        return o;
    }
    TransportLimits Trusting() const {
        TransportLimits limits;
        limits.caFile = m_certificate.certFile;
        limits.overallTimeoutMs = 10000;
        return limits;
    }
    TempDir m_dir;
    testing_support::TestCertificate m_certificate;
};

TEST_F(SmtpTls, ImplicitTlsDeliversWhenTheCertificateIsTrusted) {
    SmtpTestServer server(TlsOptions("implicit"));
    ASSERT_TRUE(server.Started());
    ASSERT_EQ(server.Url().rfind("smtps://", 0), 0u);
    EXPECT_TRUE(Make(Smtp(server.Url()), "", Trusting())->Deliver(Page(".\n")).ok());
    const mail::DeliveryResult untrusted = Make(Smtp(server.Url()))->Deliver(Page("x"));
    EXPECT_EQ(untrusted.outcome, DeliveryOutcome::TlsFailed) << untrusted.detail;
    ASSERT_EQ(server.Messages().size(), 1u);
    EXPECT_EQ(BodyText(server.Messages()[0].data), ".\r\n");
}

TEST_F(SmtpTls, RequiredStartTlsUpgradesOrRefusesToSend) {
    SmtpTestServer tlsServer(TlsOptions("starttls"));
    ASSERT_TRUE(tlsServer.Started());
    TransportConfig config = Smtp(tlsServer.Url());
    config.startTls = true;
    EXPECT_TRUE(Make(config, "", Trusting())->Deliver(Page("x")).ok());
    EXPECT_EQ(tlsServer.Messages().size(), 1u);

    // A server without STARTTLS gets nothing: no silent fall-back to plain text.
    SmtpTestServer plainServer;
    ASSERT_TRUE(plainServer.Started());
    TransportConfig plain = Smtp(plainServer.Url());
    plain.startTls = true;
    const mail::DeliveryResult r = Make(plain, "", Trusting())->Deliver(Page("x"));
    EXPECT_EQ(r.outcome, DeliveryOutcome::TlsFailed) << r.detail;
    EXPECT_TRUE(plainServer.Messages().empty());
}
