// The profiles file: an INI-like text that a person can read and edit (docs/mailsystem.md).
#include "mailsystem/Profiles.h"

#include "core/FileStamp.h"
#include "core/FileSystem.h"
#include "core/Text.h"

#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

namespace mail {
namespace {

constexpr size_t kMaxFileSize = 1u << 20;

const char* const kKeyDefault = "default";
const char* const kKeyMailSystem = "mail-system";
const char* const kKeyTransport = "transport";
const char* const kKeyStartTls = "starttls";
const char* const kKeyUser = "user";
const char* const kKeyPassword = "password";
const char* const kKeySender = "sender";
// A web transport's request format, token and permission to use plain http:// off loopback.
const char* const kKeyTransportFormat = "transport-format";
const char* const kKeyTransportToken = "transport-token";
const char* const kKeyTransportInsecure = "transport-insecure";
// The directory that the address list comes from (Directory.h); none: address-list.txt.
const char* const kKeyDirectory = "directory";
const char* const kKeyDirectoryUser = "directory-user";
const char* const kKeyDirectoryPassword = "directory-password";
const char* const kKeyDirectoryFilter = "directory-filter";
const char* const kKeyDirectoryMap = "directory-map";
const char* const kKeyDirectoryStartTls = "directory-starttls";
const char* const kKeyCalendars = "calendars";
const char* const kKeyCalendarUser = "calendar-user";
const char* const kKeyCalendarPassword = "calendar-password";
// The Sieve server that out-of-office states come from; none: the mailbox folders' files.
const char* const kKeyOutOfOffice = "out-of-office";
const char* const kKeyOutOfOfficeUser = "out-of-office-user";
const char* const kKeyOutOfOfficePassword = "out-of-office-password";
const char* const kKeyOutOfOfficeStartTls = "out-of-office-starttls";
const char* const kKeyOutOfOfficeLogin = "out-of-office-login";
const char* const kKeyOutOfOfficeZone = "out-of-office-zone";

// A value as written to the file: bare when it reads back unchanged, else in double quotes
// with backslash escapes.
std::string Quote(const std::string& value) {
    const bool bare = !value.empty() && !HasControlCharacter(value) && value.front() != '"' &&
                      value.front() != ' ' && value.back() != ' ' && value.front() != '\t' &&
                      value.back() != '\t';
    if (bare)
        return value;
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : value) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// Reads a value written by Quote (or typed bare). False with `why` when a quoted value is
// broken.
bool Unquote(std::string_view text, std::string& value, std::string& why) {
    value.clear();
    if (text.empty() || text.front() != '"') {
        value.assign(text);
        return true;
    }
    size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
            value += text[i];
            continue;
        }
        if (++i >= text.size())
            break;
        switch (text[i]) {
        case 'n':
            value += '\n';
            break;
        case 't':
            value += '\t';
            break;
        case 'r':
            value += '\r';
            break;
        case '"':
            value += '"';
            break;
        case '\\':
            value += '\\';
            break;
        case 'x': {
            auto digit = [](char c) {
                return c >= '0' && c <= '9'   ? c - '0'
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
            };
            if (i + 2 >= text.size() || digit(text[i + 1]) < 0 || digit(text[i + 2]) < 0) {
                why = "a \\x escape needs two hexadecimal digits";
                return false;
            }
            value += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
            i += 2;
            break;
        }
        default:
            why = std::string("unknown escape \\") + text[i];
            return false;
        }
    }
    if (i >= text.size()) {
        why = "the quoted value has no closing \"";
        return false;
    }
    if (!TrimBlanks(text.substr(i + 1)).empty()) {
        why = "text follows the closing \" of the value";
        return false;
    }
    return true;
}

bool ParseYesNo(const std::string& text, bool& value) {
    if (strcasecmp(text.c_str(), "yes") == 0 || strcasecmp(text.c_str(), "true") == 0) {
        value = true;
        return true;
    }
    if (strcasecmp(text.c_str(), "no") == 0 || strcasecmp(text.c_str(), "false") == 0) {
        value = false;
        return true;
    }
    return false;
}

