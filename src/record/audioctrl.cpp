#include "record/audioctrl.h"

#include "record/getaudiothreaddia.h"
#include "record/sendaudiothread.h"

namespace {
AudioCtrl *g_audioCtrl = nullptr;
} // namespace

AudioCtrl::AudioCtrl(QObject *parent)
    : CaptureCtrl(parent), m_sender(new sendAudioThread(this)), m_audio(new GetAudioThreadDia(this))
{
    m_audio->setEncoder(m_sender);
    // The capture hands chunks to the sender until its loop has ended.
    addThreads({m_audio, m_sender});
    setMicrophone(m_audio);
    connect(
        m_sender, &sendAudioThread::sig_outputFailed, this, [this] { runFailed(Output); }, Qt::QueuedConnection);
}

AudioCtrl::~AudioCtrl()
{
    endOpening();
    m_audio->stopCapture();
    m_audio->wait();
    m_sender->stopEncoding();
    m_sender->wait();
}

AudioCtrl *AudioCtrl::instance()
{
    if (!g_audioCtrl)
        g_audioCtrl = new AudioCtrl(nullptr);
    return g_audioCtrl;
}

void AudioCtrl::setAddress(const char *address)
{
    m_nameRefused = !m_sender->setOutputName(address);
}

void AudioCtrl::setClassStreamOnly(bool only)
{
    m_sender->setClassStreamOnly(only);
}

bool AudioCtrl::outputFailed() const
{
    return m_sender->outputFailed();
}

AudioChunkList::Counters AudioCtrl::chunkCounters() const
{
    return m_sender->audioChunks().counters();
}

void AudioCtrl::start()
{
    startNow();
}

void AudioCtrl::startInBackground()
{
    if (!isOpening()) // else the start under way answers
        beginOpening();
}

CaptureCtrl::Failure AudioCtrl::open()
{
    if (m_nameRefused)
        return NameTooLong;
    if (m_audio->openDevice() != CaptureInput::Ready)
        return AudioDevice;
    if (!m_sender->startEncoding()) {
        m_audio->closeDevice();
        return Output;
    }
    return NoFailure;
}

void AudioCtrl::closeOpened()
{
    m_sender->stopEncoding();
    m_audio->closeDevice();
}

void AudioCtrl::startThreads()
{
    m_state = Running;
    m_audio->startCapture();
}

void AudioCtrl::stop()
{
    m_state = Idle;
    stopRun();
}

void AudioCtrl::stopThreads()
{
    m_state = Idle;
    m_audio->stopCapture();
    m_sender->stopEncoding();
}
