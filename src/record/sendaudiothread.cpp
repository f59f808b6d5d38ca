#include "record/sendaudiothread.h"

#include "base/signalstack.h"

#include "base/logging.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdlib>
#include <cstring>

sendAudioThread::sendAudioThread(QObject *parent) : QThread(parent) {}

sendAudioThread::~sendAudioThread()
{
    m_stop.abort();
    m_audioChunks.wakeWaiters();
    wait();
}

bool sendAudioThread::setOutputName(const char *name)
{
    return flvOutput::storeOutputName(m_outputName, name);
}

bool sendAudioThread::startEncoding()
{
    if (isRunning())
        return false;
    m_stop.reset();
    m_outputFailed = false;
    // Chunks queued before the start belong to no dialogue. Cleared here,
    // before the capture starts: once it runs, every chunk is this one's.
    m_audioChunks.clear();
    m_audioChunks.resetCounters();
    if (!m_outputName[0] || !m_output.setUp(m_outputName, false, 0, 0, m_classStreamOnly)) {
        m_outputFailed = true;
        return false;
    }
    start(QThread::InheritPriority);
    return true;
}

void sendAudioThread::stopEncoding()
{
    m_stop.request();
    m_audioChunks.wakeWaiters();
}

void sendAudioThread::pushAudioChunk(uint8_t *data, int size)
{
    m_audioChunks.pushAudioChunk(data, size);
}

void sendAudioThread::run()
{
    tavi::ensureSignalStack();
    const AVIOInterruptCB interrupt = m_stop.interruptCallback();
    bool ok = m_output.connect(interrupt);
    const bool connected = ok;
    while (ok && !m_stop.aborted()) {
        AudioChunk chunk;
        if (!m_audioChunks.takeFirst(&chunk)) {
            if (m_stop.requested() && m_audioChunks.isEmpty())
                break;
            m_audioChunks.waitForChunk([this] { return m_stop.requested(); });
            continue;
        }
        ok = m_output.writeAudio(chunk.data, chunk.size);
        std::free(chunk.data);
    }
    if (!ok) {
        TAVI_LOG_ERROR((connected ? "writing to " : "cannot open output ")
                       << flvOutput::nameForLog(m_outputName).constData());
        m_outputFailed = true;
    }
    m_output.finish(ok);
    m_audioChunks.clear();
    m_output.close();
    if (!ok && !m_stop.requested())
        emit sig_outputFailed();
}
