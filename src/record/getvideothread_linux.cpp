#include "record/devmag.h"
#include "record/getvideothread.h"

// The desktop is the X display of $DISPLAY (x11grab); cameras are v4l2.
bool GetVideoThread::platformInput(int mode, QString *formatName, QString *url)
{
    if (mode == 1) {
        *formatName = devMag::instance()->videoFormatName();
        *url = devMag::instance()->videoDeviceName();
        return !url->isEmpty();
    }
    *formatName = QStringLiteral("x11grab");
    const QByteArray display = qgetenv("DISPLAY");
    *url = display.isEmpty() ? QStringLiteral(":0.0") : QString::fromLocal8Bit(display);
    return true;
}
