#include "record/recordctrl.h"

#include "record/getaudiothread.h"
#include "record/getvideothread.h"
#include "record/recordnotice.h"
#include "record/savevideothread.h"

#include "base/logging.h"

#include <QDeadlineTimer>
#include <QTimer>

namespace {
recordCtrl *g_recordCtrl = nullptr;
// How long a start waits for the previous recording to close its output.
constexpr int kPreviousRunWaitMs = 6000;
} // namespace

recordCtrl::recordCtrl(QObject *parent)
    : QObject(parent),
      videoThread(new GetVideoThread(this)),
      audioThread(new GetAudioThread(this)),
      encoder(new saveVideoThread(this)),
      m_pendingTimeout(new QTimer(this))
{
    videoThread->setEncoder(encoder);
    audioThread->setEncoder(encoder);
    connect(encoder, &saveVideoThread::sig_outputFailed, this, &recordCtrl::slot_outputFailed, Qt::QueuedConnection);
    connect(videoThread, &GetVideoThread::sig_captureFailed, this, &recordCtrl::slot_captureFailed,
            Qt::QueuedConnection);
    for (QThread *thread :
         {static_cast<QThread *>(videoThread), static_cast<QThread *>(audioThread), static_cast<QThread *>(encoder)})
        connect(thread, &QThread::finished, this, &recordCtrl::slot_threadFinished, Qt::QueuedConnection);
    m_pendingTimeout->setSingleShot(true);
    m_pendingTimeout->setInterval(kPreviousRunWaitMs);
    connect(m_pendingTimeout, &QTimer::timeout, this, [this] {
        if (m_pendingMode < 0)
            return;
        m_pendingMode = -1;
        refuse(StillStopping, recordText::kStillStopping);
        emit s_startFinished(false);
    });
}

recordCtrl::~recordCtrl()
{
    // The captures push into the encoder until their loops have ended.
    stop();
    videoThread->wait();
    audioThread->wait();
    encoder->stopEncoding();
    encoder->wait();
}

recordCtrl *recordCtrl::instance()
{
    if (!g_recordCtrl)
        g_recordCtrl = new recordCtrl(nullptr);
    return g_recordCtrl;
}

void recordCtrl::setClassStreamOnly(bool only)
{
    encoder->setClassStreamOnly(only);
}

void recordCtrl::setAudioSource(const QString &name)
{
    audioThread->setSource(name);
}

bool recordCtrl::isIdle() const
{
    return !videoThread->isRunning() && !audioThread->isRunning() && !encoder->isRunning();
}

bool recordCtrl::waitIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    return videoThread->wait(deadline) && audioThread->wait(deadline) && encoder->wait(deadline);
}

bool recordCtrl::refuse(Failure failure, const char *text)
{
    m_failure = failure;
    if (failure == Output && !m_reportOutput)
        TAVI_LOG_WARN("record: cannot write to " << flvOutput::nameForLog(url.toLocal8Bit().constData()).constData());
    else
        recordNotice::report(m_texts.value(failure, QString::fromUtf8(text)));
    return false;
}

bool recordCtrl::start(int mode)
{
    // A new recording never shares threads or queues with the last one.
    if (!waitIdle(kPreviousRunWaitMs))
        return refuse(StillStopping, recordText::kStillStopping);
    const QByteArray name = url.toLocal8Bit();
    if (name.size() + 1 > saveVideoThread::kOutputNameBytes)
        return refuse(NameTooLong, recordText::kOutputNameTooLong);
    if (videoThread->openDevice(QStringLiteral("screen-capture-recorder"), mode) != GetVideoThread::Ready)
        return refuse(VideoDevice, recordText::kVideoDeviceFailed);
    if (audioThread->openDevice(QStringLiteral("screen-capture-recorder")) != audioCaptureThread::Ready) {
        videoThread->closeDevice();
        return refuse(AudioDevice, recordText::kAudioDeviceFailed);
    }
    encoder->setOutputName(name.constData());
    if (!encoder->startEncoding()) {
        videoThread->closeDevice();
        audioThread->closeDevice();
        return refuse(Output, recordText::kOutputFailed);
    }
    m_failure = NoFailure;
    TAVI_LOG_INFO("recording to " << flvOutput::nameForLog(name.constData()).constData());
    videoThread->startCapture();
    audioThread->startCapture();
    return true;
}

void recordCtrl::startWhenIdle(int mode)
{
    if (isIdle()) {
        emit s_startFinished(start(mode));
        return;
    }
    m_pendingMode = mode;
    m_pendingTimeout->start();
}

void recordCtrl::slot_threadFinished()
{
    if (auto *thread = qobject_cast<QThread *>(sender()))
        whenStopped(thread, 0);
}

void recordCtrl::whenStopped(QThread *thread, int tries)
{
    // finished() comes just before the thread stops counting as running.
    if (thread->isRunning() && tries < 200) {
        QTimer::singleShot(5, this, [this, thread, tries] { whenStopped(thread, tries + 1); });
        return;
    }
    if (!isIdle())
        return;
    emit s_idle();
    if (m_pendingMode >= 0) {
        const int mode = m_pendingMode;
        m_pendingMode = -1;
        m_pendingTimeout->stop();
        emit s_startFinished(start(mode));
    }
}

bool recordCtrl::stop()
{
    videoThread->stopCapture();
    audioThread->stopCapture();
    return false;
}

void recordCtrl::pause()
{
    videoThread->pauseCapture();
    audioThread->pauseCapture();
}

void recordCtrl::resume()
{
    videoThread->resumeCapture();
    audioThread->resumeCapture();
}

void recordCtrl::slot_outputFailed()
{
    stop();
    refuse(Output, recordText::kOutputFailed);
    emit s_failed();
}

void recordCtrl::slot_captureFailed()
{
    stop();
    // In the order of GetVideoThread::Failure.
    static const char *const texts[] = {recordText::kVideoCaptureBroken, recordText::kScreenShareMissing,
                                        recordText::kScreenShareRefused, recordText::kScreenShareFailed,
                                        recordText::kScreenShareEnded};
    const GetVideoThread::Failure failure = videoThread->lastFailure();
    refuse(failure == GetVideoThread::PictureBroken ? VideoCapture : ScreenShare, texts[failure]);
    emit s_failed();
}
