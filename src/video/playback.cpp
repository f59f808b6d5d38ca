#include "video/playback.h"

#include "video/audiooutput.h"
#include "video/inputreconnector.h"
#include "video/videostate.h"

#include <SDL2/SDL.h>

#include <cstdio>

namespace {

// Nothing to read now: a queue at its limit, a pause, a file at its end.
bool resting(const VideoState *is)
{
    return is->audioQueue.bytes > kAudioQueueLimit || is->videoQueue.bytes > kVideoQueueLimit || is->paused ||
        is->readEnded;
}

void putMarker(PacketQueue *queue, int (*make)(AVPacket *))
{
    AVPacket *marker = av_packet_alloc();
    if (marker && make(marker) == 0)
        packetQueuePut(queue, marker);
    av_packet_free(&marker);
}

} // namespace

void readPackets(VideoState *is, InputReconnector &input)
{
    AVPacket *packet = av_packet_alloc();
    while (packet && !is->quit) {
        if (is->seekRequest)
            seekInput(is);
        if (resting(is)) {
            is->wait([is] { return is->quit || is->seekRequest || !resting(is); });
            input.rested();
            continue;
        }
        if (!input.read(packet)) {
            if (is->readEnded && is->videoStreamIndex >= 0)
                putMarker(&is->videoQueue, makeEndPacket);
            continue;
        }
        if (packet->stream_index == is->videoStreamIndex)
            packetQueuePut(&is->videoQueue, packet);
        else if (packet->stream_index == is->audioStreamIndex && is->audioOpen)
            packetQueuePut(&is->audioQueue, packet);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
}

void seekInput(VideoState *is)
{
    const int64_t position = is->seekPosition;
    const int64_t target = av_rescale_q(position, AVRational{1, 1000000}, is->videoStream->time_base);
    const int ret = av_seek_frame(is->formatContext, is->videoStreamIndex, target, AVSEEK_FLAG_BACKWARD);
    // The decoders see the target before the first packet after the seek.
    is->seekTime = position / 1000000.0;
    is->seekFlagAudio = 1;
    is->seekFlagVideo = 1;
    if (ret < 0) {
        std::fprintf(stderr, "%s: error while seeking\n", is->formatContext->url);
    } else {
        // Before the queues empty: the callback must not take the moment
        // between flush and refill for the end of the input.
        is->readEnded = false;
        is->audioDone = false;
        // Until the device is handed audio from the target, the play
        // position is the target, not where the old audio stopped.
        is->handedClock = is->seekTime.load();
        is->playClockValid = false;
        if (is->audioOpen) {
            packetQueueFlush(&is->audioQueue);
            putMarker(&is->audioQueue, makeFlushPacket);
            is->audioFlushPending = true;
        }
        is->seekSerial += 1;
        packetQueueFlush(&is->videoQueue);
        putMarker(&is->videoQueue, makeFlushPacket);
        is->videoClock = 0;
    }
    is->seekRequest = 0;
    is->wake();
}

void endPlayback(VideoState *is, bool sdlAudio)
{
    if (is->videoThread) {
        is->requestQuit();
        SDL_WaitThread(is->videoThread, nullptr);
        is->videoThread = nullptr;
    }
    // No callback runs or starts on the state once detached, so nothing
    // below is freed under it.
    detachAudioDevice(is);
    is->release();
    is->decoderFinished = true;
    is->readerFinished = true;
    is->wake();
    // After the finished flags: closing can wait on the sound server, and
    // stop(true) need not wait for that.
    closeAudioDevice(is);
    if (sdlAudio)
        quitSdlAudio();
}
