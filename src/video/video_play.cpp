#include "video/video_play.h"

#include "base/signalstack.h"

#include "video/mediainput.h"
#include "video/videodecoder.h"

#include <SDL2/SDL.h>

#include <cstdio>

VideoPlayer::VideoPlayer()
{
    qRegisterMetaType<PlayerState>("PlayerState");
    videoState.quit = true;
    videoState.readerFinished = true;
    videoState.decoderFinished = true;
}

VideoPlayer::~VideoPlayer()
{
    videoState.quit = true;
    wait();
    videoState.release();
}

void VideoPlayer::endRun()
{
    VideoState *is = &videoState;
    if (is->videoThread) {
        is->quit = true;
        SDL_WaitThread(is->videoThread, nullptr);
        is->videoThread = nullptr;
    }
    is->release();
    formatContext = nullptr;
    is->decoderFinished = true;
    is->readerFinished = true;
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
    avformat_network_init();
    InputAddress address;
    if (!inputAddress(url, classStreamOnly, &address)) {
        endRun();
        return;
    }
    const QByteArray &path = address.path;
    is->protocols = address.protocols;
    packetQueueInit(&is->videoQueue);
    packetQueueInit(&is->audioQueue);
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
    AVPacket *packet = av_packet_alloc();
    while (packet && !is->quit) {
        if (is->seekRequest) {
            const int64_t target = av_rescale_q(is->seekPosition, AVRational{1, 1000000}, stream->time_base);
            if (av_seek_frame(is->formatContext, videoIndex, target, AVSEEK_FLAG_BACKWARD) < 0) {
                std::fprintf(stderr, "%s: error while seeking\n", is->formatContext->url);
            } else {
                AVPacket *flush = av_packet_alloc();
                if (flush && makeFlushPacket(flush) == 0) {
                    packetQueueFlush(&is->videoQueue);
                    packetQueuePut(&is->videoQueue, flush);
                }
                av_packet_free(&flush);
            }
            is->seekRequest = 0;
        }
        if (is->videoQueue.bytes > kVideoQueueLimit) {
            SDL_Delay(10);
            continue;
        }
        if (av_read_frame(is->formatContext, packet) < 0) {
            is->readEnded = true;
            if (is->quit)
                break;
            SDL_Delay(10);
            continue;
        }
        if (packet->stream_index == videoIndex)
            packetQueuePut(&is->videoQueue, packet);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    endRun();
}
