// Pages to web services through the real paging pass and the real Simple MAPI library: a failed
// attempt keeps the page with one event naming the cause (never a token) and it goes out at the
// first tick the service answers, once; every attempt carries the identity derived from the
// reminder, which e-mail pages carry as their Message-ID.
#include "core/Clock.h"
#include "core/Settings.h"
#include "paging/CMAPI.h"
#include "paging/CRemList.h"
#include "paging/PageIdentity.h"
#include "support/HttpTestServer.h"
#include "support/MailFixture.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <memory>

using namespace testing_support;

namespace {

const char* const kUnspecified =
    "A reminder page could not be sent.  An unspecified error was received.";
const char* const kMailbox = "/o=Quorvik/ou=Site/cn=Recipients/cn=aarcher";
const char* const kPager = "Ann Archer (Pager)";
const char* const kToken = "tk_profile-Secret.77";
const char* const kBobToken = "BobApp.Token42";
constexpr int kFailedTicks = 2;

std::string Body(const std::string& request) {
    const size_t blank = request.find("\r\n\r\n");
    return blank == std::string::npos ? "" : request.substr(blank + 4);
}

std::string Header(const std::string& request, const std::string& name) {
    const std::string key = "\r\n" + name + ": ";
    const size_t at = request.find(key);
    if (at == std::string::npos || at > request.find("\r\n\r\n"))
        return "";
    const size_t start = at + key.size();
    return request.substr(start, request.find("\r\n", start) - start);
}

QJsonObject Json(const std::string& request) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(Body(request))).object();
}

HttpAnswer Answer(int status, const std::string& reason, const std::string& body = "") {
    HttpAnswer a;
    a.status = status;
    a.reason = reason;
    a.body = body;
    return a;
}
HttpAnswer Act(const std::string& action) {
    HttpAnswer a;
    a.action = action;
    return a;
}

// A user with one reminder due at 09:01, paged one tick (one second) at a time on the test clock.
// One web service and one SMTP server serve the whole program.
class WebPaging : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_web = std::make_unique<HttpScriptServer>();
        s_smtp = std::make_unique<SmtpTestServer>();
    }
    static void TearDownTestSuite() {
        s_web.reset();
        s_smtp.reset();
    }

    ScopedTimeZone zone{"America/New_York"};
    MailFixture mail;
    CString mailbox = kMailbox, pager = kPager, displayName = "Ann Archer";
    CTime lastCheck;
    CRemList list;
    CTime now{2026, 3, 2, 9, 0, 0};

    void SetUp() override {
        ASSERT_TRUE(s_web->Started());
        ASSERT_TRUE(s_smtp->Started());
        s_web->Reset();
        unsetenv(kSimpleMapiLibraryVariable);
        setenv("ORVANE_TEST_SMTP_TIMEOUT_MS", "1500", 1);
        mail.Add(
            {kPager, "/o=Quorvik/ou=Site/cn=Recipients/cn=aarcher-pager", "", "", "ann-pager"});
        mail.Add({"Bob Baker (Pager)", "/o=Quorvik/ou=Site/cn=Recipients/cn=bbaker-pager", "", "",
                  std::string("gotify:") + kBobToken});
        mail.Add({"Carl Cole (Pager)", "/o=Quorvik/ou=Site/cn=Recipients/cn=ccole-pager", "", "",
                  "5550103@pager.example.org"});
        Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName, "");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kStartHour, "0");
        Settings::WriteProfileString(Settings::kPreferences, Settings::kEndHour, "24");
        Clock::Freeze(now);
        AddBudgetReview();
    }
    void TearDown() override { unsetenv("ORVANE_TEST_SMTP_TIMEOUT_MS"); }

    void AddBudgetReview() {
        list.AddReminder(CTime(2026, 3, 2, 9, 1, 0), CTime(2026, 3, 2, 14, 0, 0),
                         CTime(2026, 3, 2, 15, 0, 0), "Budget review");
    }
    void UseWeb(mail::WebFormat format, const std::string& token = kToken) {
        mail.UseProfile("Paging", WebTransport(s_web->Url(), format, token));
    }

    // One tick's paging pass for the user, one second after the last; the events it wrote.
    std::vector<std::string> Tick(int& left) {
        now += CTimeSpan(1);
        Clock::Freeze(now);
        CapturedEvents events;
        left =
            list.PageReminders(now, PagingUser{mailbox, pager, lastCheck, nullptr, &displayName});
        lastCheck = now;
        return events.Texts();
    }

    static std::unique_ptr<HttpScriptServer> s_web;
    static std::unique_ptr<SmtpTestServer> s_smtp;
};
std::unique_ptr<HttpScriptServer> WebPaging::s_web;
std::unique_ptr<SmtpTestServer> WebPaging::s_smtp;

} // namespace

