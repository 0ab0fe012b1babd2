// The one way the program asks the user a question or tells a local problem.
#pragma once

#include "CString.h"

// Button sets and icons, combined with |, and the answers; the values are the classic ones.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDRETRY = 4, IDYES = 6, IDNO = 7 };

inline constexpr unsigned kMessageBoxButtonMask = 0xF;

// Implemented by the desktop (modal boxes), by the command line (prints and takes the negative
// answer: nobody is there to ask) and by tests (queued answers).
class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // Shows `text` with `caption`; `type` is buttons | icon. Returns the button pressed.
    virtual int Show(const CString& text, const CString& caption, unsigned type) = 0;
};

// The current implementation; never null (the console one until another is installed).
IMessageBoxes& MessageBoxes();
// Installs `boxes` (not owned; null restores the console one). Returns the previous one.
IMessageBoxes* SetMessageBoxes(IMessageBoxes* boxes);

// Shorthand for MessageBoxes().Show(...).
int AfxMessageBox(const CString& text, const CString& caption, unsigned type);

// Prints to standard error and answers Cancel, No or OK: the answer that changes nothing.
class ConsoleMessageBoxes : public IMessageBoxes {
public:
    int Show(const CString& text, const CString& caption, unsigned type) override;
};
