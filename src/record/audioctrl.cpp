#include "record/audioctrl.h"

#include "base/logging.h"
#include "record/getaudiothreaddia.h"
#include "record/recordnotice.h"
#include "record/sendaudiothread.h"

#include <QDeadlineTimer>

namespace {
AudioCtrl *g_audioCtrl = nullptr;
constexpr int kPreviousRunWaitMs = 6000;
} // namespace

AudioCtrl::AudioCtrl(QObject *parent)
    : QObject(parent), sender(new sendAudioThread(this)), audioThread(new GetAudioThreadDia(this))
{
    audioThread->setEncoder(sender);
    connect(sender, &sendAudioThread::sig_outputFailed, this, &AudioCtrl::slot_outputFailed, Qt::QueuedConnection);
}

AudioCtrl::~AudioCtrl()
{
    // The capture hands chunks to the sender until its loop has ended.
    audioThread->stopCapture();
    audioThread->wait();
    sender->stopEncoding();
    sender->wait();
}

AudioCtrl *AudioCtrl::instance()
{
    if (!g_audioCtrl)
        g_audioCtrl = new AudioCtrl(nullptr);
    return g_audioCtrl;
}

void AudioCtrl::setAddress(const char *address)
{
    m_nameRefused = !sender->setOutputName(address);
}

void AudioCtrl::setClassStreamOnly(bool only)
{
    sender->setClassStreamOnly(only);
}

bool AudioCtrl::isIdle() const
{
    return !sender->isRunning() && !audioThread->isRunning();
}

bool AudioCtrl::waitIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    return audioThread->wait(deadline) && sender->wait(deadline);
}

void AudioCtrl::refuse(Failure failure, const char *text)
{
    m_failure = failure;
    if (failure == Output && !m_reportOutput)
        TAVI_LOG_WARN("dialogue: cannot write to its address");
    else
        recordNotice::report(QString::fromUtf8(text));
}

void AudioCtrl::start()
{
    if (!waitIdle(kPreviousRunWaitMs))
        return refuse(StillStopping, recordText::kStillStopping);
    if (m_nameRefused)
        return refuse(NameTooLong, recordText::kOutputNameTooLong);
    if (audioThread->openDevice(QString()) != audioCaptureThread::Ready)
        return refuse(AudioDevice, recordText::kAudioDeviceFailed);
    if (!sender->startEncoding()) {
        audioThread->closeDevice();
        return refuse(Output, recordText::kOutputFailed);
    }
    m_failure = NoFailure;
    state = Running;
    audioThread->startCapture();
}

void AudioCtrl::stop()
{
    state = Idle;
    audioThread->stopCapture();
    sender->stopEncoding();
}

void AudioCtrl::slot_outputFailed()
{
    stop();
    refuse(Output, recordText::kOutputFailed);
    emit s_failed();
}
