#pragma once

// Playback record shared by a player's reader, its video thread and the SDL
// audio callback. Flags, seek fields and clocks are atomics: each has one
// writer at a time and the other threads poll them.

#include "video/packetqueue.h"

#include <SDL2/SDL_audio.h>

#include <atomic>
#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

struct SwrContext;
struct SDL_Thread;
class QObject;

struct AudioParams
{
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    int channels = 0;
    int64_t channelLayout = 0;
    int sampleRate = 0;
};

constexpr int kAudioBufferStoreSize = 768000;
constexpr int kAudioQueueLimit = 0x64000;
constexpr int kVideoQueueLimit = 0x640000;
constexpr int kAddressLimit = 1279;
// Live input: more queued audio than this (seconds) is dropped down to the
// lower mark; pictures paced by the wall clock are kept as close.
constexpr double kLiveBacklogHigh = 0.25;
constexpr double kLiveBacklogLow = 0.1;

struct alignas(16) VideoState
{
    AVFormatContext *formatContext = nullptr;
    int videoStreamIndex = -1;
    int audioStreamIndex = -1;
    AVFrame *audioFrame = nullptr;
    PacketQueue audioQueue;
    AVStream *audioStream = nullptr;
    unsigned int audioBufferSize = 0;
    unsigned int audioBufferIndex = 0;
    AVPacket *audioPacket = nullptr;
    const uint8_t *audioPacketData = nullptr;
    int audioPacketLeft = 0;
    uint8_t *audioBuffer = nullptr;
    alignas(16) uint8_t audioBufferStore[kAudioBufferStoreSize];
    AudioParams audioSource;
    AudioParams audioTarget;
    SwrContext *resampler = nullptr;
    int audioDeviceBufferSize = 0;
    std::atomic<double> audioClock{0};
    std::atomic<double> videoClock{0};
    AVStream *videoStream = nullptr;
    PacketQueue videoQueue;
    std::atomic<int> seekRequest{0};
    std::atomic<int64_t> seekPosition{0};
    std::atomic<int> seekFlagAudio{0};
    std::atomic<int> seekFlagVideo{0};
    std::atomic<double> seekTime{0};
    std::atomic<bool> paused{false};
    std::atomic<bool> quit{false};
    std::atomic<bool> readEnded{false};
    std::atomic<bool> readerFinished{true};
    std::atomic<bool> decoderFinished{true};
    SDL_Thread *videoThread = nullptr;
    std::atomic<SDL_AudioDeviceID> audioDeviceId{0};
    QObject *player = nullptr;

    // FFmpeg 5 keeps decoders apart from the streams; the threads use these
    // and the time bases below, never the streams, so the reader may close
    // and reopen a live input under them.
    AVCodecContext *audioCodec = nullptr;
    AVCodecContext *videoCodec = nullptr;
    AVRational audioTimeBase{0, 1};
    AVRational videoTimeBase{0, 1};
    double frameDuration = 0.04;
    // The decoder may hold more frames of the packet already sent.
    bool audioDecoderPending = false;
    // Device play position = playClockOffset + steadySeconds(), held back
    // at handedClock (the end of the audio the device has been given).
    std::atomic<double> playClockOffset{0};
    std::atomic<bool> playClockValid{false};
    std::atomic<double> handedClock{0};
    // The audio has played out after the end of input (or never opened):
    // pictures then follow the wall clock.
    std::atomic<bool> audioDone{false};
    // Pictures follow the audio clock; off: as fast as they decode.
    std::atomic<bool> sync{true};
    // FFmpeg's protocol whitelist for the input (see inputAddress).
    const char *protocols = nullptr;
    // Steady-clock milliseconds after which a blocking read is abandoned;
    // 0 for none.
    std::atomic<int64_t> ioDeadline{0};
    // Set by the reader after a seek: the callback drops the audio it holds
    // from before it, so the clock does not jump back to the old position.
    std::atomic<bool> audioFlushPending{false};
    // Counts seeks: a picture waiting for its turn when a seek comes is
    // dropped.
    std::atomic<int> seekSerial{0};
    // Set by the reader once it is done with the audio: the callback then
    // returns silence without touching anything else.
    std::atomic<bool> audioStopped{false};
    // Set when the audio output opened a device for this run.
    bool audioOpen = false;
    // Live input: the player stays close to the newest data instead of
    // playing out what piled up (the probe, a sound device that started
    // late, a stall). The reader notes the end of the newest audio and the
    // time of the newest picture it queued, in stream seconds.
    std::atomic<bool> live{false};
    std::atomic<double> audioQueuedEnd{0};
    std::atomic<double> videoQueuedPts{0};
    // Audio thread only: audio is being dropped until the backlog is small.
    bool audioCatchingUp = false;
    // Loudness of what is played, 0 (silent) to 100 (as decoded); kept
    // from run to run.
    std::atomic<int> volume{100};

    // Back to the state of a fresh run; queues and buffers are released.
    // Flags that the caller's thread owns (quit, paused, finished) are left.
    void reset();
    // Frees everything a run allocated (queues, frames, resampler, codecs,
    // input). The device must be closed and the threads ended.
    void release();
};

// Milliseconds of a steady clock, for deadlines and the play clock.
int64_t steadyMs();
double steadySeconds();

// What the listener hears now, in seconds of stream time.
double playPosition(const VideoState *state);
