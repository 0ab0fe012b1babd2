// The address book read from a real OpenLDAP server on loopback: the whole list, lookups, size
// limits, TLS, and the ways a server fails.
#include "mailsystem/addressbook/AddressBook.h"
#include "mailsystem/addressbook/AddressList.h"
#include "mailsystem/ldap/LdapAddressBook.h"
#include "support/SlapdTestServer.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

mail::LdapConfig Reader(const SlapdTestServer& server, bool ldaps = false) {
    mail::LdapConfig config;
    config.url = server.Url(ldaps);
    config.user = SlapdTestServer::kReaderDn;
    config.password = SlapdTestServer::kReaderPassword;
    config.startTls = false;
    return config;
}

// Shorter limits for the cases where a server never answers; a working loopback server answers
// well within them even on a loaded machine.
mail::LdapLimits Quick() {
    mail::LdapLimits limits;
    limits.connectTimeoutMs = 3000;
    limits.operationTimeoutMs = 2000;
    limits.readTimeoutMs = 20000;
    return limits;
}

std::unique_ptr<mail::AddressBook> Book(const mail::LdapConfig& config,
                                        const mail::LdapLimits& limits = {}) {
    std::string error;
    std::unique_ptr<mail::AddressBook> book = mail::NewLdapAddressBook(config, limits, error);
    EXPECT_TRUE(book) << error;
    return book;
}

std::vector<mail::AddressEntry> Numbered(int count) {
    std::vector<mail::AddressEntry> entries;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        entries.push_back({"User " + n, "user" + n + "@example.org",
                           "/o=Example/cn=MAIL" + std::to_string(i % 3), "user" + n,
                           "user" + n + "@example.org"});
    }
    return entries;
}

void ExpectSameList(const std::vector<mail::AddressEntry>& got,
                    const std::vector<mail::AddressEntry>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(want[i].displayName);
        EXPECT_EQ(got[i].displayName, want[i].displayName);
        EXPECT_EQ(got[i].address, want[i].address);
        EXPECT_EQ(got[i].homeStore, want[i].homeStore);
        EXPECT_EQ(got[i].mailbox, want[i].mailbox);
        EXPECT_EQ(got[i].deliverTo, want[i].deliverTo);
    }
}

} // namespace

// The demo's people and pagers in a directory give the very list of the equivalent file, in the
// same order, read after read; entries without mail are left out.
TEST(Directory, TheDemoDirectoryGivesTheListOfItsFile) {
    SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    std::vector<mail::AddressEntry> file;
    std::string error;
    ASSERT_TRUE(mail::ParseAddressList(ReadFile(DataDir() + "/directory/address-list.txt"), "list",
                                       file, error))
        << error;
    ASSERT_EQ(file.size(), 24u);

    auto book = Book(Reader(server));
    std::vector<mail::AddressEntry> first, second;
    ASSERT_TRUE(book->AddressList(first, error)) << error;
    ExpectSameList(first, file);
    ASSERT_TRUE(book->AddressList(second, error)) << error;
    ExpectSameList(second, file);

    // Anonymous reads work as well when the server allows them.
    mail::LdapConfig anonymous = Reader(server);
    anonymous.user.clear();
    anonymous.password.clear();
    ASSERT_TRUE(Book(anonymous)->AddressList(second, error)) << error;
    ExpectSameList(second, file);

    std::vector<mail::AddressEntry> found;
    ASSERT_TRUE(book->FindByDisplayName("Liam O'Brien (Pager)", found, error)) << error;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].deliverTo, "5550112@pager.demo.orvane.example");
    ASSERT_TRUE(book->FindByAddress("htanaka@quorvik.example", found, error)) << error;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].mailbox, "htanaka");
    EXPECT_NE(found[0].homeStore.find("cn=MAIL2"), std::string::npos);
    ASSERT_TRUE(book->FindByDisplayName("Board Room", found, error)) << error;
    EXPECT_TRUE(found.empty()); // no mail: not in the address list
}

