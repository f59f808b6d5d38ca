#include "record/recordctrl.h"

#include "record/getaudiothread.h"
#include "record/getvideothread.h"
#include "record/openingthread.h"
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
        connect(
            thread, &QThread::finished, this,
            [this, thread] {
                // Told on the finishing thread, before a later run can start:
                // a finish queued behind a new run's start is not the new run's.
                const int run = m_run;
                QMetaObject::invokeMethod(
                    this, [this, thread, run] { threadFinished(thread, run); }, Qt::QueuedConnection);
            },
            Qt::DirectConnection);
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
    if (m_opener) {
        OpeningThread::end(&m_opener);
        videoThread->closeDevice();
        audioThread->closeDevice();
    }
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
    return !m_opener && !videoThread->isRunning() && !audioThread->isRunning() && !encoder->isRunning();
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
    if (m_opener || !waitIdle(kPreviousRunWaitMs))
        return refuse(StillStopping, recordText::kStillStopping);
    videoThread->setCaptureArea(m_captureArea);
    return finishStart(open(mode));
}

recordCtrl::Failure recordCtrl::open(int mode)
{
    ++m_run;
    const QByteArray name = url.toLocal8Bit();
    if (name.size() + 1 > saveVideoThread::kOutputNameBytes)
        return NameTooLong;
    if (videoThread->openDevice(QStringLiteral("screen-capture-recorder"), mode) != GetVideoThread::Ready)
        return VideoDevice;
    if (audioThread->openDevice(QStringLiteral("screen-capture-recorder")) != audioCaptureThread::Ready) {
        videoThread->closeDevice();
        return AudioDevice;
    }
    encoder->setOutputName(name.constData());
    if (!encoder->startEncoding()) {
        videoThread->closeDevice();
        audioThread->closeDevice();
        return Output;
    }
    return NoFailure;
}

bool recordCtrl::finishStart(Failure opened)
{
    static const char *const texts[] = {"",
                                        recordText::kStillStopping,
                                        recordText::kOutputNameTooLong,
                                        recordText::kVideoDeviceFailed,
                                        recordText::kAudioDeviceFailed,
                                        recordText::kOutputFailed};
    if (opened != NoFailure)
        return refuse(opened, texts[opened]);
    m_failure = NoFailure;
    TAVI_LOG_INFO("recording to " << flvOutput::nameForLog(url.toLocal8Bit().constData()).constData());
    videoThread->startCapture();
    audioThread->startCapture();
    return true;
}

void recordCtrl::startWhenIdle(int mode)
{
    if (isIdle()) {
        beginOpening(mode);
        return;
    }
    if (m_opener)
        return; // the start under way answers
    m_pendingMode = mode;
    m_pendingTimeout->start();
}

void recordCtrl::beginOpening(int mode)
{
    // Opening the devices and the encoder takes tens of milliseconds, more on
    // a loaded machine: not on the thread that paints the windows.
    m_stopWhileOpening = false;
    // Handed over here, on this thread: the area may change while the opening runs.
    videoThread->setCaptureArea(m_captureArea);
    OpeningThread::launch(
        &m_opener, this, [this, mode] { m_opened = open(mode); }, [this] { openingDone(); });
}

void recordCtrl::openingDone()
{
    if (!m_stopWhileOpening) {
        emit s_startFinished(finishStart(m_opened));
    } else {
        // Stopped before it ran: nothing is recorded, nothing is reported.
        if (m_opened == NoFailure) {
            encoder->stopEncoding();
            videoThread->closeDevice();
            audioThread->closeDevice();
        }
        m_failure = NoFailure;
        emit s_startFinished(false);
    }
    // Those waiting for the controller to be idle were waiting for the opening too.
    if (isIdle())
        emit s_idle();
}

void recordCtrl::threadFinished(QThread *thread, int run)
{
    // finished() comes just before the thread stops counting as running;
    // what is left of it is Qt's own clean-up.
    if (run != m_run || !thread->wait() || !isIdle())
        return;
    emit s_idle();
    if (m_pendingMode >= 0) {
        const int mode = m_pendingMode;
        m_pendingMode = -1;
        m_pendingTimeout->stop();
        beginOpening(mode);
    }
}

bool recordCtrl::stop()
{
    // The opening thread has the devices until it is done.
    if (m_opener) {
        m_stopWhileOpening = true;
        return false;
    }
    videoThread->stopCapture();
    audioThread->stopCapture();
    return false;
}

void recordCtrl::pause()
{
    if (m_opener)
        return; // a caller that pauses during the opening pauses again once it runs
    videoThread->pauseCapture();
    audioThread->pauseCapture();
}

void recordCtrl::resume()
{
    if (m_opener)
        return;
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
