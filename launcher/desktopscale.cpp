#include "desktopscale.h"

#include <QList>

#include <cmath>

double xftDpi(const QByteArray &resources)
{
    double dpi = 0;
    for (const QByteArray &line : resources.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() != "Xft.dpi")
            continue;
        bool ok = false;
        const double value = line.mid(colon + 1).trimmed().toDouble(&ok);
        // Later lines win, as in xrdb; a scale beyond 8x is no desktop's.
        dpi = ok && std::isfinite(value) && value >= 24 && value <= 768 ? value : 0;
    }
    return dpi;
}

void followDesktopScale()
{
    for (const char *name : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return; // the user's own choice
    }
    // Without Xft.dpi the desktop is at 96 dpi, whatever size the screen
    // claims to be.
    double dpi = xftDpi(displayResources());
    if (dpi <= 0)
        dpi = 96;
    qputenv("QT_SCALE_FACTOR", QByteArray::number(dpi / 96.0, 'g', 4));
    // The scale alone: neither the screen's measured density nor Xft.dpi as
    // font size on top of it.
    qputenv("QT_AUTO_SCREEN_SCALE_FACTOR", "0");
    qputenv("QT_FONT_DPI", "96");
}
