// Notices: what the mail system met and worked around without failing (a calendar line that was
// repaired, a time zone that was not known), for the client that writes the event log.
#pragma once

#include <functional>
#include <string>
#include <vector>

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

// What was told of one calendar (a file, or an item on a server), so that each notice is told once:
// not again at every reading of the same text (a later range reaches other events, which may
// leave a notice out for a while), nor when a changed text still gives it.
class ToldNotices {
public:
    // The notices of a new reading that were not told yet. `sameText`: the readings before were
    // of the same text, whose notices stay told; otherwise only the last one's do.
    std::vector<std::string> Tell(const std::vector<std::string>& notices, bool sameText);

private:
    std::vector<std::string> m_told;
};

} // namespace mail