// The profile's directory lines; none for a profile that reads address-list.txt.
std::string DirectorySettings(const LdapConfig& d) {
    if (d.url.empty())
        return {};
    std::string text = std::string(kKeyDirectory) + " = " + Quote(d.url) + "\n";
    if (!d.user.empty())
        text += std::string(kKeyDirectoryUser) + " = " + Quote(d.user) + "\n";
    if (!d.password.empty())
        text += std::string(kKeyDirectoryPassword) + " = " + Quote(d.password) + "\n";
    if (!d.filter.empty())
        text += std::string(kKeyDirectoryFilter) + " = " + Quote(d.filter) + "\n";
    if (!d.map.empty())
        text += std::string(kKeyDirectoryMap) + " = " + Quote(d.map) + "\n";
    if (!d.startTls)
        text += std::string(kKeyDirectoryStartTls) + " = no\n";
    return text;
}

// The profile's out-of-office server lines; none for a profile that reads the files.
std::string OutOfOfficeSettings(const sieve::SieveConfig& o) {
    if (o.url.empty())
        return {};
    std::string text = std::string(kKeyOutOfOffice) + " = " + Quote(o.url) + "\n";
    if (!o.user.empty())
        text += std::string(kKeyOutOfOfficeUser) + " = " + Quote(o.user) + "\n";
    if (!o.password.empty())
        text += std::string(kKeyOutOfOfficePassword) + " = " + Quote(o.password) + "\n";
    if (!o.startTls)
        text += std::string(kKeyOutOfOfficeStartTls) + " = no\n";
    if (!o.login.empty())
        text += std::string(kKeyOutOfOfficeLogin) + " = " + Quote(o.login) + "\n";
    if (!o.zone.empty())
        text += std::string(kKeyOutOfOfficeZone) + " = " + Quote(o.zone) + "\n";
    return text;
}

} // namespace

std::string CheckProfileName(const std::string& name) {
    if (name.empty())
        return "A profile name may not be empty.";
    if (name.size() > 200)
        return "A profile name holds at most 200 bytes.";
    if (HasControlCharacter(name) || name.find_first_of("[]") != std::string::npos)
        return "A profile name may not hold control characters, \"[\" or \"]\".";
    if (name.front() == ' ' || name.back() == ' ' || name.front() == '\t' || name.back() == '\t')
        return "A profile name may not begin or end with a blank.";
    return {};
}

std::string Profiles::FilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
           "/Quorvik/Orvane-profiles.conf";
}

bool Profiles::Load(std::string& error) {
    m_profiles.clear();
    m_default.clear();
    const std::string path = FilePath();
    std::string text;
    FileStamp stamp;
    int readError = 0;
    switch (ReadWholeFile(path, kMaxFileSize, text, stamp, readError)) {
    case ReadStatus::Missing:
        return true;
    case ReadStatus::Failed:
        error = "The profiles file " + path + " cannot be read: " +
                (readError == EFBIG ? std::string("it is larger than 1 MiB")
                                    : std::strerror(readError)) +
                ".";
        return false;
    case ReadStatus::Ok:
        break;
    }
    return Parse(text, path, error);
}

