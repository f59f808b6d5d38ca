#pragma once

#include "record/audiochunklist.h"
#include "record/encoderstop.h"
#include "record/flvoutput.h"

#include <QByteArray>
#include <QThread>

#include <atomic>
#include <cstdint>

// Publishes the microphone alone (AAC in FLV) to an RTMP address or a file:
// the voice dialogue of a one-to-one class.
class sendAudioThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kOutputNameBytes = flvOutput::kOutputNameBytes;

    explicit sendAudioThread(QObject *parent = nullptr);
    ~sendAudioThread() override;

    // False (and the name left empty) when name does not fit kOutputNameBytes.
    bool setOutputName(const char *name);
    QByteArray outputName() const { return QByteArray(m_outputName); }
    // See saveVideoThread::setClassStreamOnly.
    void setClassStreamOnly(bool only) { m_classStreamOnly = only; }
    bool startEncoding();
    void stopEncoding();
    bool stopRequested() const { return m_stop.requested(); }
    bool outputFailed() const { return m_outputFailed.load(); }

    void pushAudioChunk(uint8_t *data, int size);
    AudioChunkList &audioChunks() { return m_audioChunks; }

signals:
    void sig_outputFailed();

protected:
    void run() override;

private:
    flvOutput m_output;
    AudioChunkList m_audioChunks;
    char m_outputName[kOutputNameBytes] = {};
    bool m_classStreamOnly = false;
    EncoderStop m_stop;
    std::atomic<bool> m_outputFailed{false};
};