// slapd cuts paged reads at its size limit unless the reader's limits say otherwise: the
// unlimited reader gets every entry in order; the others get an error, never a part as the whole.
TEST(Directory, ReadsTwoThousandEntriesPastASizeLimitOf500) {
    const std::vector<mail::AddressEntry> entries = Numbered(2000);
    SlapdTestServer server(LdifFor(entries));
    ASSERT_TRUE(server.Started());

    std::vector<mail::AddressEntry> read;
    std::string error;
    ASSERT_TRUE(Book(Reader(server))->AddressList(read, error)) << error;
    ExpectSameList(read, entries);

    mail::LdapConfig limited = Reader(server);
    limited.user = SlapdTestServer::kLimitedDn;
    limited.password = SlapdTestServer::kLimitedPassword;
    mail::LdapConfig anonymous = Reader(server);
    anonymous.user.clear();
    anonymous.password.clear();
    for (const mail::LdapConfig& config : {limited, anonymous}) {
        auto book = Book(config);
        EXPECT_FALSE(book->AddressList(read, error)) << config.user;
        EXPECT_TRUE(read.empty());
        EXPECT_NE(error.find("The directory " + server.Url() +
                             " stopped the read of the address list after 500 entries"),
                  std::string::npos)
            << error;
        EXPECT_NE(error.find("size.prtotal=unlimited"), std::string::npos) << error;
        // A lookup of one name is not cut, and the connection is still good for it.
        std::vector<mail::AddressEntry> found;
        ASSERT_TRUE(book->FindByDisplayName("User 1999", found, error)) << error;
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].address, "user1999@example.org");
    }
}

// Lookups are searches, and a name is only ever a value: no metacharacter widens the search,
// and only the byte-for-byte equal entries are found, as with the file.
TEST(Directory, NamesWithFilterMetacharactersFindOnlyThemselves) {
    const std::vector<mail::AddressEntry> entries = {
        {"Ann Archer", "ann@example.org", "", "ann", "ann@example.org"},
        {"ann archer", "ann2@example.org", "", "ann2", "ann2@example.org"},
        {"Ann *", "star@example.org", "", "", "star@example.org"},
        {"Ann (Pager)", "5550100@pager.example.org", "", "", "5550100@pager.example.org"},
        {"Back\\slash", "back@example.org", "", "", "back@example.org"},
        {"Twin", "twin1@example.org", "", "", "twin1@example.org"},
        {"Twin", "twin2@example.org", "", "", "twin2@example.org"},
        {"Zo\xC3\xAB", "zoe@example.org", "", "", "zoe@example.org"},
    };
    SlapdTestServer server(LdifFor(entries));
    ASSERT_TRUE(server.Started());
    auto book = Book(Reader(server));
    struct Row {
        std::string name;
        std::vector<std::string> addresses;
    };
    const std::vector<Row> rows = {
        {"Ann Archer", {"ann@example.org"}},
        {"ann archer", {"ann2@example.org"}}, // the directory ignores case; the lookup does not
        {"ANN ARCHER", {}},
        {"Ann *", {"star@example.org"}},
        {"*", {}},
        {"Ann*", {}},
        {"Ann (Pager)", {"5550100@pager.example.org"}},
        {"Ann (Pager", {}},
        {")(mail=*", {}},
        {"*)(|(cn=*", {}},
        {"Back\\slash", {"back@example.org"}},
        {"Back\\5Cslash", {}},
        {"Back\\", {}},
        {std::string("Ann Archer\0*", 12), {}},
        {"Twin", {"twin1@example.org", "twin2@example.org"}},
        {"Zo\xC3\xAB", {"zoe@example.org"}},
        {"", {}},
    };
    for (const Row& row : rows) {
        std::vector<mail::AddressEntry> found;
        std::string error;
        ASSERT_TRUE(book->FindByDisplayName(row.name, found, error)) << row.name << ": " << error;
        std::vector<std::string> addresses;
        for (const auto& e : found)
            addresses.push_back(e.address);
        EXPECT_EQ(addresses, row.addresses) << row.name;
    }
    std::vector<mail::AddressEntry> found;
    std::string error;
    ASSERT_TRUE(book->FindByAddress("*", found, error)) << error;
    EXPECT_TRUE(found.empty());
    ASSERT_TRUE(book->FindByAddress("ANN@example.org", found, error)) << error;
    EXPECT_TRUE(found.empty());
    ASSERT_TRUE(book->FindByAddress("ann@example.org", found, error)) << error;
    EXPECT_EQ(found.size(), 1u);
}

