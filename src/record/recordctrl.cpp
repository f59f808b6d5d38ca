#include "record/recordctrl.h"

#include "record/camerathread.h"
#include "record/getaudiothread.h"
#include "record/getvideothread.h"
#include "record/recordnotice.h"
#include "record/savevideothread.h"

#include "base/logging.h"

#include <QTimer>

namespace {
recordCtrl *g_recordCtrl = nullptr;
} // namespace

recordCtrl::recordCtrl(QObject *parent)
    : CaptureCtrl(parent),
      m_video(new GetVideoThread(this)),
      m_audio(new GetAudioThread(this)),
      m_encoder(new saveVideoThread(this)),
      m_compositor(std::make_shared<PictureCompositor>()),
      m_camera(new CameraThread(m_compositor, this)),
      m_pendingTimeout(new QTimer(this))
{
    m_compositor->setCorner(PictureCompositor::rememberedCorner());
    m_video->setCompositor(m_compositor);
    connect(m_camera, &CameraThread::sig_opened, this, &recordCtrl::sig_cameraOpened, Qt::QueuedConnection);
    connect(
        m_camera, &CameraThread::sig_failed, this,
        [this](int failure) {
            // A start asked for since may have taken it up again.
            if (!m_camera->isRunning())
                m_compositor->setMode(CameraMode::Off);
            emit sig_cameraFailed(failure);
        },
        Qt::QueuedConnection);
    m_video->setEncoder(m_encoder);
    m_audio->setEncoder(m_encoder);
    // The captures push into the encoder until their loops have ended.
    addThreads({m_video, m_audio, m_encoder});
    setMicrophone(m_audio);
    connect(
        m_encoder, &saveVideoThread::sig_outputFailed, this, [this] { runFailed(Output); }, Qt::QueuedConnection);
    connect(m_video, &GetVideoThread::sig_captureFailed, this, &recordCtrl::captureFailed, Qt::QueuedConnection);
    connect(m_video, &GetVideoThread::sig_preview, this, &recordCtrl::sig_preview, Qt::DirectConnection);
    m_pendingTimeout->setSingleShot(true);
    m_pendingTimeout->setInterval(kPreviousRunWaitMs);
    connect(m_pendingTimeout, &QTimer::timeout, this, [this] {
        if (m_pendingMode < 0)
            return;
        m_pendingMode = -1;
        refuse(StillStopping);
        emit s_startFinished(false);
    });
}

recordCtrl::~recordCtrl()
{
    m_camera->stopCamera();
    endOpening();
    stop();
    m_video->wait();
    m_audio->wait();
    m_encoder->stopEncoding();
    m_encoder->wait();
}

recordCtrl *recordCtrl::instance()
{
    if (!g_recordCtrl)
        g_recordCtrl = new recordCtrl(nullptr);
    return g_recordCtrl;
}

void recordCtrl::setClassStreamOnly(bool only)
{
    m_encoder->setClassStreamOnly(only);
}

void recordCtrl::setPreview(int width, int height, int intervalMs)
{
    m_video->setPreview(width, height, intervalMs);
}

QSize recordCtrl::pictureSize() const
{
    return m_video->pictureSize();
}

void recordCtrl::setCameraMode(CameraMode mode)
{
    m_compositor->setMode(mode);
    if (mode == CameraMode::Off)
        m_camera->stopCamera();
    else
        m_camera->startCamera();
}

CameraMode recordCtrl::cameraMode() const
{
    return m_compositor->mode();
}

void recordCtrl::setCameraCorner(CameraCorner corner)
{
    m_compositor->setCorner(corner);
}

CameraCorner recordCtrl::cameraCorner() const
{
    return m_compositor->corner();
}

void recordCtrl::setCameraInput(const QString &formatName, const QString &name)
{
    m_camera->setInput(formatName, name);
}

QRect recordCtrl::cameraRect() const
{
    return m_compositor->cameraRect();
}

bool recordCtrl::isPaused() const
{
    return m_video->isPaused();
}

bool recordCtrl::start(int mode)
{
    if (!isOpening())
        prepare(mode);
    return startNow();
}

void recordCtrl::prepare(int mode)
{
    // Copied here, on this thread: the settings may change while an opening runs.
    m_mode = mode;
    m_openName = url.toLocal8Bit();
    m_openSource = m_audioSource;
    m_video->setCaptureArea(m_captureArea);
}

CaptureCtrl::Failure recordCtrl::open()
{
    const QByteArray &name = m_openName;
    if (name.size() + 1 > saveVideoThread::kOutputNameBytes)
        return NameTooLong;
    if (m_video->openDevice(m_mode) != CaptureInput::Ready)
        return VideoDevice;
    if (m_audio->openDevice(m_openSource) != CaptureInput::Ready) {
        m_video->closeDevice();
        return AudioDevice;
    }
    m_encoder->setOutputName(name.constData());
    if (!m_encoder->startEncoding()) {
        m_video->closeDevice();
        m_audio->closeDevice();
        return Output;
    }
    return NoFailure;
}

void recordCtrl::closeOpened()
{
    m_encoder->stopEncoding();
    m_video->closeDevice();
    m_audio->closeDevice();
}

void recordCtrl::startThreads()
{
    TAVI_LOG_INFO("recording to " << flvOutput::nameForLog(m_openName.constData()).constData());
    m_video->startCapture();
    m_audio->startCapture();
}

void recordCtrl::startWhenIdle(int mode)
{
    if (isIdle()) {
        prepare(mode);
        beginOpening();
        return;
    }
    if (isOpening())
        return; // the start under way answers
    m_pendingMode = mode;
    m_pendingTimeout->start();
}

void recordCtrl::becameIdle()
{
    if (m_pendingMode < 0)
        return;
    const int mode = m_pendingMode;
    m_pendingMode = -1;
    m_pendingTimeout->stop();
    startWhenIdle(mode);
}

bool recordCtrl::stop()
{
    stopRun();
    return false;
}

void recordCtrl::stopThreads()
{
    // The encoder drains and ends once both captures have ended.
    m_video->stopCapture();
    m_audio->stopCapture();
}

void recordCtrl::pause()
{
    if (isOpening())
        return; // a caller that pauses during the opening pauses again once it runs
    m_video->pauseCapture();
    m_audio->pauseCapture();
}

void recordCtrl::resume()
{
    if (isOpening())
        return;
    m_video->resumeCapture();
    m_audio->resumeCapture();
}

void recordCtrl::captureFailed()
{
    // In the order of GetVideoThread::Failure.
    static const char *const texts[] = {recordText::kVideoCaptureBroken, recordText::kScreenShareMissing,
                                        recordText::kScreenShareRefused, recordText::kScreenShareFailed,
                                        recordText::kScreenShareEnded};
    const GetVideoThread::Failure failure = m_video->lastFailure();
    runFailed(failure == GetVideoThread::PictureBroken ? VideoCapture : ScreenShare, texts[failure]);
}
