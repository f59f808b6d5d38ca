#include "video/videoplayer_thread.h"

#include "base/signalstack.h"

#include "base/logging.h"
#include "video/audiooutput.h"
#include "video/inputreconnector.h"
#include "video/mediainput.h"
#include "video/playback.h"
#include "video/videodecoder.h"

#include <SDL2/SDL.h>

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

void VideoPlayer_Thread::endRun(bool sdlAudio)
{
    endPlayback(&videoState, sdlAudio);
}

void VideoPlayer_Thread::run()
{
    tavi::ensureSignalStack();
    VideoState *is = &videoState;
    InputAddress address;
    if (!inputAddress(url, classStreamOnly(), &address)) {
        endRun(false);
        return;
    }
    const QByteArray &path = address.path;
    const bool network = address.classStream;
    is->protocols = address.protocols;

    is->formatContext = openInput(is, path, network ? Probe::Brief : Probe::Default, 0);
    if (!is->formatContext) {
        endRun(false);
        return;
    }
    AVFormatContext *input = is->formatContext;
    const int videoIndex = lastStreamOfType(input, AVMEDIA_TYPE_VIDEO);
    const int audioIndex = firstStreamOfType(input, AVMEDIA_TYPE_AUDIO);
    if (videoIndex < 0) {
        reportPlaybackError("Didn't find a video stream.");
        endRun(false);
        return;
    }
    // A silent clip or screen recording plays too: without a sound device
    // the pictures follow the wall clock.
    if (audioIndex < 0)
        TAVI_LOG_WARN("Didn't find a audio stream in " << addressForLog(url).constData()
                                                       << ", playing the pictures without sound.");
    is->videoStreamIndex = videoIndex;
    is->audioStreamIndex = audioIndex;
    emit sig_TotalTimeChanged(input->duration);
    const bool live = isLiveInput(url, input->duration);
    is->live = live;

    bool sdlAudio = false;
    if (audioIndex >= 0) {
        if (is->sync) {
            sdlAudio = initSdlAudio();
            audio_stream_component_open(is, audioIndex);
        }
        AVStream *audioStream = input->streams[audioIndex];
        if (!avcodec_find_decoder(audioStream->codecpar->codec_id)) {
            reportPlaybackError("ACodec not found.");
            endRun(sdlAudio);
            return;
        }
        if (!openStreamDecoder(audioStream, &is->audioCodec, false)) {
            reportPlaybackError("Could not open audio codec.");
            endRun(sdlAudio);
            return;
        }
        is->audioStream = audioStream;
    }
    AVStream *videoStream = input->streams[videoIndex];
    if (!avcodec_find_decoder(videoStream->codecpar->codec_id)) {
        reportPlaybackError("PCodec not found.");
        endRun(sdlAudio);
        return;
    }
    if (!openStreamDecoder(videoStream, &is->videoCodec, true, live)) {
        reportPlaybackError("Could not open video codec.");
        endRun(sdlAudio);
        return;
    }
    is->videoStream = videoStream;
    is->videoTimeBase = videoStream->time_base;
    AVRational rate = videoStream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = videoStream->r_frame_rate;
    const double frameDuration = (rate.num > 0 && rate.den > 0) ? av_q2d(av_inv_q(rate)) : 0.0;
    is->frameDuration = (frameDuration > 0.001 && frameDuration < 10) ? frameDuration : 0.04;
    is->player = this;
    is->videoThread = SDL_CreateThread(videoDecodeThread, "video_thread", is);
    if (!is->videoThread) {
        endRun(sdlAudio);
        return;
    }
    av_dump_format(input, 0, addressForLog(url).constData(), 0);

    InputReconnector reader(is, path, Probe::Brief, true, live);
    readPackets(is, reader);
    endRun(sdlAudio);
}
