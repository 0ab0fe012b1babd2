// The message pane of the main window's status bar, as seen by the code that reports progress.
#pragma once

#include "CString.h"

// The desktop shows the text in its status bar; the command line and headless runs ignore it or
// print it. The Outlook session writes "EX:" + mailbox while a user is open and "Ready" after.
class IStatusText {
public:
    virtual ~IStatusText() = default;
    virtual void SetMessageText(const CString& text) = 0;
};

// The current pane; never null (one that ignores every text until another is installed).
IStatusText& StatusText();
// Installs `pane` (not owned; null restores the silent one). Returns the previous one.
IStatusText* SetStatusText(IStatusText* pane);
