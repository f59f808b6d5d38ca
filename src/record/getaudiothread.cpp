#include "record/getaudiothread.h"

#include "record/savevideothread.h"

GetAudioThread::GetAudioThread(QObject *parent) : audioCaptureThread(parent) {}

GetAudioThread::~GetAudioThread()
{
    stopCapture();
    wait();
}

void GetAudioThread::deliver(uint8_t *data, int size)
{
    encoder->pushAudioChunk(data, size);
}

void GetAudioThread::loopEnded()
{
    if (encoder)
        encoder->captureEnded(saveVideoThread::SoundCapture);
}
