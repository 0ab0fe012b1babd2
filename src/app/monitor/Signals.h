// SIGINT and SIGTERM (a logout, a service stop) and SIGHUP (a reload) turned into events of the
// Qt event loop, for the window and the headless monitor alike.
#pragma once

#include <QObject>

class QSocketNotifier;

class CSignals : public QObject {
    Q_OBJECT
public:
    explicit CSignals(QObject* parent = nullptr);
    // Gives the signals it handles back to their default actions.
    ~CSignals() override;
    // Installs the handlers of SIGINT and SIGTERM, and of SIGHUP when `reload` is set (otherwise
    // SIGHUP keeps its default); false when the pipe they write to cannot be made. One object at
    // a time handles them.
    bool Install(bool reload);

signals:
    void quitRequested();
    void reloadRequested();

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
    bool m_reload = false;
};
