#include "video/video_play.h"

#include "base/signalstack.h"

#include "video/inputreconnector.h"
#include "video/mediainput.h"
#include "video/playback.h"
#include "video/videodecoder.h"

#include <SDL2/SDL.h>

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

void VideoPlayer::endRun()
{
    endPlayback(&videoState, false);
    formatContext = nullptr;
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
    avformat_network_init();
    InputAddress address;
    if (!inputAddress(url, classStreamOnly, &address)) {
        endRun();
        return;
    }
    const QByteArray &path = address.path;
    is->protocols = address.protocols;
    is->formatContext = openInput(is, path, address.classStream ? Probe::Brief : Probe::Default, 0);
    formatContext = is->formatContext;
    if (!is->formatContext) {
        endRun();
        return;
    }
    const int videoIndex = firstStreamOfType(is->formatContext, AVMEDIA_TYPE_VIDEO);
    if (videoIndex < 0) {
        reportPlaybackError("Didn't find a video stream.");
        endRun();
        return;
    }
    is->videoStreamIndex = videoIndex;
    emit sig_TotalTimeChanged(is->formatContext->duration);
    AVStream *stream = is->formatContext->streams[videoIndex];
    if (!avcodec_find_decoder(stream->codecpar->codec_id)) {
        reportPlaybackError("PCodec not found.");
        endRun();
        return;
    }
    if (!openStreamDecoder(stream, &is->videoCodec, true)) {
        reportPlaybackError("Could not open video codec.");
        endRun();
        return;
    }
    is->videoStream = stream;
    is->videoTimeBase = stream->time_base;
    is->player = this;
    is->videoThread = SDL_CreateThread(videoPlayDecodeThread, "video_thread_play", is);
    if (!is->videoThread) {
        endRun();
        return;
    }
    InputReconnector reader(is, path, Probe::Brief, true, isLiveInput(url, is->formatContext->duration));
    readPackets(is, reader);
    endRun();
}
