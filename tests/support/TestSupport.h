// Shared test fixtures: temporary directories, time zones, queued message-box answers, captured
// events, and a working directory of the test's own.
#pragma once

#include "core/MessageBoxes.h"
#include "paging/EventLog.h"

#include <QTemporaryDir>
#include <deque>
#include <string>
#include <vector>

namespace testing_support {

// A loopback port that no one listened on a moment ago (bound, read and closed); 0 if none.
int FreePort();
// A socket connected to the loopback port, or -1.
int ConnectLoopback(int port);

// The directory of shared test data (tests/data).
std::string DataDir();
// Reads a whole file; fails the test when it cannot.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// A fresh directory, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    QTemporaryDir m_dir;
    std::string m_path;
};

// Sets TZ for the scope (e.g. "America/New_York", "UTC", "Asia/Kolkata").
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();

private:
    std::string m_previous;
    bool m_hadPrevious;
};

// Changes the process's current directory and the program's working directory for the scope.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::string& directory);
    ~ScopedWorkingDirectory();

private:
    std::string m_previous;
};

// Answers message boxes from a queue and records every box shown. A box with no queued answer
// fails the test and answers Cancel.
class QueuedMessageBoxes : public IMessageBoxes {
public:
    struct Shown {
        std::string text, caption;
        unsigned type;
    };
    QueuedMessageBoxes();
    ~QueuedMessageBoxes() override;
    void Answer(int id) { m_answers.push_back(id); }
    int Show(const CString& text, const CString& caption, unsigned type) override;
    const std::vector<Shown>& Boxes() const { return m_shown; }

private:
    std::deque<int> m_answers;
    std::vector<Shown> m_shown;
    IMessageBoxes* m_previous;
};

// Collects every event written during the scope. Scopes nest: an inner one collects alone and
// hands the events back to the outer one when it ends.
class CapturedEvents {
public:
    CapturedEvents();
    ~CapturedEvents();
    const std::vector<EventLog::Entry>& Entries() const { return m_entries; }
    // The first insertion string of each entry, in order.
    std::vector<std::string> Texts() const;

private:
    std::vector<EventLog::Entry> m_entries;
    std::function<void(const EventLog::Entry&)> m_previous;
};

} // namespace testing_support
