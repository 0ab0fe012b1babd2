// The process-wide notice sink, and what was told of each calendar.
#include "mailsystem/model/Notices.h"

#include <algorithm>
#include <mutex>

namespace mail {
namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

NoticeSink& Sink() {
    static NoticeSink sink;
    return sink;
}

} // namespace

NoticeSink SetNoticeSink(NoticeSink sink) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    std::swap(Sink(), sink);
    return sink;
}

void Notify(const std::string& sentence) {
    NoticeSink sink;
    {
        std::lock_guard<std::mutex> lock(SinkMutex());
        sink = Sink();
    }
    if (sink)
        sink(sentence);
}

std::vector<std::string> ToldNotices::Tell(const std::vector<std::string>& notices, bool sameText) {
    std::vector<std::string> untold;
    for (const std::string& notice : notices) {
        if (std::find(m_told.begin(), m_told.end(), notice) == m_told.end())
            untold.push_back(notice);
    }
    if (sameText)
        m_told.insert(m_told.end(), untold.begin(), untold.end());
    else
        m_told = notices;
    return untold;
}

} // namespace mail
