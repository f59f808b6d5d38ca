#include "record/audiocapturethread.h"
#include "record/devmag.h"

// PulseAudio sources (ALSA devices when no PulseAudio server runs).
bool audioCaptureThread::platformInput(QString *formatName, QString *url)
{
    devMag *devices = devMag::instance();
    *formatName = devices->audioFormatName();
    *url = devices->audioDeviceName();
    return !url->isEmpty() && !formatName->isEmpty();
}
