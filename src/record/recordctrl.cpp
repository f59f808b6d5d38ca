#include "record/recordctrl.h"

#include "record/getaudiothread.h"
#include "record/getvideothread.h"
#include "record/recordnotice.h"
#include "record/savevideothread.h"

#include "base/logging.h"

#include <QDeadlineTimer>

namespace {
recordCtrl *g_recordCtrl = nullptr;
// How long a start waits for the previous recording to close its output.
constexpr int kPreviousRunWaitMs = 6000;
} // namespace

recordCtrl::recordCtrl(QObject *parent)
    : QObject(parent),
      videoThread(new GetVideoThread(this)),
      audioThread(new GetAudioThread(this)),
      encoder(new saveVideoThread(this))
{
    videoThread->setEncoder(encoder);
    audioThread->setEncoder(encoder);
    connect(encoder, &saveVideoThread::sig_outputFailed, this, &recordCtrl::slot_outputFailed, Qt::QueuedConnection);
    connect(videoThread, &GetVideoThread::sig_captureFailed, this, &recordCtrl::slot_captureFailed,
            Qt::QueuedConnection);
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
