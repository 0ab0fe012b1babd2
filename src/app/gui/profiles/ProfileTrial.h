// A trial of an edited mail profile: one "orvane" command (page, scan, address-list,
// out-of-office) run in a child process against the profile written to a configuration of its
// own, so that the window never waits on a server and Cancel ends the trial at once.
#pragma once

#include "mailsystem/Profiles.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

class CProfileTrial : public QObject {
    Q_OBJECT
public:
    enum class Kind {
        Page,        // a test page to `subject`, a pager name
        Scan,        // a scan of the mailbox `subject`
        AddressList, // a read of the address list
        OutOfOffice, // the out-of-office state of the mailbox `subject`
    };
    // A trial that has not ended by then is ended and reported as unanswered.
    static constexpr int kTimeLimitMs = 120000;
    static constexpr const char* kTestPageText = "Orvane test page";

    explicit CProfileTrial(QObject* parent = nullptr);
    ~CProfileTrial() override;

    // The program run: the running program itself when it is "orvane", else "orvane" beside
    // it; tests name the built program.
    static QString Program();
    static void SetProgram(const QString& path);

    // The command line of a trial of the profile named `profileName` (without the program).
    static QStringList Arguments(Kind kind, const QString& subject, const QString& profileName);
    // What a person reads of a finished trial: whether it succeeded, then the command's own
    // words (its output and then its notes on standard error when it succeeded, its errors when
    // not), without the "orvane: " that starts each of its error lines, at most 20 lines.
    static QString Outcome(bool succeeded, const QString& output, const QString& errors);

    // Starts the trial of `profile` (saved nowhere but in the child's configuration, readable by
    // its owner only). False, with the reason in `error`, when one is running already or the
    // configuration cannot be written; otherwise finished() follows, exactly once.
    bool Start(const mail::Profile& profile, Kind kind, const QString& subject, QString& error);
    // Ends a running trial at once; finished() reports it as cancelled.
    void Cancel();
    bool Running() const { return m_process != nullptr; }

signals:
    void finished(bool succeeded, const QString& outcome);

private:
    void Finish(bool succeeded, const QString& outcome);

    QProcess* m_process = nullptr; // the running child, owned; null between trials
    std::unique_ptr<QTemporaryDir> m_config;
    QTimer m_limit;
};
