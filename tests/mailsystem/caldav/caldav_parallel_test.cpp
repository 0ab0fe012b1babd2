// Calendar homes read ahead on several threads at once, with a few connections to the server:
// the scan that follows uses each reading without a request and finds what a reading of its own
// finds, the lines of the reading told then; the connections to one server stay within their
// number, and a server that does not answer still fails each mailbox within its time.
#include "core/Clock.h"
#include "mailsystem/ProfileMailSystem.h"
#include "mailsystem/caldav/CalDavStore.h"
#include "support/CalDavServers.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace caldav_test;
using namespace testing_support;

const char* const kMailboxes[] = {"ann", "bob", "cy", "di", "eve", "fay"};
const int64_t kNow = 1780304400; // 2026-06-01 09:00:00 UTC

std::string Event(const std::string& uid, const std::string& subject, const std::string& start) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\nBEGIN:VEVENT\r\n"
           "UID:" +
           uid + "\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:" + subject + "\r\nDTSTART:" + start +
           "\r\nDURATION:PT30M\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\n"
           "END:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

// One Radicale for the whole program, its homes made once.
class ParallelReads : public testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new DavServer(Kind::Radicale);
        if (!server->Started())
            return;
        int n = 0;
        for (const char* mailbox : kMailboxes) {
            ++n;
            server->MakeHome(mailbox);
            server->MakeCollection(mailbox, "work");
            server->PutItem(mailbox, "work", "a.ics",
                            Event("a", std::string("Alpha of ") + mailbox, "20260602T100000Z"));
            server->PutItem(mailbox, "work", "b.ics",
                            Event("b", "Beta " + std::to_string(n),
                                  "20260603T1" + std::to_string(n) + "0000Z"));
        }
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(server && server->Started());
        for (const char* mailbox : kMailboxes)
            mail.Add(
                {std::string("User ") + mailbox, std::string("/cn=") + mailbox, "", mailbox, ""});
        mail::caldav::Clear();
        mail::dav::CloseConnections();
    }

    std::shared_ptr<mail::MailSystem> Session(const mail::dav::Limits& limits) {
        std::string error;
        auto directory = mail::MailSystem::Open(mail.Directory(), error);
        EXPECT_TRUE(directory) << error;
        const mail::dav::Account reader = server->Reader();
        return mail::WithCalendarServer(directory,
                                        {server->Template(), reader.user, reader.password}, limits);
    }

    static mail::AddressEntry Entry(const std::string& mailbox) {
        mail::AddressEntry entry;
        entry.displayName = "User " + mailbox;
        entry.mailbox = mailbox;
        return entry;
    }

    // What one session finds for every mailbox, in order, and the lines its readings told.
    std::string ScanAll(const mail::dav::Limits& limits) {
        std::string text;
        auto previous = mail::caldav::SetNoticeObserver(
            [&text](const std::string& line) { text += "  " + line + "\n"; });
        auto session = Session(limits);
        for (const char* mailbox : kMailboxes) {
            std::vector<mail::Appointment> found;
            std::string error;
            text += mailbox;
            if (!session->FindAppointments(Entry(mailbox), kNow, kNow + 7 * 86400, found, error))
                text += " failed: " + error;
            for (const mail::Appointment& a : found)
                text += " [" + std::to_string(a.start) + " " + a.subject + "]";
            text += "\n";
        }
        mail::caldav::SetNoticeObserver(previous);
        return text;
    }

    // Every mailbox read ahead at once, each on a thread of its own (as the scan's workers do).
    void ReadAllAhead(const mail::dav::Limits& limits) {
        std::vector<std::thread> threads;
        for (const char* mailbox : kMailboxes)
            threads.emplace_back([this, limits, mailbox] {
                Session(limits)->ReadAhead(Entry(mailbox), kNow, kNow + 7 * 86400);
            });
        for (std::thread& t : threads)
            t.join();
    }

    static DavServer* server;
    MailFixture mail;
};

DavServer* ParallelReads::server = nullptr;

} // namespace

