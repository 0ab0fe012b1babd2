// `orvane --headless` as child processes, each in a working and a configuration directory of its
// own, whose output the test reads while it waits for a condition.
#pragma once

#include "support/TestSupport.h"

#include <QProcess>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class MonitorProcess {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // A working directory holding a copy of `usersFile` and a configuration directory copied
    // from this process's XDG_CONFIG_HOME (the mail profile and the settings), both under a
    // temporary directory of its own; `orvane --headless ARGS` started there.
    MonitorProcess(const std::string& name, const std::string& usersFile,
                   const std::vector<std::string>& args, const Environment& environment = {});
    // Killed (SIGCONT first, so that a stopped one dies too) if it still runs.
    ~MonitorProcess();
    MonitorProcess(const MonitorProcess&) = delete;
    MonitorProcess& operator=(const MonitorProcess&) = delete;

    const std::string& Name() const { return m_name; }
    bool Started() const { return m_started; }
    void Signal(int signal);
    // Reads what it has written since the last call.
    void Read();
    bool Running() const { return m_process.state() != QProcess::NotRunning; }
    const std::string& Out() const { return m_out; }
    const std::string& Err() const { return m_err; }
    // How often `text` occurs in its standard output after `from` (a size of Out() once).
    int CountOut(const std::string& text, size_t from = 0) const;
    // Runs `orvane ARGS` to its end in this monitor's directories (a command handed to it);
    // its exit status, -1 when it did not end within 60 seconds.
    int RunCommand(const std::vector<std::string>& args, std::string* output = nullptr);

    const std::string& WorkingDirectory() const { return m_work; }
    std::string EventLog() const;

private:
    QProcessEnvironment Env() const;

    std::string m_name;
    TempDir m_dir;
    std::string m_work, m_config;
    Environment m_environment;
    QProcess m_process;
    bool m_started = false;
    std::string m_out, m_err;
};

// Waits until `done` holds, at most `bound`, reading the output of `monitors` meanwhile and
// keeping this thread's event loop going; whether it held.
bool WaitReading(const std::vector<MonitorProcess*>& monitors, const std::function<bool()>& done,
                 std::chrono::milliseconds bound);

} // namespace testing_support
