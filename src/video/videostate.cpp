#include "video/videostate.h"

#include <chrono>

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
    ioDeadline = 0;
    audioOpen = false;
    audioFlushPending = false;
    audioStopped = false;
    live = false;
    audioQueuedEnd = 0;
    videoQueuedPts = 0;
    audioCatchingUp = false;
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
