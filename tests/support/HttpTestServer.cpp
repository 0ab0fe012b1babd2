// The scripted HTTP server as a child process, and its script and records through its spool.
#include "support/HttpTestServer.h"

#include "support/SmtpTestServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <gtest/gtest.h>

namespace testing_support {

HttpScriptServer::HttpScriptServer(const std::string& certFile, const std::string& keyFile) {
    std::vector<std::string> args = {ORVANE_HTTP_SCRIPT_SERVER, "--spool", m_spool.Path()};
    if (!certFile.empty()) {
        args.insert(args.end(), {"--cert", certFile, "--key", keyFile});
        m_scheme = "https";
    }
    m_port = StartServerScript(args, m_pid, m_stdin);
    if (m_port <= 0)
        ADD_FAILURE() << "the scripted HTTP server did not start";
}

HttpScriptServer::~HttpScriptServer() {
    StopServerScript(m_pid, m_stdin);
}

std::string HttpScriptServer::Url() const {
    return m_scheme + "://127.0.0.1:" + std::to_string(m_port);
}

void HttpScriptServer::Script(const std::vector<HttpAnswer>& answers) {
    std::string text;
    for (const HttpAnswer& a : answers) {
        QJsonObject headers;
        for (const auto& [name, value] : a.headers)
            headers.insert(QString::fromStdString(name), QString::fromStdString(value));
        const QJsonObject line{{"status", a.status},
                               {"reason", QString::fromStdString(a.reason)},
                               {"body", QString::fromStdString(a.body)},
                               {"headers", headers},
                               {"delay_ms", a.delayMs},
                               {"action", QString::fromStdString(a.action)}};
        text += QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString() + "\n";
    }
    // Whole, by rename: the server reads the file at each request.
    WriteFile(m_spool.File("script.tmp"), text);
    std::rename(m_spool.File("script.tmp").c_str(), m_spool.File("script").c_str());
}

std::vector<std::string> HttpScriptServer::Requests() const {
    std::vector<int> numbers;
    if (DIR* dir = opendir(m_spool.Path().c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".req") == 0)
                numbers.push_back(std::atoi(name.c_str()));
        }
        closedir(dir);
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<std::string> requests;
    for (int n : numbers)
        requests.push_back(ReadFile(m_spool.File(std::to_string(n) + ".req")));
    return requests;
}

void HttpScriptServer::Reset() {
    Script({});
    if (DIR* dir = opendir(m_spool.Path().c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".req") == 0)
                std::remove(m_spool.File(name).c_str());
        }
        closedir(dir);
    }
}

mail::TransportConfig WebTransport(const std::string& url, mail::WebFormat format,
                                   const std::string& token) {
    mail::TransportConfig c;
    c.kind = mail::TransportConfig::Kind::Web;
    c.url = url;
    c.format = format;
    c.token = token;
    return c;
}

} // namespace testing_support
