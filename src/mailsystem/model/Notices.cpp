// The process-wide notice sink.
#include "mailsystem/model/Notices.h"

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

} // namespace mail