bool Profiles::Parse(std::string_view text, const std::string& path, std::string& error) {
    m_profiles.clear();
    m_default.clear();
    std::vector<Profile> profiles;
    std::string defaultName;
    size_t defaultLine = 0;
    std::vector<size_t> sectionLines;
    struct Seen {
        bool mailSystem = false, transport = false, startTls = false, user = false,
             password = false, sender = false;
        bool transportFormat = false, transportToken = false, transportInsecure = false;
        bool directory = false, directoryUser = false, directoryPassword = false,
             directoryFilter = false, directoryMap = false, directoryStartTls = false;
        bool calendars = false, calendarUser = false, calendarPassword = false;
        bool outOfOffice = false, outOfOfficeUser = false, outOfOfficePassword = false,
             outOfOfficeStartTls = false, outOfOfficeLogin = false, outOfOfficeZone = false;
    };
    std::vector<Seen> seen;
    bool seenDefault = false;
    const auto fail = [&](size_t line, const std::string& what) {
        error = path + ", line " + std::to_string(line) + ": " + what + ".";
        return false;
    };

    size_t lineNumber = 0, pos = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        pos = 3;
    while (pos < text.size()) {
        size_t stop = text.find('\n', pos);
        if (stop == std::string_view::npos)
            stop = text.size();
        const std::string_view line = TrimBlanks(text.substr(pos, stop - pos));
        pos = stop + 1;
        ++lineNumber;
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']')
                return fail(lineNumber, "a section line must end with \"]\"");
            Profile profile;
            profile.name = std::string(line.substr(1, line.size() - 2));
            const std::string why = CheckProfileName(profile.name);
            if (!why.empty())
                return fail(lineNumber, why.substr(0, why.size() - 1));
            for (size_t i = 0; i < profiles.size(); ++i) {
                if (profiles[i].name == profile.name)
                    return fail(lineNumber, "a second section for the profile \"" + profile.name +
                                                "\" (the first is on line " +
                                                std::to_string(sectionLines[i]) + ")");
            }
            profiles.push_back(std::move(profile));
            sectionLines.push_back(lineNumber);
            seen.emplace_back();
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return fail(lineNumber, "expected \"name = value\" or \"[profile name]\"");
        const std::string key(TrimBlanks(line.substr(0, equals)));
        std::string value, why;
        if (!Unquote(TrimBlanks(line.substr(equals + 1)), value, why))
            return fail(lineNumber, why);
        if (profiles.empty()) {
            if (key != kKeyDefault)
                return fail(lineNumber, "\"" + key +
                                            "\" must belong to a [profile] section; only "
                                            "\"default\" comes before them");
            if (seenDefault)
                return fail(lineNumber, "a second \"default\" line");
            seenDefault = true;
            defaultName = value;
            defaultLine = lineNumber;
            continue;
        }
        Profile& profile = profiles.back();
        Seen& s = seen.back();
        bool* flag = nullptr;
        if (key == kKeyMailSystem) {
            flag = &s.mailSystem;
            profile.mailSystem = value;
        } else if (key == kKeyTransport) {
            flag = &s.transport;
            profile.transport.kind = TransportKindOf(value);
            if (profile.transport.kind == TransportConfig::Kind::Outbox)
                profile.transport.url.clear();
            else
                profile.transport.url = value;
        } else if (key == kKeyStartTls) {
            flag = &s.startTls;
            if (!ParseYesNo(value, profile.transport.startTls))
                return fail(lineNumber, "\"starttls\" takes yes or no, not \"" + value + "\"");
        } else if (key == kKeyTransportFormat) {
            flag = &s.transportFormat;
            if (!ParseWebFormat(value, profile.transport.format))
                return fail(lineNumber, "\"transport-format\" takes json, ntfy or gotify, not \"" +
                                            value + "\"");
        } else if (key == kKeyTransportToken) {
            flag = &s.transportToken;
            profile.transport.token = value;
        } else if (key == kKeyTransportInsecure) {
            flag = &s.transportInsecure;
            if (!ParseYesNo(value, profile.transport.insecure))
                return fail(lineNumber,
                            "\"transport-insecure\" takes yes or no, not \"" + value + "\"");
        } else if (key == kKeyUser) {
            flag = &s.user;
            profile.transport.user = value;
        } else if (key == kKeyPassword) {
            flag = &s.password;
            profile.transport.password = value;
        } else if (key == kKeySender) {
            flag = &s.sender;
            profile.transport.sender = value;
        } else if (key == kKeyDirectory) {
            flag = &s.directory;
            profile.ldap.url = value;
        } else if (key == kKeyDirectoryUser) {
            flag = &s.directoryUser;
            profile.ldap.user = value;
        } else if (key == kKeyDirectoryPassword) {
            flag = &s.directoryPassword;
            profile.ldap.password = value;
        } else if (key == kKeyDirectoryFilter) {
            flag = &s.directoryFilter;
            profile.ldap.filter = value;
        } else if (key == kKeyDirectoryMap) {
            flag = &s.directoryMap;
            profile.ldap.map = value;
        } else if (key == kKeyDirectoryStartTls) {
            flag = &s.directoryStartTls;
            if (!ParseYesNo(value, profile.ldap.startTls))
                return fail(lineNumber,
                            "\"directory-starttls\" takes yes or no, not \"" + value + "\"");
        } else if (key == kKeyCalendars) {
            flag = &s.calendars;
            profile.calendars.urlTemplate = value;
        } else if (key == kKeyCalendarUser) {
            flag = &s.calendarUser;
            profile.calendars.user = value;
        } else if (key == kKeyCalendarPassword) {
            flag = &s.calendarPassword;
            profile.calendars.password = value;
        } else if (key == kKeyOutOfOffice) {
            flag = &s.outOfOffice;
            profile.outOfOffice.url = value;
        } else if (key == kKeyOutOfOfficeUser) {
            flag = &s.outOfOfficeUser;
            profile.outOfOffice.user = value;
        } else if (key == kKeyOutOfOfficePassword) {
            flag = &s.outOfOfficePassword;
            profile.outOfOffice.password = value;
        } else if (key == kKeyOutOfOfficeStartTls) {
            flag = &s.outOfOfficeStartTls;
            if (!ParseYesNo(value, profile.outOfOffice.startTls))
                return fail(lineNumber,
                            "\"out-of-office-starttls\" takes yes or no, not \"" + value + "\"");
        } else if (key == kKeyOutOfOfficeLogin) {
            flag = &s.outOfOfficeLogin;
            profile.outOfOffice.login = value;
        } else if (key == kKeyOutOfOfficeZone) {
            flag = &s.outOfOfficeZone;
            profile.outOfOffice.zone = value;
        } else {
            return fail(lineNumber, "unknown setting \"" + key +
                                        "\" (the settings are mail-system, transport, "
                                        "transport-format, transport-token, transport-insecure, "
                                        "starttls, user, password, sender, directory, "
                                        "directory-user, directory-password, directory-filter, "
                                        "directory-map, directory-starttls, calendars, "
                                        "calendar-user, calendar-password, out-of-office, "
                                        "out-of-office-user, out-of-office-password, "
                                        "out-of-office-starttls, out-of-office-login and "
                                        "out-of-office-zone)");
        }
        if (*flag)
            return fail(lineNumber,
                        "a second \"" + key + "\" line in the profile \"" + profile.name + "\"");
        *flag = true;
    }
    for (size_t i = 0; i < profiles.size(); ++i) {
        if (profiles[i].mailSystem.empty())
            return fail(sectionLines[i],
                        "the profile \"" + profiles[i].name + "\" names no mail-system directory");
        std::string why = CheckTransport(profiles[i].transport);
        if (why.empty())
            why = CheckLdap(profiles[i].ldap);
        if (why.empty())
            why = CheckCalendarServer(profiles[i].calendars);
        if (why.empty())
            why = sieve::CheckSieveConfig(profiles[i].outOfOffice);
        if (!why.empty())
            return fail(sectionLines[i], "in the profile \"" + profiles[i].name +
                                             "\": " + why.substr(0, why.size() - 1));
    }
    if (seenDefault && !defaultName.empty() &&
        std::none_of(profiles.begin(), profiles.end(),
                     [&](const Profile& p) { return p.name == defaultName; }))
        return fail(defaultLine, "the default profile \"" + defaultName + "\" has no section");
    m_profiles = std::move(profiles);
    m_default = defaultName;
    return true;
}

