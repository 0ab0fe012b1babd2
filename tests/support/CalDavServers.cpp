// Radicale, Xandikos, lighttpd and the scripted fault server as children of the test process.
#include "support/CalDavServers.h"

#include <QCryptographicHash>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace caldav_test {
namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

// Debian's Radicale and Xandikos are installed for the system interpreter, which may not be the
// first python3 on the PATH; their scripts name it themselves.
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kReaderUser = "orvane";
constexpr const char* kReaderPassword = "reader s3cret";
constexpr const char* kAdminUser = "admin";
constexpr const char* kAdminPassword = "admin s3cret";
constexpr const char* kDigestRealm = "Orvane test";

std::vector<char*> Argv(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// lighttpd's htdigest file holds MD5(user:realm:password) in hexadecimal.
std::string Md5Hex(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

std::string Unfolded(const std::vector<std::string>& lines, size_t i) {
    std::string value = lines[i];
    while (i + 1 < lines.size() && !lines[i + 1].empty() &&
           (lines[i + 1][0] == ' ' || lines[i + 1][0] == '\t'))
        value += lines[++i].substr(1);
    return value;
}

} // namespace

bool ChildProcess::Start(const std::vector<std::string>& args, const std::string& logFile) {
    std::vector<char*> argv = Argv(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        ADD_FAILURE() << "cannot start " << args[0] << ": " << std::strerror(rc);
        return false;
    }
    return true;
}

bool ChildProcess::Running() {
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void ChildProcess::Stop() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

bool WaitForPort(int port, ChildProcess& child) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (const int fd = testing_support::ConnectLoopback(port); fd >= 0) {
            close(fd);
            return true;
        }
        if (!child.Running())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::Radicale:
        return "Radicale";
    case Kind::Xandikos:
        return "Xandikos";
    case Kind::XandikosDigest:
        return "XandikosDigest";
    }
    return "?";
}

DavServer::DavServer(Kind kind, const Options& options) : m_kind(kind) {
    const std::string log = m_dir.File("server.log");
    // A port found free can be taken by another test's connection before the server binds it:
    // the server then ends at once, and is started again on another port.
    int port = 0;
    for (int attempt = 1;; ++attempt) {
        port = testing_support::FreePort();
        if (kind == Kind::Radicale) {
            WriteFile(m_dir.File("users"), std::string(kReaderUser) + ":" + kReaderPassword + "\n" +
                                               kAdminUser + ":" + kAdminPassword + "\n");
            // The administrator writes everything; Orvane's account reads every calendar (and owns
            // its own principal, as docs/calendar-servers.md has it).
            WriteFile(m_dir.File("rights"),
                      std::string("[admin]\nuser: ") + kAdminUser +
                          "\ncollection: .*\npermissions: RrWw\n\n[owner]\nuser: .+\ncollection: "
                          "{user}(/.*)?\npermissions: RrWw\n\n[orvane]\nuser: " +
                          kReaderUser + "\ncollection: .*\npermissions: Rr\n");
            std::string config = "[server]\nhosts = 127.0.0.1:" + std::to_string(port) + "\n";
            if (!options.certFile.empty()) {
                config += "ssl = True\ncertificate = " + options.certFile +
                          "\nkey = " + options.keyFile + "\n";
                m_scheme = "https";
                m_caFile = options.certFile;
            }
            config +=
                "[auth]\ntype = htpasswd\nhtpasswd_filename = " + m_dir.File("users") +
                "\nhtpasswd_encryption = plain\ndelay = 0\n[rights]\ntype = from_file\nfile = " +
                m_dir.File("rights") +
                "\n[storage]\nfilesystem_folder = " + m_dir.File("collections") +
                "\n[web]\ntype = none\n[logging]\nlevel = warning\n";
            WriteFile(m_dir.File("config"), config);
            if (!m_server.Start({"radicale", "--config", m_dir.File("config")}, log))
                return;
            m_uploadPort = port;
        } else {
            std::filesystem::create_directories(m_dir.File("data"));
            if (!m_server.Start({"xandikos", "-d", m_dir.File("data"), "-l", "127.0.0.1", "-p",
                                 std::to_string(port)},
                                log))
                return;
            m_uploadPort = port;
        }
        if (WaitForPort(port, m_server))
            break;
        if (attempt == 3 || m_server.Running()) {
            ADD_FAILURE() << KindName(kind) << " did not start:\n" << Log();
            return;
        }
    }
    if (kind != Kind::XandikosDigest) {
        m_port = port;
        return;
    }
    // lighttpd asks for Digest and passes the requests on to Xandikos, which asks for nothing.
    const int front = testing_support::FreePort();
    const std::string hash =
        Md5Hex(std::string(kReaderUser) + ":" + kDigestRealm + ":" + kReaderPassword);
    WriteFile(m_dir.File("htdigest"),
              std::string(kReaderUser) + ":" + kDigestRealm + ":" + hash + "\n");
    std::filesystem::create_directories(m_dir.File("www"));
    WriteFile(m_dir.File("lighttpd.conf"),
              "server.document-root = \"" + m_dir.File("www") +
                  "\"\nserver.bind = \"127.0.0.1\"\nserver.port = " + std::to_string(front) +
                  "\nserver.errorlog = \"" + m_dir.File("lighttpd.log") +
                  "\"\nserver.modules = (\"mod_auth\", \"mod_authn_file\", \"mod_proxy\")\n"
                  "auth.backend = \"htdigest\"\nauth.backend.htdigest.userfile = \"" +
                  m_dir.File("htdigest") +
                  "\"\nauth.require = (\"/\" => (\"method\" => "
                  "\"digest\", \"realm\" => \"" +
                  kDigestRealm +
                  "\", \"require\" => \"valid-user\"))\nproxy.server = (\"\" => ((\"host\" => "
                  "\"127.0.0.1\", \"port\" => " +
                  std::to_string(port) + ")))\n");
    if (hash.empty() ||
        !m_proxy.Start({"lighttpd", "-D", "-f", m_dir.File("lighttpd.conf")}, log) ||
        !WaitForPort(front, m_proxy)) {
        ADD_FAILURE() << "lighttpd did not start:\n" << Log();
        return;
    }
    m_port = front;
}

