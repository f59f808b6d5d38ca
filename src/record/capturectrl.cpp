#include "record/capturectrl.h"

#include "base/echocanceller.h"
#include "record/audiocapturethread.h"

#include "base/logging.h"
#include "record/openingthread.h"
#include "record/recordnotice.h"

#include <QDeadlineTimer>

namespace {
const char *usualText(CaptureCtrl::Failure failure)
{
    switch (failure) {
    case CaptureCtrl::NoFailure:
        return "";
    case CaptureCtrl::StillStopping:
        return recordText::kStillStopping;
    case CaptureCtrl::NameTooLong:
        return recordText::kOutputNameTooLong;
    case CaptureCtrl::AudioDevice:
        return recordText::kAudioDeviceFailed;
    case CaptureCtrl::Output:
        return recordText::kOutputFailed;
    case CaptureCtrl::VideoDevice:
        return recordText::kVideoDeviceFailed;
    case CaptureCtrl::VideoCapture:
        return recordText::kVideoCaptureBroken;
    case CaptureCtrl::ScreenShare:
        return recordText::kScreenShareFailed;
    }
    return "";
}
} // namespace

CaptureCtrl::CaptureCtrl(QObject *parent) : QObject(parent) {}

void CaptureCtrl::addThreads(std::vector<QThread *> threads)
{
    m_threads = std::move(threads);
    for (QThread *thread : m_threads)
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
}

void CaptureCtrl::endOpening()
{
    if (!m_opener)
        return;
    OpeningThread::end(&m_opener);
    if (m_opened == NoFailure)
        closeOpened();
}

bool CaptureCtrl::isIdle() const
{
    if (m_opener)
        return false;
    for (QThread *thread : m_threads)
        if (thread->isRunning())
            return false;
    return true;
}

bool CaptureCtrl::waitIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (QThread *thread : m_threads)
        if (!thread->wait(deadline))
            return false;
    return true;
}

bool CaptureCtrl::refuse(Failure failure, const char *text)
{
    m_failure = failure;
    // The output's own failure is in the log already.
    if (failure != Output || m_reportOutput)
        recordNotice::report(m_texts.value(failure, recordText::shown(text ? text : usualText(failure))));
    return false;
}

void CaptureCtrl::runFailed(Failure failure, const char *text)
{
    stopRun();
    refuse(failure, text);
    emit s_failed();
}

CaptureCtrl::Failure CaptureCtrl::openRun()
{
    ++m_run;
    return open();
}

bool CaptureCtrl::startNow()
{
    // A new run never shares threads or queues with the last one.
    if (m_opener || !waitIdle(kPreviousRunWaitMs))
        return refuse(StillStopping);
    return finishStart(openRun());
}

bool CaptureCtrl::finishStart(Failure opened)
{
    if (opened != NoFailure)
        return refuse(opened);
    m_failure = NoFailure;
    startThreads();
    return true;
}

void CaptureCtrl::beginOpening()
{
    // Opening devices and output takes tens of milliseconds, more on a
    // loaded machine: not on the thread that paints the windows.
    m_stopWhileOpening = false;
    OpeningThread::launch(
        &m_opener, this, [this] { m_opened = openRun(); }, [this] { openingDone(); });
}

void CaptureCtrl::openingDone()
{
    if (!m_stopWhileOpening) {
        emit s_startFinished(finishStart(m_opened));
    } else {
        // Stopped before it ran: nothing is captured, nothing is reported.
        if (m_opened == NoFailure)
            closeOpened();
        m_failure = NoFailure;
        emit s_startFinished(false);
    }
    // Those waiting for the controller to be idle were waiting for the opening too.
    if (isIdle())
        emit s_idle();
}

void CaptureCtrl::stopRun()
{
    // The opening thread has the devices until it is done.
    if (m_opener) {
        m_stopWhileOpening = true;
        return;
    }
    stopThreads();
}

void CaptureCtrl::threadFinished(QThread *thread, int run)
{
    // finished() comes just before the thread stops counting as running;
    // what is left of it is Qt's own clean-up.
    if (run != m_run || !thread->wait() || !isIdle())
        return;
    emit s_idle();
    becameIdle();
}

void CaptureCtrl::setMuted(bool muted)
{
    if (m_microphone)
        m_microphone->setMuted(muted);
}

bool CaptureCtrl::isMuted() const
{
    return m_microphone && m_microphone->isMuted();
}

float CaptureCtrl::microphoneLevel() const
{
    return m_microphone ? m_microphone->meter().level() : 0.0f;
}

long long CaptureCtrl::microphoneSilentMs() const
{
    return m_microphone ? m_microphone->meter().silentMs() : 0;
}

QString CaptureCtrl::microphoneName() const
{
    return m_microphone ? m_microphone->sourceName() : QString();
}

void CaptureCtrl::setEchoCanceller(std::shared_ptr<EchoCanceller> canceller)
{
    if (m_microphone)
        m_microphone->setEchoCanceller(std::move(canceller));
}
