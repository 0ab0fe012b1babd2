// A calendar server's multistatus answers: the same answer read twice alike, a refused answer
// that keeps nothing and says where, and what was read sent back in Orvane's own requests (the
// hrefs of a multiget, a sync token) reading back exactly as it was.
#include "FuzzCheck.h"
#include "mailsystem/caldav/DavXml.h"

#include <QXmlStreamReader>

namespace {

bool Same(const mail::dav::Resource& a, const mail::dav::Resource& b) {
    return a.href == b.href && a.status == b.status && a.collection == b.collection &&
           a.calendar == b.calendar && a.hasComponentSet == b.hasComponentSet &&
           a.events == b.events && a.tasks == b.tasks && a.etag == b.etag && a.ctag == b.ctag &&
           a.syncToken == b.syncToken && a.displayName == b.displayName &&
           a.calendarData == b.calendarData;
}

// The texts of every element named `name` in the DAV: namespace of a request body; false when
// the body is not well-formed.
bool TextsOf(const std::string& body, const char* name, std::vector<std::string>& texts) {
    QXmlStreamReader xml(QByteArray::fromStdString(body));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.namespaceUri() == QLatin1StringView("DAV:") &&
            xml.name() == QLatin1StringView(name))
            texts.push_back(xml.readElementText().toStdString());
    }
    return !xml.hasError();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    mail::dav::Multistatus first, second;
    std::string damage, damageAgain;
    const bool ok = mail::dav::ParseMultistatus(text, first, damage);
    FUZZ_CHECK(mail::dav::ParseMultistatus(text, second, damageAgain) == ok &&
                   damage == damageAgain && first.syncToken == second.syncToken &&
                   first.resources.size() == second.resources.size(),
               "the same answer read twice differs");
    for (size_t i = 0; i < first.resources.size(); ++i)
        FUZZ_CHECK(Same(first.resources[i], second.resources[i]),
                   "the same answer read twice differs");
    if (!ok) {
        FUZZ_CHECK(first.resources.empty() && first.syncToken.empty() && !damage.empty(),
                   "a refused answer keeps what it read or says nothing");
        return 0;
    }

    std::vector<std::string> hrefs;
    for (const mail::dav::Resource& r : first.resources) {
        FUZZ_CHECK(!r.href.empty(), "a response without an href was read");
        FUZZ_CHECK(r.hasComponentSet || (!r.events && !r.tasks),
                   "components without a component set");
        hrefs.push_back(r.href);
    }
    std::vector<std::string> sent;
    FUZZ_CHECK(TextsOf(mail::dav::MultigetBody(hrefs), "href", sent),
               "a multiget of the hrefs read is not well-formed");
    FUZZ_CHECK(sent == hrefs, "a multiget names other hrefs than those read");
    std::vector<std::string> tokens;
    FUZZ_CHECK(TextsOf(mail::dav::SyncCollectionBody(first.syncToken), "sync-token", tokens),
               "a sync report from the token read is not well-formed");
    FUZZ_CHECK(tokens.size() == 1 && tokens[0] == first.syncToken,
               "a sync report sends another token than the one read");
    return 0;
}