DavServer::~DavServer() {
    m_proxy.Stop();
    m_server.Stop();
}

std::string DavServer::Base() const {
    return m_scheme + "://127.0.0.1:" + std::to_string(m_port);
}

std::string DavServer::Template() const {
    return Base() + (m_kind == Kind::Radicale ? "/{mailbox}/" : "/{mailbox}/calendars/");
}

std::string DavServer::HomeOf(const std::string& mailbox) const {
    return Base() + "/" + mailbox + (m_kind == Kind::Radicale ? "/" : "/calendars/");
}

std::string DavServer::CollectionOf(const std::string& mailbox,
                                    const std::string& collection) const {
    return HomeOf(mailbox) + collection + "/";
}

mail::dav::Account DavServer::Reader() const {
    if (m_kind == Kind::Xandikos)
        return {};
    return {kReaderUser, kReaderPassword};
}

std::string DavServer::Log() const {
    std::string log;
    for (const char* name : {"server.log", "lighttpd.log"}) {
        if (std::filesystem::exists(m_dir.File(name)))
            log += ReadFile(m_dir.File(name));
    }
    return log;
}

long DavServer::Upload(const std::string& method, const std::string& url, const std::string& body,
                       const std::string& contentType, bool* refused) {
    // The reading side's base becomes the upload side's: behind lighttpd, straight to Xandikos.
    std::string target = url;
    const std::string base = Base();
    if (target.rfind(base, 0) == 0)
        target =
            m_scheme + "://127.0.0.1:" + std::to_string(m_uploadPort) + target.substr(base.size());
    CURL* curl = curl_easy_init();
    if (!curl)
        return -1;
    // An empty body goes without a type: Xandikos would try to read an XML body.
    curl_slist* headers =
        body.empty() ? nullptr
                     : curl_slist_append(nullptr, ("Content-Type: " + contentType).c_str());
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (!body.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (!m_caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_caFile.c_str());
    if (m_kind == Kind::Radicale) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, kAdminUser);
        curl_easy_setopt(curl, CURLOPT_PASSWORD, kAdminPassword);
    }
    long status = -1;
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (refused && status >= 400)
        *refused = true;
    else if (status < 200 || status >= 300)
        ADD_FAILURE() << method << " " << target << " answered " << status << ": " << answer;
    return status;
}

bool DavServer::MakeHome(const std::string& mailbox) {
    if (m_kind == Kind::Radicale)
        return Upload("MKCOL", HomeOf(mailbox), "", "application/xml") / 100 == 2;
    return Upload("MKCOL", Base() + "/" + mailbox + "/", "", "application/xml") / 100 == 2 &&
           Upload("MKCOL", HomeOf(mailbox), "", "application/xml") / 100 == 2;
}

