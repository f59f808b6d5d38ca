#pragma once

#include "record/audiocapturethread.h"

class saveVideoThread;

// Microphone capture of a recording: its chunks go to the recording's
// encoder, which it tells when the capture has ended.
class GetAudioThread : public audioCaptureThread
{
    Q_OBJECT
public:
    explicit GetAudioThread(QObject *parent = nullptr);
    ~GetAudioThread() override;
    void setEncoder(saveVideoThread *receiver) { encoder = receiver; }

protected:
    void deliver(uint8_t *data, int size) override;
    bool hasReceiver() const override { return encoder != nullptr; }
    void loopEnded() override;

private:
    saveVideoThread *encoder = nullptr;
};
