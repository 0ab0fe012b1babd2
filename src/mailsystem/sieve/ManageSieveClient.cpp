// The ManageSieve client: a synchronous conversation over QSslSocket with bounded waits.
#include "mailsystem/sieve/ManageSieveClient.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>
#include <algorithm>
#include <cstdlib>

namespace mail::sieve {
namespace {

std::string Seconds(long ms) {
    const long s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

std::string Bytes(size_t n) {
    if (n >= (size_t(1) << 20) && n % (size_t(1) << 20) == 0)
        return std::to_string(n >> 20) + " MiB";
    return std::to_string(n) + " bytes";
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// Qt's words for a socket failure, starting in lower case to follow a colon.
std::string SocketWords(const QString& text) {
    std::string words = text.toStdString();
    if (words.size() > 1 && words[0] >= 'A' && words[0] <= 'Z' &&
        !(words[1] >= 'A' && words[1] <= 'Z'))
        words[0] = static_cast<char>(words[0] - 'A' + 'a');
    return words;
}

} // namespace

ClientLimits CurrentClientLimits() {
    ClientLimits limits;
    if (const char* ca = std::getenv("ORVANE_SIEVE_CA_FILE"); ca && *ca)
        limits.caFile = ca;
    if (const char* test = std::getenv("ORVANE_TEST_SIEVE_TIMEOUT_MS"); test && *test) {
        const long cap = std::atol(test);
        if (cap > 0) {
            limits.connectTimeoutMs = std::min(limits.connectTimeoutMs, cap);
            limits.answerTimeoutMs = std::min(limits.answerTimeoutMs, cap);
        }
    }
    return limits;
}

ManageSieveClient::ManageSieveClient(std::string server, std::string host, int port,
                                     bool startTls, ClientLimits limits)
    : m_server(std::move(server)), m_host(std::move(host)), m_port(port), m_startTls(startTls),
      m_limits(std::move(limits)) {}

ManageSieveClient::~ManageSieveClient() {
    Close();
}

std::string ManageSieveClient::Sentence(const std::string& what) const {
    return "The Sieve server " + m_server + " " + what + ".";
}

std::string ManageSieveClient::Refusal(const Answer& answer) const {
    std::string text = answer.text.empty() ? "no reason given" : answer.text;
    if (!answer.code.empty())
        text += " (" + answer.code + ")";
    return text;
}

void ManageSieveClient::Close() {
    if (m_socket) {
        // A socket made by another thread is left to it: Qt objects belong to their thread.
        if (m_socket->thread() == QThread::currentThread())
            m_socket->abort();
        else
            m_socket.release()->deleteLater();
    }
    m_socket.reset();
    m_buffer.clear();
    m_sasl.clear();
    m_offersStartTls = m_unauthenticate = false;
    m_authorizedAs.clear();
}

bool ManageSieveClient::IsOpen() const {
    if (!m_socket || m_socket->thread() != QThread::currentThread() ||
        m_socket->state() != QAbstractSocket::ConnectedState || !m_buffer.empty())
        return false;
    // Without an event loop the socket learns of a close, or of words the server sent on its
    // own (a BYE before an idle close), only when asked: either makes the connection unusable.
    if (m_socket->bytesAvailable() > 0 || m_socket->waitForReadyRead(0))
        return false;
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

bool ManageSieveClient::Connect(std::string& error) {
    Close();
    m_socket = std::make_unique<QSslSocket>();
    m_socket->setProxy(QNetworkProxy::NoProxy);
    ++m_connections;
    m_socket->connectToHost(QString::fromStdString(m_host), static_cast<quint16>(m_port));
    if (!m_socket->waitForConnected(static_cast<int>(m_limits.connectTimeoutMs))) {
        error = m_socket->error() == QAbstractSocket::SocketTimeoutError
                    ? Sentence("did not accept a connection within " +
                               Seconds(m_limits.connectTimeoutMs))
                    : Sentence("cannot be reached: " + SocketWords(m_socket->errorString()));
        Close();
        return false;
    }
    Answer greeting;
    if (!Read(greeting, error))
        return false;
    if (greeting.status != Answer::Status::Ok) {
        error = Sentence("refused the connection: " + Refusal(greeting));
        Close();
        return false;
    }
    if (!Capabilities(greeting, error))
        return false;
    if (!m_startTls)
        return true;
    if (!m_offersStartTls) {
        error = Sentence("does not offer STARTTLS, and the profile allows no connection "
                         "without TLS");
        Close();
        return false;
    }
    return StartTls(error);
}

bool ManageSieveClient::Capabilities(const Answer& answer, std::string& error) {
    m_sasl.clear();
    m_offersStartTls = m_unauthenticate = false;
    for (const std::vector<Word>& line : answer.lines) {
        const std::string name = Upper(line.front().text);
        if (name == "STARTTLS") {
            m_offersStartTls = true;
        } else if (name == "UNAUTHENTICATE") {
            m_unauthenticate = true;
        } else if (name == "SASL" && line.size() > 1) {
            const std::string& list = line[1].text;
            size_t start = 0;
            while (start < list.size()) {
                size_t end = list.find(' ', start);
                if (end == std::string::npos)
                    end = list.size();
                if (end > start)
                    m_sasl.push_back(Upper(list.substr(start, end - start)));
                start = end + 1;
            }
        }
    }
    (void)error;
    return true;
}

bool ManageSieveClient::StartTls(std::string& error) {
    Answer answer;
    if (!Command("STARTTLS", answer, error))
        return false;
    if (answer.status != Answer::Status::Ok) {
        error = Sentence("refused STARTTLS: " + Refusal(answer) +
                         ", and the profile allows no connection without TLS");
        Close();
        return false;
    }
    if (!m_buffer.empty()) {
        // Bytes before the handshake would be taken as said over TLS (an injection).
        error = Sentence("sent data before the TLS handshake");
        Close();
        return false;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_limits.caFile.empty())
        tls.setCaCertificates(QSslCertificate::fromPath(QString::fromStdString(m_limits.caFile)));
    m_socket->setSslConfiguration(tls);
    m_socket->setPeerVerifyName(QString::fromStdString(m_host));
    m_socket->startClientEncryption();
    if (!m_socket->waitForEncrypted(static_cast<int>(m_limits.connectTimeoutMs))) {
        std::string why;
        for (const QSslError& e : m_socket->sslHandshakeErrors())
            why += (why.empty() ? "" : "; ") + SocketWords(e.errorString());
        if (why.empty())
            why = m_socket->error() == QAbstractSocket::SocketTimeoutError
                      ? "the handshake took longer than " + Seconds(m_limits.connectTimeoutMs)
                      : SocketWords(m_socket->errorString());
        error = Sentence("cannot be reached securely: " + why);
        Close();
        return false;
    }
    // The server states its capabilities again under TLS (RFC 5804, 2.2).
    Answer capabilities;
    if (!Read(capabilities, error))
        return false;
    if (capabilities.status != Answer::Status::Ok) {
        error = Sentence("refused to go on after STARTTLS: " + Refusal(capabilities));
        Close();
        return false;
    }
    return Capabilities(capabilities, error);
}

bool ManageSieveClient::Send(const std::string& command, std::string& error) {
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        error = Sentence("closed the connection");
        Close();
        return false;
    }
    const QByteArray bytes = QByteArray::fromStdString(command + "\r\n");
    if (m_socket->write(bytes) != bytes.size()) {
        error = Sentence("closed the connection: " + SocketWords(m_socket->errorString()));
        Close();
        return false;
    }
    ++m_requests;
    QElapsedTimer timer;
    timer.start();
    while (m_socket->bytesToWrite() > 0) {
        const long left = m_limits.answerTimeoutMs - static_cast<long>(timer.elapsed());
        if (left <= 0 || !m_socket->waitForBytesWritten(static_cast<int>(left))) {
            error = left <= 0 || m_socket->error() == QAbstractSocket::SocketTimeoutError
                        ? Sentence("took no request within " + Seconds(m_limits.answerTimeoutMs))
                        : Sentence("closed the connection: " +
                                   SocketWords(m_socket->errorString()));
            Close();
            return false;
        }
    }
    return true;
}

bool ManageSieveClient::Read(Answer& answer, std::string& error) {
    AnswerLimits limits;
    limits.maxLiteral = m_limits.maxAnswerBytes;
    QElapsedTimer timer;
    timer.start();
    while (true) {
        size_t consumed = 0;
        std::string why;
        const AnswerState state = ReadAnswer(m_buffer, limits, answer, consumed, why);
        if (state == AnswerState::Complete) {
            m_buffer.erase(0, consumed);
            if (answer.status == Answer::Status::Bye) {
                error = Sentence("closed the connection: " + Refusal(answer));
                Close();
                return false;
            }
            return true;
        }
        if (state == AnswerState::Malformed) {
            error = Sentence("sent an answer that cannot be read (" + why + ")");
            Close();
            return false;
        }
        if (m_buffer.size() > m_limits.maxAnswerBytes) {
            error = Sentence("sent an answer larger than " + Bytes(m_limits.maxAnswerBytes));
            Close();
            return false;
        }
        const long left = m_limits.answerTimeoutMs - static_cast<long>(timer.elapsed());
        if (m_socket->bytesAvailable() == 0 &&
            (left <= 0 || !m_socket->waitForReadyRead(static_cast<int>(left)))) {
            const bool timedOut = left <= 0 ||
                                  (m_socket->error() == QAbstractSocket::SocketTimeoutError &&
                                   m_socket->state() == QAbstractSocket::ConnectedState);
            error = timedOut ? Sentence("did not answer within " +
                                        Seconds(m_limits.answerTimeoutMs))
                             : Sentence(m_buffer.empty()
                                            ? "closed the connection"
                                            : "closed the connection in the middle of an answer");
            Close();
            return false;
        }
        const qint64 room = static_cast<qint64>(m_limits.maxAnswerBytes - m_buffer.size()) + 1;
        m_buffer += m_socket->read(std::min(m_socket->bytesAvailable(), room)).toStdString();
    }
}

bool ManageSieveClient::Command(const std::string& command, Answer& answer, std::string& error) {
    return Send(command, error) && Read(answer, error);
}

bool ManageSieveClient::Authenticate(const std::string& authorizeAs, const std::string& user,
                                     const std::string& password, std::string& error,
                                     bool& refused) {
    refused = false;
    if (std::find(m_sasl.begin(), m_sasl.end(), "PLAIN") == m_sasl.end()) {
        std::string offered;
        for (const std::string& m : m_sasl)
            offered += (offered.empty() ? "" : ", ") + m;
        error = Sentence("does not offer the login method PLAIN" +
                         (offered.empty() ? std::string(" (it offers none here)")
                                          : " (it offers " + offered + ")"));
        return false;
    }
    std::string plain = authorizeAs;
    plain += '\0';
    plain += user;
    plain += '\0';
    plain += password;
    const std::string encoded = QByteArray::fromStdString(plain).toBase64().toStdString();
    Answer answer;
    if (!Command("AUTHENTICATE \"PLAIN\" " + CommandString(encoded), answer, error))
        return false;
    if (answer.status != Answer::Status::Ok) {
        refused = true;
        m_lastRefusal = answer.text;
        const std::string who =
            authorizeAs.empty() || authorizeAs == user ? user : user + " as " + authorizeAs;
        error = Sentence("refused to log in " + who + ": " + Refusal(answer));
        return false;
    }
    m_authorizedAs = authorizeAs.empty() ? user : authorizeAs;
    return true;
}

bool ManageSieveClient::Unauthenticate(std::string& error) {
    Answer answer;
    if (!Command("UNAUTHENTICATE", answer, error))
        return false;
    if (answer.status != Answer::Status::Ok) {
        error = Sentence("refused UNAUTHENTICATE: " + Refusal(answer));
        Close();
        return false;
    }
    m_authorizedAs.clear();
    return true;
}

bool ManageSieveClient::ListScripts(std::vector<ScriptEntry>& out, std::string& error) {
    out.clear();
    Answer answer;
    if (!Command("LISTSCRIPTS", answer, error))
        return false;
    if (answer.status != Answer::Status::Ok) {
        error = Sentence("refused to list the scripts of " + m_authorizedAs + ": " +
                         Refusal(answer));
        return false;
    }
    for (const std::vector<Word>& line : answer.lines) {
        const bool active = line.size() == 2 && line[1].atom && Upper(line[1].text) == "ACTIVE";
        if (line.front().atom || (line.size() != 1 && !active)) {
            error = Sentence("sent a list of scripts that cannot be read");
            Close();
            return false;
        }
        out.push_back({line.front().text, active});
    }
    return true;
}

bool ManageSieveClient::GetScript(const std::string& name, std::string& text, bool& missing,
                                  std::string& error) {
    missing = false;
    Answer answer;
    if (!Command("GETSCRIPT " + CommandString(name), answer, error))
        return false;
    if (answer.status != Answer::Status::Ok) {
        if (answer.code == "NONEXISTENT") {
            missing = true;
            return false;
        }
        error = Sentence("refused to hand out the script \"" + name + "\" of " + m_authorizedAs +
                         ": " + Refusal(answer));
        return false;
    }
    if (answer.lines.size() != 1 || answer.lines.front().size() != 1 ||
        answer.lines.front().front().atom) {
        error = Sentence("sent the script \"" + name + "\" in a form that cannot be read");
        Close();
        return false;
    }
    text = std::move(answer.lines.front().front().text);
    return true;
}

void ManageSieveClient::Logout() {
    if (!m_socket)
        return;
    std::string ignored;
    Answer answer;
    if (m_socket->state() == QAbstractSocket::ConnectedState && m_buffer.empty())
        Command("LOGOUT", answer, ignored);
    Close();
}

} // namespace mail::sieve
