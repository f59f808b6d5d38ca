#include "video/videostate.h"

extern "C" {
#include <libswresample/swresample.h>
}

int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::chrono::steady_clock::time_point steadyAfter(double seconds)
{
    using namespace std::chrono;
    // Far enough for any wait, near enough not to overflow the clock.
    const double bounded = seconds < 0 ? 0 : (seconds > 86400 ? 86400 : seconds);
    return steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(bounded));
}

void VideoState::release()
{
    packetQueueDestroy(&audioQueue);
    packetQueueDestroy(&videoQueue);
    av_frame_free(&audioFrame);
    av_packet_free(&audioPacket);
    swr_free(&resampler);
    avcodec_free_context(&audioCodec);
    avcodec_free_context(&videoCodec);
    if (formatContext)
        avformat_close_input(&formatContext);
    audioStream = videoStream = nullptr;
    audioPacketData = nullptr;
    audioPacketLeft = 0;
    audioBuffer = nullptr;
}

void VideoState::reset()
{
    release();
    packetQueueInit(&audioQueue);
    packetQueueInit(&videoQueue);
    protocols = nullptr;
    videoStreamIndex = audioStreamIndex = -1;
    audioBufferSize = audioBufferIndex = 0;
    audioSource = AudioParams();
    audioTarget = AudioParams();
    audioDeviceBufferSize = 0;
    audioClock = 0;
    videoClock = 0;
    seekRequest = 0;
    seekPosition = 0;
    seekFlagAudio = 0;
    seekFlagVideo = 0;
    seekTime = 0;
    readEnded = false;
    videoThread = nullptr;
    audioDeviceId = 0;
    player = nullptr;
    audioTimeBase = AVRational{0, 1};
    videoTimeBase = AVRational{0, 1};
    frameDuration = 0.04;
    audioDecoderPending = false;
    playClockOffset = 0;
    playClockValid = false;
    handedClock = 0;
    audioDone = false;
    clockWaiter = false;
    ioDeadline = 0;
    audioOpen = false;
    audioFlushPending = false;
    audioStopped = false;
    live = false;
    audioQueuedEnd = 0;
    videoQueuedPts = 0;
    behindReopens = 0;
    behindEdge = 0;
    leaving = false;
    audioCatchingUp = false;
    audioLevelLeast = 1e9;
    audioLevelWindowStart = 0;
    audioDraining = false;
}

void VideoState::requestQuit()
{
    quit = true;
    packetQueueAbort(&audioQueue);
    packetQueueAbort(&videoQueue);
    wake();
}

void VideoState::wake()
{
    // Taking the lock orders the change before a waiter's check: the waiter
    // either sees it or is already waiting when notified.
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
    }
    m_waitCond.notify_all();
}

double playPosition(const VideoState *state)
{
    if (!state->playClockValid)
        return state->audioOpen ? state->handedClock.load() : 0.0;
    const double position = state->playClockOffset + steadySeconds();
    if (!state->audioOpen || state->audioDone)
        return position;
    const double handed = state->handedClock;
    return position < handed ? position : handed;
}

bool playPositionHeld(const VideoState *state)
{
    if (!state->playClockValid)
        return state->audioOpen;
    if (!state->audioOpen || state->audioDone)
        return false;
    return state->playClockOffset + steadySeconds() >= state->handedClock;
}

int takePacket(VideoState *state, PacketQueue *queue, int limit, AVPacket *out, bool block)
{
    const int result = packetQueueGet(queue, out, block ? 1 : 0);
    if (result > 0 && queue->bytes <= limit && queue->bytes + out->size > limit)
        state->wake();
    return result;
}
