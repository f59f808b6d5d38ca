#include "video/videoplayer_thread.h"

#include "base/signalstack.h"

#include "video/playback.h"
#include "video/videodecoder.h"

extern "C" {
#include <libavformat/avformat.h>
}

VideoPlayer_Thread::VideoPlayer_Thread() : PlayerThread(videoState, true) {}

VideoPlayer_Thread::~VideoPlayer_Thread()
{
    quitAndWait();
}

void VideoPlayer_Thread::seek(qint64 pos)
{
    if (videoState.seekRequest != 0)
        return;
    videoState.seekPosition = pos;
    videoState.seekRequest = 1;
    videoState.wake();
}

double VideoPlayer_Thread::getCurrentTime()
{
    return playPosition(&videoState);
}

void VideoPlayer_Thread::setSync(bool sync)
{
    m_sync = sync;
}

void VideoPlayer_Thread::run()
{
    tavi::ensureSignalStack();
    static const PlayerOpening opening{PlayerOpening::LastVideoStream,
                                       PlayerOpening::SoundIfAny,
                                       Probe::Brief,
                                       true,
                                       videoDecodeThread,
                                       "video_thread"};
    playAddress(&videoState, url, classStreamOnly(), opening, this,
                [this](AVFormatContext *input) { emit sig_TotalTimeChanged(input->duration); });
}
