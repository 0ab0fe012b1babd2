// The multistatus reader and the request bodies, without a server: what real servers write, and
// answers that must be refused as damaged.
#include "mailsystem/caldav/DavAnswers.h"
#include "mailsystem/caldav/DavXml.h"

#include <gtest/gtest.h>

namespace {

using mail::dav::Multistatus;
using mail::dav::ParseMultistatus;

// A calendar home as Radicale lists it: DAV: as the default namespace, a 404 propstat for what
// the home itself lacks.
const char* const kRadicaleHome = R"(<?xml version='1.0' encoding='utf-8'?>
<multistatus xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav" xmlns:CS="http://calendarserver.org/ns/">
<response><href>/ann/</href><propstat><prop><resourcetype><principal /><collection /></resourcetype></prop><status>HTTP/1.1 200 OK</status></propstat>
<propstat><prop><CS:getctag /><sync-token /><C:supported-calendar-component-set /></prop><status>HTTP/1.1 404 Not Found</status></propstat></response>
<response><href>/ann/work/</href><propstat><prop><resourcetype><C:calendar /><collection /></resourcetype>
<displayname>Work</displayname><CS:getctag>"be1c"</CS:getctag><sync-token>http://radicale.org/ns/sync/d50f</sync-token>
<C:supported-calendar-component-set><C:comp name="VEVENT" /></C:supported-calendar-component-set></prop><status>HTTP/1.1 200 OK</status></propstat></response>
</multistatus>)";

// A sync-collection answer as Xandikos writes it: generated prefixes, calendar-data refused,
// a removed member, the new token last.
const char* const kXandikosSync =
    R"(<ns0:multistatus xmlns:ns0="DAV:" xmlns:ns1="urn:ietf:params:xml:ns:caldav">)"
    R"(<ns0:response><ns0:href>/ann/calendars/work/e1.ics</ns0:href>)"
    R"(<ns0:propstat><ns0:status>HTTP/1.1 200 OK</ns0:status><ns0:prop><ns0:getetag>"e7fc"</ns0:getetag></ns0:prop></ns0:propstat>)"
    R"(<ns0:propstat><ns0:status>HTTP/1.1 404 Not Found</ns0:status><ns0:prop><ns1:calendar-data /></ns0:prop></ns0:propstat></ns0:response>)"
    R"(<ns0:response><ns0:href>/ann/calendars/work/gone.ics</ns0:href><ns0:status>HTTP/1.1 404 Not Found</ns0:status></ns0:response>)"
    R"(<ns0:sync-token>1716</ns0:sync-token></ns0:multistatus>)";

TEST(Multistatus, ReadsWhatRadicaleAndXandikosWrite) {
    Multistatus m;
    std::string damage;
    ASSERT_TRUE(ParseMultistatus(kRadicaleHome, m, damage)) << damage;
    ASSERT_EQ(m.resources.size(), 2u);
    EXPECT_EQ(m.resources[0].href, "/ann/");
    EXPECT_TRUE(m.resources[0].collection);
    EXPECT_FALSE(m.resources[0].calendar);
    EXPECT_FALSE(m.resources[0].ctag) << "a property in a 404 propstat is absent";
    EXPECT_FALSE(m.resources[0].hasComponentSet);
    const auto& work = m.resources[1];
    EXPECT_TRUE(work.calendar);
    EXPECT_EQ(work.displayName, "Work");
    EXPECT_EQ(work.ctag, "\"be1c\"");
    EXPECT_EQ(work.syncToken, "http://radicale.org/ns/sync/d50f");
    EXPECT_TRUE(work.hasComponentSet);
    EXPECT_TRUE(work.events);
    EXPECT_FALSE(work.tasks);

    ASSERT_TRUE(ParseMultistatus(kXandikosSync, m, damage)) << damage;
    ASSERT_EQ(m.resources.size(), 2u);
    EXPECT_EQ(m.resources[0].etag, "\"e7fc\"");
    EXPECT_FALSE(m.resources[0].calendarData);
    EXPECT_EQ(m.resources[0].status, 0);
    EXPECT_EQ(m.resources[1].status, 404);
    EXPECT_EQ(m.resources[1].reason, "Not Found");
    EXPECT_EQ(m.syncToken, "1716");
}

