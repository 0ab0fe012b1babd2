// Message boxes of the desktop: modal QMessageBox with the classic buttons and icons.
#pragma once

#include "core/MessageBoxes.h"

class QtMessageBoxes : public IMessageBoxes {
public:
    int Show(const CString& text, const CString& caption, unsigned type) override;
};
