#pragma once

#include "record/audiochunklist.h"
#include "record/capturectrl.h"

class sendAudioThread;
class GetAudioThreadDia;

// Publishes the microphone alone to an RTMP address: the voice dialogue
// of a one-to-one class.
class AudioCtrl : public CaptureCtrl
{
    Q_OBJECT
public:
    enum State {
        Running = 1,
        Idle = 2
    };

    explicit AudioCtrl(QObject *parent = nullptr);
    ~AudioCtrl() override;

    // The process-wide instance, created on first use.
    static AudioCtrl *instance();

    // At most 127 bytes; a longer address is refused at the next start.
    void setAddress(const char *address);
    // Publishes to class streams only (see saveVideoThread).
    void setClassStreamOnly(bool only);
    // Opens the microphone and the encoder on the caller's thread.
    void start();
    // The same with the opening on a thread of its own; s_startFinished tells
    // how it went.
    void startInBackground();
    // A start still opening ends without publishing.
    void stop();
    // From a start that ran until a stop or a failure.
    bool isRunning() const { return m_state == Running; }

    bool outputFailed() const;
    AudioChunkList::Counters chunkCounters() const;

private:
    Failure open() override;
    void closeOpened() override;
    void startThreads() override;
    void stopThreads() override;

    sendAudioThread *m_sender;
    GetAudioThreadDia *m_audio;
    State m_state = Idle;
    bool m_nameRefused = false;
};
