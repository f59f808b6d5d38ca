#include "record/audioctrl.h"

#include "base/logging.h"
#include "record/getaudiothreaddia.h"
#include "record/openingthread.h"
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
    for (QThread *thread : {static_cast<QThread *>(sender), static_cast<QThread *>(audioThread)})
        connect(
            thread, &QThread::finished, this,
            [this, thread] {
                // finished() comes just before the thread stops counting as running.
                if (thread->wait() && isIdle())
                    emit s_idle();
            },
            Qt::QueuedConnection);
}

AudioCtrl::~AudioCtrl()
{
    if (m_opener) {
        OpeningThread::end(&m_opener);
        audioThread->closeDevice();
    }
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
    return !m_opener && !sender->isRunning() && !audioThread->isRunning();
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
    if (m_opener || !waitIdle(kPreviousRunWaitMs))
        return refuse(StillStopping, recordText::kStillStopping);
    finishStart(open());
}

AudioCtrl::Failure AudioCtrl::open()
{
    if (m_nameRefused)
        return NameTooLong;
    if (audioThread->openDevice(QString()) != audioCaptureThread::Ready)
        return AudioDevice;
    if (!sender->startEncoding()) {
        audioThread->closeDevice();
        return Output;
    }
    return NoFailure;
}

bool AudioCtrl::finishStart(Failure opened)
{
    static const char *const texts[] = {"", recordText::kStillStopping, recordText::kOutputNameTooLong,
                                        recordText::kAudioDeviceFailed, recordText::kOutputFailed};
    if (opened != NoFailure) {
        refuse(opened, texts[opened]);
        return false;
    }
    m_failure = NoFailure;
    state = Running;
    audioThread->startCapture();
    return true;
}

void AudioCtrl::startInBackground()
{
    if (m_opener)
        return; // the start under way answers
    m_stopWhileOpening = false;
    OpeningThread::launch(
        &m_opener, this, [this] { m_opened = open(); }, [this] { openingDone(); });
}

void AudioCtrl::openingDone()
{
    if (!m_stopWhileOpening) {
        emit s_startFinished(finishStart(m_opened));
        return;
    }
    // Stopped before it ran: nothing is published, nothing is reported.
    if (m_opened == NoFailure) {
        sender->stopEncoding();
        audioThread->closeDevice();
    }
    m_failure = NoFailure;
    emit s_startFinished(false);
}

void AudioCtrl::stop()
{
    state = Idle;
    // The opening thread has the microphone and the sender until it is done.
    if (m_opener) {
        m_stopWhileOpening = true;
        return;
    }
    audioThread->stopCapture();
    sender->stopEncoding();
}

void AudioCtrl::slot_outputFailed()
{
    stop();
    refuse(Output, recordText::kOutputFailed);
    emit s_failed();
}
