// Screenshots of the user list and user properties dialogs over a demo's data.
#pragma once

#include <QString>
#include <QStringList>

// Renders the dialogs over the demo made by "orvane demo init" in `demoDirectory` (its profile
// must be the default one) into `outputDirectory` as PNG files, and returns their paths; an
// empty list, with `error` set, when something could not be done. Needs a QApplication; under
// a real window system (xcb) the open drop-down list is shot from the screen as well.
QStringList RenderUserDialogs(const QString& demoDirectory, const QString& outputDirectory,
                              QString& error);
