#include "video/video_play.h"

#include "base/signalstack.h"

#include "video/playback.h"
#include "video/videodecoder.h"

VideoPlayer::VideoPlayer()
{
    qRegisterMetaType<PlayerState>("PlayerState");
    videoState.quit = true;
    videoState.readerFinished = true;
    videoState.decoderFinished = true;
}

VideoPlayer::~VideoPlayer()
{
    m_destroying = true;
    videoState.requestQuit();
    wait();
    videoState.release();
}

void VideoPlayer::run()
{
    tavi::ensureSignalStack();
    VideoState *is = &videoState;
    is->reset();
    is->quit = false;
    is->paused = false;
    is->readerFinished = false;
    is->decoderFinished = false;
    // A destructor that came first must not be undone.
    if (m_destroying)
        is->requestQuit();
    static const PlayerOpening opening{PlayerOpening::FirstVideoStream, PlayerOpening::NoSound, Probe::Brief, false,
                                       videoPlayDecodeThread,           "video_thread_play"};
    playAddress(is, url, classStreamOnly, opening, this, [this](AVFormatContext *input) {
        formatContext = input;
        emit sig_TotalTimeChanged(input->duration);
    });
    formatContext = nullptr;
}
