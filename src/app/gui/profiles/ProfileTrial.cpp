// A trial of an edited mail profile in a child process.
#include "app/gui/profiles/ProfileTrial.h"

#include "paging/EventLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString& ProgramOverride() {
    static QString path;
    return path;
}

} // namespace

CProfileTrial::CProfileTrial(QObject* parent) : QObject(parent) {
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        Finish(false, tr("Failed. No answer within %1 seconds; the server may be down or "
                         "unreachable, or a firewall drops the connection.")
                          .arg(kTimeLimitMs / 1000));
    });
}

CProfileTrial::~CProfileTrial() {
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(1000);
        delete m_process;
    }
}

QString CProfileTrial::Program() {
    if (!ProgramOverride().isEmpty())
        return ProgramOverride();
    const QFileInfo self(QCoreApplication::applicationFilePath());
    if (self.fileName() == QLatin1String("orvane"))
        return self.filePath();
    return self.dir().filePath(QStringLiteral("orvane"));
}

void CProfileTrial::SetProgram(const QString& path) {
    ProgramOverride() = path;
}

QStringList CProfileTrial::Arguments(Kind kind, const QString& subject,
                                     const QString& profileName) {
    const QStringList profile = {QStringLiteral("--profile"), profileName};
    switch (kind) {
    case Kind::Page:
        return QStringList{QStringLiteral("page"), subject, QString::fromLatin1(kTestPageText),
                           QStringLiteral("--cause"), QStringLiteral("yes")} +
               profile;
    case Kind::Scan:
        return QStringList{QStringLiteral("scan"), subject} + profile;
    case Kind::AddressList:
        return QStringList{QStringLiteral("address-list")} + profile;
    case Kind::OutOfOffice:
        return QStringList{QStringLiteral("out-of-office"), subject} + profile;
    }
    return {};
}

QString CProfileTrial::Outcome(bool succeeded, const QString& output, const QString& errors) {
    constexpr int kMaxLines = 20;
    QStringList lines;
    // A success's own words go on in its notes (what decided an out-of-office state, which
    // calendars a scan read); a failure's output holds nothing its errors do not say better.
    const QString said = succeeded ? output + QLatin1Char('\n') + errors : errors;
    for (QString line : said.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("orvane: ")))
            line.remove(0, 8);
        lines << line.trimmed();
    }
    if (lines.size() > kMaxLines) {
        const qsizetype more = lines.size() - kMaxLines;
        lines = lines.mid(0, kMaxLines);
        lines << tr("(%1 more lines)").arg(more);
    }
    QString text = succeeded ? tr("Succeeded.") : tr("Failed.");
    if (!lines.isEmpty())
        text += QLatin1Char(' ') + lines.join(QLatin1Char('\n'));
    else if (!succeeded)
        text += tr(" The command gave no reason.");
    return text;
}

bool CProfileTrial::Start(const mail::Profile& profile, Kind kind, const QString& subject,
                          QString& error) {
    if (m_process) {
        error = tr("A test is running already.");
        return false;
    }
    m_config = std::make_unique<QTemporaryDir>();
    mail::Profiles profiles;
    profiles.Set(profile);
    std::string text, why;
    const QString directory = m_config->path() + QStringLiteral("/Quorvik");
    if (!m_config->isValid() || !QDir().mkpath(directory) || !profiles.Format(text, why)) {
        error = why.empty() ? tr("The test's temporary configuration cannot be written.")
                            : QString::fromStdString(why);
        return false;
    }
    QFile file(directory + QStringLiteral("/Orvane-profiles.conf"));
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size())) {
        error =
            tr("The test's temporary configuration cannot be written: %1").arg(file.errorString());
        return false;
    }
    file.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
    // A trial's failures are no events of the monitored site.
    environment.remove(QString::fromLatin1(EventLog::kFileVariable));
    m_process = new QProcess(this);
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(m_config->path());
    m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        const bool succeeded = status == QProcess::NormalExit && code == 0;
        Finish(succeeded, Outcome(succeeded, QString::fromUtf8(m_process->readAllStandardOutput()),
                                  QString::fromUtf8(m_process->readAllStandardError())));
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError failure) {
        if (failure == QProcess::FailedToStart)
            Finish(false,
                   tr("Failed. %1 cannot be started: %2").arg(Program(), m_process->errorString()));
    });
    m_limit.start(kTimeLimitMs);
    m_process->start(Program(), Arguments(kind, subject, QString::fromStdString(profile.name)));
    return true;
}

void CProfileTrial::Cancel() {
    if (m_process)
        Finish(false, tr("Cancelled."));
}

void CProfileTrial::Finish(bool succeeded, const QString& outcome) {
    if (!m_process)
        return;
    m_limit.stop();
    QProcess* process = std::exchange(m_process, nullptr);
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        process->kill(); // SIGKILL: nothing the child waits on can hold it
        process->waitForFinished(1000);
    }
    process->deleteLater();
    m_config.reset();
    emit finished(succeeded, outcome);
}