bool Profiles::Format(std::string& text, std::string& error) const {
    text = "# Orvane mail profiles, written by \"orvane profile\". A profile names a mail system\n"
           "# directory and how pages leave it: transport = outbox, or an smtp:// or smtps:// URL\n"
           "# with starttls, user, password and sender, or a web service's https:// URL with\n"
           "# transport-format, transport-token and transport-insecure; calendars = a CalDAV\n"
           "# URL template reads the calendars from a server, with calendar-user and\n"
           "# calendar-password; out-of-office = sieve://HOST[:PORT] reads the out-of-office\n"
           "# states from a Sieve server, with out-of-office-user and out-of-office-password.\n"
           "# This file may hold passwords and tokens: keep it readable by its owner only.\n";
    if (!m_default.empty())
        text += std::string(kKeyDefault) + " = " + Quote(m_default) + "\n";
    for (const Profile& p : m_profiles) {
        std::string why = CheckProfileName(p.name);
        if (why.empty() && p.mailSystem.empty())
            why = "It names no mail system directory.";
        if (why.empty())
            why = CheckTransport(p.transport);
        if (why.empty())
            why = CheckLdap(p.ldap);
        if (why.empty())
            why = CheckCalendarServer(p.calendars);
        if (why.empty())
            why = sieve::CheckSieveConfig(p.outOfOffice);
        if (!why.empty()) {
            error = "The profile \"" + p.name + "\" cannot be saved: " + why;
            return false;
        }
        text += "\n[" + p.name + "]\n";
        text += std::string(kKeyMailSystem) + " = " + Quote(p.mailSystem) + "\n";
        text += std::string(kKeyTransport) + " = " +
                (p.transport.kind == TransportConfig::Kind::Outbox ? std::string("outbox")
                                                                   : Quote(p.transport.url)) +
                "\n";
        if (p.transport.kind == TransportConfig::Kind::Smtp && p.transport.startTls)
            text += std::string(kKeyStartTls) + " = yes\n";
        if (p.transport.kind == TransportConfig::Kind::Web) {
            text +=
                std::string(kKeyTransportFormat) + " = " + WebFormatName(p.transport.format) + "\n";
            if (!p.transport.token.empty())
                text += std::string(kKeyTransportToken) + " = " + Quote(p.transport.token) + "\n";
            if (p.transport.insecure)
                text += std::string(kKeyTransportInsecure) + " = yes\n";
        }
        if (!p.transport.user.empty())
            text += std::string(kKeyUser) + " = " + Quote(p.transport.user) + "\n";
        if (!p.transport.password.empty())
            text += std::string(kKeyPassword) + " = " + Quote(p.transport.password) + "\n";
        if (!p.transport.sender.empty())
            text += std::string(kKeySender) + " = " + Quote(p.transport.sender) + "\n";
        text += DirectorySettings(p.ldap);
        if (p.calendars.Used())
            text += std::string(kKeyCalendars) + " = " + Quote(p.calendars.urlTemplate) + "\n";
        if (!p.calendars.user.empty())
            text += std::string(kKeyCalendarUser) + " = " + Quote(p.calendars.user) + "\n";
        if (!p.calendars.password.empty())
            text += std::string(kKeyCalendarPassword) + " = " + Quote(p.calendars.password) + "\n";
        text += OutOfOfficeSettings(p.outOfOffice);
    }
    return true;
}

