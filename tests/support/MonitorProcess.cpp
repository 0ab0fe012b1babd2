// Headless monitors in processes of their own for the tests.
#include "support/MonitorProcess.h"

#include "support/MonitoredSetup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

namespace testing_support {

MonitorProcess::MonitorProcess(const std::string& name, const std::string& usersFile,
                               const std::vector<std::string>& args, const Environment& environment)
    : m_name(name), m_work(m_dir.File("work")), m_config(m_dir.File("config")),
      m_environment(environment) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(m_work, error);
    fs::copy_file(usersFile, m_work + "/Users.dat", error);
    EXPECT_FALSE(error) << "copying " << usersFile << ": " << error.message();
    fs::copy(std::getenv("XDG_CONFIG_HOME"), m_config, fs::copy_options::recursive, error);
    EXPECT_FALSE(error) << "copying the configuration: " << error.message();
    m_process.setProcessEnvironment(Env());
    m_process.setWorkingDirectory(QString::fromStdString(m_work));
    QStringList arguments{"--headless"};
    for (const std::string& a : args)
        arguments << QString::fromStdString(a);
    m_process.start(QString::fromStdString(OrvaneProgram()), arguments);
    m_started = m_process.waitForStarted(10000);
    EXPECT_TRUE(m_started) << "cannot start " << OrvaneProgram();
}

MonitorProcess::~MonitorProcess() {
    if (Running()) {
        Signal(SIGCONT);
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QProcessEnvironment MonitorProcess::Env() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(m_config));
    env.insert("ORVANE_EVENT_LOG", QString::fromStdString(EventLog()));
    for (const auto& [name, value] : m_environment)
        env.insert(QString::fromStdString(name), QString::fromStdString(value));
    return env;
}

std::string MonitorProcess::EventLog() const {
    return m_dir.File("events.jsonl");
}

void MonitorProcess::Signal(int signal) {
    if (Running())
        kill(static_cast<pid_t>(m_process.processId()), signal);
}

void MonitorProcess::Read() {
    m_out += m_process.readAllStandardOutput().toStdString();
    m_err += m_process.readAllStandardError().toStdString();
}

int MonitorProcess::CountOut(const std::string& text, size_t from) const {
    int n = 0;
    for (size_t at = m_out.find(text, from); at != std::string::npos;
         at = m_out.find(text, at + text.size()))
        ++n;
    return n;
}

int MonitorProcess::RunCommand(const std::vector<std::string>& args, std::string* output) {
    QProcess command;
    command.setProcessEnvironment(Env());
    command.setWorkingDirectory(QString::fromStdString(m_work));
    QStringList arguments;
    for (const std::string& a : args)
        arguments << QString::fromStdString(a);
    command.start(QString::fromStdString(OrvaneProgram()), arguments);
    if (!command.waitForStarted(10000))
        return -1;
    QElapsedTimer waited;
    waited.start();
    while (command.state() != QProcess::NotRunning && waited.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        command.waitForFinished(20);
        Read();
    }
    if (output)
        *output = command.readAllStandardOutput().toStdString() +
                  command.readAllStandardError().toStdString();
    if (command.state() != QProcess::NotRunning) {
        command.kill();
        command.waitForFinished();
        return -1;
    }
    return command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
}

bool WaitReading(const std::vector<MonitorProcess*>& monitors, const std::function<bool()>& done,
                 std::chrono::milliseconds bound) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (MonitorProcess* m : monitors) {
            m->Read();
        }
        if (done())
            return true;
        if (waited.elapsed() > bound.count())
            return false;
        QThread::msleep(20); // a poll's pause: the condition is read again, not assumed
    }
}

} // namespace testing_support