bool DavServer::MakeCollection(const std::string& mailbox, const std::string& collection,
                               const std::string& components) {
    std::string body;
    if (!components.empty())
        body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<C:mkcalendar xmlns:D=\"DAV:\" "
               "xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:set><D:prop>"
               "<C:supported-calendar-component-set><C:comp name=\"" +
               components +
               "\"/></C:supported-calendar-component-set></D:prop></D:set></C:mkcalendar>\n";
    return Upload("MKCALENDAR", CollectionOf(mailbox, collection), body, "application/xml") / 100 ==
           2;
}

bool DavServer::PutItem(const std::string& mailbox, const std::string& collection,
                        const std::string& name, const std::string& ics, bool* refused) {
    return Upload("PUT", CollectionOf(mailbox, collection) + name, ics, "text/calendar", refused) /
               100 ==
           2;
}

bool DavServer::PutCalendar(const std::string& mailbox, const std::string& collection,
                            const std::string& ics, bool* refused) {
    for (const auto& [name, text] : SplitCalendar(ics)) {
        if (!PutItem(mailbox, collection, name, text, refused))
            return false;
    }
    return true;
}

bool DavServer::Delete(const std::string& url) {
    return Upload("DELETE", url, "", "application/xml") / 100 == 2;
}

std::vector<std::pair<std::string, std::string>> SplitCalendar(const std::string& ics) {
    std::vector<std::string> lines;
    std::istringstream in(ics);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    std::string header, zones;
    std::vector<std::string> order;
    std::map<std::string, std::string> byUid;
    int depth = 0;
    std::string component, uid;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.rfind("BEGIN:", 0) == 0)
            ++depth;
        // The calendar's own properties go with every item, except METHOD, which stored
        // calendar objects may not carry.
        if (depth == 1 && line != "BEGIN:VCALENDAR" && line != "END:VCALENDAR" && !line.empty() &&
            line[0] != ' ' && line[0] != '\t' && line.rfind("METHOD:", 0) != 0) {
            header += Unfolded(lines, i) + "\r\n";
        }
        if (depth >= 2) {
            component += line + "\r\n";
            if (depth == 2 && line.rfind("UID:", 0) == 0 && uid.empty())
                uid = Unfolded(lines, i).substr(4);
        }
        if (line.rfind("END:", 0) == 0) {
            if (depth == 2) {
                if (line == "END:VTIMEZONE") {
                    zones += component;
                } else {
                    if (!byUid.count(uid))
                        order.push_back(uid);
                    byUid[uid] += component;
                }
                component.clear();
                uid.clear();
            }
            --depth;
        }
    }
    std::vector<std::pair<std::string, std::string>> items;
    std::set<std::string> names;
    for (const std::string& u : order) {
        std::string name;
        for (char c : u)
            name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_'
                        ? c
                        : '_';
        if (name.empty())
            name = "item";
        while (!names.insert(name).second)
            name += "_";
        items.emplace_back(name + ".ics",
                           "BEGIN:VCALENDAR\r\n" + header + zones + byUid[u] + "END:VCALENDAR\r\n");
    }
    return items;
}

FaultServer::FaultServer(int upstreamPort, const std::vector<std::string>& faults,
                         const std::string& fallback) {
    std::vector<std::string> args = {
        kPython, ORVANE_CALDAV_FAULT_SERVER_SCRIPT, "--upstream", std::to_string(upstreamPort),
        "--log", m_dir.File("requests.log"),        "--fallback", fallback};
    for (const std::string& f : faults)
        args.insert(args.end(), {"--fault", f});
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> argv = Argv(args);
    const int rc = posix_spawn(&m_pid, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    if (rc != 0) {
        m_pid = -1;
        close(out[0]);
        ADD_FAILURE() << "cannot start " << kPython << ": " << std::strerror(rc);
        return;
    }
    // The first line is "PORT n".
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p = {out[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0)
        m_port = std::atoi(line.c_str() + 5);
    if (m_port <= 0)
        ADD_FAILURE() << "the scripted calendar server did not start";
}

FaultServer::~FaultServer() {
    if (m_stdin >= 0)
        close(m_stdin);
    if (m_pid <= 0)
        return;
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(m_pid, &status, WNOHANG) == m_pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
}

std::vector<std::string> FaultServer::Requests() const {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(m_dir.File("requests.log")))
        return lines;
    std::istringstream in(ReadFile(m_dir.File("requests.log")));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace caldav_test
