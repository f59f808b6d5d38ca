#pragma once

#include "record/audiocapturethread.h"

class sendAudioThread;

// Microphone capture of a voice dialogue: its chunks go to the audio-only
// publisher, which its controller stops.
class GetAudioThreadDia : public audioCaptureThread
{
    Q_OBJECT
public:
    explicit GetAudioThreadDia(QObject *parent = nullptr);
    ~GetAudioThreadDia() override;
    void setEncoder(sendAudioThread *receiver) { encoder = receiver; }

protected:
    void deliver(uint8_t *data, int size) override;
    bool hasReceiver() const override { return encoder != nullptr; }

private:
    sendAudioThread *encoder = nullptr;
};