TEST_F(ParallelReads, ReadingsAheadAreUsedWithoutARequestAndGiveWhatASerialReadingGives) {
    mail::dav::Limits limits;
    limits.connectionsPerServer = 3;
    const std::string serial = ScanAll(limits);
    ASSERT_NE(serial.find("[1780394400 Alpha of ann]"), std::string::npos) << serial;
    ASSERT_EQ(serial.find("failed"), std::string::npos) << serial;

    // Cold: every home read ahead at once.
    mail::caldav::Clear();
    mail::dav::CloseConnections();
    const mail::dav::Stats before = mail::dav::GetStats();
    ReadAllAhead(limits);
    const mail::dav::Stats ahead = mail::dav::GetStats();
    EXPECT_GE(ahead.requests - before.requests, std::size(kMailboxes) * 2)
        << "a listing and a report for each home";
    EXPECT_EQ(ScanAll(limits), serial) << "the same appointments and lines, in the same order";
    EXPECT_EQ(mail::dav::GetStats().requests, ahead.requests) << "the scan used the readings";

    // Unchanged: a rescan read ahead costs one request a home, and is used as well.
    const std::string rescanSerial = ScanAll(limits);
    const uint64_t rescanBefore = mail::dav::GetStats().requests;
    ReadAllAhead(limits);
    EXPECT_EQ(mail::dav::GetStats().requests - rescanBefore, std::size(kMailboxes));
    EXPECT_EQ(ScanAll(limits), rescanSerial);
    EXPECT_EQ(mail::dav::GetStats().requests - rescanBefore, std::size(kMailboxes));

    // A change made after the reading ahead but before the scan is seen at the next reading:
    // the reading ahead stands for one scan only.
    ReadAllAhead(limits);
    ASSERT_TRUE(server->PutItem("ann", "work", "c.ics", Event("c", "Gamma", "20260604T100000Z")));
    EXPECT_EQ(ScanAll(limits).find("Gamma"), std::string::npos) << "the scan of the older reading";
    EXPECT_NE(ScanAll(limits).find("Gamma"), std::string::npos);
    ASSERT_TRUE(server->Delete(server->CollectionOf("ann", "work") + "c.ics"));
}

TEST_F(ParallelReads, AServerThatDoesNotAnswerFailsEveryMailboxWithinItsTime) {
    FaultServer front(server->Port(), {"ann=hang", "bob=hang", "cy=hang", "di=hang"});
    ASSERT_TRUE(front.Started());
    mail::dav::Limits limits;
    limits.connectionsPerServer = 2;
    limits.connectTimeoutMs = 1000;
    limits.requestTimeoutMs = 1000;
    limits.mailboxTimeoutMs = 1500;
    const std::string base = "http://127.0.0.1:" + std::to_string(front.Port()) + "/";
    auto session = [&] {
        std::string error;
        auto directory = mail::MailSystem::Open(mail.Directory(), error);
        const mail::dav::Account reader = server->Reader();
        return mail::WithCalendarServer(
            directory, {base + "{mailbox}/", reader.user, reader.password}, limits);
    };
    // Four hanging homes read at once over two connections: two wait for a connection, each
    // within its own time, never a turn behind all the others.
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (const char* mailbox : {"ann", "bob", "cy", "di"})
        threads.emplace_back(
            [&, mailbox] { session()->ReadAhead(Entry(mailbox), kNow, kNow + 7 * 86400); });
    for (std::thread& t : threads)
        t.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    // The scan is told what the reading ahead met.
    auto scan = session();
    int unanswered = 0;
    for (const char* mailbox : {"ann", "bob", "cy", "di"}) {
        SCOPED_TRACE(mailbox);
        std::vector<mail::Appointment> found;
        std::string error;
        EXPECT_FALSE(scan->FindAppointments(Entry(mailbox), kNow, kNow + 86400, found, error));
        EXPECT_EQ(
            error.rfind("The calendar server could not be read at " + base + mailbox + "/: ", 0),
            0u)
            << error;
        const bool waited = error.find("did not answer within 1 second") != std::string::npos;
        unanswered += waited ? 1 : 0;
        EXPECT_TRUE(waited ||
                    error.find("no connection to the server came free within 1 second") !=
                        std::string::npos ||
                    error.find("the time allowed for one mailbox (2 seconds) ran out") !=
                        std::string::npos)
            << error;
    }
    EXPECT_EQ(unanswered, 2) << "two requests in flight at once; the others waited for them";
    mail::dav::CloseConnections();
}
