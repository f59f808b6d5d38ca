#include "record/getaudiothreaddia.h"

#include "record/sendaudiothread.h"

GetAudioThreadDia::GetAudioThreadDia(QObject *parent) : audioCaptureThread(parent) {}

GetAudioThreadDia::~GetAudioThreadDia()
{
    stopCapture();
    wait();
}

void GetAudioThreadDia::deliver(uint8_t *data, int size)
{
    encoder->pushAudioChunk(data, size);
}