TEST(Directory, AWrongPasswordIsReportedWithoutThePassword) {
    SlapdTestServer server(LdifFor(Numbered(3)));
    ASSERT_TRUE(server.Started());
    mail::LdapConfig config = Reader(server);
    config.password = "wrong s3cret guess";
    auto book = Book(config, Quick());
    std::vector<mail::AddressEntry> found;
    std::string error;
    EXPECT_FALSE(book->FindByDisplayName("User 1", found, error));
    EXPECT_NE(error.find("The directory " + server.Url() + " refused the bind as " +
                         SlapdTestServer::kReaderDn + ": invalid credentials"),
              std::string::npos)
        << error;
    EXPECT_EQ(error.find("s3cret"), std::string::npos) << error;
    // Until the next pass, the book does not try again.
    std::string again;
    EXPECT_FALSE(book->AddressList(found, again));
    EXPECT_EQ(again, error);
}

// A bind password given as credential:NAME is read from CREDENTIALS_DIRECTORY at each
// connection; one that is missing fails the read with a sentence that names it.
TEST(Directory, ABindPasswordFromACredentialIsReadAtEachConnection) {
    SlapdTestServer server(LdifFor(Numbered(3)));
    ASSERT_TRUE(server.Started());
    TempDir credentials;
    setenv("CREDENTIALS_DIRECTORY", credentials.Path().c_str(), 1);
    mail::LdapConfig config = Reader(server);
    config.password = "credential:reader";
    std::vector<mail::AddressEntry> found;
    std::string error;
    EXPECT_FALSE(Book(config, Quick())->AddressList(found, error));
    EXPECT_EQ(error, "The directory " + server.Url() +
                         " cannot be bound to: the directory password is not available. The "
                         "credential reader is missing: there is no " +
                         credentials.File("reader") +
                         " (give it to the unit with LoadCredential=reader:FILE).");
    WriteFile(credentials.File("reader"), std::string(SlapdTestServer::kReaderPassword) + "\n");
    EXPECT_TRUE(Book(config, Quick())->AddressList(found, error)) << error;
    EXPECT_EQ(found.size(), 3u);
    unsetenv("CREDENTIALS_DIRECTORY");
}

TEST(Directory, AServerThatIsDownIsNamedWithTheCause) {
    RefusingPort refusing;
    mail::LdapConfig config;
    config.url = "ldap://127.0.0.1:" + std::to_string(refusing.Port()) + "/dc=example,dc=org";
    config.startTls = false;
    std::vector<mail::AddressEntry> found;
    std::string error;
    EXPECT_FALSE(Book(config, Quick())->FindByAddress("a@example.org", found, error));
    EXPECT_EQ(error, "The directory " + config.url + " cannot be reached: Connection refused.");

    // A server that goes away after a good read: the kept connection is noticed and the server
    // named.
    SlapdTestServer server(LdifFor(Numbered(3)));
    ASSERT_TRUE(server.Started());
    auto book = Book(Reader(server), Quick());
    ASSERT_TRUE(book->FindByDisplayName("User 1", found, error)) << error;
    EXPECT_EQ(found.size(), 1u);
    server.Stop();
    EXPECT_FALSE(book->FindByDisplayName("User 1", found, error));
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(error, "The directory " + server.Url() + " cannot be reached: Connection refused.");
}

