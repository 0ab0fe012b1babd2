// The control socket of a monitored directory: how `orvane users` and `orvane status` reach the
// monitor that runs there.
#pragma once

#include "core/CString.h"

#include <QJsonObject>
#include <QObject>
#include <functional>

class QLocalServer;
class QLocalSocket;

// A local (Unix) stream socket named "Orvane.sock" in the monitored directory, beside Users.dat
// and the monitor's lock file. It is created readable and writable by its owner only, and both
// ends check the other's user ID: only the user the monitor runs as can talk to it, and a client
// never talks to a socket that another user put there.
//
// One request per connection: the client sends one JSON object on one line, the monitor
// answers with one JSON object on one line and closes. Requests are answered on the monitor's
// own thread between its cycles, so an answer waits for a running cycle to end.
namespace control {

inline constexpr const char* kSocketFileName = "Orvane.sock";
// Set to a number of milliseconds to change how long a client waits for the monitor's answer
// (default 60 seconds: a cycle that waits for a mail server can take that long).
inline constexpr const char* kTimeoutVariable = "ORVANE_CONTROL_TIMEOUT_MS";
inline constexpr int kDefaultTimeoutMs = 60000;
// The longest request or answer accepted, in bytes.
inline constexpr qsizetype kMaxMessage = 16 << 20;

struct AskResult {
    enum Outcome {
        Answered,     // `answer` holds the monitor's answer
        NotListening, // no socket, or nobody listens on it
        NoAnswer,     // connected, but no whole answer came within the time allowed
        Refused,      // the socket belongs to another user, or cannot be used (see `problem`)
    };
    Outcome outcome = NotListening;
    QJsonObject answer;
    CString problem; // a phrase for the administrator; empty when Answered
};

// Sends `request` to the monitor of `directory` (with its trailing "/") and waits for the
// answer: at most `timeoutMs`, or kTimeoutVariable's value, or kDefaultTimeoutMs when it is 0.
// `slow` (optional) is called once when the answer has not come after two seconds.
AskResult Ask(const CString& directory, const QJsonObject& request, int timeoutMs = 0,
              const std::function<void()>& slow = {});

} // namespace control

// The monitor's end: listens on the directory's socket and hands every request to `handler`.
class CControlServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<QJsonObject(const QJsonObject& request)>;

    explicit CControlServer(Handler handler, QObject* parent = nullptr);
    ~CControlServer() override;

    // Creates the socket in `directory` (with its trailing "/"), replacing one that a monitor
    // which ended without removing it left behind; the caller holds the directory's monitor
    // lock, so no other monitor can be listening there. False with the reason in `whyNot`.
    bool Listen(const CString& directory, CString& whyNot);
    // Stops listening and removes the socket.
    void Close();
    bool IsListening() const;

private:
    void Accept();
    void Serve(QLocalSocket* socket);

    Handler m_handler;
    QLocalServer* m_server = nullptr;
    CString m_path; // the socket's path as it was bound (relative when the absolute is too long)
};
