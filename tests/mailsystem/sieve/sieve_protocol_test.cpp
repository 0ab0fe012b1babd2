// What Dovecot never does, from a scripted ManageSieve server on loopback (in the clear): a server
// that offers UNAUTHENTICATE serving several users on one connection, names sent as literals, and
// answers that stop in the middle, grow too large or end the connection.
#include "core/Clock.h"
#include "mailsystem/sieve/SieveOutOfOffice.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace mail::sieve;

// Serves one connection at a time. Users whose name starts with "away" have an active script
// with a vacation, everyone else one without. `fault` changes one answer.
class ScriptedSieveServer {
public:
    enum class Fault { None, StopInGetScript, HugeLiteral, ByeOnList };

    explicit ScriptedSieveServer(Fault fault) : m_fault(fault) {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listen, 8) != 0 ||
            getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "the scripted server cannot listen";
            return;
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedSieveServer() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        close(m_listen);
    }
    std::string Url() const { return "sieve://127.0.0.1:" + std::to_string(m_port); }
    // Every command received, in order: "CONNECT", "AUTHENTICATE alice", "LISTSCRIPTS", ...
    std::vector<std::string> Commands() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_commands;
    }

private:
    void Note(const std::string& command) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_commands.push_back(command);
    }

    static void Say(int fd, const std::string& text) {
        (void)send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    }

    void Run() {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            Note("CONNECT");
            Serve(fd);
            close(fd);
        }
    }

    void Serve(int fd) {
        Say(fd, "\"IMPLEMENTATION\" \"Scripted\"\r\n\"SASL\" \"PLAIN\"\r\n\"UNAUTHENTICATE\"\r\n"
                "\"VERSION\" \"1.0\"\r\nOK \"ready\"\r\n");
        std::string buffer, user;
        while (!m_stop) {
            const size_t end = buffer.find("\r\n");
            if (end == std::string::npos) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0)
                    continue;
                char chunk[4096];
                const ssize_t n = read(fd, chunk, sizeof chunk);
                if (n <= 0)
                    return;
                buffer.append(chunk, static_cast<size_t>(n));
                continue;
            }
            const std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 2);
            if (line.rfind("AUTHENTICATE \"PLAIN\" \"", 0) == 0) {
                const std::string encoded = line.substr(22, line.size() - 23);
                const std::string plain =
                    QByteArray::fromBase64(QByteArray::fromStdString(encoded)).toStdString();
                user = plain.substr(0, plain.find('\0'));
                Note("AUTHENTICATE " + user);
                Say(fd, "OK \"Logged in.\"\r\n");
            } else if (line == "UNAUTHENTICATE") {
                Note(line);
                user.clear();
                Say(fd, "OK\r\n");
            } else if (line == "LISTSCRIPTS") {
                Note(line);
                if (m_fault == Fault::ByeOnList) {
                    Say(fd, "BYE (TRYLATER) \"Server shutting down.\"\r\n");
                    return;
                }
                Say(fd, "{7}\r\nmy list ACTIVE\r\n\"other\"\r\nOK\r\n");
            } else if (line.rfind("GETSCRIPT ", 0) == 0) {
                Note(line);
                const std::string script = user.rfind("away", 0) == 0
                                               ? "require \"vacation\";\r\nvacation \"Away.\";\r\n"
                                               : "keep;\r\n";
                if (m_fault == Fault::StopInGetScript)
                    Say(fd, "{100}\r\nrequire");
                else if (m_fault == Fault::HugeLiteral)
                    Say(fd, "{999999999}\r\n");
                else
                    Say(fd, "{" + std::to_string(script.size()) + "}\r\n" + script +
                                "\r\nOK \"Getscript completed.\"\r\n");
            } else if (line == "LOGOUT") {
                Note(line);
                Say(fd, "OK \"Logout completed.\"\r\n");
                return;
            } else {
                Note(line);
                Say(fd, "NO \"Unknown command.\"\r\n");
            }
        }
    }

    Fault m_fault;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::string> m_commands;
    std::thread m_thread;
};

SieveConfig Clear(const std::string& url) {
    SieveConfig config;
    config.url = url;
    config.user = "admin";
    config.password = "admin s3cret";
    config.startTls = false;
    return config;
}

TEST(SieveProtocolTest, UnauthenticateLetsOneConnectionServeUserAfterUser) {
    Clock::Freeze(CTime(1798113600));
    ScriptedSieveServer server(ScriptedSieveServer::Fault::None);
    SieveOutOfOfficeReader reader(Clear(server.Url()));
    struct Row {
        const char* user;
        bool out;
    };
    for (const Row& row : {Row{"away-alice", true}, Row{"bob", false}, Row{"away-carol", true}}) {
        Verdict verdict;
        std::string error;
        ASSERT_TRUE(reader.Read(row.user, verdict, error)) << row.user << ": " << error;
        EXPECT_EQ(verdict.out, row.out) << row.user << ": " << verdict.reason;
        EXPECT_EQ(verdict.script, "my list") << row.user;
    }
    const std::vector<std::string> expected = {
        "CONNECT",
        "AUTHENTICATE away-alice", "LISTSCRIPTS", "GETSCRIPT \"my list\"",
        "UNAUTHENTICATE", "AUTHENTICATE bob", "LISTSCRIPTS", "GETSCRIPT \"my list\"",
        "UNAUTHENTICATE", "AUTHENTICATE away-carol", "LISTSCRIPTS", "GETSCRIPT \"my list\"",
    };
    EXPECT_EQ(server.Commands(), expected);
    SieveOutOfOfficeReader::CloseAll();
    EXPECT_EQ(server.Commands().back(), "LOGOUT");
}

TEST(SieveProtocolTest, AnswersThatBreakOffFailTheCheckWithTheCause) {
    Clock::Freeze(CTime(1798113600));
    setenv("ORVANE_TEST_SIEVE_TIMEOUT_MS", "1000", 1);
    struct Row {
        ScriptedSieveServer::Fault fault;
        const char* cause;
    };
    const Row rows[] = {
        {ScriptedSieveServer::Fault::StopInGetScript, " did not answer within 1 second."},
        {ScriptedSieveServer::Fault::HugeLiteral,
         " sent an answer that cannot be read (a literal is longer than 2097152 bytes)."},
        {ScriptedSieveServer::Fault::ByeOnList,
         " closed the connection: Server shutting down. (TRYLATER)."},
    };
    for (const Row& row : rows) {
        ScriptedSieveServer server(row.fault);
        SieveOutOfOfficeReader reader(Clear(server.Url()));
        Verdict verdict;
        std::string error;
        EXPECT_FALSE(reader.Read("away-alice", verdict, error));
        EXPECT_EQ(error, "The Sieve server " + server.Url() + row.cause);
    }
    unsetenv("ORVANE_TEST_SIEVE_TIMEOUT_MS");
    SieveOutOfOfficeReader::CloseAll();
}

} // namespace
