// The control socket: the monitor's server and the commands' client.
#include "app/monitor/ControlSocket.h"

#include "paging/EventLog.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// How long a client may take to send its request before the monitor drops it.
constexpr int kRequestTimeoutMs = 10000;
// A monitor that has just taken the directory's lock needs a moment before it listens.
constexpr int kConnectWindowMs = 3000;
constexpr int kConnectPauseMs = 100;
constexpr int kSlowAfterMs = 2000;

// The path to bind or connect to: the socket's absolute path, or, when that is longer than a
// socket address holds, its name relative to the current directory when that is `directory`.
bool SocketPath(const CString& directory, CString& path, CString& whyNot) {
    const CString full = directory + control::kSocketFileName;
    if (full.size() < sizeof(sockaddr_un{}.sun_path)) {
        path = full;
        return true;
    }
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) && CString(cwd) + "/" == directory) {
        path = control::kSocketFileName;
        return true;
    }
    whyNot = "the path " + full + " is too long for a local socket";
    return false;
}

sockaddr_un Address(const CString& path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// The user ID of the process at the other end of a connected local socket; -1 when unknown.
long PeerUid(int fd) {
    ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return -1;
    return static_cast<long>(credentials.uid);
}

int TimeoutFromEnvironment(int timeoutMs) {
    if (timeoutMs > 0)
        return timeoutMs;
    if (const char* text = std::getenv(control::kTimeoutVariable); text && *text) {
        const long value = std::strtol(text, nullptr, 10);
        if (value > 0 && value < 24L * 3600 * 1000)
            return static_cast<int>(value);
    }
    return control::kDefaultTimeoutMs;
}

} // namespace

namespace control {

AskResult Ask(const CString& directory, const QJsonObject& request, int timeoutMs,
              const std::function<void()>& slow) {
    AskResult result;
    const int limit = TimeoutFromEnvironment(timeoutMs);
    CString path;
    if (!SocketPath(directory, path, result.problem)) {
        result.outcome = AskResult::Refused;
        return result;
    }
    const sockaddr_un address = Address(path);

    QElapsedTimer clock;
    clock.start();
    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            result.outcome = AskResult::Refused;
            result.problem = CString("no socket could be made: ") + std::strerror(errno);
            return result;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            break;
        const int error = errno;
        ::close(fd);
        fd = -1;
        if (error == EACCES || error == EPERM) {
            result.outcome = AskResult::Refused;
            result.problem = path + " may not be used by this user";
            return result;
        }
        const bool retry = error == ENOENT || error == ECONNREFUSED || error == EAGAIN;
        if (!retry || clock.elapsed() + kConnectPauseMs > std::min(kConnectWindowMs, limit)) {
            result.outcome = AskResult::NotListening;
            result.problem =
                CString("nothing listens on ") + path + " (" + std::strerror(error) + ")";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kConnectPauseMs));
    }

    const long owner = PeerUid(fd);
    if (owner != static_cast<long>(geteuid())) {
        ::close(fd);
        result.outcome = AskResult::Refused;
        result.problem = path + " belongs to user ID " + std::to_string(owner) +
                         ", not to the user running this command";
        return result;
    }

    QLocalSocket socket;
    if (!socket.setSocketDescriptor(fd)) {
        ::close(fd);
        result.outcome = AskResult::Refused;
        result.problem = "the connection to " + path + " could not be used";
        return result;
    }
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');

    QByteArray received;
    bool toldSlow = false;
    while (!received.contains('\n') && clock.elapsed() < limit) {
        if (slow && !toldSlow && clock.elapsed() >= kSlowAfterMs) {
            slow();
            toldSlow = true;
        }
        if (socket.bytesToWrite() > 0)
            socket.waitForBytesWritten(100);
        else if (!socket.waitForReadyRead(100) && socket.state() == QLocalSocket::UnconnectedState)
            break;
        received += socket.readAll();
        if (received.size() > kMaxMessage)
            break;
    }
    received += socket.readAll();
    const qsizetype end = received.indexOf('\n');
    if (end < 0) {
        result.outcome = AskResult::NoAnswer;
        result.problem = received.isEmpty() && socket.state() != QLocalSocket::UnconnectedState
                             ? "no answer came within " + std::to_string(limit / 1000) + " seconds"
                             : CString("the answer was cut short");
        return result;
    }
    const QJsonDocument document = QJsonDocument::fromJson(received.left(end));
    if (!document.isObject()) {
        result.outcome = AskResult::NoAnswer;
        result.problem = "the answer could not be read";
        return result;
    }
    result.outcome = AskResult::Answered;
    result.answer = document.object();
    return result;
}

} // namespace control

CControlServer::CControlServer(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {}

CControlServer::~CControlServer() {
    Close();
}

bool CControlServer::IsListening() const {
    return m_server && m_server->isListening();
}

bool CControlServer::Listen(const CString& directory, CString& whyNot) {
    Close();
    CString path;
    if (!SocketPath(directory, path, whyNot))
        return false;

    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            whyNot = path + " exists and is not a socket";
            return false;
        }
        ::unlink(path.c_str()); // left by a monitor that ended without removing it
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        whyNot = CString("no socket could be made: ") + std::strerror(errno);
        return false;
    }
    const sockaddr_un address = Address(path);
    // Created for its owner alone: connecting needs write permission on the socket file.
    const mode_t previousMask = ::umask(0177);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previousMask);
    if (bound != 0 || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
        const int error = bound != 0 ? bindError : errno;
        ::close(fd);
        if (bound == 0)
            ::unlink(path.c_str());
        whyNot = "the socket " + path + " could not be made (" + std::strerror(error) + ")";
        return false;
    }

    m_server = new QLocalServer(this);
    if (!m_server->listen(fd)) {
        whyNot = "the socket " + path + " could not be served (" +
                 m_server->errorString().toStdString() + ")";
        delete m_server;
        m_server = nullptr;
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    m_path = path;
    connect(m_server, &QLocalServer::newConnection, this, &CControlServer::Accept);
    return true;
}

void CControlServer::Close() {
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
    ::unlink(m_path.c_str());
    m_path.clear();
}

void CControlServer::Accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        const long peer = PeerUid(static_cast<int>(socket->socketDescriptor()));
        if (peer != static_cast<long>(geteuid())) {
            LogEvent(EventLog::kEventId,
                     ("A connection to " + m_path + " from user ID " + std::to_string(peer) +
                      " was refused: only the user Orvane runs as may use it.")
                         .c_str());
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Serve(socket);
    }
}

void CControlServer::Serve(QLocalSocket* socket) {
    auto buffer = std::make_shared<QByteArray>();
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    deadline->start(kRequestTimeoutMs);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer, deadline] {
        if (!deadline->isActive())
            return; // answered already
        *buffer += socket->readAll();
        const qsizetype end = buffer->indexOf('\n');
        if (end < 0) {
            if (buffer->size() > control::kMaxMessage)
                socket->abort();
            return;
        }
        deadline->stop();
        QJsonObject answer;
        const QJsonDocument request = QJsonDocument::fromJson(buffer->left(end));
        if (!request.isObject())
            answer = {{"error", "the request could not be read"}};
        else
            answer = m_handler(request.object());
        socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
        socket->disconnectFromServer(); // once the answer has been written
    });
}
