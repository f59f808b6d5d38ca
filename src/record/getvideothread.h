#pragma once

#include "base/pictureconverter.h"
#include "record/captureinput.h"
#include "record/capturerun.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

struct AVFrame;
struct AVPacket;
struct AVDictionary;
class saveVideoThread;
class ScreenCast;
class PictureCompositor;

// Reads the desktop (or a camera), converts each picture to YUV 4:2:0 and
// hands it with a millisecond time stamp to its encoder. Reused: openDevice
// and startCapture for every recording, stopCapture to end it.
class GetVideoThread : public QThread
{
    Q_OBJECT
public:
    explicit GetVideoThread(QObject *parent = nullptr);
    ~GetVideoThread() override;

    // mode 0: the whole desktop (or the capture area); 1: the camera devMag
    // names. Call after setEncoder: it tells the encoder the size.
    CaptureInput::Result openDevice(int mode);
    // The part of the X screen that mode 0 captures (a monitor's rectangle);
    // an empty one is the whole screen. Read by the next openDevice.
    void setCaptureArea(const QRect &area) { m_captureArea = area; }
    // The size a class or recording is encoded at for a desktop of the given
    // size: even, in proportion, at most 1920 on the long side and 1080 on
    // the short one (a portrait desktop stays portrait).
    static QSize classPictureSize(int width, int height);
    // The encoded size of the opened input.
    QSize pictureSize() const { return QSize(m_width, m_height); }
    // Opens any FFmpeg input as the picture source (formatName may be null).
    CaptureInput::Result openInput(const char *formatName, const QString &url, AVDictionary **options = nullptr);
    // Releases an opened input that will not be started.
    void closeDevice();

    void startCapture();
    void stopCapture();
    void pauseCapture();
    void resumeCapture();
    void setEncoder(saveVideoThread *receiver) { encoder = receiver; }
    // Puts the camera into every picture (set before a start).
    void setCompositor(std::shared_ptr<PictureCompositor> compositor) { m_compositor = std::move(compositor); }
    bool isPaused() const { return paused.load(); }
    // Whether the last capture ended on a decoding error.
    bool captureFailed() const { return m_captureFailed.load(); }
    // While width and height are positive, every intervalMs a captured
    // picture also leaves, scaled to that size, through sig_preview. Takes
    // effect at once, also during a capture.
    void setPreview(int width, int height, int intervalMs);

    // Why the last capture failed. On a Wayland desktop the screen is shared
    // through the desktop portal, which the user may refuse.
    enum Failure {
        PictureBroken,
        ScreenShareMissing,
        ScreenShareRefused,
        ScreenShareFailed,
        ScreenShareEnded
    };
    Failure lastFailure() const { return m_failure.load(); }

signals:
    // From the capture thread: a 32-bit RGB picture of the preview's size.
    void sig_preview(QImage picture);
    // A picture could not be decoded; the capture has ended and released the device.
    void sig_captureFailed();

protected:
    void run() override;

private:
    // Input format and name of a capture mode on this platform.
    static bool platformInput(int mode, QString *formatName, QString *url);

    // The time stamp of a picture read now.
    int stampPicture();
    // Decodes a packet and hands its pictures to the encoder; false on a
    // decoding error.
    bool decodePacket(AVPacket *packet, int timestampMs);
    // Converts a picture to YUV 4:2:0 and hands it to the encoder.
    void pushPicture(const AVFrame *picture, int timestampMs);
    // Puts the camera into a class picture, and previews that picture then;
    // hands it to the encoder.
    void finishPicture(uint8_t *buffer, int bytes, int timestampMs);
    // Emits the desktop's picture scaled to the preview's size when one is
    // due, unless the camera is in the picture (the preview shows what is
    // published).
    void previewPicture(const AVFrame *picture);
    // The class picture with the camera in it, as the preview.
    void previewComposed(const uint8_t *buffer);
    void previewPlanes(const uint8_t *const planes[4], const int lines[4], int w, int h, int format);
    void setPictureSize(int width, int height);
    // The capture loop of a desktop shared through the portal.
    void runScreenCast();
    void captureEnded(bool failed, Failure failure);

    CaptureInput m_input;
    PictureConverter m_scaler;
    // A desktop of twice the class's size, halved before its conversion.
    std::vector<uint8_t> m_half;
    PictureConverter m_previewScaler;
    // The preview's halvings of the desktop.
    std::vector<uint8_t> m_previewHalf[2];
    // Width << 32 | height, and the interval: one store each, read by the
    // capture thread.
    std::atomic<qint64> m_previewSize{0};
    std::atomic<int> m_previewIntervalMs{200};
    qint64 m_lastPreviewMs = 0;
    // The encoded size; the input's may be larger (scaled down).
    int m_width = 0;
    int m_height = 0;
    QRect m_captureArea;
    qint64 m_stampStartMs = 0;
    qint64 m_stampBaseMs = 0;
    CaptureRun m_run;
    std::atomic<bool> paused{false};
    std::atomic<bool> firstFrameTaken{false};
    std::atomic<bool> m_captureFailed{false};
    std::atomic<Failure> m_failure{PictureBroken};
    saveVideoThread *encoder = nullptr;
    std::shared_ptr<PictureCompositor> m_compositor;
    // The last picture had the camera in it.
    bool m_cameraShown = false;
    std::atomic<bool> m_useScreenCast{false};
    std::mutex m_screenCastMutex;
    std::shared_ptr<ScreenCast> m_screenCast;
};
