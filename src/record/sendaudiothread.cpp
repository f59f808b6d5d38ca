#include "record/sendaudiothread.h"

#include "app/logging.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QDateTime>

#include <cstdlib>
#include <cstring>

namespace {
constexpr long long kStopGraceMs = 3000;
}

sendAudioThread::sendAudioThread(QObject *parent) : QThread(parent) {}

sendAudioThread::~sendAudioThread()
{
    m_abort = true;
    m_stopRequested = true;
    wait();
}

bool sendAudioThread::setOutputName(const char *name)
{
    std::memset(m_outputName, 0, sizeof(m_outputName));
    if (!name)
        return false;
    const size_t length = std::strlen(name);
    if (length + 1 > sizeof(m_outputName)) {
        TAVI_LOG_WARN("output name of " << length << " bytes refused");
        return false;
    }
    std::memcpy(m_outputName, name, length + 1);
    return true;
}

bool sendAudioThread::startEncoding()
{
    if (isRunning())
        return false;
    m_stopRequested = false;
    m_abort = false;
    m_outputFailed = false;
    if (!m_outputName[0] || !m_output.setUp(m_outputName, false, 0, 0)) {
        m_outputFailed = true;
        return false;
    }
    start(QThread::InheritPriority);
    return true;
}

void sendAudioThread::stopEncoding()
{
    if (!m_stopRequested.exchange(true))
        m_stopAtMs = QDateTime::currentMSecsSinceEpoch();
}

int sendAudioThread::interruptCallback(void *opaque)
{
    auto *self = static_cast<sendAudioThread *>(opaque);
    if (self->m_abort)
        return 1;
    return self->m_stopRequested
           && QDateTime::currentMSecsSinceEpoch() - self->m_stopAtMs > kStopGraceMs;
}

void sendAudioThread::pushAudioChunk(uint8_t *data, int size)
{
    m_audioChunks.pushAudioChunk(data, size);
}

void sendAudioThread::run()
{
    // Chunks queued before the start belong to no dialogue.
    m_audioChunks.clear();
    m_audioChunks.resetCounters();
    const AVIOInterruptCB interrupt{&sendAudioThread::interruptCallback, this};
    bool ok = m_output.connect(interrupt);
    const bool connected = ok;
    while (ok && !m_abort) {
        AudioChunk chunk;
        if (!m_audioChunks.takeFirst(&chunk)) {
            if (m_stopRequested && m_audioChunks.isEmpty())
                break;
            msleep(10);
            continue;
        }
        ok = m_output.writeAudio(chunk.data, chunk.size);
        std::free(chunk.data);
    }
    if (!ok) {
        TAVI_LOG_ERROR((connected ? "writing to " : "cannot open output ") << m_outputName);
        m_outputFailed = true;
    }
    m_output.finish(ok);
    m_audioChunks.clear();
    m_output.close();
    if (!ok && !m_stopRequested)
        emit sig_outputFailed();
}
