// The status-text seam.
#include "StatusText.h"

namespace {

class SilentStatusText : public IStatusText {
public:
    void SetMessageText(const CString&) override {}
};

IStatusText*& Current() {
    static IStatusText* current = nullptr;
    return current;
}

} // namespace

IStatusText& StatusText() {
    static SilentStatusText silent;
    return Current() ? *Current() : silent;
}

IStatusText* SetStatusText(IStatusText* pane) {
    IStatusText* previous = Current();
    Current() = pane;
    return previous;
}
