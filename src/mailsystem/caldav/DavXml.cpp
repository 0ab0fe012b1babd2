// CalDAV's XML, read with Qt's streaming reader: namespace-aware, no external entities, no
// network, bounded entity expansion, and no tree built for answers of many megabytes.
#include "mailsystem/caldav/DavXml.h"

#include <QXmlStreamReader>
#include <algorithm>

namespace mail::dav {
namespace {

const QString kDav = QStringLiteral("DAV:");
const QString kCalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");
const QString kCalendarServer = QStringLiteral("http://calendarserver.org/ns/");

bool Is(const QXmlStreamReader& xml, const QString& ns, const char* name) {
    return xml.namespaceUri() == ns && xml.name() == QLatin1StringView(name);
}

std::string Text(QXmlStreamReader& xml) {
    return xml.readElementText().trimmed().toStdString();
}

// "HTTP/1.1 404 Not Found" -> 404 (and "Not Found" in `reason`, when given); 0 when there is
// no code.
int StatusCode(const QString& line, std::string* reason = nullptr) {
    const QStringList words = line.simplified().split(' ');
    if (words.size() < 2)
        return 0;
    bool ok = false;
    const int code = words[1].toInt(&ok);
    if (ok && reason)
        *reason = words.mid(2).join(' ').toStdString();
    return ok ? code : 0;
}

std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\r': // a reader turns a raw CR into a line feed
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void ReadProperties(QXmlStreamReader& xml, Resource& r) {
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "resourcetype")) {
            while (xml.readNextStartElement()) {
                if (Is(xml, kDav, "collection"))
                    r.collection = true;
                else if (Is(xml, kCalDav, "calendar"))
                    r.calendar = true;
                xml.skipCurrentElement();
            }
        } else if (Is(xml, kCalDav, "supported-calendar-component-set")) {
            r.hasComponentSet = true;
            while (xml.readNextStartElement()) {
                if (Is(xml, kCalDav, "comp")) {
                    const QString name = xml.attributes().value("name").toString().toUpper();
                    r.events = r.events || name == "VEVENT";
                    r.tasks = r.tasks || name == "VTODO";
                }
                xml.skipCurrentElement();
            }
        } else if (Is(xml, kDav, "getetag")) {
            r.etag = Text(xml);
        } else if (Is(xml, kCalendarServer, "getctag")) {
            r.ctag = Text(xml);
        } else if (Is(xml, kDav, "sync-token")) {
            r.syncToken = Text(xml);
        } else if (Is(xml, kDav, "displayname")) {
            r.displayName = Text(xml);
        } else if (Is(xml, kCalDav, "calendar-data")) {
            r.calendarData = xml.readElementText().toStdString();
        } else {
            xml.skipCurrentElement();
        }
    }
}

// A propstat's properties count only when its status is 200.
void ReadPropstat(QXmlStreamReader& xml, Resource& r) {
    Resource found;
    int status = 0;
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "prop"))
            ReadProperties(xml, found);
        else if (Is(xml, kDav, "status"))
            status = StatusCode(xml.readElementText());
        else
            xml.skipCurrentElement();
    }
    if (status != 200)
        return;
    r.collection = r.collection || found.collection;
    r.calendar = r.calendar || found.calendar;
    if (found.hasComponentSet) {
        r.hasComponentSet = true;
        r.events = found.events;
        r.tasks = found.tasks;
    }
    for (auto member : {&Resource::etag, &Resource::ctag, &Resource::syncToken,
                        &Resource::displayName, &Resource::calendarData}) {
        if (found.*member)
            r.*member = std::move(found.*member);
    }
}

// One <response>; a response with several hrefs (allowed with a status of its own) gives one
// resource per href.
void ReadResponse(QXmlStreamReader& xml, std::vector<Resource>& out) {
    Resource r;
    std::vector<std::string> hrefs;
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "href"))
            hrefs.push_back(Text(xml));
        else if (Is(xml, kDav, "status"))
            r.status = StatusCode(xml.readElementText(), &r.reason);
        else if (Is(xml, kDav, "propstat"))
            ReadPropstat(xml, r);
        else
            xml.skipCurrentElement();
    }
    if (xml.hasError())
        return;
    if (hrefs.empty() ||
        std::any_of(hrefs.begin(), hrefs.end(), [](const std::string& h) { return h.empty(); })) {
        xml.raiseError(QStringLiteral("a response without an href"));
        return;
    }
    for (std::string& href : hrefs) {
        out.push_back(r);
        out.back().href = std::move(href);
    }
}

const char* const kHeader = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
const char* const kNamespaces = " xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\""
                                " xmlns:CS=\"http://calendarserver.org/ns/\"";

} // namespace

bool ParseMultistatus(std::string_view text, Multistatus& out, std::string& damage) {
    out = Multistatus();
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        damage = "it is empty";
        return false;
    }
    QXmlStreamReader xml(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())));
    if (!xml.readNextStartElement()) {
        damage = xml.hasError() ? "it is not XML: " + xml.errorString().toStdString() + " (line " +
                                      std::to_string(xml.lineNumber()) + ")"
                                : "it is empty";
        return false;
    }
    if (!Is(xml, kDav, "multistatus")) {
        damage = "it is not a WebDAV multistatus but <" + xml.name().toString().toStdString() + ">";
        return false;
    }
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "response"))
            ReadResponse(xml, out.resources);
        else if (Is(xml, kDav, "sync-token"))
            out.syncToken = Text(xml);
        else
            xml.skipCurrentElement();
    }
    // Anything after the root element other than comments and blanks is an error too.
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    if (xml.hasError()) {
        damage =
            xml.errorString().toStdString() + " (line " + std::to_string(xml.lineNumber()) + ")";
        out = Multistatus();
        return false;
    }
    return true;
}

std::string HomePropfindBody(bool syncToken) {
    return std::string(kHeader) + "<D:propfind" + kNamespaces +
           "><D:prop><D:resourcetype/><D:displayname/><CS:getctag/>" +
           (syncToken ? "<D:sync-token/>" : "") +
           "<C:supported-calendar-component-set/></D:prop></D:propfind>\n";
}

std::string CalendarQueryBody(Component component, bool data) {
    return std::string(kHeader) + "<C:calendar-query" + kNamespaces + "><D:prop><D:getetag/>" +
           (data ? "<C:calendar-data/>" : "") +
           "</D:prop><C:filter><C:comp-filter name=\"VCALENDAR\"><C:comp-filter name=\"" +
           (component == Component::Events ? "VEVENT" : "VTODO") +
           "\"/></C:comp-filter></C:filter></C:calendar-query>\n";
}

std::string SyncCollectionBody(const std::string& token) {
    return std::string(kHeader) + "<D:sync-collection" + kNamespaces + "><D:sync-token>" +
           Escape(token) +
           "</D:sync-token><D:sync-level>1</D:sync-level><D:prop><D:getetag/><C:calendar-data/>"
           "</D:prop></D:sync-collection>\n";
}

std::string MultigetBody(const std::vector<std::string>& hrefs) {
    std::string body = std::string(kHeader) + "<C:calendar-multiget" + kNamespaces +
                       "><D:prop><D:getetag/><C:calendar-data/></D:prop>";
    for (const std::string& href : hrefs)
        body += "<D:href>" + Escape(href) + "</D:href>";
    return body + "</C:calendar-multiget>\n";
}

} // namespace mail::dav
