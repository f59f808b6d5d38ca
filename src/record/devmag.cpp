#include "record/devmag.h"

#include "base/logging.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <atomic>

namespace {
std::atomic<devMag *> g_devMag{nullptr};
}

devMag::devMag(QObject *parent) : QObject(parent)
{
    avdevice_register_all();
    m_videoFormatName = QStringLiteral("v4l2");
    std::vector<DeviceEntry> videoList;
    enumerateDevices(videoList, "v4l2");
    if (!videoList.empty())
        m_videoDeviceName = videoList.front().displayName;

    // PulseAudio when its server runs, ALSA otherwise. The microphone is
    // the one the user chose for the system ("default": PULSE_SOURCE, else
    // the server's default source). The first listed source is usually the
    // monitor of the speakers, and ALSA's first hint is "null".
    std::vector<DeviceEntry> audioList;
    m_audioFormatName = QStringLiteral("pulse");
    if (enumerateDevices(audioList, "pulse") < 0 || audioList.empty()) {
        m_audioFormatName = QStringLiteral("alsa");
        enumerateDevices(audioList, "alsa");
    }
    if (!audioList.empty())
        m_audioDeviceName = QStringLiteral("default");
    TAVI_LOG_INFO("capture devices: camera '" << m_videoDeviceName << "', microphone " << m_audioFormatName << " '"
                                              << m_audioDeviceName << "'");
}

devMag::devMag(const QString &videoName, const QString &audioName, const QString &audioFormat, QObject *parent)
    : QObject(parent),
      m_videoDeviceName(videoName),
      m_audioDeviceName(audioName),
      m_videoFormatName(QStringLiteral("v4l2")),
      m_audioFormatName(audioFormat)
{
    avdevice_register_all();
}

devMag *devMag::instance()
{
    devMag *current = g_devMag.load();
    if (!current) {
        current = new devMag(nullptr);
        devMag *expected = nullptr;
        if (!g_devMag.compare_exchange_strong(expected, current)) {
            delete current;
            current = expected;
        }
    }
    return current;
}

void devMag::setInstance(devMag *manager)
{
    g_devMag.store(manager);
}
