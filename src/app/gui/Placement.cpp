// Where the main window goes at start-up.
#include "app/gui/Placement.h"

namespace placement {

QRect Centred(const QSize& size, const QRect& screen) {
    const int left = screen.x() + screen.width() / 2 - (size.width() + 1) / 2;
    const int top = screen.y() + screen.height() / 2 - (size.height() + 1) / 2;
    return QRect(QPoint(left, top), size);
}

QRect Mend(const QRect& saved, const QList<QRect>& screens, const QRect& primary,
           const QRect& primaryAvailable, const QSize& defaultSize) {
    if (saved.width() > 0 && saved.height() > 0) {
        for (const QRect& screen : screens)
            if (screen.intersects(saved))
                return saved;
    }
    QSize size = saved.width() > 0 && saved.height() > 0 ? saved.size() : defaultSize;
    if (primaryAvailable.isValid())
        size = size.boundedTo(primaryAvailable.size());
    return Centred(size, primary);
}

} // namespace placement
