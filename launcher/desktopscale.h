#pragma once

#include <QByteArray>

// The desktop's scale for Qt, settled before the application object is made:
// Qt 5 on X11 takes its scale from QT_SCALE_FACTOR and QT_SCREEN_SCALE_FACTORS
// but not from the desktop's own setting, Xft.dpi.

// The dots per inch that X resources (as xrdb keeps them) give as Xft.dpi;
// 0 when they give none or nonsense.
double xftDpi(const QByteArray &resources);

// Sets QT_SCALE_FACTOR from the display's Xft.dpi (96, or none, is 100 %),
// unless the user has set a scale of their own; fonts then keep 96 dpi and
// the screen's measured density is not applied, so that nothing is enlarged
// twice.
void followDesktopScale();

// The display's X resources (the root window's RESOURCE_MANAGER); empty
// without a display.
QByteArray displayResources();
