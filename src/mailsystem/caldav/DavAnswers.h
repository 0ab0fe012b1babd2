// What a calendar server's answers say about each URL: hrefs resolved in one spelling, and
// statuses, of an answer or inside a multistatus, in words for the event log.
#pragma once

#include "mailsystem/caldav/DavXml.h"

#include <string>

namespace mail::dav {

// `href` resolved against `base`, in one spelling for every answer, so that the hrefs of
// different reports name the same item alike.
std::string Absolute(const std::string& base, const std::string& href);

// The path of an absolute URL, as the hrefs of a multiget give it.
std::string PathOf(const std::string& url);

// Whether `href`, resolved against `base`, names `url` (a trailing slash aside). Xandikos writes
// the href of a path it does not have as a percent-encoded absolute URL
// ("http%3A//127.0.0.1%3A8080/ann/"), so the href is also read decoded.
bool Names(const std::string& base, const std::string& href, const std::string& url);

// A response inside a multistatus whose own status says that it failed (none given: it did not).
bool Failed(const Resource& r);

// An answer that is not the multistatus asked for, or a status inside one, in words
// ("the server refused access (HTTP 403 Forbidden)"). `hasUser`: the profile gives a user name.
std::string StatusInWords(long status, const std::string& reason, bool hasUser);

} // namespace mail::dav
