// One desktop copy of Orvane per user and desktop: a local socket in the user's runtime directory.
#pragma once

#include "core/FileSystem.h"

#include <QObject>
#include <QString>

class QLocalServer;

// The first copy holds a lock file and listens on a local socket beside it; a later copy finds
// the lock taken, asks the first one over the socket to come forward and ends. The lock, not the
// socket file, decides who is first: a lock dies with its process, so a socket file left behind
// by a crashed copy is removed by the next first copy, and a live copy's socket is never touched.
class CSingleInstance : public QObject {
    Q_OBJECT
public:
    enum Outcome {
        First,         // this copy runs (and listens, when it could)
        OtherAnswered, // another copy runs and was asked to come forward
        OtherSilent,   // another copy holds the lock but did not answer in time
    };

    // `directory`: where the lock and the socket live (the user's runtime directory, owner-only);
    // `key`: names the desktop (see DesktopKey).
    CSingleInstance(const QString& directory, const QString& key, QObject* parent = nullptr);
    ~CSingleInstance() override;

    // The runtime directory ($XDG_RUNTIME_DIR, or Qt's private fallback), created owner-only.
    static QString DefaultDirectory();
    // "orvane-" and the desktop: the platform and its display (":0" and ":0.1" are one desktop),
    // with characters unsafe in a file name replaced.
    static QString DesktopKey(const QString& platform, const QString& display);
    // The key of the desktop this process runs on.
    static QString CurrentDesktopKey();

    // Becomes the first copy, or asks the first one to come forward. A second copy waits up to
    // `waitMs` for the first one to listen and to answer.
    Outcome Start(int waitMs = 3000);

    QString SocketPath() const { return m_directory + "/" + m_key + ".socket"; }
    QString LockPath() const { return m_directory + "/" + m_key + ".lock"; }
    bool IsListening() const;

signals:
    // A later copy asked this one to come forward.
    void raiseRequested();

private:
    Outcome AskFirstCopy(int waitMs);
    void OnNewConnection();

    QString m_directory;
    QString m_key;
    FileLock m_lock;
    QLocalServer* m_server = nullptr;
};