TEST_F(WebPaging, AFailedPageIsRetriedEveryTickUntilAnsweredAndThenNeverSentAgain) {
    const struct {
        const char* name;
        HttpAnswer fault;
        const char* says;    // in each failed attempt's event
        int takenPerFailure; // requests the service read in each failed attempt
    } rows[] = {
        {"500", Answer(500, "Internal Server Error", "try later"),
         "failed: 500 Internal Server Error (try later).", 1},
        {"503", Answer(503, "Service Unavailable"), "failed: 503 Service Unavailable.", 1},
        {"400", Answer(400, "Bad Request"), "refused the page: 400 Bad Request.", 1},
        {"401", Answer(401, "Unauthorized", std::string("bad token ") + kToken),
         "refused the token: 401 Unauthorized (bad token [token]).", 1},
        {"404", Answer(404, "Not Found"), "refused the page: 404 Not Found.", 1},
        {"no answer in time", Act("silent"), "did not answer within 1.5 s.", 1},
        {"answer lost after taking the page", Act("drop"),
         "closed the connection without answering", 1},
        {"connection dropped before the page", Act("drop-before"), "The page could not be sent", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        list.ClearList();
        AddBudgetReview();
        s_web->Reset();
        s_web->Script(std::vector<HttpAnswer>(kFailedTicks, row.fault));
        UseWeb(mail::WebFormat::Json);
        for (int i = 0; i < kFailedTicks; ++i) {
            int left = 0;
            const std::vector<std::string> events = Tick(left);
            EXPECT_EQ(left, 0);
            EXPECT_EQ(list.GetCount(), 1) << "the page was lost";
            ASSERT_EQ(events.size(), 1u) << "one event per failed attempt";
            EXPECT_EQ(events[0].rfind(std::string(kUnspecified) + "  The ", 0), 0u) << events[0];
            EXPECT_NE(events[0].find(row.says), std::string::npos) << events[0];
            EXPECT_EQ(events[0].find(kToken), std::string::npos) << events[0];
        }
        int left = 0;
        std::vector<std::string> events = Tick(left);
        EXPECT_EQ(left, 1) << "sent at the first tick the service answers";
        EXPECT_TRUE(events.empty()) << (events.empty() ? "" : events[0]);
        for (int i = 0; i < 3; ++i) {
            events = Tick(left);
            EXPECT_EQ(left, 0);
        }
        const std::vector<std::string> requests = s_web->Requests();
        ASSERT_EQ(requests.size(), static_cast<size_t>(kFailedTicks * row.takenPerFailure + 1))
            << "one request per attempt, none once answered";
        // Every copy the service holds can be told to be the same page.
        const std::string key = Header(requests.back(), "X-Idempotency-Key");
        EXPECT_EQ(key, PageIdentity(
                           mailbox, pager, *[&] {
                               static ReminderStru r;
                               r.PageTime = CTime(2026, 3, 2, 9, 0, 0);
                               r.TimeKey = "1400";
                               r.Text = "02:00-03:00 Budget review";
                               return &r;
                           }()));
        for (const std::string& request : requests) {
            EXPECT_EQ(Header(request, "X-Idempotency-Key"), key);
            EXPECT_EQ(Json(request).value("id").toString().toStdString(), key);
        }
    }
}

TEST_F(WebPaging, ARefusedConnectionKeepsThePageUntilTheServiceIsReached) {
    {
        RefusingPort refusing;
        ASSERT_GT(refusing.Port(), 0);
        mail.UseProfile("Paging",
                        WebTransport("http://127.0.0.1:" + std::to_string(refusing.Port()),
                                     mail::WebFormat::Ntfy, kToken));
        for (int i = 0; i < kFailedTicks; ++i) {
            int left = 0;
            const std::vector<std::string> events = Tick(left);
            EXPECT_EQ(left, 0);
            ASSERT_EQ(events.size(), 1u);
            EXPECT_NE(events[0].find("the server cannot be reached"), std::string::npos)
                << events[0];
            EXPECT_EQ(list.GetCount(), 1);
        }
    }
    UseWeb(mail::WebFormat::Ntfy);
    int left = 0;
    EXPECT_TRUE(Tick(left).empty());
    EXPECT_EQ(left, 1);
    Tick(left);
    const std::vector<std::string> requests = s_web->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("POST /ann-pager HTTP/1.1\r\n", 0), 0u) << requests[0];
    EXPECT_EQ(Header(requests[0], "Title"), "Ann Archer");
    EXPECT_EQ(Body(requests[0]), "02:00-03:00 Budget review");
}