// Xandikos answers a PROPFIND of a path it does not have with 207 and this inside: a failure of
// the home it names, however its href is spelt.
TEST(Multistatus, AStatusInsideNamesTheUrlItFailedFor) {
    using mail::dav::Names;
    Multistatus m;
    std::string damage;
    ASSERT_TRUE(ParseMultistatus(
        R"(<ns0:multistatus xmlns:ns0="DAV:"><ns0:response><ns0:href>http%3A//127.0.0.1%3A8080/)"
        R"(bob/calendars/</ns0:href><ns0:status>HTTP/1.1 404 Not Found</ns0:status></ns0:response>)"
        R"(</ns0:multistatus>)",
        m, damage))
        << damage;
    ASSERT_EQ(m.resources.size(), 1u);
    EXPECT_TRUE(mail::dav::Failed(m.resources[0]));
    const std::string home = "http://127.0.0.1:8080/bob/calendars/";
    const struct {
        const char* href;
        bool names;
    } rows[] = {
        {"http%3A//127.0.0.1%3A8080/bob/calendars/", true},
        {"/bob/calendars/", true},
        {"/bob/calendars", true},
        {"http://127.0.0.1:8080/bob/calendars/", true},
        {"/bob/calendars/work/", false},
        {"/ann/calendars/", false},
        {"http%3A//127.0.0.1%3A8081/bob/calendars/", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Names(home, row.href, home), row.names) << row.href;

    const struct {
        int status;
        bool failed;
        const char* words;
    } statuses[] = {
        {0, false, ""},
        {200, false, ""},
        {207, false, ""},
        {403, true, "the server refused access (HTTP 403 Forbidden)"},
        {404, true, "the collection was not found on the server (HTTP 404 Forbidden)"},
        {500, true, "the server answered HTTP 500 Forbidden"},
        {102, true, "the server answered HTTP 102 Forbidden"},
    };
    for (const auto& row : statuses) {
        mail::dav::Resource r;
        r.status = row.status;
        EXPECT_EQ(mail::dav::Failed(r), row.failed) << row.status;
        if (row.failed) {
            EXPECT_EQ(mail::dav::StatusInWords(row.status, "Forbidden", false), row.words);
        }
    }
}

TEST(Multistatus, KeepsCalendarDataAsSentAndSplitsResponsesWithSeveralHrefs) {
    const std::string ics = "BEGIN:VCALENDAR\nSUMMARY:a <b> & \"c\"\nEND:VCALENDAR\n";
    const std::string xml = "<m:multistatus xmlns:m=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:"
                            "caldav\"><m:response><m:href>/a.ics</m:href><m:propstat><m:prop>"
                            "<c:calendar-data><![CDATA[" +
                            ics +
                            "]]></c:calendar-data><m:getetag>\"1\"</m:getetag></m:prop><m:status>"
                            "HTTP/1.1 200 OK</m:status></m:propstat></m:response><m:response>"
                            "<m:href>/b.ics</m:href><m:href>/c.ics</m:href><m:status>HTTP/1.1 "
                            "404 Not Found</m:status></m:response></m:multistatus>";
    Multistatus m;
    std::string damage;
    ASSERT_TRUE(ParseMultistatus(xml, m, damage)) << damage;
    ASSERT_EQ(m.resources.size(), 3u);
    EXPECT_EQ(m.resources[0].calendarData, ics);
    EXPECT_EQ(m.resources[1].href, "/b.ics");
    EXPECT_EQ(m.resources[2].href, "/c.ics");
    EXPECT_EQ(m.resources[2].status, 404);
}

TEST(Multistatus, RefusesDamagedAnswersSayingWhereTheyBreak) {
    const struct {
        const char* name;
        std::string xml;
        const char* damage;
    } rows[] = {
        {"empty", "", "it is empty"},
        {"not XML", "HTTP error page", "it is not XML"},
        {"an HTML page", "<html><body>Login</body></html>", "not a WebDAV multistatus but <html>"},
        {"another namespace", "<multistatus xmlns=\"urn:x\"/>", "not a WebDAV multistatus"},
        {"cut short", std::string(kRadicaleHome).substr(0, 500), "Premature end of document"},
        {"mismatched tags",
         "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/a</D:response></D:multistatus>",
         "(line 1)"},
        {"a response without href",
         "<D:multistatus xmlns:D=\"DAV:\">\n<D:response><D:status>HTTP/1.1 200 "
         "OK</D:status></D:response></D:multistatus>",
         "a response without an href (line 2)"},
        {"text after the document", std::string(kXandikosSync) + "<extra/>", "line 1"},
        // Entities that expand a thousandfold each: the reader stops them.
        {"expanding entities",
         "<!DOCTYPE m [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
         "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;"
         "&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>\n<D:multistatus "
         "xmlns:D=\"DAV:\"><D:response><D:href>&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;</D:href>"
         "</D:response></D:multistatus>",
         "line 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Multistatus m;
        m.syncToken = "stale";
        std::string damage;
        EXPECT_FALSE(ParseMultistatus(row.xml, m, damage));
        EXPECT_NE(damage.find(row.damage), std::string::npos) << damage;
        EXPECT_TRUE(m.resources.empty());
        EXPECT_EQ(m.syncToken, "");
    }
}

TEST(RequestBodies, AskForWhatTheScanNeedsAndEscapeWhatTheServerGave) {
    using mail::dav::CalendarQueryBody;
    using mail::dav::Component;
    // Every event and every task: no range, so that no server's own reading of recurrences can
    // leave out a series begun long ago, or a task due far ahead that reminds tomorrow.
    const std::string events = CalendarQueryBody(Component::Events, true);
    EXPECT_NE(events.find("<C:comp-filter name=\"VCALENDAR\"><C:comp-filter name=\"VEVENT\"/>"
                          "</C:comp-filter>"),
              std::string::npos)
        << events;
    EXPECT_NE(events.find("<D:prop><D:getetag/><C:calendar-data/></D:prop>"), std::string::npos);
    const std::string etags = CalendarQueryBody(Component::Tasks, false);
    EXPECT_NE(etags.find("<C:comp-filter name=\"VTODO\"/>"), std::string::npos);
    EXPECT_NE(etags.find("<D:prop><D:getetag/></D:prop>"), std::string::npos) << etags;

    EXPECT_NE(mail::dav::SyncCollectionBody("http://x/sync?a=1&b=<2>")
                  .find("<D:sync-token>http://x/sync?a=1&amp;b=&lt;2&gt;</D:sync-token>"),
              std::string::npos);
    const std::string multiget = mail::dav::MultigetBody({"/a/b&c.ics", "/a/d.ics"});
    EXPECT_NE(multiget.find("<D:href>/a/b&amp;c.ics</D:href><D:href>/a/d.ics</D:href>"),
              std::string::npos)
        << multiget;
    // Every body is a well-formed document the reader itself would take.
    EXPECT_EQ(mail::dav::HomePropfindBody(false).find("sync-token"), std::string::npos);
    EXPECT_NE(mail::dav::HomePropfindBody(true).find("<D:sync-token/>"), std::string::npos);
    for (const std::string& body : {events, etags, multiget, mail::dav::HomePropfindBody(true),
                                    mail::dav::SyncCollectionBody("")}) {
        Multistatus m;
        std::string damage;
        ParseMultistatus(body, m, damage);
        EXPECT_NE(damage.find("not a WebDAV multistatus"), std::string::npos) << damage;
    }
}

} // namespace
