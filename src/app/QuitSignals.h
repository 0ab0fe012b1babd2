// SIGINT and SIGTERM (a logout, a service stop) turned into an event of the Qt event loop.
#pragma once

#include <QObject>

class QSocketNotifier;

class CQuitSignals : public QObject {
    Q_OBJECT
public:
    explicit CQuitSignals(QObject* parent = nullptr);
    ~CQuitSignals() override;
    // Installs the handlers; false when the pipe they write to cannot be made.
    bool Install();

signals:
    void quitRequested();

private:
    QSocketNotifier* m_notifier = nullptr;
};
