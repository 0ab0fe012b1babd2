// Notices: what the mail system met and worked around without failing (a calendar line that was
// repaired, a time zone that was not known), for the client that writes the event log.
#pragma once

#include <functional>
#include <string>

namespace mail {

// Receives one notice: a whole sentence naming the file it concerns.
using NoticeSink = std::function<void(const std::string& sentence)>;

// Installs `sink` for the whole process (empty: notices are dropped) and returns the one it
// replaces, so that a client can restore it when it ends. Thread-safe.
NoticeSink SetNoticeSink(NoticeSink sink);

// Hands `sentence` to the installed sink, if any. Never called with a lock of the caller held.
void Notify(const std::string& sentence);

// Installs a sink for its own lifetime and restores the one before when it ends.
class ScopedNoticeSink {
public:
    explicit ScopedNoticeSink(NoticeSink sink) : m_previous(SetNoticeSink(std::move(sink))) {}
    ~ScopedNoticeSink() { SetNoticeSink(std::move(m_previous)); }
    ScopedNoticeSink(const ScopedNoticeSink&) = delete;
    ScopedNoticeSink& operator=(const ScopedNoticeSink&) = delete;

private:
    NoticeSink m_previous;
};

} // namespace mail