TEST_F(WebPaging, ThePageCarriesItsUserItsTimesAndAnIdentityThatSurvivesARestart) {
    UseWeb(mail::WebFormat::Json);
    int left = 0;
    ASSERT_TRUE(Tick(left).empty());
    ASSERT_EQ(left, 1);
    // A restarted monitor (a list built anew) pages the same reminder under the same identity;
    // another reminder of the same user gets its own.
    list.ClearList();
    AddBudgetReview();
    list.AddReminder(CTime(2026, 3, 2, 9, 1, 0), CTime(2026, 3, 2, 16, 0, 0),
                     CTime(2026, 3, 2, 16, 30, 0), "Budget review, part two");
    lastCheck = CTime();
    ASSERT_TRUE(Tick(left).empty());
    ASSERT_EQ(left, 2);

    const std::vector<std::string> requests = s_web->Requests();
    ASSERT_EQ(requests.size(), 3u);
    const QJsonObject first = Json(requests[0]);
    EXPECT_EQ(first.value("to").toString(), "ann-pager");
    EXPECT_EQ(first.value("text").toString(), "02:00-03:00 Budget review");
    EXPECT_EQ(first.value("user").toString(), "Ann Archer");
    EXPECT_EQ(first.value("page_time").toString(), "2026-03-02T09:00:00-05:00");
    EXPECT_EQ(first.value("reminder_time").toString(), "2026-03-02T09:01:00-05:00");
    const QJsonObject again = Json(requests[1]);
    EXPECT_EQ(again.value("id"), first.value("id"));
    EXPECT_EQ(Header(requests[1], "X-Idempotency-Key"), Header(requests[0], "X-Idempotency-Key"));
    const QJsonObject other = Json(requests[2]);
    EXPECT_EQ(other.value("text").toString(), "04:00-04:30 Budget review, part two");
    EXPECT_NE(other.value("id"), first.value("id"));
    EXPECT_EQ(other.value("id").toString().size(), 32);
}

