// Where the main window goes at start-up: the centred default, and a saved rectangle mended when
// no screen shows any of it.
#pragma once

#include <QList>
#include <QRect>

namespace placement {

// `size` centred in `screen`: left = sw/2 - (W + 1)/2, top = sh/2 - (H + 1)/2 (integer
// divisions), from the screen's own origin.
QRect Centred(const QSize& size, const QRect& screen);

// The saved outer rectangle when some screen shows part of it, unchanged. Otherwise (a monitor
// unplugged since, or a rectangle without area) the window would be out of reach: it is
// centred on `primary` instead, at its saved size (no larger than `primaryAvailable`), or at
// `defaultSize` when the saved one has no area.
QRect Mend(const QRect& saved, const QList<QRect>& screens, const QRect& primary,
           const QRect& primaryAvailable, const QSize& defaultSize);

} // namespace placement
