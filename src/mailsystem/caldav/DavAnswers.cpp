// Hrefs and statuses of a calendar server's answers.
#include "mailsystem/caldav/DavAnswers.h"

#include <QUrl>

namespace mail::dav {
namespace {

std::string HttpStatus(long status, const std::string& reason) {
    return "HTTP " + std::to_string(status) + (reason.empty() ? "" : " " + reason);
}

} // namespace

std::string Absolute(const std::string& base, const std::string& href) {
    const QUrl resolved = QUrl(QString::fromStdString(base))
                              .resolved(QUrl(QString::fromStdString(href), QUrl::TolerantMode));
    return resolved.toString(QUrl::FullyEncoded).toStdString();
}

std::string PathOf(const std::string& url) {
    return QUrl(QString::fromStdString(url)).path(QUrl::FullyEncoded).toStdString();
}

bool Names(const std::string& base, const std::string& href, const std::string& url) {
    const auto bare = [](std::string u) {
        while (!u.empty() && u.back() == '/')
            u.pop_back();
        return u;
    };
    const std::string decoded =
        QUrl::fromPercentEncoding(QByteArray::fromStdString(href)).toStdString();
    return bare(Absolute(base, href)) == bare(url) || bare(Absolute(base, decoded)) == bare(url);
}

bool Failed(const Resource& r) {
    return r.status != 0 && (r.status < 200 || r.status > 299);
}

std::string StatusInWords(long status, const std::string& reason, bool hasUser) {
    const std::string code = HttpStatus(status, reason);
    switch (status) {
    case 401:
        return hasUser ? "the server refused the user name and password (" + code + ")"
                       : "the server asks for a user name and password, and the profile gives "
                         "none (" +
                             code + ")";
    case 403:
        return "the server refused access (" + code + ")";
    case 404:
        return "the collection was not found on the server (" + code + ")";
    default:
        if (status >= 200 && status < 300)
            return "the server's answer is not a WebDAV multistatus (" + code +
                   "); is this the address of a CalDAV collection?";
        return "the server answered " + code;
    }
}

} // namespace mail::dav
