#pragma once

#include "record/capturectrl.h"
#include "record/picturecompositor.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

class CameraThread;
class GetVideoThread;
class GetAudioThread;
class saveVideoThread;
class QTimer;

// Publishes the teacher's screen and microphone as one FLV stream (or
// records them into a file): one video capture, one microphone capture and
// one encoder, reused for every recording.
class recordCtrl : public CaptureCtrl
{
    Q_OBJECT
public:
    explicit recordCtrl(QObject *parent = nullptr);
    ~recordCtrl() override;

    // The process-wide instance, created on first use.
    static recordCtrl *instance();

    void setUrl(const QString &address) { url = address; }
    // The sound source to record (devMag::audioSources()); empty for the
    // default microphone.
    void setAudioSource(const QString &name) { m_audioSource = name; }
    // Publishes to class streams only (see saveVideoThread).
    void setClassStreamOnly(bool only);
    QString currentUrl() const { return url; }
    // The part of the X screen the desktop recordings grab from the next
    // start on (a monitor's rectangle); empty for the whole screen.
    void setCaptureArea(const QRect &area) { m_captureArea = area; }
    // mode 0: the desktop, 1: the first camera. True when the recording runs;
    // every refusal is reported to the user (output failures only while
    // they are reported). Opens the devices and the encoder on the caller's
    // thread: windows use startWhenIdle.
    bool start(int mode);
    // start(mode) once every thread of the last recording has ended, waiting
    // in the event loop (at most as long as start would), with the devices
    // and the encoder opened on a thread of its own; s_startFinished tells
    // how it went.
    void startWhenIdle(int mode);
    bool isStartPending() const { return m_pendingMode >= 0 || isOpening(); }
    // Ends the capture; the encoder drains and closes the output. A start
    // still opening ends without recording. Always false.
    bool stop();
    void pause();
    void resume();
    bool isPaused() const;

    // While width and height are positive, every intervalMs a captured
    // picture also leaves, scaled to that size, through sig_preview.
    void setPreview(int width, int height, int intervalMs);
    // The encoded size of the opened picture source.
    QSize pictureSize() const;
    const saveVideoThread *encoder() const { return m_encoder; }

    // The camera in the published picture, switched at any time, also
    // during a run. A camera that cannot open, or goes away, turns it Off
    // and tells through sig_cameraFailed; the desktop goes on.
    void setCameraMode(CameraMode mode);
    CameraMode cameraMode() const;
    // Starts as the corner the user chose last.
    void setCameraCorner(CameraCorner corner);
    CameraCorner cameraCorner() const;
    // Any FFmpeg input as the camera; an empty name is the machine's first.
    void setCameraInput(const QString &formatName, const QString &name);
    // Where the camera sits in the published picture; empty while none is.
    QRect cameraRect() const;

signals:
    // From the capture thread: a 32-bit RGB picture of the preview's size.
    void sig_preview(QImage picture);
    void sig_cameraOpened();
    // A CameraThread::Failure.
    void sig_cameraFailed(int failure);

private:
    Failure open() override;
    void closeOpened() override;
    void startThreads() override;
    void stopThreads() override;
    void becameIdle() override;
    // Hands the settings of a start to its opening.
    void prepare(int mode);
    void captureFailed();

    GetVideoThread *m_video;
    GetAudioThread *m_audio;
    saveVideoThread *m_encoder;
    std::shared_ptr<PictureCompositor> m_compositor;
    CameraThread *m_camera;
    QString url;
    QString m_audioSource;
    QRect m_captureArea;
    // The start under way's settings.
    int m_mode = 0;
    QByteArray m_openName;
    QString m_openSource;
    int m_pendingMode = -1;
    QTimer *m_pendingTimeout;
};
