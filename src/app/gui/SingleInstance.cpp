// One desktop copy per user and desktop.
#include "app/gui/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// What a later copy sends, and what the first one answers once it has come forward.
constexpr char kRaiseRequest[] = "raise\n";
constexpr char kRaiseAnswer[] = "ok\n";
constexpr int kConnectPauseMs = 50;

} // namespace

CSingleInstance::CSingleInstance(const QString& directory, const QString& key, QObject* parent)
    : QObject(parent), m_directory(directory), m_key(key) {}

CSingleInstance::~CSingleInstance() {
    if (m_server)
        m_server->close(); // removes the socket file while the lock is still held
}

QString CSingleInstance::DefaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString CSingleInstance::DesktopKey(const QString& platform, const QString& display) {
    QString desktop = display;
    // An X display "host:N.S": the screen S belongs to the same desktop.
    static const QRegularExpression screen(QStringLiteral(R"(^([^:]*:\d+)\.\d+$)"));
    const QRegularExpressionMatch match = screen.match(desktop);
    if (match.hasMatch())
        desktop = match.captured(1);
    QString key = QStringLiteral("orvane-") + platform;
    if (!desktop.isEmpty())
        key += QLatin1Char('-') + desktop;
    for (QChar& c : key) {
        const bool safe = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                          c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!safe)
            c = QLatin1Char('_');
    }
    return key.left(100); // a socket path must stay well under 108 bytes
}

QString CSingleInstance::CurrentDesktopKey() {
    const QString platform =
        qEnvironmentVariable("QT_QPA_PLATFORM").section(QLatin1Char(':'), 0, 0);
    QString display;
    if (platform.isEmpty() || platform == QLatin1String("xcb"))
        display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty() && (platform.isEmpty() || platform.startsWith(QLatin1String("wayland"))))
        display = qEnvironmentVariable("WAYLAND_DISPLAY");
    return DesktopKey(platform.isEmpty() ? QStringLiteral("desktop") : platform, display);
}

bool CSingleInstance::IsListening() const {
    return m_server && m_server->isListening();
}

CSingleInstance::Outcome CSingleInstance::Start(int waitMs) {
    int error = 0;
    if (!QDir(m_directory).exists() && QDir().mkpath(m_directory))
        QFile::setPermissions(m_directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner);
    const FileLock::Outcome locked =
        m_lock.TryLock(LockPath().toStdString(), FileLock::Exclusive, &error);
    if (locked == FileLock::Busy)
        return AskFirstCopy(waitMs);
    if (locked == FileLock::Unavailable) {
        // Nothing can tell two copies apart here; this one runs rather than none.
        std::fprintf(
            stderr,
            "orvane: cannot use %s (%s); another copy on this desktop will not be noticed\n",
            qPrintable(LockPath()), std::strerror(error));
        return First;
    }

    // The lock is ours, so no live copy listens: a socket file here was left by one that died.
    QLocalServer::removeServer(SocketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(SocketPath())) {
        std::fprintf(
            stderr,
            "orvane: cannot listen on %s (%s); a later copy cannot bring this one forward\n",
            qPrintable(SocketPath()), qPrintable(m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return First;
    }
    connect(m_server, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    return First;
}

CSingleInstance::Outcome CSingleInstance::AskFirstCopy(int waitMs) {
    const QDeadlineTimer deadline(waitMs);
    QLocalSocket socket;
    // The first copy takes the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(SocketPath());
        if (socket.waitForConnected(
                static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0))))
            break;
        if (deadline.hasExpired())
            return OtherSilent;
        QThread::msleep(kConnectPauseMs);
    }
    socket.write(kRaiseRequest);
    if (!socket.waitForBytesWritten(
            static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0))))
        return OtherSilent;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(
                                         std::max<qint64>(deadline.remainingTime(), 0))))
            return OtherSilent;
    }
    return socket.readLine() == kRaiseAnswer ? OtherAnswered : OtherSilent;
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Anything but the one request, or a request that never ends, is dropped.
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64)
                    socket->abort();
                return;
            }
            if (socket->readLine() == kRaiseRequest) {
                emit raiseRequested();
                socket->write(kRaiseAnswer);
                socket->flush();
            }
            socket->disconnectFromServer();
        });
    }
}
