#pragma once

#include "base/pictureconverter.h"
#include "record/captureinput.h"
#include "record/capturerun.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class PictureCompositor;

// Reads a camera on a thread of its own and hands each picture, converted to
// the size the compositor shows it at, to the compositor. The camera is the
// machine's first one, or any FFmpeg input (format and name) set instead.
// It runs until stopped or until the camera goes away; either way its
// picture leaves the class.
class CameraThread : public QThread
{
    Q_OBJECT
public:
    enum Failure {
        NotFound,
        // Another program holds it.
        Busy,
        OpenFailed,
        // It ended, or was unplugged, while it ran.
        Lost
    };

    explicit CameraThread(std::shared_ptr<PictureCompositor> compositor, QObject *parent = nullptr);
    ~CameraThread() override;

    // An input in place of the machine's camera; an empty name goes back to it.
    void setInput(const QString &formatName, const QString &name);
    // Starts reading unless it already does; sig_opened or sig_failed tell
    // how the opening went.
    void startCamera();
    void stopCamera();

    // What the user is told of a failure.
    static QString failureText(int failure);

    // A read failing this long means the camera is gone.
    static constexpr int kLostAfterMs = 1000;

signals:
    void sig_opened();
    // Not for a stop: the thread has ended and the picture is gone.
    void sig_failed(int failure);

protected:
    void run() override;

private:
    bool open(const QString &formatName, const QString &name, Failure *failure);
    // Until stopped; false when the camera went away.
    bool readPictures();
    void takePicture(const AVFrame *frame);
    std::shared_ptr<std::vector<uint8_t>> spareBuffer(size_t bytes);

    std::shared_ptr<PictureCompositor> m_compositor;
    CaptureInput m_input;
    PictureConverter m_scaler;
    // The compositor shows one picture while the next is made: three do.
    std::shared_ptr<std::vector<uint8_t>> m_buffers[3];
    CaptureRun m_run;
    // Asked to run: a start during the last run's end starts again.
    std::atomic<bool> m_wanted{false};
    std::mutex m_inputMutex;
    QString m_formatName;
    QString m_name;
};