bool Profiles::Save(std::string& error) const {
    const std::string path = FilePath();
    std::string text;
    if (!Format(text, error))
        return false;

    const std::string directory = path.substr(0, path.rfind('/'));
    const std::string parent = directory.substr(0, directory.rfind('/'));
    mkdir(parent.c_str(), 0700);
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "The directory " + directory + " cannot be created: " + std::strerror(errno) + ".";
        return false;
    }
    // A save keeps the old file's mode: a file made readable by others is closed first, so the
    // passwords never land in a readable file.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0 && chmod(path.c_str(), 0600) != 0) {
        error = "The profiles file " + path +
                " is readable by others and its mode cannot be changed: " + std::strerror(errno) +
                ".";
        return false;
    }
    const SaveResult saved = SaveFileAtomically(path, text, 0600);
    if (!saved.ok()) {
        error = "The profiles file " + path + " cannot be written (" + saved.Describe() + ").";
        return false;
    }
    return true;
}

const Profile* Profiles::Find(const std::string& name) const {
    const std::string& wanted = name.empty() ? m_default : name;
    if (wanted.empty())
        return nullptr;
    for (const Profile& p : m_profiles) {
        if (p.name == wanted)
            return &p;
    }
    return nullptr;
}

void Profiles::Set(const Profile& profile) {
    for (Profile& p : m_profiles) {
        if (p.name == profile.name) {
            p = profile;
            return;
        }
    }
    if (m_profiles.empty())
        m_default = profile.name;
    m_profiles.push_back(profile);
}

bool Profiles::Remove(const std::string& name) {
    auto it = std::find_if(m_profiles.begin(), m_profiles.end(),
                           [&](const Profile& p) { return p.name == name; });
    if (it == m_profiles.end())
        return false;
    m_profiles.erase(it);
    if (m_default == name)
        m_default.clear();
    return true;
}

bool Profiles::SetDefault(const std::string& name) {
    if (std::none_of(m_profiles.begin(), m_profiles.end(),
                     [&](const Profile& p) { return p.name == name; }))
        return false;
    m_default = name;
    return true;
}

} // namespace mail
