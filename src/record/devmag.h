#pragma once

#include <QObject>
#include <QString>

#include <vector>

struct DeviceEntry
{
    QString friendlyName; // what people read
    QString displayName; // what opens the device
    bool monitor = false; // what the speakers play, not a microphone
};

// Finds the capture devices once per process and tells the capture threads
// which camera and which microphone to open (the first camera the system
// lists, the system's default microphone). Creating it also registers
// FFmpeg's input devices.
class devMag : public QObject
{
    Q_OBJECT
public:
    explicit devMag(QObject *parent = nullptr);

    // The process-wide instance, created on first use and never destroyed.
    static devMag *instance();
    // Puts another instance in place (a machine with other devices); the
    // previous one is not deleted, callers may still hold it.
    static void setInstance(devMag *manager);

    // Name that opens the camera / microphone; empty when none.
    QString videoDeviceName() const { return m_videoDeviceName; }
    QString audioDeviceName() const { return m_audioDeviceName; }
    // FFmpeg input formats for them ("v4l2"; "pulse" or "alsa").
    QString videoFormatName() const { return m_videoFormatName; }
    QString audioFormatName() const { return m_audioFormatName; }

    // Lists the sources of one FFmpeg input device, in system order, and
    // where known the index of the system's default one (else -1).
    // Returns the FFmpeg result (negative on failure).
    static int enumerateDevices(std::vector<DeviceEntry> &out, const char *formatName, int *defaultIndex = nullptr);

    // The sound sources one may record from, listed now (devices plugged in
    // later count): the system's default first, the speakers' monitors
    // last. Their names open in audioFormatName().
    std::vector<DeviceEntry> audioSources() const;
    // The cameras, listed now (one plugged in later counts), in
    // videoFormatName().
    std::vector<DeviceEntry> cameras() const;

protected:
    // A manager that reports the given devices instead of enumerating.
    devMag(const QString &videoName, const QString &audioName, const QString &audioFormat, QObject *parent);

private:
    QString m_videoDeviceName;
    QString m_audioDeviceName;
    QString m_videoFormatName;
    QString m_audioFormatName;
};
