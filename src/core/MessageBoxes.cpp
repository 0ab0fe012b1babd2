// The message-box seam and its console implementation.
#include "MessageBoxes.h"

#include <cstdio>

namespace {

ConsoleMessageBoxes& Console() {
    static ConsoleMessageBoxes console;
    return console;
}

IMessageBoxes*& Current() {
    static IMessageBoxes* current = nullptr;
    return current;
}

} // namespace

IMessageBoxes& MessageBoxes() {
    return Current() ? *Current() : Console();
}

IMessageBoxes* SetMessageBoxes(IMessageBoxes* boxes) {
    IMessageBoxes* previous = Current();
    Current() = boxes;
    return previous;
}

int AfxMessageBox(const CString& text, const CString& caption, unsigned type) {
    return MessageBoxes().Show(text, caption, type);
}

int ConsoleMessageBoxes::Show(const CString& text, const CString& caption, unsigned type) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    switch (type & kMessageBoxButtonMask) {
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    default:
        return IDOK;
    }
}