TEST_F(WebPaging, EntriesNameTheirOwnGotifyApplicationAndNoTokenReachesAnEvent) {
    UseWeb(mail::WebFormat::Gotify, "");
    pager = "Bob Baker (Pager)";
    s_web->Script({Answer(401, "Unauthorized", std::string("unknown token ") + kBobToken)});
    int left = 0;
    std::vector<std::string> events = Tick(left);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("refused the token: 401 Unauthorized (unknown token [token])."),
              std::string::npos)
        << events[0];
    EXPECT_EQ(events[0].find(kBobToken), std::string::npos) << events[0];
    events = Tick(left);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(left, 1);
    const std::vector<std::string> requests = s_web->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(Header(requests[1], "X-Gotify-Key"), kBobToken);
    EXPECT_EQ(requests[1].rfind("POST /message HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(Json(requests[1]).value("title").toString(), "Ann Archer");

    // An entry without a token of its own, in a profile without one, cannot be paged.
    pager = "Carl Cole (Pager)";
    list.ClearList();
    AddBudgetReview();
    events = Tick(left);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], std::string(kUnspecified) +
                             "  The pager entry's delivery address names no Gotify application "
                             "token (gotify:TOKEN) and the profile has none either.");
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(s_web->Requests().size(), 2u);
}

TEST_F(WebPaging, AnEntryThatIsNoTopicKeepsItsPageAndSaysWhy) {
    UseWeb(mail::WebFormat::Ntfy);
    pager = "Carl Cole (Pager)";
    int left = 0;
    const std::vector<std::string> events = Tick(left);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], std::string(kUnspecified) +
                             "  The pager entry's delivery address (its Deliver-To, else its "
                             "Address) is not an ntfy topic: 1 to 64 letters, digits, \"-\" and "
                             "\"_\".");
    EXPECT_EQ(events[0].find("5550103"), std::string::npos);
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_TRUE(s_web->Requests().empty());
}

TEST_F(WebPaging, EmailPagesCarryAMessageIdFromTheReminder) {
    pager = "Carl Cole (Pager)"; // an e-mail address
    mail::TransportConfig outbox;
    outbox.sender = "orvane@pages.example.org";
    const std::string id = [&] {
        ReminderStru r;
        r.PageTime = CTime(2026, 3, 2, 9, 0, 0);
        r.TimeKey = "1400";
        r.Text = "02:00-03:00 Budget review";
        return PageIdentity(mailbox, pager, r);
    }();
    // The right side is the sender's domain: the same from every machine of a cluster.
    auto expected = [&](const std::string& domain) {
        return "\r\nMessage-ID: <" + id + "@" + domain + ">\r\n";
    };
    const size_t smtpBefore = s_smtp->Messages().size();
    for (const mail::TransportConfig& transport : {outbox, SmtpTransport(s_smtp->Url())}) {
        mail.UseProfile("Paging", transport);
        // The same reminder twice (a crash before the record of pages sent was saved): the
        // receiver sees one Message-ID twice.
        for (int copy = 0; copy < 2; ++copy) {
            list.ClearList();
            AddBudgetReview();
            lastCheck = CTime();
            int left = 0;
            ASSERT_TRUE(Tick(left).empty());
            ASSERT_EQ(left, 1);
        }
    }
    const std::vector<std::string> files = mail.OutboxMessages();
    ASSERT_EQ(files.size(), 2u);
    const auto smtp = s_smtp->Messages();
    ASSERT_EQ(smtp.size(), smtpBefore + 2);
    for (const std::string& message : {files[0], files[1]})
        EXPECT_NE(message.find(expected("pages.example.org")), std::string::npos) << message;
    for (const std::string& message : {smtp[smtpBefore].data, smtp[smtpBefore + 1].data})
        EXPECT_NE(message.find(expected("example.org")), std::string::npos) << message;

    // A message that is no page of a reminder keeps a Message-ID of its own.
    CMAPI mapi;
    mapi.OpenMailServer();
    ASSERT_EQ(mapi.OpenMailSession(""), 1);
    ASSERT_EQ(mapi.SendMail(pager.c_str(), "", "a test page", 1), 1);
    mapi.CloseMailServer();
    ASSERT_EQ(s_smtp->Messages().size(), smtpBefore + 3);
    const std::string last = s_smtp->Messages().back().data;
    EXPECT_NE(last.find("\r\nMessage-ID: <"), std::string::npos);
    EXPECT_EQ(last.find(id), std::string::npos) << last;
}