// A server that stops answering in the middle of an answer, or between requests (SIGSTOP),
// fails the request within the limits and leaves nothing half-read behind.
TEST(Directory, AServerThatStopsAnsweringIsGivenUpWithinTheLimits) {
    SlapdTestServer server(LdifFor(Numbered(2000)));
    ASSERT_TRUE(server.Started());

    // The proxy passes the bind's answer and some 20 entries of the first page, then nothing.
    StallingProxy proxy(server.Port(), 4000);
    mail::LdapConfig config = Reader(server);
    config.url =
        "ldap://127.0.0.1:" + std::to_string(proxy.Port()) + "/" + SlapdTestServer::kPeople;
    std::vector<mail::AddressEntry> read;
    std::string error;
    EXPECT_FALSE(Book(config, Quick())->AddressList(read, error));
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(error, "The directory " + config.url + " did not answer within 2 seconds.");

    // A server that accepts the connection and never says a word: the bind, StartTLS and the
    // TLS handshake of ldaps:// are all bounded.
    SilentServer silent;
    for (const char* scheme : {"ldap", "ldaps"}) {
        for (bool startTls : {false, true}) {
            mail::LdapConfig mute = Reader(server);
            mute.url = std::string(scheme) + "://127.0.0.1:" + std::to_string(silent.Port()) +
                       "/dc=example,dc=org";
            mute.startTls = startTls;
            EXPECT_FALSE(Book(mute, Quick())->FindByAddress("x", read, error)) << mute.url;
            EXPECT_NE(error.find("The directory " + mute.url + " did not answer within"),
                      std::string::npos)
                << error;
        }
    }

    auto book = Book(Reader(server), Quick());
    ASSERT_TRUE(book->FindByAddress("user7@example.org", read, error)) << error;
    ASSERT_EQ(read.size(), 1u);
    server.Pause();
    EXPECT_FALSE(book->AddressList(read, error));
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(error, "The directory " + server.Url() + " did not answer within 2 seconds.");
    // The next request of this pass fails at once with the same words.
    std::string again;
    EXPECT_FALSE(book->FindByAddress("user7@example.org", read, again));
    EXPECT_EQ(again, error);
    server.Resume();
    // The next pass (a new book) reads again.
    ASSERT_TRUE(Book(Reader(server), Quick())->FindByAddress("user7@example.org", read, error))
        << error;
    EXPECT_EQ(read.size(), 1u);
}

TEST(Directory, TlsWithVerifiedCertificatesOnly) {
    SlapdTestServer::Options options;
    options.tls = true;
    SlapdTestServer server(options, LdifFor(Numbered(5)));
    ASSERT_TRUE(server.Started());
    mail::LdapLimits trusting = Quick();
    trusting.caFile = server.CertificateFile();

    std::vector<mail::AddressEntry> read;
    std::string error;
    mail::LdapConfig ldaps = Reader(server, true);
    ASSERT_TRUE(Book(ldaps, trusting)->AddressList(read, error)) << error;
    EXPECT_EQ(read.size(), 5u);
    mail::LdapConfig startTls = Reader(server);
    startTls.startTls = true;
    ASSERT_TRUE(Book(startTls, trusting)->AddressList(read, error)) << error;
    EXPECT_EQ(read.size(), 5u);

    // The test certificate is in no system store.
    mail::LdapLimits system = Quick();
    for (const mail::LdapConfig& config : {ldaps, startTls}) {
        EXPECT_FALSE(Book(config, system)->AddressList(read, error)) << config.url;
        EXPECT_NE(error.find("cannot be reached securely"), std::string::npos) << error;
        EXPECT_EQ(error.find(SlapdTestServer::kReaderPassword), std::string::npos) << error;
    }

    // A certificate made out to another name than the one connected to.
    options.certificateName = "ldap.elsewhere.example";
    SlapdTestServer other(options, LdifFor(Numbered(5)));
    ASSERT_TRUE(other.Started());
    trusting.caFile = other.CertificateFile();
    EXPECT_FALSE(Book(Reader(other, true), trusting)->AddressList(read, error));
    EXPECT_NE(error.find("cannot be reached securely"), std::string::npos) << error;

    // StartTLS required from a server without TLS: nothing is sent in the clear.
    SlapdTestServer plain(LdifFor(Numbered(5)));
    ASSERT_TRUE(plain.Started());
    mail::LdapConfig required = Reader(plain);
    required.startTls = true;
    EXPECT_FALSE(Book(required, trusting)->AddressList(read, error));
    EXPECT_NE(error.find("does not offer StartTLS"), std::string::npos) << error;
}