TEST_F(WebPaging, TheLibraryReadsThePageFromSimpleMapisOwnFields) {
    UseWeb(mail::WebFormat::Json);
    void* library = dlopen(CMAPI::LibraryCandidates().front().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    auto logon = reinterpret_cast<LPMAPILOGON>(dlsym(library, "MAPILogon"));
    auto send = reinterpret_cast<LPMAPISENDMAIL>(dlsym(library, "MAPISendMail"));
    auto logoff = reinterpret_cast<LPMAPILOGOFF>(dlsym(library, "MAPILogoff"));
    ASSERT_TRUE(logon && send && logoff);
    LHANDLE session = 0;
    ASSERT_EQ(logon(0, nullptr, nullptr, 0, 0, &session), SUCCESS_SUCCESS);

    const std::string tooLong(65, 'a');
    const struct {
        const char* date;
        const char* conversation;
        const char* originator;
        ULONG result;
        const char* pageTime;     // expected in the request; null: not compared (the time sent)
        const char* reminderTime; // null: JSON null
    } rows[] = {
        {"2026-03-02T14:00:00Z/2026-03-02T14:01:00Z", "abc-DEF_123", "Zoë", SUCCESS_SUCCESS,
         "2026-03-02T09:00:00-05:00", "2026-03-02T09:01:00-05:00"},
        {"2026-03-02T14:00:00Z", "abc", nullptr, SUCCESS_SUCCESS, "2026-03-02T09:00:00-05:00",
         nullptr},
        {"2026/03/02 09:00", nullptr, nullptr, SUCCESS_SUCCESS, "2026-03-02T09:00:00-05:00",
         nullptr},
        {"next tuesday", nullptr, nullptr, SUCCESS_SUCCESS, nullptr, nullptr},
        {nullptr, "not an identity!", nullptr, MAPI_E_INVALID_MESSAGE, nullptr, nullptr},
        {nullptr, tooLong.c_str(), nullptr, MAPI_E_INVALID_MESSAGE, nullptr, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.date ? row.date : "no date");
        s_web->Reset();
        std::string name = kPager, text = "x", date = row.date ? row.date : "";
        std::string conversation = row.conversation ? row.conversation : "";
        std::string originatorName = row.originator ? row.originator : "";
        MapiRecipDesc recip = {};
        recip.ulRecipClass = MAPI_TO;
        recip.lpszName = name.data();
        MapiRecipDesc originator = {};
        originator.ulRecipClass = MAPI_ORIG;
        originator.lpszName = originatorName.data();
        MapiMessage message = {};
        message.lpszNoteText = text.data();
        message.nRecipCount = 1;
        message.lpRecips = &recip;
        message.lpszDateReceived = row.date ? date.data() : nullptr;
        message.lpszConversationID = row.conversation ? conversation.data() : nullptr;
        message.lpOriginator = row.originator ? &originator : nullptr;
        ASSERT_EQ(send(session, 0, &message, 0, 0), row.result);
        const std::vector<std::string> requests = s_web->Requests();
        ASSERT_EQ(requests.size(), row.result == SUCCESS_SUCCESS ? 1u : 0u);
        if (requests.empty())
            continue;
        const QJsonObject body = Json(requests[0]);
        if (row.pageTime) {
            EXPECT_EQ(body.value("page_time").toString().toStdString(), row.pageTime);
        }
        EXPECT_EQ(body.value("reminder_time").toString().toStdString(),
                  row.reminderTime ? row.reminderTime : "");
        EXPECT_EQ(body.value("reminder_time").isNull(), row.reminderTime == nullptr);
        if (row.originator) {
            EXPECT_EQ(body.value("user").toString().toStdString(), row.originator);
        }
        if (row.conversation) {
            EXPECT_EQ(body.value("id").toString().toStdString(), row.conversation);
        }
    }
    EXPECT_EQ(logoff(session, 0, 0, 0), SUCCESS_SUCCESS);
    dlclose(library);
}
